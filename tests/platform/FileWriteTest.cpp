#include <gtest/gtest.h>

#include <filesystem>

#include "platform/FileWrite.h"
#include "tests/support/TempTree.h"
#include "tests/support/TestFiles.h"

namespace quarn {
namespace {

using test::ReadText;

size_t EntriesIn(const std::string& folder) {
    size_t count = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(folder)) {
        ++count;
    }
    return count;
}

TEST(FileWrite, ReplacesWholeOrLeavesTheOldFileAndNoTemporary) {
    test::TempTree tree;
    std::string path = tree.Path("a.txt");
    ASSERT_TRUE(ReplaceFileAtomically(path, "first"));
    ASSERT_TRUE(ReplaceFileAtomically(path, "second, longer"));
    EXPECT_EQ(ReadText(path), "second, longer");
    EXPECT_EQ(EntriesIn(tree.Root()), 1u);

    // A refused preparation abandons the write: old text kept, temporary gone.
    EXPECT_FALSE(ReplaceFileAtomically(path, "third", [](int) { return false; }));
    EXPECT_EQ(ReadText(path), "second, longer");
    EXPECT_EQ(EntriesIn(tree.Root()), 1u);

    EXPECT_FALSE(ReplaceFileAtomically(tree.Path("missing/b.txt"), "x"));
}

}  // namespace
}  // namespace quarn

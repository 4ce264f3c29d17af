#include "platform/FolderWalker.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/DirectoryListing.h"
#include "tests/support/TempTree.h"

namespace quarn {
namespace {

using test::TempTree;

// Records every event as a line, and can abandon the walk at the n-th folder.
class RecordingSink : public WalkSink {
  public:
    bool EnterFolder(const std::string& path, const FindRecord* entry) override {
        ++folders;
        events.push_back("enter " + path + (entry ? "" : " (root)"));
        return abandonAtFolder == 0 || folders < abandonAtFolder;
    }
    void AddFile(const std::string& folderPath, const FindRecord& file) override {
        ++files;
        bytes += file.FileSize();
        events.push_back("file " + folderPath + "/" + std::string(file.Name()));
    }
    void LeaveFolder(const std::string& path) override { events.push_back("leave " + path); }

    std::vector<std::string> events;
    int folders = 0;
    int files = 0;
    uint64_t bytes = 0;
    int abandonAtFolder = 0;
};

// Events ignoring everything but enters and leaves, for the shape of the walk.
std::vector<std::string> FolderEvents(const RecordingSink& sink) {
    std::vector<std::string> out;
    for (const std::string& e : sink.events) {
        if (e.rfind("file ", 0) != 0) {
            out.push_back(e);
        }
    }
    return out;
}

TEST(FolderWalker, DescendsIntoEachSubfolderWhereTheListingMeetsIt) {
    TempTree tree;
    tree.MakeFile("top/a.txt", 10);
    tree.MakeFile("top/sub/b.txt", 20);
    tree.MakeFile("top/sub/deeper/c.txt", 30);
    tree.MakeFile("top/z.txt", 40);
    tree.MakeFolder("top/empty");
    RecordingSink sink;
    ASSERT_EQ(WalkFolderTree(tree.Path("top"), sink), WalkResult::Completed);
    EXPECT_EQ(sink.files, 4);
    EXPECT_EQ(sink.bytes, 100u);
    EXPECT_EQ(sink.folders, 4);

    // Every folder's events follow the order of its own listing, with a
    // subfolder's whole walk standing where the subfolder was listed.
    std::string top = tree.Path("top");
    std::vector<std::string> expected = {"enter " + top + " (root)"};
    DirectoryListing listing = DirectoryListing::Open(top);
    FindRecord record;
    std::vector<std::string> names;
    while (listing.Next(record)) {
        names.emplace_back(record.Name());
    }
    size_t position = 1;
    for (const std::string& name : names) {
        if (name == "." || name == "..") {
            continue;
        }
        std::string path = top + "/" + name;
        while (position < sink.events.size() &&
               sink.events[position].find(path) == std::string::npos) {
            ++position;
        }
        ASSERT_LT(position, sink.events.size()) << name << " out of order";
    }
    EXPECT_EQ(sink.events.front(), expected.front());
    EXPECT_EQ(sink.events.back(), "leave " + top);
    for (const std::string& e : sink.events) {
        EXPECT_EQ(e.find("/."), e.find("/.hidden")) << "dot entries are never handed on: " << e;
    }
}

TEST(FolderWalker, NeverFollowsLinksSoLoopsEndAtOnce) {
    TempTree tree;
    tree.MakeFile("root/real/file.bin", 1000);
    tree.MakeSymlink("..", "root/real/up");  // a loop back to the parent
    tree.MakeSymlink("/", "root/slash");     // a link to the whole machine
    tree.MakeSymlink("real", "root/same");   // a second way into real/
    RecordingSink sink;
    ASSERT_EQ(WalkFolderTree(tree.Path("root"), sink), WalkResult::Completed);
    EXPECT_EQ(sink.folders, 2);  // root and real, nothing behind a link
    EXPECT_EQ(sink.files, 4);    // file.bin and the three links, each of its own size
    EXPECT_EQ(sink.bytes, 1000u + 2 + 1 + 4);
}

TEST(FolderWalker, AbandonsAtTheFolderWhoseEntryRefuses) {
    TempTree tree;
    tree.MakeFile("r/a/1", 1);
    tree.MakeFile("r/b/2", 1);
    tree.MakeFile("r/c/3", 1);
    RecordingSink sink;
    sink.abandonAtFolder = 2;
    EXPECT_EQ(WalkFolderTree(tree.Path("r"), sink), WalkResult::Abandoned);
    EXPECT_EQ(sink.folders, 2);
    EXPECT_EQ(sink.events.back().rfind("enter ", 0), 0u);  // no leave after the refusal
}

TEST(FolderWalker, TreatsUnreadableAndVirtualFoldersAsEmpty) {
    EXPECT_EQ(FolderEvents([] {
                  RecordingSink sink;
                  WalkFolderTree("/proc", sink);
                  return sink;
              }()),
              (std::vector<std::string>{"enter /proc (root)", "leave /proc"}));

    TempTree tree;
    tree.MakeFile("r/closed/secret", 5);
    tree.MakeFile("r/open/visible", 7);
    ::chmod(tree.Path("r/closed").c_str(), 0);
    RecordingSink sink;
    EXPECT_EQ(WalkFolderTree(tree.Path("r"), sink), WalkResult::Completed);
    if (!test::RunningAsRoot()) {
        EXPECT_EQ(sink.files, 1);
        EXPECT_EQ(sink.bytes, 7u);
    }
    EXPECT_EQ(sink.folders, 3);  // the closed folder is still met

    RecordingSink missing;
    EXPECT_EQ(WalkFolderTree(tree.Path("no-such-folder"), missing), WalkResult::Completed);
    EXPECT_EQ(missing.events.size(), 2u);
}

TEST(FolderWalker, WalksATreeOneHundredThousandLevelsDeep) {
    TempTree tree;
    constexpr int kDepth = 100000;
    int handle = ::open(tree.Root().c_str(), O_RDONLY | O_DIRECTORY);
    ASSERT_GE(handle, 0);
    for (int level = 0; level < kDepth; ++level) {
        ASSERT_EQ(::mkdirat(handle, "d", 0755), 0) << level;
        if (level % 1000 == 0) {
            int file = ::openat(handle, "f", O_WRONLY | O_CREAT, 0644);
            ASSERT_GE(file, 0);
            ::close(file);
        }
        int next = ::openat(handle, "d", O_RDONLY | O_DIRECTORY);
        ::close(handle);
        ASSERT_GE(next, 0);
        handle = next;
    }
    ::close(handle);

    struct CountingSink : WalkSink {
        bool EnterFolder(const std::string& path, const FindRecord*) override {
            ++entered;
            longest = std::max(longest, path.size());
            return true;
        }
        void AddFile(const std::string&, const FindRecord&) override { ++files; }
        void LeaveFolder(const std::string&) override { ++left; }
        int entered = 0, left = 0, files = 0;
        size_t longest = 0;
    } sink;
    ASSERT_EQ(WalkFolderTree(tree.Root(), sink), WalkResult::Completed);
    EXPECT_EQ(sink.entered, kDepth + 1);
    EXPECT_EQ(sink.left, kDepth + 1);
    EXPECT_EQ(sink.files, kDepth / 1000);  // found on the way back up too: handles reopened
    EXPECT_EQ(sink.longest, tree.Root().size() + 2 * size_t(kDepth));

    // Removing it needs the same care: rm -rf copes with the depth.
    EXPECT_EQ(std::system(("rm -rf '" + tree.Root() + "/d'").c_str()), 0);
}

}  // namespace
}  // namespace quarn

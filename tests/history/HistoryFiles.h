#pragma once
// Exports made in the tests of kept scans and comparisons: a folder walked
// into an export file, plain or compressed, and the tree read back.

#include <fcntl.h>
#include <unistd.h>
#include <zlib.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "foldersize/FolderScanner.h"
#include "history/ZstdOutput.h"
#include "platform/ExportWriter.h"
#include "platform/FolderWalker.h"
#include "tests/support/ScanRequests.h"
#include "tests/support/TestFiles.h"

namespace quarn::test {

// Walks `folder` into the plain export file `file`.
inline void ExportFolder(const std::string& folder, const std::string& file) {
    const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0) << file;
    ExportWriter writer(fd, "test");
    EXPECT_EQ(WalkFolderTree(folder, writer, WalkOptions{}), WalkResult::Completed);
    EXPECT_TRUE(writer.Finish());
    ::close(fd);
}

inline void WriteZstd(const std::string& file, const std::string& bytes) {
    const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0) << file;
    ZstdOutput out(fd);
    out.Write(bytes.data(), bytes.size());
    EXPECT_TRUE(out.Finish());
    ::close(fd);
}

inline void WriteGzip(const std::string& file, const std::string& bytes) {
    gzFile out = gzopen(file.c_str(), "wb");
    ASSERT_NE(out, nullptr) << file;
    EXPECT_EQ(gzwrite(out, bytes.data(), unsigned(bytes.size())), int(bytes.size()));
    EXPECT_EQ(gzclose(out), Z_OK);
}

// Every item of a finished tree below the top level, as "path size", in
// the tree's order (children sorted by name, so two reads compare).
inline std::vector<std::string> TreeLines(const FolderSizeTree& tree) {
    std::vector<std::string> lines;
    std::vector<std::pair<NodeHandle, std::string>> stack;
    for (int row = tree.GetChildCount(kTopLevel); row-- > 0;) {
        stack.push_back({tree.GetChildItem(kTopLevel, row), ""});
    }
    while (!stack.empty()) {
        auto [item, prefix] = stack.back();
        stack.pop_back();
        const std::string name = tree.IsFilesItem(item)
                                     ? "[" + std::to_string(tree.GetItemFileCount(item)) + " files]"
                                     : tree.GetItemName(item);
        const std::string text = prefix + name;
        const std::optional<uint64_t> size = tree.GetItemSize(item);
        lines.push_back(text + " " + (size ? std::to_string(*size) : "-"));
        std::vector<std::pair<std::string, NodeHandle>> children;
        for (int row = 0; row < tree.GetChildCount(item); ++row) {
            const NodeHandle child = tree.GetChildItem(item, row);
            children.push_back({tree.GetItemName(child), child});
        }
        std::sort(children.begin(), children.end());
        for (auto it = children.rbegin(); it != children.rend(); ++it) {
            stack.push_back({it->second, text + "/"});
        }
    }
    return lines;
}

}  // namespace quarn::test

#include "tests/foldersize/FolderTreeChecks.h"

#include <unistd.h>

#include <gtest/gtest.h>

#include <stdexcept>
#include <vector>

#include "settings/Settings.h"
#include "tests/support/FolderTreeText.h"

namespace quarn::test {

ScanSettings::ScanSettings(bool sortBySize, bool relativeToDrive)
    : m_ini("QUARN_INI", m_folder.Path("quarn.ini")) {
    WriteSetting(kSortBySize, sortBySize);
    WriteSetting(kRelativToDriveSpace, relativeToDrive);
}

void MakeHardLink(const TempTree& tree, const std::string& existing, const std::string& relative) {
    if (::link(tree.Path(existing).c_str(), tree.Path(relative).c_str()) != 0) {
        throw std::runtime_error("cannot link " + relative);
    }
}

std::map<std::string, NodeHandle> ItemsByPath(const FolderSizeTree& view) {
    std::map<std::string, NodeHandle> byPath;
    std::vector<NodeHandle> pending{kTopLevel};
    while (!pending.empty()) {
        NodeHandle parent = pending.back();
        pending.pop_back();
        for (int row = 0; row < view.GetChildCount(parent); ++row) {
            NodeHandle item = view.GetChildItem(parent, row);
            if (!view.IsLiveItem(item)) {
                continue;  // deleted, waiting for a listener
            }
            std::optional<std::string> path = view.GetItemPath(item);
            EXPECT_TRUE(path.has_value());
            byPath[path.value_or("?") + (view.IsFilesItem(item) ? "|files" : "")] = item;
            pending.push_back(item);
        }
    }
    return byPath;
}

namespace {

std::vector<std::string> LiveChildTexts(const FolderSizeTree& view, NodeHandle parent) {
    std::vector<std::string> texts;
    for (int row = 0; row < view.GetChildCount(parent); ++row) {
        NodeHandle child = view.GetChildItem(parent, row);
        if (view.IsLiveItem(child)) {
            texts.push_back(test::ItemText(view, child));
        }
    }
    return texts;
}

}  // namespace

void ExpectSameAsFreshScan(const FolderScanner& scanner) {
    FolderScanner fresh;
    fresh.RunScan(scanner.LastRequest());
    const FolderSizeTree& view = scanner.Tree();
    const FolderSizeTree& expectedTree = fresh.Tree();
    auto changed = ItemsByPath(view);
    auto expected = ItemsByPath(expectedTree);
    std::vector<std::string> changedPaths;
    std::vector<std::string> expectedPaths;
    for (const auto& [path, item] : changed) {
        changedPaths.push_back(path);
    }
    for (const auto& [path, item] : expected) {
        expectedPaths.push_back(path);
    }
    EXPECT_EQ(changedPaths, expectedPaths);
    for (const auto& [path, item] : expected) {
        auto found = changed.find(path);
        if (found == changed.end()) {
            continue;
        }
        EXPECT_EQ(view.GetItemSize(found->second), expectedTree.GetItemSize(item)) << path;
        EXPECT_EQ(test::ItemText(view, found->second), test::ItemText(expectedTree, item)) << path;
        EXPECT_EQ(view.GetItemPercent(found->second), expectedTree.GetItemPercent(item)) << path;
        EXPECT_EQ(view.GetItemKind(found->second), expectedTree.GetItemKind(item)) << path;
        EXPECT_EQ(LiveChildTexts(view, found->second), LiveChildTexts(expectedTree, item)) << path;
    }
    EXPECT_EQ(view.GetFigures().total, expectedTree.GetFigures().total);
    EXPECT_EQ(view.GetFigures().files, expectedTree.GetFigures().files);
    EXPECT_EQ(view.GetFigures().folders, expectedTree.GetFigures().folders);
    // Free space moves while other programs write; counts are in the
    // status of a network-style scan.
    if (fresh.GetStatus().starts_with("Ready")) {
        EXPECT_EQ(scanner.GetStatus(), fresh.GetStatus());
    }
}

}  // namespace quarn::test

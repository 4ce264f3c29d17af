#include "foldersize/ScanFileStats.h"

#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "foldersize/FolderScanner.h"
#include "settings/Settings.h"
#include "tests/foldersize/FolderTreeChecks.h"
#include "tests/support/TempTree.h"

namespace quarn {
namespace {

namespace fs = std::filesystem;
using test::ScopedEnv;
using test::TempTree;

using SizedPath = std::pair<uint64_t, std::string>;

// The first `count` of `files` by size, larger first, then by path.
std::vector<SizedPath> FirstBySize(std::vector<SizedPath> files, size_t count) {
    std::sort(files.begin(), files.end(), [](const SizedPath& a, const SizedPath& b) {
        return a.first != b.first ? a.first > b.first : a.second < b.second;
    });
    files.resize(std::min(count, files.size()));
    return files;
}

std::vector<SizedPath> Kept(const LargestFiles& largest) {
    std::vector<SizedPath> kept;
    for (const LargestFiles::Entry& entry : largest.Sorted()) {
        kept.emplace_back(entry.bytes, entry.path);
    }
    return kept;
}

// The extension as the standard library splits a file name, lower-cased:
// a second opinion on which part of a name is its type.
std::string LibraryExtension(const std::string& name) {
    std::string ext = fs::path(name).extension().string();
    if (!ext.empty()) {
        ext.erase(0, 1);
    }
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    return ext;
}

TEST(LargestFilesTest, KeepsTheFirstOfAFullSortWithManyTies) {
    // Few distinct sizes: most files tie with the smallest one kept, and
    // files arrive in no particular order of path.
    std::mt19937 random(7);
    std::vector<SizedPath> all;
    for (int i = 0; i < 5000; ++i) {
        all.emplace_back(random() % 40, "/d" + std::to_string(random() % 97) + "/f" +
                                            std::to_string(random() % 100000));
    }
    for (size_t capacity : {size_t(1), size_t(37), size_t(1000), size_t(6000)}) {
        LargestFiles largest(capacity);
        for (const auto& [bytes, path] : all) {
            size_t slash = path.rfind('/');
            largest.Add(path.substr(0, slash), path.substr(slash + 1), bytes, 0);
        }
        EXPECT_EQ(Kept(largest), FirstBySize(all, capacity)) << "capacity " << capacity;
    }
    LargestFiles none(0);
    none.Add("/a", "b", 5, 0);
    EXPECT_EQ(none.Size(), 0u);
}

TEST(LargestFilesTest, JoinsPathsAsTheWalkDoesAtTheRoot) {
    LargestFiles largest(2);
    largest.Add("/", "top", 3, 11);
    largest.Add("/usr", "b", 3, 12);
    largest.Add("/usr", "a", 3, 13);  // ties: "/top" comes after "/usr/a"
    std::vector<LargestFiles::Entry> kept = largest.Sorted();
    ASSERT_EQ(kept.size(), 2u);
    EXPECT_EQ(kept[0].path, "/top");
    EXPECT_EQ(kept[1].path, "/usr/a");
    EXPECT_EQ(kept[1].mtimeSeconds, 13);
}

TEST(FileTypeTallyTest, NamesWithoutATypeAndCaseVariants) {
    FileTypeTally tally;
    for (const char* name : {"A.TXT", "b.txt", ".bashrc", "notes.", "README", "x.tar.GZ", "..x"}) {
        tally.Add(name, 10);
    }
    std::map<std::string, std::pair<int64_t, uint64_t>> counted;
    for (const FileTypeTally::Row& row : tally.Rows()) {
        counted[row.ext] = {row.files, row.bytes};
    }
    std::map<std::string, std::pair<int64_t, uint64_t>> expected = {
        {"", {3, 30}}, {"txt", {2, 20}}, {"gz", {1, 10}}, {"x", {1, 10}}};
    EXPECT_EQ(counted, expected);
    // Most bytes first, then most files, then by extension.
    std::vector<FileTypeTally::Row> rows = tally.Rows();
    EXPECT_EQ(rows.front().ext, "");
    EXPECT_EQ(rows.back().ext, "x");
}

OwnedFileEntry Record(const std::string& name, uint64_t size, uint64_t allocated, uint64_t inode,
                      uint32_t links) {
    OwnedFileEntry record;
    record.name = name;
    record.size = size;
    record.allocatedSize = allocated;
    record.device = 1;
    record.inode = inode;
    record.linkCount = links;
    return record;
}

TEST(ScanFileStatsTest, AllocatedSizesAndHardLinksCountOnce) {
    for (bool allocated : {false, true}) {
        ScanFileStats stats(10, allocated);
        stats.AddFile("/r", Record("sparse.img", 1000000, 4096, 1, 1));
        stats.AddFile("/r", Record("small.txt", 10, 4096, 2, 1));
        // One inode under three names.
        stats.AddFile("/r/a", Record("linked.bin", 5000, 8192, 3, 3));
        stats.AddFile("/r/b", Record("linked.bin", 5000, 8192, 3, 3));
        stats.AddFile("/r/b", Record("other.BIN", 5000, 8192, 3, 3));

        std::vector<SizedPath> kept = Kept(stats.Largest());
        std::vector<SizedPath> expected =
            allocated
                ? std::vector<SizedPath>{{8192, "/r/a/linked.bin"},
                                         {4096, "/r/small.txt"},
                                         {4096, "/r/sparse.img"}}
                : std::vector<SizedPath>{
                      {1000000, "/r/sparse.img"}, {5000, "/r/a/linked.bin"}, {10, "/r/small.txt"}};
        EXPECT_EQ(kept, expected) << "allocated " << allocated;

        uint64_t bytes = 0;
        int64_t files = 0;
        for (const FileTypeTally::Row& row : stats.Types().Rows()) {
            bytes += row.bytes;
            files += row.files;
            if (row.ext == "bin") {
                EXPECT_EQ(row.files, 3);                          // every name
                EXPECT_EQ(row.bytes, allocated ? 8192u : 5000u);  // the inode once
            }
        }
        EXPECT_EQ(files, 5);
        EXPECT_EQ(bytes, allocated ? 16384u : 1005010u);
    }
}

// A generated tree scanned by the folder view: the kept files and the types
// equal what a separate pass over every file finds, for one walk thread and
// for several.
// A file trashed while the next scan runs (the trash itself may start
// it) leaves the lists the windows keep showing, and the new scan's lists
// replace them whole.
TEST(ScanFileStatsTest, WhatLeavesWhileAScanRunsLeavesTheShownLists) {
    TempTree settings;
    ScopedEnv ini("QUARN_INI", settings.Path("quarn.ini"));
    TempTree tree;
    tree.MakeFile("big.bin", 9000);
    tree.MakeFile("sub/small.bin", 100);
    tree.MakeFile("sub/notes.txt", 50);
    FolderScanner view;
    view.RunScan(test::FolderRequest(tree.Root()));
    KeptFileStats& kept = view.Tree().FileStats();
    const std::shared_ptr<const ScanFileStats> finished = kept.Stats();
    ASSERT_NE(finished, nullptr);

    kept.ScanStarted();
    EXPECT_EQ(kept.Stats(), nullptr);
    EXPECT_EQ(kept.Shown(), finished);
    const uint64_t serial = kept.Serial();
    kept.ForgetFile(tree.Path("big.bin"), 9000);
    EXPECT_GT(kept.Serial(), serial);
    ASSERT_EQ(kept.Largest().size(), 2u);
    EXPECT_EQ(kept.Largest()[0].path, tree.Path("sub/small.bin"));
    const std::vector<FileTypeTally::Row> types = kept.Types();
    ASSERT_EQ(types.size(), 2u);
    EXPECT_EQ(types[0].ext, "bin");
    EXPECT_EQ(types[0].files, 1);
    EXPECT_EQ(types[0].bytes, 100u);

    fs::remove(tree.Path("big.bin"));
    fs::remove(tree.Path("sub/notes.txt"));
    view.RunScan(test::FolderRequest(tree.Root()));
    ASSERT_NE(kept.Stats(), nullptr);
    EXPECT_EQ(kept.Shown(), kept.Stats());
    EXPECT_EQ(kept.Largest().size(), 1u);
    EXPECT_EQ(kept.Types().size(), 1u);
}

TEST(ScanFileStatsTest, ScanOfAGeneratedTreeMatchesEveryFile) {
    TempTree settings;
    ScopedEnv ini("QUARN_INI", settings.Path("quarn.ini"));
    TempTree tree;
    std::mt19937 random(11);
    const char* names[] = {"a.txt", "B.TXT", "c.jpg", "d", ".hidden", "e.tar.gz", "f.", "g.Jpg"};
    for (int i = 0; i < 400; ++i) {
        std::string folder =
            "d" + std::to_string(random() % 9) + "/s" + std::to_string(random() % 4);
        std::string name = std::to_string(i) + names[random() % 8];
        tree.MakeFile(folder + "/" + name, random() % 5 * 100);  // many ties
    }
    // A hard link in another folder counts once, under either name.
    tree.MakeFile("d1/orig.dat", 100000);
    fs::create_directories(tree.Path("links"));
    fs::create_hard_link(tree.Path("d1/orig.dat"), tree.Path("links/twin.dat"));

    std::vector<SizedPath> every;
    std::map<std::string, std::pair<int64_t, uint64_t>> byExt;
    std::map<fs::path, bool> seenInodes;
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(tree.Root())) {
        if (!entry.is_regular_file()) {
            continue;
        }
        auto& counts = byExt[LibraryExtension(entry.path().filename().string())];
        ++counts.first;
        if (entry.path().parent_path().filename() == "links") {
            continue;  // the second name of an inode met elsewhere
        }
        counts.second += entry.file_size();
        every.emplace_back(entry.file_size(), entry.path().string());
    }

    for (unsigned threads : {1u, 4u}) {
        FolderScanner view;
        ScanRequest request = test::FolderRequest(tree.Root(), WalkOptions(threads));
        request.largestFiles = 60;
        view.RunScan(request);
        std::shared_ptr<const ScanFileStats> stats = view.Tree().FileStats().Stats();
        ASSERT_NE(stats, nullptr);
        std::vector<SizedPath> kept = Kept(stats->Largest());
        // The linked inode is kept under whichever name the walk met first.
        for (SizedPath& file : kept) {
            if (file.second == tree.Path("links/twin.dat")) {
                file.second = tree.Path("d1/orig.dat");
            }
        }
        EXPECT_EQ(kept, FirstBySize(every, 60)) << threads << " threads";
        std::map<std::string, std::pair<int64_t, uint64_t>> counted;
        for (const FileTypeTally::Row& row : stats->Types().Rows()) {
            counted[row.ext] = {row.files, row.bytes};
        }
        EXPECT_EQ(counted, byExt) << threads << " threads";
    }

    // The types add up to the root's total in either measure: each file
    // counts with the tree's size, the linked inode once.
    for (bool allocated : {false, true}) {
        FolderScanner view;
        ScanRequest request = test::FolderRequest(tree.Root());
        request.allocatedSizes = allocated;
        view.RunScan(request);
        std::shared_ptr<const ScanFileStats> stats = view.Tree().FileStats().Stats();
        ASSERT_NE(stats, nullptr);
        EXPECT_EQ(stats->AllocatedSizes(), allocated);
        uint64_t bytes = 0;
        for (const FileTypeTally::Row& row : stats->Types().Rows()) {
            bytes += row.bytes;
        }
        EXPECT_EQ(bytes, view.Tree().GetFigures().total) << "allocated " << allocated;
    }

    FolderScanner off;
    ScanRequest without = test::FolderRequest(tree.Root());
    without.largestFiles = 0;
    off.RunScan(without);
    EXPECT_EQ(off.Tree().FileStats().Stats(), nullptr);
}

}  // namespace
}  // namespace quarn

// Twins by content: renamed copies, the staged comparison, hard links,
// reference folders, the hash cache, and copies replaced by hard links.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "duplicates/TwinScanner.h"
#include "duplicates/TwinTrash.h"
#include "foldersize/FolderScanner.h"
#include "settings/Settings.h"
#include "tests/support/TempTree.h"
#include "tests/support/TestFiles.h"

namespace quarn {
namespace {

using test::SeededBytes;

class ContentSearchTest : public ::testing::Test {
  protected:
    ContentSearchTest() : ini("QUARN_INI", settingsTree.Path("quarn.ini")) {
        twins.SetHashCacheFile(settingsTree.Path("cache/hashes"));
    }

    void Write(const std::string& relative, const std::string& bytes) {
        const std::string path = tree.Path(relative);
        const size_t slash = relative.rfind('/');
        if (slash != std::string::npos) {
            tree.MakeFile(relative, 0);  // makes its folders
        }
        test::WriteText(path, bytes);
    }

    ScanRequest Request(std::vector<std::string> references = {}, bool cache = false) {
        ScanAdditions additions;
        additions.content = true;
        additions.references = std::move(references);
        additions.noCache = !cache;
        return ScanRequestFromSettings(ScanRequest::Source::Folder, tree.Path("root"), additions);
    }

    // The listed groups, each as its files' paths below the tree (row order).
    std::vector<std::vector<std::string>> Groups() const {
        std::vector<std::vector<std::string>> groups;
        GroupId current = kNoGroup;
        for (int row = 0; row < twins.Rows().GetItemCount(); ++row) {
            std::optional<TwinRow> shown = twins.RowAt(row);
            if (!shown) {
                continue;
            }
            if (groups.empty() || shown->source.group != current) {
                groups.emplace_back();
                current = shown->source.group;
            }
            groups.back().push_back(shown->path.substr(tree.Root().size() + 1));
        }
        return groups;
    }
    // What the Content column says of each listed file, by path below the tree.
    std::map<std::string, Content> Contents() const {
        std::map<std::string, Content> contents;
        for (int row = 0; row < twins.Rows().GetItemCount(); ++row) {
            if (std::optional<TwinRow> shown = twins.RowAt(row)) {
                contents[shown->path.substr(tree.Root().size() + 1)] = shown->content;
            }
        }
        return contents;
    }
    int RowOf(const std::string& relative) const {
        for (int row = 0; row < twins.Rows().GetItemCount(); ++row) {
            if (twins.RowAt(row)->path == tree.Path(relative)) {
                return row;
            }
        }
        return -1;
    }
    ino_t Inode(const std::string& relative) const {
        struct stat status {};
        ::lstat(tree.Path(relative).c_str(), &status);
        return status.st_ino;
    }

    test::TempTree settingsTree;
    test::ScopedEnv ini;
    test::TempTree tree;
    std::vector<std::string> messages;
    UserMessagePresenter presenter = [this](const std::string& text) { messages.push_back(text); };
    TwinScanner twins{presenter};
};

TEST_F(ContentSearchTest, RenamedCopiesAreFoundAndSameNamesWithOtherBytesAreNot) {
    const std::string photo = SeededBytes(100000, 1);
    Write("root/camera/IMG_0001.JPG", photo);
    Write("root/album/beach.jpg", photo);
    Write("root/album/2026/beach (copy).jpg", photo);
    // Same name, same size, same time, other bytes: twins by name, not by content.
    Write("root/a/notes.txt", SeededBytes(5000, 2));
    Write("root/b/notes.txt", SeededBytes(5000, 3));
    tree.SetModified("root/a/notes.txt", 1600000000);
    tree.SetModified("root/b/notes.txt", 1600000000);
    // Empty files hold nothing to share.
    Write("root/a/empty", "");
    Write("root/b/empty", "");
    tree.SetModified("root/a/empty", 1600000000);
    tree.SetModified("root/b/empty", 1600000000);

    twins.Scan(Request());
    EXPECT_TRUE(twins.ByContent());
    EXPECT_EQ(Groups(), (std::vector<std::vector<std::string>>{{"root/album/2026/beach (copy).jpg",
                                                                "root/album/beach.jpg",
                                                                "root/camera/IMG_0001.JPG"}}));
    // Each row is named after its own file.
    EXPECT_EQ(twins.RowAt(0)->name, "beach (copy).jpg");
    EXPECT_EQ(twins.RowAt(2)->name, "IMG_0001.JPG");
    EXPECT_EQ(twins.GetStatus(),
              "Same content: 1 set, 2 copies [195.312 KB] beyond the first of each set, 0 hard "
              "links, 0 changed, 0 unread");

    // The same tree by name: only the notes are twins, and they differ.
    ScanRequest byName = Request();
    byName.contentTwins = false;
    byName.twinCompare &= uint8_t(~kCompareContent);
    byName.verifyContents = true;
    twins.Scan(byName);
    EXPECT_FALSE(twins.ByContent());
    EXPECT_EQ(Contents(), (std::map<std::string, Content>{{"root/a/empty", Content::Identical},
                                                          {"root/a/notes.txt", Content::Unique},
                                                          {"root/b/empty", Content::Identical},
                                                          {"root/b/notes.txt", Content::Unique}}));
}

TEST_F(ContentSearchTest, SetsSplitByTheLastBlockAndBySize) {
    const std::string base = SeededBytes(64 * 1024, 4);
    std::string lastByte = base;
    lastByte.back() ^= 1;
    Write("root/one.bin", base);
    Write("root/two.bin", base);
    Write("root/three.bin", lastByte);
    Write("root/four.bin", lastByte);
    Write("root/longer.bin", base + "x");

    twins.Scan(Request());
    EXPECT_EQ(Groups(), (std::vector<std::vector<std::string>>{{"root/four.bin", "root/three.bin"},
                                                               {"root/one.bin", "root/two.bin"}}));
    // Four files of one size: four first blocks, four last blocks, and all
    // four whole, since each last block has its partner.
    EXPECT_EQ(twins.LastContentCounts().filesRead, 4u);
}

TEST_F(ContentSearchTest, HardLinksOfOneInodeAreOneFileNeverACopy) {
    const std::string bytes = SeededBytes(20000, 5);
    Write("root/a/original", bytes);
    ASSERT_EQ(::link(tree.Path("root/a/original").c_str(), tree.Path("root/b-link").c_str()), 0);
    // Two names of one inode alone are no set.
    twins.Scan(Request());
    EXPECT_TRUE(Groups().empty());

    Write("root/c/copy", bytes);
    twins.Scan(Request());
    ASSERT_EQ(Groups().size(), 1u);
    const std::map<std::string, Content> contents = Contents();
    EXPECT_EQ(contents.size(), 3u);
    int links = 0;
    for (const auto& [path, content] : contents) {
        links += content == Content::HardLink ? 1 : 0;
    }
    EXPECT_EQ(links, 1);
    // One copy beyond the first: the link frees nothing.
    EXPECT_EQ(twins.CountTwins().identicalCopies, 1);
    EXPECT_EQ(twins.CountTwins().identicalBytes, 20000u);
    // Select Copies offers one file, never the link.
    const std::vector<int> copies = twins.CopyRows(TwinScanner::KeepRule::FirstPath);
    ASSERT_EQ(copies.size(), 1u);
    EXPECT_NE(twins.RowAt(copies[0])->content, Content::HardLink);
}

TEST_F(ContentSearchTest, ReferenceFilesAreNeverSelectedTrashedOrReplaced) {
    const std::string kept = SeededBytes(30000, 6);
    const std::string archived = SeededBytes(40000, 7);
    // "Which files in the downloads are already in the archive": the archive
    // lies outside the folder scanned.
    Write("root/download.bin", kept);
    Write("root/second download.bin", kept);
    Write("archive/kept.bin", kept);
    Write("archive/old/a.bin", archived);
    Write("archive/old/b.bin", archived);

    twins.Scan(Request({tree.Path("archive")}));
    // The set made only of reference files offers nothing and is not listed.
    EXPECT_EQ(Groups(),
              (std::vector<std::vector<std::string>>{
                  {"archive/kept.bin", "root/download.bin", "root/second download.bin"}}));
    EXPECT_TRUE(twins.RowAt(RowOf("archive/kept.bin"))->reference);

    // Select Copies keeps the reference file, whatever the rule prefers.
    for (TwinScanner::KeepRule rule : {TwinScanner::KeepRule::Oldest, TwinScanner::KeepRule::Newest,
                                       TwinScanner::KeepRule::FirstPath}) {
        EXPECT_EQ(twins.CopyRows(rule), (std::vector<int>{RowOf("root/download.bin"),
                                                          RowOf("root/second download.bin")}));
    }
    // The trash refuses it even when asked for it by name.
    const RowSource reference = twins.RowAt(RowOf("archive/kept.bin"))->source;
    const std::vector<TwinTrash::Outcome> outcomes =
        TwinTrash::TrashFiles(twins, {reference}, [](const std::string&, const FileIdentity&) {
            ADD_FAILURE() << "the mover was called for a reference file";
            return TrashResult{};
        });
    ASSERT_EQ(outcomes.size(), 1u);
    EXPECT_EQ(outcomes[0].verdict, TwinTrash::Verdict::Reference);

    // A plan over every row, the reference file among them, replaces only the
    // downloads, each by the reference file.
    std::vector<int> all(size_t(twins.Rows().GetItemCount()));
    for (size_t i = 0; i < all.size(); ++i) {
        all[i] = int(i);
    }
    const std::vector<CopyReplacement> plan =
        twins.PlanReplacements(all, TwinScanner::KeepRule::Newest);
    ASSERT_EQ(plan.size(), 2u);
    for (const CopyReplacement& step : plan) {
        EXPECT_EQ(step.kept.file, reference.file);
    }
    ASSERT_TRUE(twins.StartReplace(ReplaceMethod::HardLink, plan, /*dryRun=*/false));
    twins.WaitForWorkers();
    EXPECT_EQ(twins.LastReplacement().replaced, 2);
    EXPECT_EQ(Inode("root/download.bin"), Inode("archive/kept.bin"));
    EXPECT_EQ(test::ReadText(tree.Path("archive/kept.bin")), kept);
}

TEST_F(ContentSearchTest, ReplacingCopiesWithHardLinksReChecksEveryCopy) {
    const std::string bytes = SeededBytes(50000, 8);
    Write("root/a.bin", bytes);
    Write("root/b.bin", bytes);
    Write("root/c.bin", bytes);
    tree.SetModified("root/a.bin", 1500000000);  // the oldest: kept
    twins.Scan(Request());
    ASSERT_EQ(Groups().size(), 1u);
    const std::vector<CopyReplacement> plan =
        twins.PlanReplacements({0, 1, 2}, TwinScanner::KeepRule::Oldest);
    ASSERT_EQ(plan.size(), 2u);

    // A dry run changes nothing on disk.
    const auto listing = [this] {
        std::vector<std::string> lines;
        for (const char* name : {"a.bin", "b.bin", "c.bin"}) {
            struct stat status {};
            ::lstat(tree.Path(std::string("root/") + name).c_str(), &status);
            lines.push_back(std::string(name) + " " + std::to_string(status.st_ino) + " " +
                            std::to_string(status.st_nlink) + " " +
                            std::to_string(status.st_mtim.tv_sec));
        }
        lines.push_back(std::to_string(test::SortedEntryNames(tree.Path("root")).size()));
        return lines;
    };
    const std::vector<std::string> before = listing();
    ASSERT_TRUE(twins.StartReplace(ReplaceMethod::HardLink, plan, /*dryRun=*/true));
    twins.WaitForWorkers();
    EXPECT_EQ(twins.LastReplacement().replaced, 2);
    EXPECT_EQ(listing(), before);

    // A copy changed since the search is skipped and left whole.
    std::string changed = bytes;
    changed[100] ^= 1;
    test::WriteText(tree.Path("root/c.bin"), changed);
    ASSERT_TRUE(twins.StartReplace(ReplaceMethod::HardLink, plan, /*dryRun=*/false));
    twins.WaitForWorkers();
    const ReplacementSummary summary = twins.LastReplacement();
    EXPECT_EQ(summary.replaced, 1);
    EXPECT_EQ(summary.skipped, 1);
    EXPECT_EQ(summary.bytesFreed, summary.results[0].outcome.bytesFreed);
    EXPECT_EQ(Inode("root/b.bin"), Inode("root/a.bin"));
    EXPECT_NE(Inode("root/c.bin"), Inode("root/a.bin"));
    EXPECT_EQ(test::ReadText(tree.Path("root/c.bin")), changed);
    // The replaced copy reads "hard link" from now on, and the status says
    // what was freed.
    EXPECT_EQ(twins.RowAt(RowOf("root/b.bin"))->content, Content::HardLink);
    EXPECT_EQ(twins.GetStatus(), ReplacementStatus(summary));
    EXPECT_NE(twins.GetStatus().find("Replaced 1 copy with hard links"), std::string::npos);
    // Nothing but the three files is left in the folder.
    EXPECT_EQ(test::SortedEntryNames(tree.Path("root")),
              (std::vector<std::string>{"a.bin", "b.bin", "c.bin"}));
}

TEST_F(ContentSearchTest, TheHashCacheSparesTheSecondReadAndNeverTrustsDamage) {
    for (int i = 0; i < 4; ++i) {
        Write("root/set" + std::to_string(i) + "/x.bin", SeededBytes(70000, 9));
        Write("root/set" + std::to_string(i) + "/y.bin", SeededBytes(70000 + size_t(i), 10));
    }
    Write("root/more/y.bin", SeededBytes(70000, 10));
    twins.Scan(Request({}, /*cache=*/true));
    const std::vector<std::vector<std::string>> first = Groups();
    ASSERT_EQ(first.size(), 2u);
    EXPECT_GT(twins.LastContentCounts().filesRead, 0u);

    // Unchanged: nothing is opened for reading, not even to tell whether it
    // is in the page cache, and the same sets come back.
    twins.Scan(Request({}, /*cache=*/true));
    EXPECT_EQ(twins.LastContentCounts().filesRead, 0u);
    EXPECT_EQ(twins.LastContentCounts().filesSampled, 0u);
    EXPECT_EQ(Groups(), first);

    // A touched file is read again, and only that one.
    tree.SetModified("root/set2/x.bin", 1700000000);
    twins.Scan(Request({}, /*cache=*/true));
    EXPECT_EQ(twins.LastContentCounts().filesRead, 1u);
    EXPECT_EQ(Groups(), first);

    // Without the cache every candidate is read.
    twins.Scan(Request({}, /*cache=*/false));
    EXPECT_EQ(twins.LastContentCounts().filesRead, 6u);
    EXPECT_TRUE(messages.empty());

    // A damaged cache is said once and not trusted: everything is read again.
    const std::string cacheFile = twins.HashCacheFile();
    std::string damaged = test::ReadText(cacheFile);
    ASSERT_GT(damaged.size(), 100u);
    damaged[damaged.size() / 2] ^= 0x40;
    test::WriteText(cacheFile, damaged);
    twins.Scan(Request({}, /*cache=*/true));
    EXPECT_EQ(messages.size(), 1u);
    EXPECT_EQ(twins.LastContentCounts().filesRead, 6u);
    EXPECT_EQ(Groups(), first);
    // ... and the cache written afterwards is whole again.
    twins.Scan(Request({}, /*cache=*/true));
    EXPECT_EQ(messages.size(), 1u);
    EXPECT_EQ(twins.LastContentCounts().filesRead, 0u);
}

// Several readers share the groups: whatever order they finish in, the sets,
// their order and every verdict are those of one reader, and the cache they
// fill together serves the next search whole.
TEST_F(ContentSearchTest, SeveralReadersFindWhatOneReaderFinds) {
    for (unsigned i = 0; i < 40; ++i) {
        const std::string bytes = SeededBytes(3000 + 997 * (i % 13), i % 17);
        Write("root/" + std::to_string(i % 5) + "/file" + std::to_string(i) + ".bin", bytes);
        if (i % 3 == 0) {
            Write("root/copies/renamed" + std::to_string(i), bytes);
        }
    }
    auto outcome = [this] {
        std::vector<std::string> lines;
        for (int row = 0; row < twins.Rows().GetItemCount(); ++row) {
            const std::optional<TwinRow> shown = twins.RowAt(row);
            lines.push_back(std::to_string(shown->source.group) + " " + shown->path + " " +
                            std::to_string(int(shown->content)));
        }
        lines.push_back(twins.GetStatus());
        return lines;
    };
    ScanRequest one = Request({}, /*cache=*/true);
    one.contentReaders = 1;
    twins.SetHashCacheFile(settingsTree.Path("one/hashes"));
    twins.Scan(one);
    const std::vector<std::string> byOne = outcome();
    ASSERT_GT(Groups().size(), 5u);

    ScanRequest four = one;
    four.contentReaders = 4;
    twins.SetHashCacheFile(settingsTree.Path("four/hashes"));
    for (int round = 0; round < 3; ++round) {
        twins.Scan(four);
        EXPECT_EQ(outcome(), byOne);
    }
    EXPECT_EQ(twins.LastContentCounts().filesRead, 0u);
    EXPECT_TRUE(messages.empty());
}

// One walk fills the folder tree and feeds the twins; the content search
// follows the feed and walks the reference folder outside the root itself.
TEST_F(ContentSearchTest, ACombinedScanEndsWithTheContentSearch) {
    const std::string bytes = SeededBytes(9000, 11);
    Write("root/x/first.dat", bytes);
    Write("root/y/second.dat", bytes);
    Write("archive/kept.dat", bytes);
    ScanRequest request = Request({tree.Path("archive")});
    request.feedTwins = true;
    FolderScanner folders;
    folders.SetTwinFeed(&twins);
    folders.RunScan(request);
    twins.WaitForWorkers();
    // The folder tree holds the root only; the twins know the archive too.
    EXPECT_EQ(folders.Tree().GetFigures().total, 18000u);
    EXPECT_EQ(Groups(), (std::vector<std::vector<std::string>>{
                            {"archive/kept.dat", "root/x/first.dat", "root/y/second.dat"}}));
    EXPECT_EQ(twins.CopyRows(TwinScanner::KeepRule::Oldest),
              (std::vector<int>{RowOf("root/x/first.dat"), RowOf("root/y/second.dat")}));
}

// A copy with two names frees its blocks only when both are replaced: the
// dry run says what the real run then frees.
TEST_F(ContentSearchTest, ADryRunCountsACopyWithSeveralNamesOnce) {
    const std::string bytes = SeededBytes(64 * 1024, 12);
    Write("root/kept.bin", bytes);
    tree.SetModified("root/kept.bin", 1500000000);
    Write("root/copy.bin", bytes);
    ASSERT_EQ(::link(tree.Path("root/copy.bin").c_str(), tree.Path("root/copy-link.bin").c_str()),
              0);
    twins.Scan(Request());
    const std::vector<CopyReplacement> plan =
        twins.PlanReplacements({0, 1, 2}, TwinScanner::KeepRule::Oldest);
    ASSERT_EQ(plan.size(), 2u);  // both names of the copy
    ASSERT_TRUE(twins.StartReplace(ReplaceMethod::HardLink, plan, /*dryRun=*/true));
    twins.WaitForWorkers();
    const uint64_t wouldFree = twins.LastReplacement().bytesFreed;
    EXPECT_GE(wouldFree, 64u * 1024);
    ASSERT_TRUE(twins.StartReplace(ReplaceMethod::HardLink, plan, /*dryRun=*/false));
    twins.WaitForWorkers();
    EXPECT_EQ(twins.LastReplacement().replaced, 2);
    EXPECT_EQ(twins.LastReplacement().bytesFreed, wouldFree);
    EXPECT_EQ(Inode("root/copy-link.bin"), Inode("root/kept.bin"));
}

}  // namespace
}  // namespace quarn

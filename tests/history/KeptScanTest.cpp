// Finished scans are kept as compressed exports: the newest KeepScans of a
// folder, never the same scan twice, and a write that fails (a full disk)
// leaves the earlier ones whole and is told once.

#include <sys/mount.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "foldersize/FolderScanner.h"
#include "history/KeptScanWriter.h"
#include "history/ScanStore.h"
#include "settings/Settings.h"
#include "tests/history/HistoryFiles.h"
#include "tests/support/TempTree.h"

namespace quarn {
namespace {

using test::FolderRequest;
using test::ImportRequest;
using test::TreeLines;

class KeptScanTest : public ::testing::Test {
  protected:
    KeptScanTest()
        : ini("QUARN_INI", home.Path("quarn.ini")), data("XDG_DATA_HOME", home.Path("data")) {
        tree.MakeFile("a/one.txt", 100);
        tree.MakeFile("b/two.txt", 200);
        scanner.SetScanKeeper(KeptScanMaker(
            "test", [this](const KeepOutcome& outcome) { outcomes.push_back(outcome); }));
    }

    // Scans the tree and returns what the keeping told.
    KeepOutcome Scan() {
        outcomes.clear();
        scanner.RunScan(FolderRequest(tree.Root()));
        EXPECT_EQ(outcomes.size(), 1u) << "each scan tells once";
        return outcomes.empty() ? KeepOutcome{} : outcomes.back();
    }

    std::vector<std::string> ImportedLines(const std::string& file) {
        FolderScanner reader;
        reader.RunScan(ImportRequest(file));
        EXPECT_EQ(reader.GetImportError(), "") << file;
        return TreeLines(reader.Tree());
    }

    test::TempTree home;
    test::ScopedEnv ini;
    test::ScopedEnv data;
    test::TempTree tree;
    std::vector<KeepOutcome> outcomes;
    FolderScanner scanner;
};

TEST(KeptScanName, OnlyATimeThatNamesItselfAgainIsAKeptScans) {
    const auto parses = [](const std::string& time) {
        uint64_t folderHash = 0;
        KeptScan facts;
        return ScanStore::ParseFileName(
            "home_00f1e2d3c4b5a697_" + time + "_0123456789abcdef_1048576_42.json.zst", folderHash,
            facts);
    };
    EXPECT_TRUE(parses("20261210T153000123Z"));
    EXPECT_TRUE(parses("19700101T000000000Z"));
    // Found by fuzzing: the year 226 read as a time before 1970, whose name
    // written again was no kept scan's.
    EXPECT_FALSE(parses("02261210T153000123Z"));
    EXPECT_FALSE(parses("19691231T235959999Z"));
    EXPECT_FALSE(parses("20260231T120000000Z"));  // no 31st of February
    EXPECT_FALSE(parses("20261310T120000000Z"));
    EXPECT_FALSE(parses("2026 210T120000000Z"));
    EXPECT_FALSE(parses("2026121+T120000000Z"));
}

TEST_F(KeptScanTest, TheNewestKeepScansAreKeptAndAnUnchangedScanIsNotKeptAgain) {
    ASSERT_TRUE(WriteSettingText(kKeepScans, "3"));
    ScanStore store;
    EXPECT_EQ(Scan().kind, ScanStore::Kept::Kept);
    EXPECT_EQ(Scan().kind, ScanStore::Kept::Unchanged);
    ASSERT_EQ(store.List(tree.Root()).size(), 1u);

    std::vector<std::string> keptFiles;
    for (int i = 0; i < 4; ++i) {
        tree.MakeFile("c/new-" + std::to_string(i), uint64_t(10 + i));
        const KeepOutcome outcome = Scan();
        ASSERT_EQ(outcome.kind, ScanStore::Kept::Kept) << outcome.error;
        keptFiles.push_back(outcome.file);
    }
    const std::vector<KeptScan> kept = store.List(tree.Root());
    ASSERT_EQ(kept.size(), 3u);
    // Newest first: the last three scans, the older ones removed.
    EXPECT_EQ(kept[0].file, keptFiles[3]);
    EXPECT_EQ(kept[1].file, keptFiles[2]);
    EXPECT_EQ(kept[2].file, keptFiles[1]);
    EXPECT_GT(kept[0].unixMillis, kept[1].unixMillis);
    // The name tells the list what the scan found.
    EXPECT_EQ(kept[0].files, 6);
    EXPECT_EQ(kept[0].total, 100u + 200 + 10 + 11 + 12 + 13);
    // A kept scan is a whole export of the tree as it was.
    EXPECT_EQ(ImportedLines(kept[0].file), TreeLines(scanner.Tree()));

    ASSERT_TRUE(WriteSettingText(kKeepScans, "0"));
    tree.MakeFile("c/more", 1);
    outcomes.clear();
    scanner.RunScan(FolderRequest(tree.Root()));
    EXPECT_TRUE(outcomes.empty()) << "KeepScans 0 keeps nothing";
    EXPECT_EQ(store.List(tree.Root()).size(), 3u);
}

TEST_F(KeptScanTest, FoldersAreToldApartByTheirExactBytes) {
    const std::string first = home.Path(std::string("x/\xff name_with_parts"));
    const std::string second = home.Path(std::string("x/\xfe name_with_parts"));
    KeptScan facts;
    facts.unixMillis = 1765375200123;
    facts.contentHash = 0x0123456789abcdefu;
    facts.total = 18446744073709551615u;
    facts.files = 42;
    const std::string name = ScanStore::FileName(first, facts);
    EXPECT_EQ(name.find('/'), std::string::npos);
    uint64_t folderHash = 0;
    KeptScan read;
    ASSERT_TRUE(ScanStore::ParseFileName(name, folderHash, read)) << name;
    EXPECT_EQ(folderHash, ScanStore::FolderHash(first));
    EXPECT_NE(folderHash, ScanStore::FolderHash(second));
    EXPECT_EQ(read.unixMillis, facts.unixMillis);
    EXPECT_EQ(read.contentHash, facts.contentHash);
    EXPECT_EQ(read.total, facts.total);
    EXPECT_EQ(read.files, facts.files);
    EXPECT_EQ(ScanStore::FileName(first, facts) == ScanStore::FileName(second, facts), false);
    for (const char* notOne :
         {"x.json.zst", "a_b_c_d_e_f.json", ".keeping-abc123",
          "a_0123456789abcdef_20251210T140000000Z_0123456789abcdef_1_x.json.zst"}) {
        EXPECT_FALSE(ScanStore::ParseFileName(notOne, folderHash, read)) << notOne;
    }
}

// A small file system of its own, to fill.
class FullDiskTest : public KeptScanTest {
  protected:
    void SetUp() override {
        home.MakeFolder("small");
        if (::mount("tmpfs", home.Path("small").c_str(), "tmpfs", 0, "size=64k") != 0) {
            GTEST_SKIP() << "cannot mount a tmpfs here";
        }
        mounted = true;
        smallData = std::make_unique<test::ScopedEnv>("XDG_DATA_HOME", home.Path("small/data"));
    }
    void TearDown() override {
        smallData.reset();
        if (mounted) {
            ::umount2(home.Path("small").c_str(), MNT_DETACH);
        }
    }

    bool mounted = false;
    std::unique_ptr<test::ScopedEnv> smallData;
};

TEST_F(FullDiskTest, AWriteThatFailsLeavesTheEarlierScansWholeAndIsToldOnce) {
    const KeepOutcome first = Scan();
    ASSERT_EQ(first.kind, ScanStore::Kept::Kept) << first.error;
    const std::vector<std::string> earlier = TreeLines(scanner.Tree());

    // Names of no pattern compress badly: far more than the disk holds.
    for (int i = 0; i < 8000; ++i) {
        tree.MakeFile("big/" + std::to_string(i) + "-" +
                          std::to_string((uint64_t(i) * 2654435761u) % 1000000007u),
                      uint64_t(i));
    }
    const KeepOutcome second = Scan();
    EXPECT_EQ(second.kind, ScanStore::Kept::Failed);
    EXPECT_NE(second.error.find("No space left on device"), std::string::npos) << second.error;

    const std::vector<KeptScan> kept = ScanStore().List(tree.Root());
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_EQ(kept[0].file, first.file);
    EXPECT_EQ(ImportedLines(first.file), earlier);
    // No half-written file stays behind to fill the disk.
    EXPECT_EQ(test::SortedEntryNames(home.Path("small/data/quarn/scans")).size(), 1u);
}

}  // namespace
}  // namespace quarn

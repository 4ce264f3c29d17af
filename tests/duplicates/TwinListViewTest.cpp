// The duplicate scan through the list: summary texts, cancel, the rebuilt
// list, odd times and links, path joining, the combined walk, and workers
// that must never share the tree.

#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "duplicates/TwinListView.h"
#include "foldersize/FolderSizeView.h"
#include "settings/Settings.h"
#include "tests/support/TempTree.h"
#include "tests/support/TestFiles.h"

namespace quarn {
namespace {

class TwinListViewTest : public ::testing::Test {
  protected:
    TwinListViewTest() : ini("QUARN_INI", settingsTree.Path("quarn.ini")) {
        list.SetUserMessagePresenter([this](const std::string& text) { messages.push_back(text); });
    }

    void MakeFile(const std::string& relative, uint64_t size, int64_t seconds = 1600000000) {
        tree.MakeFile(relative, size);
        tree.SetModified(relative, seconds);
    }

    std::vector<std::string> Column(int column) const {
        std::vector<std::string> out;
        for (int row = 0; row < list.GetItemCount(); ++row) {
            out.push_back(list.GetRowText(row, column));
        }
        return out;
    }

    test::TempTree settingsTree;
    test::ScopedEnv ini;
    test::TempTree tree;
    std::vector<std::string> messages;
    CTwinListView list;
};

TEST_F(TwinListViewTest, ThreeCopiesGiveTheSummaryAndAGroupedList) {
    MakeFile("one/a.txt", 512);
    MakeFile("two/a.txt", 512);
    MakeFile("three/deep/a.txt", 512);
    MakeFile("one/b.txt", 512);
    list.m_newFile.SetCompareFlags();
    list.Scan(tree.Root());
    EXPECT_EQ(list.GetStatus(), "Twin Files: 2 [1.000 KB] of Files 4, Exceptions: 0");
    EXPECT_EQ(list.m_nScanTwinRows.load(), 2);
    EXPECT_EQ(list.m_nScanTwinBytes.load(), 1024u);
    EXPECT_EQ(list.m_nTwinBytes, 0u);  // the rebuild starts the total again
    EXPECT_FALSE(list.IsBusy());
    EXPECT_EQ(Column(0), (std::vector<std::string>{"a.txt", "a.txt", "a.txt"}));
    std::vector<std::string> paths = Column(1);
    std::sort(paths.begin(), paths.end());
    EXPECT_EQ(paths,
              (std::vector<std::string>{tree.Path("one/a.txt"), tree.Path("three/deep/a.txt"),
                                        tree.Path("two/a.txt")}));
    EXPECT_TRUE(messages.empty());

    // A second scan counts from zero; the rows follow the settings read at its start.
    MakeFile("two/b.txt", 999);
    ASSERT_TRUE(WriteSetting(kCmpSize, false));
    list.m_newFile.SetCompareFlags();
    list.Scan(tree.Root());
    EXPECT_EQ(list.GetStatus(), "Twin Files: 3 [1.976 KB] of Files 5, Exceptions: 0");
    EXPECT_EQ(list.GetItemCount(), 5);
}

TEST_F(TwinListViewTest, NoTwinsAndAnEmptyFolder) {
    list.Scan(tree.Root());
    EXPECT_EQ(list.GetStatus(), "Twin Files: 0 [0.000 KB] of Files 0, Exceptions: 0");
    MakeFile("a", 1);
    MakeFile("b", 1);
    list.Scan(tree.Root());
    EXPECT_EQ(list.GetStatus(), "Twin Files: 0 [0.000 KB] of Files 2, Exceptions: 0");
    EXPECT_EQ(list.GetItemCount(), 0);
}

TEST_F(TwinListViewTest, TwinBytesTexts) {
    EXPECT_EQ(list.FormatTwinBytes(0), "0.000 KB");
    EXPECT_EQ(list.FormatTwinBytes(1536), "1.500 KB");
    EXPECT_EQ(list.FormatTwinBytes(1048575), "1023.999 KB");
    EXPECT_EQ(list.FormatTwinBytes(1048576), "1.000 MB");
    EXPECT_EQ(list.FormatTwinBytes(1073741823), "1024.000 MB");
    EXPECT_EQ(list.FormatTwinBytes(1073741824), "1.000 GB");
    EXPECT_EQ(list.FormatTwinBytes(uint64_t(5) << 40), "5120.000 GB");
    EXPECT_EQ(list.m_strSizeText, "5120.000 GB");
}

// Cancels the scan from the worker itself when the first twin shows up, so
// the moment of the cancel does not depend on thread timing.
class CancelOnFirstTwin : public IconKeyProvider {
  public:
    explicit CancelOnFirstTwin(CTwinListView& list) : m_list(list) {}
    int IconIndexForFile(const std::string&) override {
        if (armed) {
            m_list.CancelScan();
        }
        return -1;
    }
    bool armed = true;

  private:
    CTwinListView& m_list;
};

TEST_F(TwinListViewTest, ACancelledScanCountsOneExceptionAndTheCountKeepsGrowing) {
    // Folders that each hold one copy: the second folder walked yields the
    // first twin, the third folder is where the walk notices the cancel.
    for (int i = 0; i < 5; ++i) {
        MakeFile("d" + std::to_string(i) + "/t", 5);
    }
    CancelOnFirstTwin canceller(list);
    list.SetIconKeyProvider(&canceller);
    for (int round = 1; round <= 2; ++round) {
        list.Scan(tree.Root());
        EXPECT_EQ(list.m_nExceptions.load(), round);
        EXPECT_EQ(list.GetStatus(),
                  "Twin Files: 1 [0.005 KB] of Files 2, Exceptions: " + std::to_string(round));
        EXPECT_EQ(list.GetItemCount(), 2);  // what was found is still listed
        EXPECT_FALSE(list.IsBusy());
    }
    canceller.armed = false;
    list.StartScan(tree.Root());
    list.WaitForWorkers();
    EXPECT_EQ(list.GetStatus(), "Twin Files: 4 [0.020 KB] of Files 5, Exceptions: 2");
    EXPECT_EQ(list.GetItemCount(), 5);

    // A cancel right after the start is not lost, whenever the worker runs.
    list.StartScan(tree.Root());
    list.CancelScan();
    list.WaitForWorkers();
    EXPECT_FALSE(list.IsBusy());
    EXPECT_FALSE(list.IsScanRunning());
    list.SetIconKeyProvider(nullptr);
}

TEST_F(TwinListViewTest, OddTimesAreShownAndNeverAbandonTheScan) {
    MakeFile("old/a.txt", 3, -3000000000LL);  // 1874
    MakeFile("old2/a.txt", 3, -3000000000LL);
    MakeFile("far/b.txt", 3, 48000000000LL);  // year 3491
    MakeFile("far2/b.txt", 3, 48000000000LL);
    MakeFile("pre/c.txt", 3, -86400);  // 1969
    MakeFile("pre2/c.txt", 3, -86400);
    list.Scan(tree.Root());
    EXPECT_EQ(list.GetStatus(), "Twin Files: 3 [0.009 KB] of Files 6, Exceptions: 0");
    ASSERT_EQ(list.GetItemCount(), 6);
    for (const std::string& text : Column(3)) {
        EXPECT_EQ(text.size(), 19u) << text;
    }
}

TEST_F(TwinListViewTest, LinksAreListedAsThemselvesAndNeverFollowed) {
    MakeFile("real/a.txt", 10);
    tree.MakeSymlink(tree.Path("real"), "linked");
    tree.MakeSymlink(tree.Path("real/a.txt"), "other/a.txt");
    list.Scan(tree.Root());
    // The folder link is one entry named "linked"; the file link is a small
    // entry of its own size, no twin of the file behind it.
    EXPECT_EQ(list.GetStatus(), "Twin Files: 0 [0.000 KB] of Files 3, Exceptions: 0");
}

TEST_F(TwinListViewTest, PathsGetSingleSeparatorsWhateverTheRootLooksLike) {
    MakeFile("d/a.txt", 1);
    MakeFile("e/a.txt", 1);
    list.Scan(tree.Root() + "/");
    std::vector<std::string> paths = Column(1);
    std::sort(paths.begin(), paths.end());
    EXPECT_EQ(paths, (std::vector<std::string>{tree.Path("d/a.txt"), tree.Path("e/a.txt")}));

    // Files handed in by another walk: doubled separators collapse, network
    // style paths stay as given.
    list.ResetForCombinedScan("/mnt");
    FindRecord record;
    record.mode = kRegularFileType | 0644;
    record.SetName("n.txt");
    list.AddFile("/mnt//share//n.txt", record);
    list.AddFile("//server/share//n.txt", record);
    list.RebuildList();
    EXPECT_EQ(Column(1), (std::vector<std::string>{"/mnt/share/n.txt", "//server/share//n.txt"}));
}

// The Exclude setting keeps files out of both scans: an excluded file is
// never a twin, and an excluded folder is neither listed nor counted.
TEST_F(TwinListViewTest, ExcludedFilesAndFoldersAreNeverTwinsInEitherScan) {
    MakeFile("p/a.txt", 100);
    MakeFile("q/a.txt", 100);
    MakeFile("p/b.bak", 7);
    MakeFile("q/b.bak", 7);
    MakeFile("cache/a.txt", 100);
    MakeFile("cache/deeper/c", 1000);
    ASSERT_TRUE(WriteSettingText(kExclude, "*.bak; /cache/"));
    list.m_newFile.SetCompareFlags();
    list.Scan(tree.Root());
    EXPECT_EQ(list.GetStatus(), "Twin Files: 1 [0.098 KB] of Files 2, Exceptions: 0");
    EXPECT_EQ(Column(0), (std::vector<std::string>{"a.txt", "a.txt"}));

    CFolderSizeView folders;
    list.ResetForCombinedScan(tree.Root());
    folders.m_pTwinSink = &list;
    folders.RunScan(tree.Root());
    EXPECT_EQ(folders.GetTotal(), 200u);
    EXPECT_EQ(folders.GetFolderCount(), 2);  // p and q; cache is not shown
    EXPECT_EQ(Column(0), (std::vector<std::string>{"a.txt", "a.txt"}));
}

TEST_F(TwinListViewTest, OneCombinedWalkFillsTheFolderTreeAndTheList) {
    MakeFile("p/a.txt", 100);
    MakeFile("q/a.txt", 100);
    MakeFile("q/r/s.bin", 50);
    CFolderSizeView folders;
    list.m_newFile.SetCompareFlags();
    list.ResetForCombinedScan(tree.Root());
    folders.m_pTwinSink = &list;
    folders.RunScan(tree.Root());
    EXPECT_EQ(folders.GetTotal(), 250u);
    EXPECT_GE(folders.GetRecordCount(), 4u);
    EXPECT_EQ(Column(0), (std::vector<std::string>{"a.txt", "a.txt"}));
    EXPECT_EQ(list.m_nFiles.load(), 3);
    EXPECT_FALSE(list.IsBusy());
    // Once the walk has ended the list tells its folder and the summary a
    // duplicate scan of that folder writes, not the path of its last file.
    EXPECT_EQ(list.ScanRoot(), tree.Root());
    const std::string combined = list.GetStatus();
    list.Scan(tree.Root());
    EXPECT_EQ(combined, list.GetStatus());
    EXPECT_EQ(combined.rfind("Twin Files: ", 0), 0u);
}

TEST_F(TwinListViewTest, WorkersNeverShareTheTree) {
    MakeFile("a/x", 1);
    MakeFile("b/x", 1);
    // A scan while busy is refused, and so is a rebuild.
    list.m_bBusy.store(true);
    list.Scan(tree.Root());
    list.RebuildList();
    FilterCriteria criteria;
    EXPECT_FALSE(list.StartSearch(
        criteria, [](CTwinListView&, const FilterCriteria&, std::stop_token) { ADD_FAILURE(); }));
    EXPECT_EQ(messages, std::vector<std::string>(3, "App is busy.."));
    list.m_bBusy.store(false);

    // A search ends before a new scan touches the tree, even when it takes
    // its time to notice the stop.
    std::atomic<bool> searchEnded{false};
    std::atomic<int64_t> foldersWhenSearchEnded{-1};
    ASSERT_TRUE(list.StartSearch(
        criteria, [&](CTwinListView& l, const FilterCriteria&, std::stop_token stop) {
            while (!stop.stop_requested()) {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            foldersWhenSearchEnded = l.FoldersEntered();
            searchEnded = true;
        }));
    EXPECT_TRUE(list.IsSearching());
    list.StartScan(tree.Root());
    list.WaitForWorkers();
    EXPECT_TRUE(searchEnded.load());
    EXPECT_EQ(foldersWhenSearchEnded.load(), 0);
    EXPECT_FALSE(list.IsSearching());
    EXPECT_EQ(list.GetItemCount(), 2);
}

TEST_F(TwinListViewTest, AStartedScanSupersedesTheRunningOne) {
    for (int i = 0; i < 200; ++i) {
        MakeFile("f" + std::to_string(i) + "/a.txt", 1);
    }
    list.StartScan(tree.Root());
    list.StartScan(tree.Root());
    list.StartScan(tree.Root());
    list.WaitForWorkers();
    EXPECT_TRUE(messages.empty());
    EXPECT_FALSE(list.IsBusy());
    EXPECT_EQ(list.m_nFiles.load(), 200);
    EXPECT_EQ(list.GetItemCount(), 200);
}

TEST_F(TwinListViewTest, RowsCanBeReadWhileTheScanAppendsThem) {
    for (int i = 0; i < 400; ++i) {
        MakeFile("h" + std::to_string(i % 40) + "/n" + std::to_string(i / 40), 3);
    }
    list.StartScan(tree.Root());
    size_t reads = 0;
    while (list.IsScanRunning()) {
        int rows = list.GetItemCount();
        for (int row = 0; row < rows; ++row) {
            std::string path = list.GetRowText(row, CFileListCtrl::kPathColumn);
            // A row read while the list is cleared or rebuilt may be gone,
            // but never shows a half-made path.
            EXPECT_TRUE(path.empty() || path.rfind(tree.Root() + "/h", 0) == 0) << path;
            ++reads;
        }
        std::string status = list.GetStatus();
    }
    list.WaitForWorkers();
    EXPECT_EQ(list.GetItemCount(), 400);
}

TEST_F(TwinListViewTest, DestroyingTheListDuringAScanJoinsTheWorker) {
    for (int i = 0; i < 300; ++i) {
        MakeFile("g" + std::to_string(i % 30) + "/f" + std::to_string(i), 1);
    }
    // The listener outlives each list: a notice after the destructor
    // returned would come from a worker that was not joined.
    auto notices = std::make_shared<std::atomic<int>>(0);
    for (int round = 0; round < 5; ++round) {
        auto doomed = std::make_unique<CTwinListView>();
        doomed->AttachListener([notices] { notices->fetch_add(1); });
        doomed->StartScan(tree.Root());
        doomed.reset();
        const int afterDestruction = notices->load();
        // Another whole scan gives a stray worker time to show itself.
        CTwinListView witness;
        witness.StartScan(tree.Root());
        witness.WaitForWorkers();
        EXPECT_EQ(witness.m_nFiles.load(), 300);
        EXPECT_EQ(notices->load(), afterDestruction) << "round " << round;
    }
}

TEST_F(TwinListViewTest, OnlyRegularFilesAreTwinsAndTheRestStillCount) {
    // Entries named alike, of one size and one time: links with one target,
    // fifos, devices; two empty regular files are the only twins.
    tree.MakeSymlink("target", "l1/x");
    tree.MakeSymlink("target", "l2/x");
    tree.MakeFolder("f1");
    tree.MakeFolder("f2");
    ASSERT_EQ(::mkfifo(tree.Path("f1/x").c_str(), 0644), 0);
    ASSERT_EQ(::mkfifo(tree.Path("f2/x").c_str(), 0644), 0);
    int entries = 4;
    tree.MakeFolder("d1");
    tree.MakeFolder("d2");
    if (::mknod(tree.Path("d1/x").c_str(), S_IFCHR | 0600, makedev(1, 3)) == 0 &&
        ::mknod(tree.Path("d2/x").c_str(), S_IFCHR | 0600, makedev(1, 3)) == 0) {
        entries += 2;  // devices can be made only with the right to
    }
    MakeFile("r1/x", 0);
    MakeFile("r2/x", 0);
    for (const char* entry : {"l1/x", "l2/x", "f1/x", "f2/x", "d1/x", "d2/x", "r1/x", "r2/x"}) {
        if (test::PathExists(tree.Path(entry))) {
            tree.SetModified(entry, 1600000000);
        }
    }
    list.Scan(tree.Root());
    EXPECT_EQ(list.GetStatus(), "Twin Files: 1 [0.000 KB] of Files " + std::to_string(entries + 2) +
                                    ", Exceptions: 0");
    std::vector<std::string> paths = Column(CFileListCtrl::kPathColumn);
    std::sort(paths.begin(), paths.end());
    EXPECT_EQ(paths, (std::vector<std::string>{tree.Path("r1/x"), tree.Path("r2/x")}));

    // The filter still finds them: they are entries of the scan.
    size_t groups = 0;
    for (BinBaum::Cursor it = list.m_tree.First(); !it.AtEnd(); list.m_tree.Next(it)) {
        ++groups;
        EXPECT_EQ(it.Node().IsCandidate(), it.Node().HasTwins());
    }
    EXPECT_EQ(groups, size_t(entries + 1));
}

TEST_F(TwinListViewTest, HardLinksOfOneInodeAreMarkedAndNoCopies) {
    test::WriteText(tree.Path("a/h.txt"), "abc");
    tree.MakeFolder("b");
    ASSERT_EQ(::link(tree.Path("a/h.txt").c_str(), tree.Path("b/h.txt").c_str()), 0);
    test::WriteText(tree.Path("c/h.txt"), "abc");
    for (const char* file : {"a/h.txt", "c/h.txt"}) {
        tree.SetModified(file, 1600000000);
    }
    list.Scan(tree.Root());
    // Three rows, one copy: the link is the same file.
    EXPECT_EQ(list.GetStatus(), "Twin Files: 1 [0.003 KB] of Files 3, Exceptions: 0");
    ASSERT_EQ(list.GetItemCount(), 3);
    EXPECT_EQ(list.m_nScanTwinBytes.load(), 3u);
    std::vector<std::string> marked = Column(CFileListCtrl::kContentColumn);
    EXPECT_EQ(std::count(marked.begin(), marked.end(), "hard link"), 1);
    EXPECT_EQ(std::count(marked.begin(), marked.end(), ""), 2);

    ASSERT_TRUE(list.StartVerify());
    list.WaitForWorkers();
    std::map<std::string, std::string> content;
    for (int row = 0; row < list.GetItemCount(); ++row) {
        content[list.GetRowText(row, CFileListCtrl::kPathColumn)] =
            list.GetRowText(row, CFileListCtrl::kContentColumn);
    }
    // The walk order decides which link counts as the file; the other is
    // the hard link, and both are of one set with the copy.
    EXPECT_EQ(content[tree.Path("c/h.txt")], "identical");
    EXPECT_EQ(std::count_if(content.begin(), content.end(),
                            [](const auto& entry) { return entry.second == "hard link"; }),
              1);
    EXPECT_EQ(list.CountTwins().identicalCopies, 1);
    EXPECT_EQ(list.CountTwins().identicalBytes, 3u);
    EXPECT_EQ(list.GetStatus(),
              "Verified: 1 identical copies [0.003 KB] beyond the first of each set, 0 unique, 1 "
              "hard links, 0 changed, 0 unread");
    EXPECT_TRUE(list.CopyRows(CTwinListView::KeepRule::FirstPath).size() == 1);
}

// A tmpfs keeps any time; the test mounts one where it may, or uses
// /dev/shm when that is one.
std::unique_ptr<test::TempTree> TempTreeOnTmpfs(std::string& mounted) {
    constexpr long kTmpfsMagic = 0x01021994;
    struct statfs info;
    if (::statfs("/dev/shm", &info) == 0 && info.f_type == kTmpfsMagic &&
        ::access("/dev/shm", W_OK) == 0) {
        test::ScopedEnv where{"QUARN_TEST_TMP", "/dev/shm"};
        return std::make_unique<test::TempTree>();
    }
    auto host = std::make_unique<test::TempTree>();
    host->MakeFolder("tmpfs");
    if (::mount("tmpfs", host->Path("tmpfs").c_str(), "tmpfs", 0, "size=4m") != 0) {
        return nullptr;
    }
    mounted = host->Path("tmpfs");
    test::ScopedEnv where{"QUARN_TEST_TMP", mounted};
    return std::make_unique<test::TempTree>();
}

TEST_F(TwinListViewTest, TimesBeyondTheFileTimeRangeCompareAsTheFileSystemKeepsThem) {
    std::string mounted;
    std::unique_ptr<test::TempTree> odd = TempTreeOnTmpfs(mounted);
    if (!odd) {
        GTEST_SKIP() << "no tmpfs to keep times before 1601 or after 30828";
    }
    const int64_t year1000 = -30610224000LL;
    const int64_t year1500 = -14831769600LL;
    // 1970-06-01 and a time in the year 60425 whose FILETIME wraps onto it.
    const int64_t june1970 = 13046400;
    const int64_t year60425 = june1970 + 1844674407370LL;
    struct Entry {
        const char* path;
        int64_t seconds;
        long nanoseconds;
    };
    const Entry entries[] = {
        {"a/old.txt", year1000, 0},          {"b/old.txt", year1500, 0},
        {"c/far.txt", june1970, 0},          {"d/far.txt", year60425, 955161600},
        {"e/same.txt", year1000, 123456700}, {"f/same.txt", year1000, 123456789},
    };
    for (const Entry& entry : entries) {
        odd->MakeFile(entry.path, 8);
        odd->SetModified(entry.path, entry.seconds, entry.nanoseconds);
    }
    struct stat status;
    ASSERT_EQ(::stat(odd->Path("d/far.txt").c_str(), &status), 0);
    if (status.st_mtim.tv_sec != year60425) {
        GTEST_SKIP() << "this file system does not keep the year 60425";
    }
    list.Scan(odd->Root());
    // Only the two files of one time (to 100 ns) are twins.
    std::vector<std::string> paths = Column(CFileListCtrl::kPathColumn);
    std::sort(paths.begin(), paths.end());
    EXPECT_EQ(paths, (std::vector<std::string>{odd->Path("e/same.txt"), odd->Path("f/same.txt")}));
    EXPECT_EQ(list.GetStatus(), "Twin Files: 1 [0.008 KB] of Files 6, Exceptions: 0");
    odd.reset();
    if (!mounted.empty()) {
        ::umount(mounted.c_str());
    }
}

TEST(BinBaumRecordsTest, EveryFileReadsBackWhatWasInserted) {
    // Records of every index, also those packed at odd places, give back
    // their sizes, times, devices and inodes whole.
    BinBaum tree;
    for (uint32_t i = 0; i < 2000; ++i) {
        FindRecord record;
        record.mode = kRegularFileType | 0644;
        record.SetName(i % 2 ? "odd" : "even");
        record.SetFileSize((uint64_t(i) << 33) | 5);
        record.ftLastWriteTime = (uint64_t(i) << 40) | 7;
        record.device = 0x100 + i % 3;
        record.inode = (uint64_t(i) << 36) | 9;
        record.linkCount = 1;
        tree.Insert("/f" + std::to_string(i % 7) + "/", record,
                    kCompareIgnoreSize | kCompareIgnoreTime);
    }
    uint32_t seen = 0;
    for (BinBaum::Cursor it = tree.First(); !it.AtEnd(); tree.Next(it)) {
        for (FileId file = it.Node().FirstFile(); file != kNoFile;
             file = it.Node().NextFile(file)) {
            const uint64_t i = tree.FileSize(file) >> 33;
            EXPECT_EQ(tree.FileSize(file), (i << 33) | 5);
            EXPECT_EQ(tree.FileLastWriteTime(file), (i << 40) | 7);
            EXPECT_EQ(tree.FileDevice(file), 0x100 + i % 3);
            EXPECT_EQ(tree.FileInode(file), (i << 36) | 9);
            EXPECT_EQ(tree.FilePath(it.Node().Id(), file),
                      "/f" + std::to_string(i % 7) + "/" + std::string(it.Node().Name()));
            ++seen;
        }
    }
    EXPECT_EQ(seen, 2000u);
}

TEST_F(TwinListViewTest, WithVerifyContentsOnAVerificationFollowsEveryScan) {
    for (const char* folder : {"a", "b", "c"}) {
        std::string file = std::string(folder) + "/v.txt";
        test::WriteText(tree.Path(file), folder[0] == 'c' ? "yy" : "xx");
        tree.SetModified(file, 1600000000);
    }
    list.Scan(tree.Root());
    EXPECT_FALSE(list.ShowsVerdicts());  // off unless turned on

    ASSERT_TRUE(WriteSetting(kVerifyContents, true));
    list.Scan(tree.Root());
    EXPECT_TRUE(list.ShowsVerdicts());
    EXPECT_EQ(list.GetStatus(),
              "Verified: 1 identical copies [0.002 KB] beyond the first of each set, 1 unique, 0 "
              "hard links, 0 changed, 0 unread");
    EXPECT_FALSE(list.IsBusy());

    // A combined walk verifies once it has fed the list.
    CFolderSizeView folders;
    list.ResetForCombinedScan(tree.Root());
    EXPECT_FALSE(list.ShowsVerdicts());
    folders.m_pTwinSink = &list;
    folders.RunScan(tree.Root());
    list.WaitForWorkers();
    EXPECT_TRUE(list.ShowsVerdicts());
    EXPECT_EQ(list.CountTwins().unique, 1);
    EXPECT_EQ(Column(CFileListCtrl::kContentColumn).size(), 3u);
}

// A twin list whose combined feed stops at its first file until the test
// has asked for a reset.
class HeldFeedList : public CTwinListView {
  public:
    void AddFileInFolder(const std::string& folderPath, const FindRecord& record) override {
        if (!m_feeding.exchange(true)) {
            while (!m_resetAsked.load()) {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
            // Room for a reset that does not wait to clear the tree under us.
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        CTwinListView::AddFileInFolder(folderPath, record);
    }
    std::atomic<bool> m_feeding{false};
    std::atomic<bool> m_resetAsked{false};
};

TEST_F(TwinListViewTest, AResetWaitsForACancelledCombinedScanStillFeedingTheList) {
    for (const char* name : {"a.txt", "b.txt", "c.txt", "d.txt"}) {
        MakeFile(name, 10);
    }
    MakeFile("sub/a.txt", 10);
    HeldFeedList held;
    held.SetUserMessagePresenter([this](const std::string& text) { messages.push_back(text); });
    held.m_newFile.SetCompareFlags();
    held.ResetForCombinedScan(tree.Root());
    CFolderSizeView folders;
    folders.m_pTwinSink = &held;
    folders.StartScan(tree.Root());
    while (!held.m_feeding.load()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    folders.m_bBusy.store(false);  // cancel; the walk goes on to the end of its folder
    held.m_resetAsked.store(true);
    held.ResetForCombinedScan(tree.Root());
    folders.WaitForScan();
    // Nothing of the cancelled walk arrives after the reset.
    EXPECT_EQ(held.m_nFiles.load(), 0);
    EXPECT_EQ(held.GetItemCount(), 0);
    EXPECT_EQ(held.m_tree.GroupCount(), 0u);
    EXPECT_TRUE(messages.empty());
}

// A twin list whose rebuild at the end of a combined walk waits until the
// test has asked for the next reset.
class HeldRebuildList : public CTwinListView {
  public:
    void RebuildList() override {
        m_rebuilding = true;
        while (!m_resetAsked.load()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        CTwinListView::RebuildList();
    }
    std::atomic<bool> m_rebuilding{false};
    std::atomic<bool> m_resetAsked{false};
};

TEST_F(TwinListViewTest, AResetRightAfterACombinedScanStopsTheVerificationThatScanStarted) {
    for (int i = 0; i < 200; ++i) {
        MakeFile("d" + std::to_string(i % 20) + "/f" + std::to_string(i / 20), 4000);
    }
    ASSERT_TRUE(WriteSetting(kVerifyContents, true));
    HeldRebuildList held;
    held.SetUserMessagePresenter([this](const std::string& text) { messages.push_back(text); });
    held.ResetForCombinedScan(tree.Root());
    CFolderSizeView folders;
    folders.m_pTwinSink = &held;
    folders.StartScan(tree.Root());
    while (!held.m_rebuilding.load()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    held.m_resetAsked.store(true);
    // The feed ends with a verification; the reset must not empty the tree
    // under it, nor may it start on the emptied tree.
    held.ResetForCombinedScan(tree.Root());
    EXPECT_EQ(held.m_tree.GroupCount(), 0u);
    EXPECT_EQ(held.GetItemCount(), 0);
    EXPECT_FALSE(held.IsVerifying());
    held.WaitForWorkers();
    folders.WaitForScan();
    EXPECT_FALSE(held.ShowsVerdicts());
    EXPECT_EQ(held.GetItemCount(), 0);
    EXPECT_TRUE(messages.empty());
}

TEST_F(TwinListViewTest, ADuplicateScanWaitsForACancelledCombinedScanStillFeedingTheList) {
    for (const char* name : {"a.txt", "b.txt", "c.txt", "d.txt"}) {
        MakeFile(name, 10);
    }
    MakeFile("sub/a.txt", 10);
    HeldFeedList held;
    held.SetUserMessagePresenter([](const std::string&) {});
    held.m_newFile.SetCompareFlags();
    held.ResetForCombinedScan(tree.Root());
    CFolderSizeView folders;
    folders.m_pTwinSink = &held;
    folders.StartScan(tree.Root());
    while (!held.m_feeding.load()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    folders.m_bBusy.store(false);
    held.StartScan(tree.Root());
    held.m_resetAsked.store(true);
    folders.WaitForScan();
    held.WaitForWorkers();
    // The scan counts its own walk only, not the rest of the cancelled one.
    EXPECT_EQ(held.m_nFiles.load(), 5);
    EXPECT_EQ(held.GetItemCount(), 2);
    EXPECT_EQ(held.GetStatus(), "Twin Files: 1 [0.010 KB] of Files 5, Exceptions: 0");
}

}  // namespace
}  // namespace quarn

// The duplicate scan engine: summary texts, cancel, the rebuilt rows, odd
// times and links, path joining, the combined walk, and jobs that must never
// share the index.

#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "duplicates/TwinScanner.h"
#include "foldersize/FolderScanner.h"
#include "platform/PathRules.h"
#include "settings/Settings.h"
#include "tests/support/ScanRequests.h"
#include "tests/support/TempTree.h"
#include "tests/support/TestEntries.h"
#include "tests/support/TestFiles.h"
#include "tests/support/TwinRowTexts.h"

namespace quarn {
namespace {

using test::CombinedRequest;
using test::FolderRequest;
using test::kContentText;
using test::kPathText;

class TwinScannerTest : public ::testing::Test {
  protected:
    TwinScannerTest() : ini("QUARN_INI", settingsTree.Path("quarn.ini")) {}

    void MakeFile(const std::string& relative, uint64_t size, int64_t seconds = 1600000000) {
        tree.MakeFile(relative, size);
        tree.SetModified(relative, seconds);
    }

    std::vector<std::string> Column(int column) const {
        return test::TwinColumnTexts(list, column);
    }
    int Rows() const { return list.Rows().GetItemCount(); }
    void Scan(const std::string& root) { list.Scan(FolderRequest(root)); }

    test::TempTree settingsTree;
    test::ScopedEnv ini;
    test::TempTree tree;
    std::vector<std::string> messages;
    UserMessagePresenter presenter = [this](const std::string& text) { messages.push_back(text); };
    TwinScanner list{presenter};
};

TEST_F(TwinScannerTest, ThreeCopiesGiveTheSummaryAndAGroupedList) {
    MakeFile("one/a.txt", 512);
    MakeFile("two/a.txt", 512);
    MakeFile("three/deep/a.txt", 512);
    MakeFile("one/b.txt", 512);
    Scan(tree.Root());
    EXPECT_EQ(list.GetStatus(), "Twin Files: 2 [1.000 KB] of Files 4, Exceptions: 0");
    EXPECT_EQ(list.ScanTwinRows(), 2);
    EXPECT_EQ(list.ScanTwinBytes(), 1024u);
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
    Scan(tree.Root());
    EXPECT_EQ(list.GetStatus(), "Twin Files: 3 [1.976 KB] of Files 5, Exceptions: 0");
    EXPECT_EQ(Rows(), 5);
}

TEST_F(TwinScannerTest, NoTwinsAndAnEmptyFolder) {
    Scan(tree.Root());
    EXPECT_EQ(list.GetStatus(), "Twin Files: 0 [0.000 KB] of Files 0, Exceptions: 0");
    MakeFile("a", 1);
    MakeFile("b", 1);
    Scan(tree.Root());
    EXPECT_EQ(list.GetStatus(), "Twin Files: 0 [0.000 KB] of Files 2, Exceptions: 0");
    EXPECT_EQ(Rows(), 0);
}

TEST_F(TwinScannerTest, TwinBytesTexts) {
    EXPECT_EQ(list.FormatTwinBytes(0), "0.000 KB");
    EXPECT_EQ(list.FormatTwinBytes(1536), "1.500 KB");
    EXPECT_EQ(list.FormatTwinBytes(1048575), "1023.999 KB");
    EXPECT_EQ(list.FormatTwinBytes(1048576), "1.000 MB");
    EXPECT_EQ(list.FormatTwinBytes(1073741823), "1024.000 MB");
    EXPECT_EQ(list.FormatTwinBytes(1073741824), "1.000 GB");
    EXPECT_EQ(list.FormatTwinBytes(uint64_t(5) << 40), "5120.000 GB");
}

// Cancels the scan from the walking thread itself when the first twin
// shows up (the rows' first news), so the moment of the cancel does not
// depend on thread timing.
void CancelOnFirstTwin(TwinScanner& twins) {
    twins.Rows().DeleteAllItems();
    twins.Rows().AttachListener([&twins] { twins.Cancel(); });
}

TEST_F(TwinScannerTest, ACancelledScanCountsOneExceptionAndTheCountKeepsGrowing) {
    // Folders that each hold one copy: the second folder walked yields the
    // first twin, the third folder is where the walk notices the cancel.
    for (int i = 0; i < 5; ++i) {
        MakeFile("d" + std::to_string(i) + "/t", 5);
    }
    for (int round = 1; round <= 2; ++round) {
        CancelOnFirstTwin(list);
        Scan(tree.Root());
        EXPECT_EQ(list.ExceptionCount(), round);
        EXPECT_EQ(list.GetStatus(),
                  "Twin Files: 1 [0.005 KB] of Files 2, Exceptions: " + std::to_string(round));
        EXPECT_EQ(Rows(), 2);  // what was found is still listed
        EXPECT_FALSE(list.IsBusy());
    }
    list.Rows().DetachListener();
    list.StartScan(FolderRequest(tree.Root()));
    list.WaitForWorkers();
    EXPECT_EQ(list.GetStatus(), "Twin Files: 4 [0.020 KB] of Files 5, Exceptions: 2");
    EXPECT_EQ(Rows(), 5);

    // A cancel right after the start is not lost, whenever the worker runs.
    list.StartScan(FolderRequest(tree.Root()));
    list.Cancel();
    list.WaitForWorkers();
    EXPECT_FALSE(list.IsBusy());
    EXPECT_FALSE(list.IsScanRunning());
}

TEST_F(TwinScannerTest, OddTimesAreShownAndNeverAbandonTheScan) {
    MakeFile("old/a.txt", 3, -3000000000LL);  // 1874
    MakeFile("old2/a.txt", 3, -3000000000LL);
    MakeFile("far/b.txt", 3, 48000000000LL);  // year 3491
    MakeFile("far2/b.txt", 3, 48000000000LL);
    MakeFile("pre/c.txt", 3, -86400);  // 1969
    MakeFile("pre2/c.txt", 3, -86400);
    Scan(tree.Root());
    EXPECT_EQ(list.GetStatus(), "Twin Files: 3 [0.009 KB] of Files 6, Exceptions: 0");
    ASSERT_EQ(Rows(), 6);
    for (const std::string& text : Column(3)) {
        EXPECT_EQ(text.size(), 19u) << text;
    }
}

TEST_F(TwinScannerTest, LinksAreListedAsThemselvesAndNeverFollowed) {
    MakeFile("real/a.txt", 10);
    tree.MakeSymlink(tree.Path("real"), "linked");
    tree.MakeSymlink(tree.Path("real/a.txt"), "other/a.txt");
    Scan(tree.Root());
    // The folder link is one entry named "linked"; the file link is a small
    // entry of its own size, no twin of the file behind it.
    EXPECT_EQ(list.GetStatus(), "Twin Files: 0 [0.000 KB] of Files 3, Exceptions: 0");
}

TEST_F(TwinScannerTest, PathsGetSingleSeparatorsWhateverTheRootLooksLike) {
    MakeFile("d/a.txt", 1);
    MakeFile("e/a.txt", 1);
    Scan(tree.Root() + "/");
    std::vector<std::string> paths = Column(1);
    std::sort(paths.begin(), paths.end());
    EXPECT_EQ(paths, (std::vector<std::string>{tree.Path("d/a.txt"), tree.Path("e/a.txt")}));

    // Files handed in by another walk: doubled separators collapse, network
    // style paths stay as given.
    list.ResetForCombinedScan(FolderRequest("/mnt"));
    const OwnedFileEntry record = test::RegularFileEntry("n.txt", 0);
    list.AddFile("/mnt//share//n.txt", record);
    list.AddFile("//server/share//n.txt", record);
    list.RebuildList();
    EXPECT_EQ(Column(1), (std::vector<std::string>{"/mnt/share/n.txt", "//server/share//n.txt"}));
}

// The Exclude setting keeps files out of both scans: an excluded file is
// never a twin, and an excluded folder is neither listed nor counted.
TEST_F(TwinScannerTest, ExcludedFilesAndFoldersAreNeverTwinsInEitherScan) {
    MakeFile("p/a.txt", 100);
    MakeFile("q/a.txt", 100);
    MakeFile("p/b.bak", 7);
    MakeFile("q/b.bak", 7);
    MakeFile("cache/a.txt", 100);
    MakeFile("cache/deeper/c", 1000);
    ASSERT_TRUE(WriteSettingText(kExclude, "*.bak; /cache/"));
    Scan(tree.Root());
    EXPECT_EQ(list.GetStatus(), "Twin Files: 1 [0.098 KB] of Files 2, Exceptions: 0");
    EXPECT_EQ(Column(0), (std::vector<std::string>{"a.txt", "a.txt"}));

    FolderScanner folders;
    folders.SetTwinFeed(&list);
    folders.RunScan(CombinedRequest(tree.Root()));
    EXPECT_EQ(folders.Tree().GetFigures().total, 200u);
    EXPECT_EQ(folders.Tree().GetFigures().folders, 2);  // p and q; cache is not shown
    EXPECT_EQ(Column(0), (std::vector<std::string>{"a.txt", "a.txt"}));
}

TEST_F(TwinScannerTest, OneCombinedWalkFillsTheFolderTreeAndTheList) {
    MakeFile("p/a.txt", 100);
    MakeFile("q/a.txt", 100);
    MakeFile("q/r/s.bin", 50);
    FolderScanner folders;
    folders.SetTwinFeed(&list);
    folders.RunScan(CombinedRequest(tree.Root()));
    EXPECT_EQ(folders.Tree().GetFigures().total, 250u);
    EXPECT_GE(folders.Tree().GetRecordCount(), 4u);
    EXPECT_EQ(Column(0), (std::vector<std::string>{"a.txt", "a.txt"}));
    EXPECT_EQ(list.FileCount(), 3);
    EXPECT_FALSE(list.IsBusy());
    // Once the walk has ended the list tells its folder and the summary a
    // duplicate scan of that folder writes, not the path of its last file.
    EXPECT_EQ(list.ScanRoot(), tree.Root());
    const std::string combined = list.GetStatus();
    Scan(tree.Root());
    EXPECT_EQ(combined, list.GetStatus());
    EXPECT_EQ(combined.rfind("Twin Files: ", 0), 0u);
}

TEST_F(TwinScannerTest, WorkersNeverShareTheTree) {
    MakeFile("a/x", 1);
    MakeFile("b/x", 1);
    // A search ends before a new scan touches the index, even when it takes
    // its time to notice the stop.
    std::atomic<bool> searchEnded{false};
    std::atomic<int64_t> foldersWhenSearchEnded{-1};
    ASSERT_TRUE(list.StartSearch([&](TwinScanner& twins, std::stop_token stop) {
        // Waits for the stop itself, then lingers: a scan that did not wait
        // for the search to end would enter folders meanwhile.
        std::mutex mutex;
        std::condition_variable_any stopped;
        std::unique_lock lock(mutex);
        stopped.wait(lock, stop, [] { return false; });
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        foldersWhenSearchEnded = twins.FoldersEntered();
        searchEnded = true;
    }));
    EXPECT_TRUE(list.IsSearching());
    list.StartScan(FolderRequest(tree.Root()));
    list.WaitForWorkers();
    EXPECT_TRUE(searchEnded.load());
    EXPECT_EQ(foldersWhenSearchEnded.load(), 0);
    EXPECT_FALSE(list.IsSearching());
    EXPECT_EQ(Rows(), 2);
}

TEST_F(TwinScannerTest, AStartedScanSupersedesTheRunningOne) {
    for (int i = 0; i < 200; ++i) {
        MakeFile("f" + std::to_string(i) + "/a.txt", 1);
    }
    list.StartScan(FolderRequest(tree.Root()));
    list.StartScan(FolderRequest(tree.Root()));
    list.StartScan(FolderRequest(tree.Root()));
    list.WaitForWorkers();
    EXPECT_TRUE(messages.empty());
    EXPECT_FALSE(list.IsBusy());
    EXPECT_EQ(list.FileCount(), 200);
    EXPECT_EQ(Rows(), 200);
}

TEST_F(TwinScannerTest, RowsCanBeReadWhileTheScanAppendsThem) {
    for (int i = 0; i < 400; ++i) {
        MakeFile("h" + std::to_string(i % 40) + "/n" + std::to_string(i / 40), 3);
    }
    list.StartScan(FolderRequest(tree.Root()));
    size_t reads = 0;
    while (list.IsScanRunning()) {
        int rows = Rows();
        for (int row = 0; row < rows; ++row) {
            std::string path = test::TwinRowText(list, row, kPathText);
            // A row read while the list is cleared or rebuilt may be gone,
            // but never shows a half-made path.
            EXPECT_TRUE(path.empty() || path.rfind(tree.Root() + "/h", 0) == 0) << path;
            ++reads;
        }
        std::string status = list.GetStatus();
    }
    list.WaitForWorkers();
    EXPECT_EQ(Rows(), 400);
}

TEST_F(TwinScannerTest, DestroyingTheListDuringAScanJoinsTheWorker) {
    for (int i = 0; i < 300; ++i) {
        MakeFile("g" + std::to_string(i % 30) + "/f" + std::to_string(i), 1);
    }
    // The listener outlives each list: a notice after the destructor
    // returned would come from a worker that was not joined.
    auto notices = std::make_shared<std::atomic<int>>(0);
    for (int round = 0; round < 5; ++round) {
        auto doomed = std::make_unique<TwinScanner>();
        doomed->Rows().AttachListener([notices] { notices->fetch_add(1); });
        doomed->StartScan(FolderRequest(tree.Root()));
        doomed.reset();
        const int afterDestruction = notices->load();
        // Another whole scan gives a stray worker time to show itself.
        TwinScanner witness;
        witness.StartScan(FolderRequest(tree.Root()));
        witness.WaitForWorkers();
        EXPECT_EQ(witness.FileCount(), 300);
        EXPECT_EQ(notices->load(), afterDestruction) << "round " << round;
    }
}

TEST_F(TwinScannerTest, OnlyRegularFilesAreTwinsAndTheRestStillCount) {
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
    Scan(tree.Root());
    EXPECT_EQ(list.GetStatus(), "Twin Files: 1 [0.000 KB] of Files " + std::to_string(entries + 2) +
                                    ", Exceptions: 0");
    std::vector<std::string> paths = Column(kPathText);
    std::sort(paths.begin(), paths.end());
    EXPECT_EQ(paths, (std::vector<std::string>{tree.Path("r1/x"), tree.Path("r2/x")}));

    // The filter still finds them: they are entries of the scan.
    size_t groups = 0;
    for (BinBaum::Cursor it = list.Index().First(); !it.AtEnd(); list.Index().Next(it)) {
        ++groups;
        EXPECT_EQ(it.Node().IsCandidate(), it.Node().HasTwins());
    }
    EXPECT_EQ(groups, size_t(entries + 1));
}

TEST_F(TwinScannerTest, HardLinksOfOneInodeAreMarkedAndNoCopies) {
    test::WriteText(tree.Path("a/h.txt"), "abc");
    tree.MakeFolder("b");
    ASSERT_EQ(::link(tree.Path("a/h.txt").c_str(), tree.Path("b/h.txt").c_str()), 0);
    test::WriteText(tree.Path("c/h.txt"), "abc");
    for (const char* file : {"a/h.txt", "c/h.txt"}) {
        tree.SetModified(file, 1600000000);
    }
    Scan(tree.Root());
    // Three rows, one copy: the link is the same file.
    EXPECT_EQ(list.GetStatus(), "Twin Files: 1 [0.003 KB] of Files 3, Exceptions: 0");
    ASSERT_EQ(Rows(), 3);
    EXPECT_EQ(list.ScanTwinBytes(), 3u);
    std::vector<std::string> marked = Column(kContentText);
    EXPECT_EQ(std::count(marked.begin(), marked.end(), "hard link"), 1);
    EXPECT_EQ(std::count(marked.begin(), marked.end(), ""), 2);

    ASSERT_TRUE(list.StartVerify());
    list.WaitForWorkers();
    std::map<std::string, std::string> content;
    for (int row = 0; row < Rows(); ++row) {
        content[test::TwinRowText(list, row, kPathText)] =
            test::TwinRowText(list, row, kContentText);
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
    EXPECT_TRUE(list.CopyRows(TwinScanner::KeepRule::FirstPath).size() == 1);
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

TEST_F(TwinScannerTest, TimesBeyondTheFileTimeRangeCompareAsTheFileSystemKeepsThem) {
    std::string mounted;
    std::unique_ptr<test::TempTree> odd = TempTreeOnTmpfs(mounted);
    if (!odd) {
        GTEST_SKIP() << "no tmpfs to keep times before 1601 or after 30828";
    }
    const int64_t year1000 = -30610224000LL;
    const int64_t year1500 = -14831769600LL;
    // 1970-06-01 and a time in the year 60425 whose FILETIME, were it not
    // clamped, would wrap onto it.
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
    Scan(odd->Root());
    // Only the two files of one time (to 100 ns) are twins.
    std::vector<std::string> paths = Column(kPathText);
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
        OwnedFileEntry record = test::RegularFileEntry(
            i % 2 ? "odd" : "even", (uint64_t(i) << 33) | 5, (uint64_t(i) << 40) | 7);
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

TEST_F(TwinScannerTest, WithVerifyContentsOnAVerificationFollowsEveryScan) {
    for (const char* folder : {"a", "b", "c"}) {
        std::string file = std::string(folder) + "/v.txt";
        test::WriteText(tree.Path(file), folder[0] == 'c' ? "yy" : "xx");
        tree.SetModified(file, 1600000000);
    }
    Scan(tree.Root());
    EXPECT_FALSE(list.ShowsVerdicts());  // off unless turned on

    ASSERT_TRUE(WriteSetting(kVerifyContents, true));
    Scan(tree.Root());
    EXPECT_TRUE(list.ShowsVerdicts());
    EXPECT_EQ(list.GetStatus(),
              "Verified: 1 identical copies [0.002 KB] beyond the first of each set, 1 unique, 0 "
              "hard links, 0 changed, 0 unread");
    EXPECT_FALSE(list.IsBusy());

    // A combined walk verifies once it has fed the engine.
    FolderScanner folders;
    folders.SetTwinFeed(&list);
    folders.RunScan(CombinedRequest(tree.Root()));
    list.WaitForWorkers();
    EXPECT_TRUE(list.ShowsVerdicts());
    EXPECT_EQ(list.CountTwins().unique, 1);
    EXPECT_EQ(Column(kContentText).size(), 3u);
}

// A combined feed that passes everything on to the engine, but holds the
// walk at its first file, or before the feed's end, until the test releases
// it; then it lingers a while, room for a reset that would not wait for the
// feed to clear the index under it.
class HeldFeed : public TwinFeed, private WalkSink {
  public:
    enum class Where { FirstFile, End };
    HeldFeed(TwinScanner& twins, Where where) : m_twins(twins), m_where(where) {}

    void BeginFeed(const ScanRequest& request) override { m_twins.BeginFeed(request); }
    WalkSink& FeedSink() override { return *this; }
    void DiscardFeed(const std::string& reason) override { m_twins.DiscardFeed(reason); }
    void EndFeed() override {
        if (m_where == Where::End) {
            Hold();
        }
        m_twins.EndFeed();
    }

    void WaitUntilHeld() {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [this] { return m_held; });
    }
    void Release() {
        std::lock_guard lock(m_mutex);
        m_released = true;
        m_changed.notify_all();
    }

  private:
    bool EnterFolder(const std::string& path, const FileEntry* entry) override {
        return m_twins.FeedSink().EnterFolder(path, entry);
    }
    void AddFile(const std::string& folderPath, const FileEntry& file) override {
        if (m_where == Where::FirstFile && !m_passedFirst) {
            m_passedFirst = true;
            Hold();
        }
        m_twins.FeedSink().AddFile(folderPath, file);
    }
    void LeaveFolder(const std::string& path) override { m_twins.FeedSink().LeaveFolder(path); }

    void Hold() {
        {
            std::unique_lock lock(m_mutex);
            m_held = true;
            m_changed.notify_all();
            m_changed.wait(lock, [this] { return m_released; });
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }

    TwinScanner& m_twins;
    Where m_where;
    bool m_passedFirst = false;  // the walking thread's
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_held = false;
    bool m_released = false;
};

TEST_F(TwinScannerTest, NoJobTouchesTheIndexWhileACombinedWalkFeedsIt) {
    MakeFile("a/x", 1);
    MakeFile("b/x", 1);
    HeldFeed held(list, HeldFeed::Where::FirstFile);
    FolderScanner folders;
    folders.SetTwinFeed(&held);
    folders.StartScan(CombinedRequest(tree.Root()));
    held.WaitUntilHeld();
    EXPECT_TRUE(list.IsWorking());
    list.RebuildList();
    EXPECT_FALSE(list.StartSearch([](TwinScanner&, std::stop_token) { ADD_FAILURE(); }));
    EXPECT_FALSE(list.StartVerify());
    EXPECT_FALSE(list.ForgetPaths({tree.Path("a/x")}, {}));
    EXPECT_EQ(messages, std::vector<std::string>(3, "App is busy.."));
    held.Release();
    folders.Wait();
    list.WaitForWorkers();
    EXPECT_FALSE(list.IsWorking());
    EXPECT_EQ(Rows(), 2);
}

TEST_F(TwinScannerTest, AResetWaitsForACancelledCombinedScanStillFeedingTheList) {
    for (const char* name : {"a.txt", "b.txt", "c.txt", "d.txt"}) {
        MakeFile(name, 10);
    }
    MakeFile("sub/a.txt", 10);
    HeldFeed held(list, HeldFeed::Where::FirstFile);
    FolderScanner folders;
    folders.SetTwinFeed(&held);
    folders.StartScan(CombinedRequest(tree.Root()));
    held.WaitUntilHeld();
    folders.Cancel();  // the walk goes on to the end of its folder
    held.Release();
    list.ResetForCombinedScan(FolderRequest(tree.Root()));
    folders.Wait();
    // Nothing of the cancelled walk arrives after the reset.
    EXPECT_EQ(list.FileCount(), 0);
    EXPECT_EQ(Rows(), 0);
    EXPECT_EQ(list.Index().GroupCount(), 0u);
    EXPECT_TRUE(messages.empty());
}

TEST_F(TwinScannerTest, AResetRightAfterACombinedScanStopsTheVerificationThatScanStarted) {
    for (int i = 0; i < 200; ++i) {
        MakeFile("d" + std::to_string(i % 20) + "/f" + std::to_string(i / 20), 4000);
    }
    ASSERT_TRUE(WriteSetting(kVerifyContents, true));
    HeldFeed held(list, HeldFeed::Where::End);
    FolderScanner folders;
    folders.SetTwinFeed(&held);
    folders.StartScan(CombinedRequest(tree.Root()));
    held.WaitUntilHeld();
    held.Release();
    // The feed ends with a verification; the reset must not empty the index
    // under it, nor may it start on the emptied index.
    list.ResetForCombinedScan(FolderRequest(tree.Root()));
    EXPECT_EQ(list.Index().GroupCount(), 0u);
    EXPECT_EQ(Rows(), 0);
    EXPECT_FALSE(list.IsVerifying());
    list.WaitForWorkers();
    folders.Wait();
    EXPECT_FALSE(list.ShowsVerdicts());
    EXPECT_EQ(Rows(), 0);
    EXPECT_TRUE(messages.empty());
}

TEST_F(TwinScannerTest, ADuplicateScanWaitsForACancelledCombinedScanStillFeedingTheList) {
    for (const char* name : {"a.txt", "b.txt", "c.txt", "d.txt"}) {
        MakeFile(name, 10);
    }
    MakeFile("sub/a.txt", 10);
    HeldFeed held(list, HeldFeed::Where::FirstFile);
    FolderScanner folders;
    folders.SetTwinFeed(&held);
    folders.StartScan(CombinedRequest(tree.Root()));
    held.WaitUntilHeld();
    folders.Cancel();
    list.StartScan(FolderRequest(tree.Root()));
    held.Release();
    folders.Wait();
    list.WaitForWorkers();
    // The scan counts its own walk only, not the rest of the cancelled one.
    EXPECT_EQ(list.FileCount(), 5);
    EXPECT_EQ(Rows(), 2);
    EXPECT_EQ(list.GetStatus(), "Twin Files: 1 [0.010 KB] of Files 5, Exceptions: 0");
}

}  // namespace
}  // namespace quarn

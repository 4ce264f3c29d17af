// Content verification and what rests on it: groups split into sets of
// identical bytes read in stages, files that changed, cancelling, Select
// Copies, and moving copies to the trash only when another copy stays.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "duplicates/ContentVerifier.h"
#include "duplicates/TwinScanner.h"
#include "duplicates/TwinTrash.h"
#include "settings/Settings.h"
#include "tests/support/PrivateHome.h"
#include "tests/support/ScanRequests.h"
#include "tests/support/TempTree.h"
#include "tests/support/TestFiles.h"
#include "tests/support/TwinRowTexts.h"

namespace quarn {
namespace {

constexpr int64_t kTime = 1600000000;

class ContentVerifyTest : public ::testing::Test {
  protected:
    ContentVerifyTest() {
        home.Point("QUARN_INI", "quarn.ini");
        home.MakeFolder("data");
        home.Point("XDG_DATA_HOME", "data");  // the trash
    }

    // A file holding `text`, of the common time unless told otherwise.
    void Write(const std::string& relative, const std::string& text, int64_t time = kTime) {
        test::WriteText(tree.Path(relative), text);
        tree.SetModified(relative, time);
    }

    void Scan() { list.Scan(test::FolderRequest(tree.Root())); }
    void ScanAndVerify() {
        Scan();
        ASSERT_TRUE(list.StartVerify());
        list.WaitForWorkers();
    }

    std::optional<RowSource> SourceOf(const std::string& relative) const {
        for (int row = 0; row < list.Rows().GetItemCount(); ++row) {
            if (test::TwinRowText(list, row, test::kPathText) == tree.Path(relative)) {
                return list.Rows().GetRowSource(row);
            }
        }
        return std::nullopt;
    }
    std::string ContentOf(const std::string& relative) const {
        std::optional<RowSource> source = SourceOf(relative);
        return source ? std::string(ContentText(list.VerdictOf(source->file).content)) : "(gone)";
    }
    uint32_t SetOf(const std::string& relative) const {
        return list.VerdictOf(SourceOf(relative)->file).set;
    }
    // The relative paths in row order.
    std::vector<std::string> Rows() const {
        std::vector<std::string> rows;
        for (int row = 0; row < list.Rows().GetItemCount(); ++row) {
            rows.push_back(
                test::TwinRowText(list, row, test::kPathText).substr(tree.Root().size() + 1));
        }
        return rows;
    }
    TwinTrash::Outcome Trash(const std::string& relative) {
        std::optional<RowSource> source = SourceOf(relative);
        EXPECT_TRUE(source.has_value()) << relative;
        return TwinTrash::TrashFiles(list, {*source})[0];
    }

    test::PrivateHome home;
    test::TempTree tree;
    std::vector<std::string> messages;
    UserMessagePresenter presenter = [this](const std::string& text) { messages.push_back(text); };
    TwinScanner list{presenter};
};

TEST_F(ContentVerifyTest, AGroupOfFourWithTwoIdenticalPairsSplitsIntoTwoSets) {
    Write("1/n.txt", "one");
    Write("2/n.txt", "two");
    Write("3/n.txt", "one");
    Write("4/n.txt", "two");
    Write("5/m.txt", "abc");  // a pair that differs: both unique
    Write("6/m.txt", "xyz");
    ScanAndVerify();
    for (const char* file : {"1/n.txt", "2/n.txt", "3/n.txt", "4/n.txt"}) {
        EXPECT_EQ(ContentOf(file), "identical") << file;
    }
    EXPECT_EQ(SetOf("1/n.txt"), SetOf("3/n.txt"));
    EXPECT_EQ(SetOf("2/n.txt"), SetOf("4/n.txt"));
    EXPECT_NE(SetOf("1/n.txt"), SetOf("2/n.txt"));
    EXPECT_EQ(ContentOf("5/m.txt"), "unique");
    EXPECT_EQ(ContentOf("6/m.txt"), "unique");

    // The rows of a set stand together, groups as before.
    std::vector<std::string> rows = Rows();
    ASSERT_EQ(rows.size(), 6u);
    EXPECT_EQ(std::set<std::string>(rows.begin(), rows.begin() + 2),
              (std::set<std::string>{"5/m.txt", "6/m.txt"}));
    const std::set<std::string> firstPair(rows.begin() + 2, rows.begin() + 4);
    EXPECT_TRUE(firstPair == (std::set<std::string>{"1/n.txt", "3/n.txt"}) ||
                firstPair == (std::set<std::string>{"2/n.txt", "4/n.txt"}));
    EXPECT_EQ(list.GetStatus(),
              "Verified: 2 identical copies [0.006 KB] beyond the first of each set, 2 unique, 0 "
              "hard links, 0 changed, 0 unread");
    EXPECT_EQ(list.CountTwins().identicalBytes, 6u);
}

TEST(ContentVerifierTest, ReadsOnlyWhatTheNextStageNeeds) {
    test::TempTree tree;
    // Equal sizes of 1 MiB: two differ in the first block, two only at the end.
    const size_t size = 1 << 20;
    std::string base(size, 'a');
    std::string headDiffers = base;
    headDiffers[10] = 'b';
    std::string tailDiffers = base;
    tailDiffers[size - 1] = 'c';
    std::vector<VerifyMember> members;
    for (const auto& [name, text] : std::vector<std::pair<std::string, std::string>>{
             {"a", base}, {"b", headDiffers}, {"c", tailDiffers}, {"d", base}}) {
        test::WriteText(tree.Path(name), text);
        struct stat st;
        ::stat(tree.Path(name).c_str(), &st);
        members.push_back(VerifyMember{
            FileId(members.size()), tree.Path(name),
            ExpectedFile{uint64_t(st.st_dev), uint64_t(st.st_ino), uint64_t(st.st_size),
                         ExactTime{st.st_mtim.tv_sec, uint32_t(st.st_mtim.tv_nsec / 100)}}});
    }
    ContentVerifier verifier({});
    auto verdicts = verifier.VerifyGroup(members);
    ASSERT_TRUE(verdicts.has_value());
    EXPECT_EQ((*verdicts)[0].verdict.content, Content::Identical);
    EXPECT_EQ((*verdicts)[1].verdict.content, Content::Unique);
    EXPECT_EQ((*verdicts)[2].verdict.content, Content::Unique);
    EXPECT_EQ((*verdicts)[3].verdict.content, Content::Identical);
    EXPECT_EQ((*verdicts)[0].verdict.set, (*verdicts)[3].verdict.set);
    // Every first block, the last block of the three whose first blocks
    // agree, then the rest of the two whose last blocks agree too: the file
    // that differs early is never read past its first block, the one that
    // differs at the end never beyond its last.
    EXPECT_EQ(verifier.BytesRead(), 4 * ContentVerifier::kFirstBlock +
                                        3 * ContentVerifier::kFirstBlock +
                                        2 * (size - ContentVerifier::kFirstBlock));

    // A file alone in its size is not read at all.
    members.resize(2);
    test::WriteText(tree.Path("b"), "short");
    struct stat st;
    ::stat(tree.Path("b").c_str(), &st);
    members[1].expected =
        ExpectedFile{uint64_t(st.st_dev), uint64_t(st.st_ino), 5,
                     ExactTime{st.st_mtim.tv_sec, uint32_t(st.st_mtim.tv_nsec / 100)}};
    ContentVerifier alone({});
    verdicts = alone.VerifyGroup(members);
    EXPECT_EQ((*verdicts)[0].verdict.content, Content::Unique);
    EXPECT_EQ((*verdicts)[1].verdict.content, Content::Unique);
    EXPECT_EQ(alone.BytesRead(), 0u);
}

TEST_F(ContentVerifyTest, EmptyFilesAndFilesBeyondFourGibVerifyCorrectly) {
    Write("e1/empty", "");
    Write("e2/empty", "");
    const uint64_t big = (uint64_t(4) << 30) + 1;
    for (const char* file : {"s1/big.img", "s2/big.img", "s3/big.img"}) {
        tree.MakeSparseFile(file, big);
    }
    // The last byte, beyond 4 GiB, is the only difference.
    int fd = ::open(tree.Path("s3/big.img").c_str(), O_WRONLY);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::pwrite(fd, "x", 1, off_t(big - 1)), 1);
    ::close(fd);
    for (const char* file : {"s1/big.img", "s2/big.img", "s3/big.img"}) {
        tree.SetModified(file, kTime);
    }
    ScanAndVerify();
    EXPECT_EQ(ContentOf("e1/empty"), "identical");
    EXPECT_EQ(ContentOf("e2/empty"), "identical");
    EXPECT_EQ(ContentOf("s1/big.img"), "identical");
    EXPECT_EQ(ContentOf("s2/big.img"), "identical");
    EXPECT_EQ(ContentOf("s3/big.img"), "unique");
    EXPECT_EQ(list.CountTwins().identicalBytes, big);
}

TEST_F(ContentVerifyTest, FilesChangedSinceTheScanAreMarkedAndNeverTrashed) {
    Write("a/c.txt", "same");
    Write("b/c.txt", "same");
    Write("c/c.txt", "same");
    Write("d/c.txt", "same");
    Scan();
    // Changed in time, in content (and so in time), replaced by a fifo and
    // by a link to a twin: never opened as what they are now.
    tree.SetModified("a/c.txt", kTime + 1);
    Write("b/c.txt", "SAME", kTime + 5);
    ASSERT_EQ(::unlink(tree.Path("c/c.txt").c_str()), 0);
    ASSERT_EQ(::mkfifo(tree.Path("c/c.txt").c_str(), 0644), 0);
    ASSERT_EQ(::unlink(tree.Path("d/c.txt").c_str()), 0);
    tree.MakeSymlink(tree.Path("a/c.txt"), "d/c.txt");
    ASSERT_TRUE(list.StartVerify());
    list.WaitForWorkers();
    for (const char* file : {"a/c.txt", "b/c.txt", "c/c.txt", "d/c.txt"}) {
        EXPECT_EQ(ContentOf(file), "changed") << file;
        EXPECT_EQ(Trash(file).verdict, TwinTrash::Verdict::Changed) << file;
        EXPECT_TRUE(test::PathExists(tree.Path(file)));
    }
    EXPECT_EQ(list.VerdictReason(SourceOf("c/c.txt")->file), "is no regular file now");
    EXPECT_EQ(list.VerdictReason(SourceOf("d/c.txt")->file), "is a link now");
    EXPECT_EQ(list.CountTwins().changed, 4);

    // Changed after the verification: the trash re-checks and refuses.
    Write("x/v.txt", "vvv");
    Write("y/v.txt", "vvv");
    ScanAndVerify();
    ASSERT_EQ(ContentOf("x/v.txt"), "identical");
    Write("x/v.txt", "www", kTime + 3);
    EXPECT_EQ(Trash("x/v.txt").verdict, TwinTrash::Verdict::Changed);
    EXPECT_EQ(test::ReadText(tree.Path("x/v.txt")), "www");
}

TEST_F(ContentVerifyTest, TheLastCopyOfASetStaysAndTheCountsFollowEachTrash) {
    Write("a/p.txt", "pair");
    Write("b/p.txt", "pair");
    Write("c/p.txt", "pair");
    Write("a/q.txt", "q1");
    Write("b/q.txt", "q1");
    ScanAndVerify();
    EXPECT_EQ(list.GetStatus(),
              "Verified: 3 identical copies [0.010 KB] beyond the first of each set, 0 unique, 0 "
              "hard links, 0 changed, 0 unread");
    std::vector<RowSource> all;
    for (const char* file : {"a/p.txt", "b/p.txt", "c/p.txt"}) {
        all.push_back(*SourceOf(file));
    }
    std::vector<TwinTrash::Outcome> outcomes = TwinTrash::TrashFiles(list, all);
    ASSERT_EQ(outcomes.size(), 3u);
    EXPECT_EQ(outcomes[0].verdict, TwinTrash::Verdict::Trashed);
    EXPECT_EQ(outcomes[1].verdict, TwinTrash::Verdict::Trashed);
    EXPECT_EQ(outcomes[2].verdict, TwinTrash::Verdict::LastOfSet);
    EXPECT_TRUE(test::PathExists(tree.Path("c/p.txt")));
    EXPECT_FALSE(test::PathExists(tree.Path("a/p.txt")));
    // The survivor has no twin left and leaves the list; the counts follow.
    std::vector<std::string> rows = Rows();
    EXPECT_EQ(std::set<std::string>(rows.begin(), rows.end()),
              (std::set<std::string>{"a/q.txt", "b/q.txt"}));
    EXPECT_EQ(list.GetStatus(),
              "Verified: 1 identical copies [0.002 KB] beyond the first of each set, 0 unique, 0 "
              "hard links, 0 changed, 0 unread");
    EXPECT_EQ(list.FileCount(), 3);
    EXPECT_EQ(Trash("b/q.txt").verdict, TwinTrash::Verdict::Trashed);
    EXPECT_TRUE(Rows().empty());
}

TEST_F(ContentVerifyTest, UnverifiedRowsAreComparedBeforeTheTrashAndTheScanCountsFollow) {
    Write("a/u.txt", "same");
    Write("b/u.txt", "same");
    Write("c/u.txt", "diff");
    Write("a/w.txt", "w");
    Write("b/w.txt", "w");
    Scan();
    EXPECT_EQ(list.GetStatus(), "Twin Files: 3 [0.009 KB] of Files 5, Exceptions: 0");
    TwinTrash::Outcome differs = Trash("c/u.txt");
    EXPECT_EQ(differs.verdict, TwinTrash::Verdict::Differs);
    EXPECT_TRUE(test::PathExists(tree.Path("c/u.txt")));
    EXPECT_EQ(Trash("b/u.txt").verdict, TwinTrash::Verdict::Trashed);
    EXPECT_EQ(list.GetStatus(), "Twin Files: 2 [0.005 KB] of Files 4, Exceptions: 0");
    // a/u.txt is the last with its bytes: c/u.txt differs from it.
    EXPECT_EQ(Trash("a/u.txt").verdict, TwinTrash::Verdict::Differs);
    EXPECT_EQ(list.Rows().GetItemCount(), 4);
    EXPECT_EQ(test::TwinRowText(list, 0, test::kContentText), "");
}

TEST_F(ContentVerifyTest, SelectCopiesKeepsOneFilePerSetAndNeverAHardLink) {
    ASSERT_TRUE(WriteSetting(kCmpDate, false));  // one group despite their times
    Write("m/s.txt", "set", kTime + 20);
    Write("k/s.txt", "set", kTime);
    Write("z/s.txt", "set", kTime + 10);
    Write("o/s.txt", "odd", kTime);
    tree.MakeFolder("l");
    ASSERT_EQ(::link(tree.Path("k/s.txt").c_str(), tree.Path("l/s.txt").c_str()), 0);
    ScanAndVerify();
    auto selected = [this](TwinScanner::KeepRule keep) {
        std::set<std::string> paths;
        for (int row : list.CopyRows(keep)) {
            paths.insert(Rows()[size_t(row)]);
        }
        return paths;
    };
    EXPECT_EQ(selected(TwinScanner::KeepRule::Oldest),
              (std::set<std::string>{"m/s.txt", "z/s.txt"}));
    EXPECT_EQ(selected(TwinScanner::KeepRule::Newest),
              (std::set<std::string>{"k/s.txt", "z/s.txt"}));
    EXPECT_EQ(selected(TwinScanner::KeepRule::FirstPath),
              (std::set<std::string>{"m/s.txt", "z/s.txt"}));
    EXPECT_EQ(ContentOf("o/s.txt"), "unique");
}

// Cancels a verification from the verifying thread once its first group
// is done, so the moment does not depend on timing. The verification's
// first snapshot (nothing done) is held longer than the progress interval,
// so the snapshot after the first group is due and brings the cancel.
TwinScanner::Observer CancelAfterFirstGroup(TwinScanner& twins) {
    auto snapshots = std::make_shared<std::atomic<int>>(0);
    auto progressed = [&twins, snapshots] {
        if (twins.Progress().job != JobKind::Verify) {
            return;
        }
        const int seen = ++*snapshots;
        if (seen == 1) {
            std::this_thread::sleep_for(2 * JobRunner::kProgressInterval);
        } else if (seen == 2) {
            twins.Cancel();
        }
    };
    return TwinScanner::Observer{progressed, {}};
}

TEST_F(ContentVerifyTest, ACancelledVerificationLeavesAUsableList) {
    for (const char* name : {"a.txt", "b.txt", "c.txt"}) {
        Write(std::string("1/") + name, name);
        Write(std::string("2/") + name, name);
    }
    TwinScanner cancelled;
    cancelled.SetObserver(CancelAfterFirstGroup(cancelled));
    cancelled.Scan(test::FolderRequest(tree.Root()));
    ASSERT_TRUE(cancelled.StartVerify());
    cancelled.WaitForWorkers();
    EXPECT_FALSE(cancelled.IsBusy());
    EXPECT_EQ(cancelled.GetStatus().rfind("Verification cancelled: 1 identical copies", 0), 0u)
        << cancelled.GetStatus();
    EXPECT_NE(cancelled.GetStatus().find("4 not verified"), std::string::npos);
    ASSERT_EQ(cancelled.Rows().GetItemCount(), 6);
    EXPECT_EQ(test::TwinColumnTexts(cancelled, test::kContentText),
              (std::vector<std::string>{"identical", "identical", "", "", "", ""}));

    // Verifying again finishes; the list can then be acted on.
    ASSERT_TRUE(cancelled.StartVerify());
    cancelled.WaitForWorkers();
    EXPECT_EQ(cancelled.CountTwins().identicalCopies, 3);
    std::optional<RowSource> row = cancelled.Rows().GetRowSource(5);
    EXPECT_EQ(TwinTrash::TrashFiles(cancelled, {*row})[0].verdict, TwinTrash::Verdict::Trashed);
    EXPECT_EQ(cancelled.Rows().GetItemCount(), 4);
}

TEST_F(ContentVerifyTest, VerificationWaitsForNoScanAndAScanEndsIt) {
    for (int i = 0; i < 300; ++i) {
        Write("d" + std::to_string(i % 30) + "/f" + std::to_string(i / 30), std::string(5000, 'v'));
    }
    Scan();
    const int rows = list.Rows().GetItemCount();
    ASSERT_EQ(rows, 300);
    // Refused while a verification runs (held at its first snapshot); a
    // search may not start beside it either.
    std::atomic<bool> holding{false};
    auto hold = [&holding] {
        while (holding.load()) {
            std::this_thread::yield();
        }
    };
    TwinScanner held(presenter);
    held.SetObserver(TwinScanner::Observer{hold, {}});
    held.Scan(test::FolderRequest(tree.Root()));
    holding = true;
    ASSERT_TRUE(held.StartVerify());
    EXPECT_FALSE(held.StartVerify());
    EXPECT_FALSE(held.StartSearch([](TwinScanner&, std::stop_token) { ADD_FAILURE(); }));
    holding = false;
    held.WaitForWorkers();
    EXPECT_EQ(messages, std::vector<std::string>(2, "App is busy.."));

    // Rows read while a verification runs and a new scan supersedes it: a
    // row is whole or gone, its content text one the list knows.
    const std::set<std::string> texts = {"",          "identical", "unique",
                                         "hard link", "changed",   "unread"};
    ASSERT_TRUE(list.StartVerify());
    std::atomic<bool> reading{true};
    std::atomic<int> bad{0};
    std::thread reader([&] {
        while (reading.load()) {
            int count = list.Rows().GetItemCount();
            for (int row = 0; row < count; ++row) {
                std::string path = test::TwinRowText(list, row, test::kPathText);
                std::string content = test::TwinRowText(list, row, test::kContentText);
                if ((!path.empty() && path.rfind(tree.Root() + "/d", 0) != 0) ||
                    texts.count(content) == 0) {
                    ++bad;
                }
            }
        }
    });
    list.StartScan(test::FolderRequest(tree.Root()));
    list.WaitForWorkers();
    reading = false;
    reader.join();
    EXPECT_EQ(bad.load(), 0);
    EXPECT_FALSE(list.IsBusy());
    EXPECT_FALSE(list.ShowsVerdicts());  // the scan's rows, not a stale verification's
    EXPECT_EQ(list.Rows().GetItemCount(), rows);
    EXPECT_EQ(list.GetStatus(), "Twin Files: 290 [1.383 MB] of Files 300, Exceptions: 0");
}

}  // namespace
}  // namespace quarn

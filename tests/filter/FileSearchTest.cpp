// The File Filter search over a scanned tree: name text in any case, strict
// size bounds, twins only, and the status it leaves.

#include <gtest/gtest.h>

#include <clocale>
#include <string>
#include <vector>

#include <atomic>
#include <thread>

#include "duplicates/TwinScanner.h"
#include "filter/FileSearch.h"
#include "tests/support/TestEntries.h"
#include "tests/support/TwinRowTexts.h"

namespace quarn {
namespace {

OwnedFileEntry Record(const std::string& name, uint64_t size) {
    return test::RegularFileEntry(name, size);
}

class FileSearchTest : public ::testing::Test {
  protected:
    // Files handed in as a combined walk hands them (folder and record),
    // without touching the disk.
    void Feed(const std::vector<std::pair<std::string, uint64_t>>& files) {
        ScanRequest request;
        request.root = "/";
        list.BeginFeed(request);
        for (const auto& [path, size] : files) {
            size_t slash = path.rfind('/');
            list.FeedSink().AddFile(path.substr(0, slash), Record(path.substr(slash + 1), size));
        }
        list.EndFeed();
    }

    std::vector<std::string> Search(FilterCriteria criteria) {
        RunSearch(list, criteria);
        return test::TwinColumnTexts(list, test::kPathText);
    }

    static FilterCriteria Range(const std::string& minKB, const std::string& maxKB) {
        FilterCriteria criteria;
        criteria.m_bTwinsOnly = false;
        criteria.m_bSizeRange = true;
        criteria.m_strMinKB = minKB;
        criteria.m_strMaxKB = maxKB;
        return criteria;
    }

    std::vector<std::string> messages;
    // While set, a verification waits at its first snapshot.
    std::atomic<bool> holdVerification{false};
    TwinScanner list{[this](const std::string& text) { messages.push_back(text); }};

    FileSearchTest() {
        list.SetObserver(TwinScanner::Observer{[this] {
                                                   while (holdVerification.load() &&
                                                          list.Progress().job == JobKind::Verify) {
                                                       std::this_thread::yield();
                                                   }
                                               },
                                               {}});
    }
};

TEST_F(FileSearchTest, SizeBoundsAreStrictAndZeroLeavesASideOpen) {
    Feed({{"/s/f10239", 10239},
          {"/s/f10240", 10240},
          {"/s/f10241", 10241},
          {"/s/f20479", 20479},
          {"/s/f20480", 20480}});
    EXPECT_EQ(Search(Range("0", "10")), std::vector<std::string>{"/s/f10239"});
    EXPECT_EQ(Search(Range("10", "0")),
              (std::vector<std::string>{"/s/f10241", "/s/f20479", "/s/f20480"}));
    EXPECT_EQ(Search(Range("10", "20")), (std::vector<std::string>{"/s/f10241", "/s/f20479"}));
    EXPECT_EQ(Search(Range("", "")).size(), 5u);
    EXPECT_EQ(Search(Range("abc", " 10kb")), std::vector<std::string>{"/s/f10239"});
    // Bounds left in the fields while the range is off are ignored.
    FilterCriteria off = Range("10", "20");
    off.m_bSizeRange = false;
    EXPECT_EQ(Search(off).size(), 5u);
    EXPECT_EQ(list.GetStatus(), "FileFind - Objects found 5 - ready");
}

TEST_F(FileSearchTest, BoundsReadLikeAtol) {
    EXPECT_EQ(SizeBoundBytes(""), 0u);
    EXPECT_EQ(SizeBoundBytes("x12"), 0u);
    EXPECT_EQ(SizeBoundBytes("  12abc"), 12288u);
    EXPECT_EQ(SizeBoundBytes("-5"), 0u);
    EXPECT_EQ(SizeBoundBytes("4194304"), uint64_t(1) << 32);
    EXPECT_EQ(SizeBoundBytes("99999999999999999999999"), UINT64_MAX);
}

TEST_F(FileSearchTest, TheTextMatchesAnyCaseAndTheRowsShowTheNameAsStored) {
    Feed({{"/a/xAbcX.txt", 1}, {"/b/xAbcX.txt", 1}, {"/c/other.txt", 1}, {"/c/ABC", 2}});
    FilterCriteria criteria;
    criteria.m_bTwinsOnly = false;
    criteria.m_strSearch = "ABC";
    std::vector<std::string> paths = Search(criteria);
    EXPECT_EQ(paths, (std::vector<std::string>{"/c/ABC", "/a/xAbcX.txt", "/b/xAbcX.txt"}));
    EXPECT_EQ(test::TwinRowText(list, 1, test::kFileText), "xAbcX.txt");

    // Twins only: a group of one never shows, whatever its name.
    criteria.m_bTwinsOnly = true;
    EXPECT_EQ(Search(criteria), (std::vector<std::string>{"/a/xAbcX.txt", "/b/xAbcX.txt"}));
}

TEST_F(FileSearchTest, LowerCasingFollowsTheLocaleAndKeepsStrayBytes) {
    EXPECT_EQ(LowerCaseInLocale("MiXeD.TXT"), "mixed.txt");
    EXPECT_EQ(LowerCaseInLocale("a\xff\xfe"
                                "B"),
              "a\xff\xfe"
              "b");
    std::string saved = std::setlocale(LC_CTYPE, nullptr);
    if (std::setlocale(LC_CTYPE, "C.UTF-8") == nullptr) {
        GTEST_SKIP() << "no UTF-8 locale here";
    }
    EXPECT_EQ(LowerCaseInLocale("\xc3\x84RGER"), "\xc3\xa4rger");  // ÄRGER
    EXPECT_EQ(LowerCaseInLocale("\xc3\x84\xff"
                                "Z"),
              "\xc3\xa4\xff"
              "z");
    Feed(
        {{"/u/Gr\xc3\xbc\xc3\x9f"
          "e.txt",
          1}});
    FilterCriteria criteria;
    criteria.m_bTwinsOnly = false;
    criteria.m_strSearch = "GR\xc3\x9c";  // GRÜ
    EXPECT_EQ(Search(criteria).size(), 1u);
    std::setlocale(LC_CTYPE, saved.c_str());
}

TEST_F(FileSearchTest, EveryPassingGroupRefreshesTheStatusEvenWithoutRows) {
    Feed({{"/a/big", 50000}, {"/b/big", 50000}, {"/a/small", 100}});
    FilterCriteria criteria = Range("1", "2");
    criteria.m_bTwinsOnly = true;
    uint64_t before = list.Progress().serial;
    EXPECT_TRUE(Search(criteria).empty());
    // One refresh for the group "big" (nothing in range), one for "ready".
    EXPECT_EQ(list.Progress().serial - before, 2u);
    EXPECT_EQ(list.GetStatus(), "FileFind - Objects found 0 - ready");
}

TEST_F(FileSearchTest, AnEmptyTreeClearsTheListAndIsReadyAtOnce) {
    Feed({{"/a/x", 1}, {"/b/x", 1}});
    ASSERT_EQ(list.Rows().GetItemCount(), 2);
    ScanRequest request;
    request.root = "/";
    list.ResetForCombinedScan(request);
    list.RebuildList();
    FilterCriteria criteria;
    EXPECT_TRUE(Search(criteria).empty());
    EXPECT_EQ(list.GetStatus(), "FileFind - Objects found 0 - ready");
}

TEST_F(FileSearchTest, ASearchIsRefusedWhileAVerificationWorksAndSupersedesASearch) {
    Feed({{"/a/x", 1}, {"/b/x", 1}, {"/c/y", 1}});
    FilterCriteria criteria;
    criteria.m_bTwinsOnly = false;
    holdVerification = true;
    ASSERT_TRUE(list.StartVerify());
    EXPECT_FALSE(StartFileSearch(list, criteria));
    EXPECT_EQ(messages, std::vector<std::string>{"App is busy.."});
    holdVerification = false;
    list.WaitForWorkers();
    EXPECT_TRUE(StartFileSearch(list, criteria));
    EXPECT_TRUE(StartFileSearch(list, criteria));  // ends the first, then runs
    list.WaitForWorkers();
    EXPECT_EQ(list.Rows().GetItemCount(), 3);
    EXPECT_EQ(list.GetStatus(), "FileFind - Objects found 3 - ready");
}

}  // namespace
}  // namespace quarn

// The grouping tree: which group a file joins, the walk order, and the
// twin rows and bytes announced while inserting.

#include <gtest/gtest.h>

#include <new>
#include <string>
#include <vector>

#include "duplicates/BinBaum.h"
#include "platform/FileTime.h"
#include "tests/support/TestEntries.h"

namespace quarn {
namespace {

OwnedFileEntry Record(const std::string& name, uint64_t size, uint64_t time = 1000) {
    return test::RegularFileEntry(name, size, time);
}

struct Walked {
    std::string name;
    std::vector<std::string> paths;
    std::vector<uint64_t> sizes;
};

std::vector<Walked> Walk(const BinBaum& tree) {
    std::vector<Walked> out;
    for (BinBaum::Cursor it = tree.First(); !it.AtEnd(); tree.Next(it)) {
        TreeNode node = it.Node();
        Walked w{std::string(node.Name()), {}, {}};
        for (FileId f = node.FirstFile(); f != kNoFile; f = node.NextFile(f)) {
            w.paths.push_back(tree.FilePath(node.Id(), f));
            w.sizes.push_back(tree.FileSize(f));
        }
        out.push_back(w);
    }
    return out;
}

class BinBaumTest : public ::testing::Test {
  protected:
    // Inserts a file; a file that joins a group is noted with its bytes,
    // unless it is the same inode again.
    BinBaum::InsertResult Add(const std::string& folder, const std::string& name, uint64_t size,
                              uint64_t time = 1000, uint8_t compare = 0) {
        const BinBaum::Inserted inserted = tree.Insert(folder, Record(name, size, time), compare);
        if (inserted.result == BinBaum::InsertResult::Joined) {
            joined.push_back(inserted.file);
            joinedPaths.push_back(tree.FilePath(inserted.group, inserted.file));
            if (!inserted.extraLink) {
                twinBytes += size;
            }
        }
        return inserted.result;
    }

    std::vector<FileId> joined;
    std::vector<std::string> joinedPaths;
    uint64_t twinBytes = 0;
    BinBaum tree;
};

TEST_F(BinBaumTest, SecondTwinAddsOneRowAndOnlyItsOwnBytes) {
    EXPECT_EQ(Add("/one/", "a.txt", 700), BinBaum::InsertResult::Created);
    EXPECT_TRUE(joined.empty());
    EXPECT_EQ(twinBytes, 0u);

    EXPECT_EQ(Add("/two/", "a.txt", 700), BinBaum::InsertResult::Joined);
    EXPECT_EQ(joinedPaths, std::vector<std::string>{"/two/a.txt"});
    EXPECT_EQ(twinBytes, 700u);
    EXPECT_EQ(tree.m_nNodes, 1u);

    std::vector<Walked> walked = Walk(tree);
    ASSERT_EQ(walked.size(), 1u);
    EXPECT_EQ(walked[0].paths, (std::vector<std::string>{"/one/a.txt", "/two/a.txt"}));
}

TEST(TwinTestTest, NameThenSizeAndTimeAsFlagged) {
    struct Case {
        const char* second;
        uint64_t size;
        uint64_t time;
        uint8_t compare;
        bool joins;
    };
    const Case cases[] = {
        {"A.TXT", 7, 1, 0, false},  // names compare case and all
        {"a.txt", 8, 1, 0, false},
        {"a.txt", 8, 1, kCompareIgnoreSize, true},
        {"a.txt", 7, 2, kCompareIgnoreSize, false},
        {"a.txt", 7, 2, kCompareIgnoreTime, true},
        {"a.txt", 9, 3, kCompareIgnoreSize | kCompareIgnoreTime, true},
    };
    for (const Case& c : cases) {
        BinBaum tree;
        tree.Insert("/1/", Record("a.txt", 7, 1), c.compare);
        const BinBaum::Inserted second =
            tree.Insert("/2/", Record(c.second, c.size, c.time), c.compare);
        EXPECT_EQ(second.result == BinBaum::InsertResult::Joined, c.joins)
            << c.second << " " << c.size << " " << c.time << " flags " << int(c.compare);
        if (c.joins) {
            EXPECT_EQ(tree.FileSize(second.file), c.size);
            EXPECT_EQ(tree.FilePath(second.group, second.file), std::string("/2/") + c.second);
        }
    }
}

// An imported entry may come without a time: it keeps the earliest FILETIME,
// and is no twin of a file written at the very start of 1970.
TEST(TwinTestTest, AnEntryWithoutATimeHasTheEarliestFileTime) {
    OwnedFileEntry untimed = Record("a.txt", 7);
    untimed.hasTime = false;
    untimed.mtimeSeconds = 0;
    untimed.mtimeNanoseconds = 0;
    OwnedFileEntry epoch = untimed;
    epoch.hasTime = true;
    EXPECT_EQ(TwinKeyOf(untimed).lastWriteTime, 0u);
    EXPECT_EQ(TwinKeyOf(epoch).lastWriteTime, FileTimeFromUnix(0, 0));

    BinBaum tree;
    tree.Insert("/1/", untimed, 0);
    EXPECT_EQ(tree.Insert("/2/", epoch, 0).result, BinBaum::InsertResult::Created);
    const BinBaum::Inserted again = tree.Insert("/3/", untimed, 0);
    EXPECT_EQ(again.result, BinBaum::InsertResult::Joined);
    EXPECT_EQ(tree.FileLastWriteTime(again.file), 0u);
}

TEST_F(BinBaumTest, CompareFlagsDecideWhetherSizeAndTimeMatter) {
    // Sizes compared: two groups, the later one walked first.
    Add("/1/", "s.bin", 10);
    Add("/2/", "s.bin", 20);
    EXPECT_EQ(tree.m_nNodes, 2u);
    std::vector<Walked> walked = Walk(tree);
    ASSERT_EQ(walked.size(), 2u);
    EXPECT_EQ(walked[0].sizes, std::vector<uint64_t>{20});
    EXPECT_EQ(walked[1].sizes, std::vector<uint64_t>{10});

    // Sizes ignored: one group; times still compared.
    BinBaum loose;
    loose.Insert("/1/", Record("s.bin", 10, 5), kCompareIgnoreSize);
    loose.Insert("/2/", Record("s.bin", 20, 5), kCompareIgnoreSize);
    loose.Insert("/3/", Record("s.bin", 20, 6), kCompareIgnoreSize);
    EXPECT_EQ(loose.m_nNodes, 2u);

    // Both ignored: the name alone decides.
    BinBaum nameOnly;
    const uint8_t both = kCompareIgnoreSize | kCompareIgnoreTime;
    nameOnly.Insert("/1/", Record("s.bin", 10, 5), both);
    nameOnly.Insert("/2/", Record("s.bin", 20, 6), both);
    EXPECT_EQ(nameOnly.m_nNodes, 1u);
    EXPECT_EQ(Walk(nameOnly)[0].sizes, (std::vector<uint64_t>{10, 20}));
}

TEST_F(BinBaumTest, NamesCompareAsUnsignedBytesWithCase) {
    const uint8_t both = kCompareIgnoreSize | kCompareIgnoreTime;
    tree.Insert("/1/", Record("a.txt", 1), both);
    tree.Insert("/2/", Record("A.TXT", 1), both);
    tree.Insert("/3/", Record("B.txt", 1), both);
    tree.Insert("/4/", Record("\xc3\xa9.txt", 1), both);  // é: above every ASCII name
    tree.Insert("/5/", Record("z.txt", 1), both);
    EXPECT_EQ(tree.m_nNodes, 5u);
    std::vector<std::string> names;
    for (const Walked& w : Walk(tree)) {
        names.push_back(w.name);
    }
    EXPECT_EQ(names,
              (std::vector<std::string>{"A.TXT", "B.txt", "a.txt", "z.txt", "\xc3\xa9.txt"}));
}

TEST_F(BinBaumTest, EqualNamesWalkNewestFirstAndATwinJoinsTheFirstMatchingGroup) {
    Add("/", "w", 1);
    Add("/s1/", "x", 100);
    Add("/s2/", "x", 200);
    Add("/s3/", "x", 300);
    Add("/", "y", 1);
    Add("/", "xa", 1);  // a longer name sorts after every x
    ASSERT_EQ(tree.m_nNodes, 6u);

    BinBaum::Cursor it = tree.First();
    tree.Next(it);  // the newest x
    EXPECT_FALSE(it.Node().IsTwin(TwinKey{"x", 200, 1000}));
    tree.Next(it);
    EXPECT_TRUE(it.Node().IsTwin(TwinKey{"x", 200, 1000}));
    EXPECT_FALSE(it.Node().IsTwin(TwinKey{"X", 200, 1000}));
    EXPECT_EQ(Add("/s4/", "x", 200), BinBaum::InsertResult::Joined);
    EXPECT_EQ(tree.m_nNodes, 6u);
    EXPECT_EQ(twinBytes, 200u);

    std::vector<Walked> walked = Walk(tree);
    ASSERT_EQ(walked.size(), 6u);
    EXPECT_EQ(walked[0].name, "w");
    EXPECT_EQ(walked[1].paths, std::vector<std::string>{"/s3/x"});
    EXPECT_EQ(walked[2].paths, (std::vector<std::string>{"/s2/x", "/s4/x"}));
    EXPECT_EQ(walked[3].paths, std::vector<std::string>{"/s1/x"});
    EXPECT_EQ(walked[4].name, "xa");
    EXPECT_EQ(walked[5].name, "y");
}

TEST_F(BinBaumTest, SizesAboveFourGibCompareInFull) {
    const uint64_t big = (uint64_t(1) << 32) + 5;
    Add("/1/", "disk.img", big);
    Add("/2/", "disk.img", 5);  // same low half
    EXPECT_EQ(tree.m_nNodes, 2u);
    EXPECT_EQ(Add("/3/", "disk.img", big), BinBaum::InsertResult::Joined);
    EXPECT_EQ(Add("/4/", "disk.img", big), BinBaum::InsertResult::Joined);
    EXPECT_EQ(twinBytes, 2 * big);
    ASSERT_EQ(joined.size(), 2u);
    EXPECT_EQ(tree.FileSize(joined[0]), big);
}

TEST_F(BinBaumTest, EmptyAndEmptiedTreesWalkNothing) {
    EXPECT_TRUE(tree.First().AtEnd());
    Add("/1/", "a", 1);
    Add("/2/", "a", 1);
    Add("/1/", "b", 1);
    EXPECT_FALSE(tree.First().AtEnd());
    tree.Clear();
    EXPECT_EQ(tree.m_nNodes, 2u);  // counts nodes ever made
    EXPECT_TRUE(tree.First().AtEnd());
    EXPECT_TRUE(tree.First() == BinBaum::Cursor());
    // A walk order made before does not survive new insertions.
    Add("/9/", "c", 1);
    EXPECT_EQ(Walk(tree).size(), 1u);
}

class FailingTree : public BinBaum {
  public:
    int failAt = -1;
    int calls = 0;

  protected:
    void ReserveGroup() override {
        if (calls++ == failAt) {
            throw std::bad_alloc();
        }
        BinBaum::ReserveGroup();
    }
};

TEST(BinBaumFailureTest, ANodeThatCannotBeMadeLeavesTheFileOutAndTheScanGoesOn) {
    FailingTree tree;
    std::vector<std::string> messages;
    tree.SetUserMessagePresenter([&](const std::string& text) { messages.push_back(text); });
    tree.failAt = 1;
    EXPECT_EQ(tree.Insert("/1/", Record("a", 1), 0).result, BinBaum::InsertResult::Created);
    EXPECT_EQ(tree.Insert("/1/", Record("b", 1), 0).result, BinBaum::InsertResult::LeftOut);
    EXPECT_EQ(messages, std::vector<std::string>{"BinBaum:: new TreeNode - exception"});
    EXPECT_EQ(tree.m_nNodes, 1u);
    EXPECT_EQ(tree.Insert("/1/", Record("c", 1), 0).result, BinBaum::InsertResult::Created);
    EXPECT_EQ(tree.Insert("/2/", Record("a", 1), 0).result, BinBaum::InsertResult::Joined);
    std::vector<Walked> walked = Walk(tree);
    ASSERT_EQ(walked.size(), 2u);
    EXPECT_EQ(walked[0].name, "a");
    EXPECT_EQ(walked[1].name, "c");
}

TEST(BinBaumScaleTest, SortedNamesAndManyGroupsOfOneNameStayFast) {
    // An unbalanced tree makes both of these quadratic (about 5e9 steps).
    BinBaum tree;
    char name[32];
    for (int i = 0; i < 100000; ++i) {
        std::snprintf(name, sizeof name, "file%06d.txt", i);
        tree.Insert("/sorted/", Record(name, 1), 0);
    }
    for (int i = 0; i < 20000; ++i) {
        tree.Insert("/node_modules/p/", Record("package.json", 100 + i), 0);
    }
    EXPECT_EQ(tree.m_nNodes, 120000u);
    EXPECT_EQ(tree.Insert("/again/", Record("package.json", 100 + 7), 0).result,
              BinBaum::InsertResult::Joined);
    std::string previous;
    size_t count = 0;
    uint64_t lastPackageSize = UINT64_MAX;
    for (BinBaum::Cursor it = tree.First(); !it.AtEnd(); tree.Next(it), ++count) {
        std::string current(it.Node().Name());
        ASSERT_LE(previous, current);
        if (current == "package.json") {
            uint64_t size = it.Node().GetSize(0);
            ASSERT_LT(size, lastPackageSize);  // newest group first
            lastPackageSize = size;
        }
        previous = current;
    }
    EXPECT_EQ(count, 120000u);
}

TEST_F(BinBaumTest, PathsAreTheFolderPrefixAndTheNameOrTheWholePathGiven) {
    TwinGroup candidate;
    candidate.m_nCompare = 0;
    candidate.Assign(Record("a.txt", 3), "/srv/data/a.txt");
    tree.Insert(candidate);
    candidate.Assign(Record("a.txt", 3), "/odd/path/without-the-name");
    tree.Insert(candidate);
    candidate.Assign(Record("b.txt", 3), "");
    tree.Insert(candidate);
    std::vector<Walked> walked = Walk(tree);
    ASSERT_EQ(walked.size(), 2u);
    EXPECT_EQ(walked[0].paths,
              (std::vector<std::string>{"/srv/data/a.txt", "/odd/path/without-the-name"}));
    EXPECT_EQ(walked[1].paths, std::vector<std::string>{"b.txt"});
    EXPECT_EQ(tree.FolderCount(), 3u);
}

TEST_F(BinBaumTest, ARemovedFileLeavesItsGroupAndNoLongerDecidesTwins) {
    Add("/1/", "a", 5);
    Add("/2/", "a", 5);
    Add("/3/", "a", 5);
    TreeNode node = tree.First().Node();
    FileId second = node.NextFile(node.FirstFile());
    EXPECT_TRUE(tree.RemoveFile(node.Id(), second));
    EXPECT_FALSE(tree.RemoveFile(node.Id(), second));
    EXPECT_EQ(Walk(tree)[0].paths, (std::vector<std::string>{"/1/a", "/3/a"}));
    EXPECT_TRUE(tree.RemoveFile(node.Id(), node.FirstFile()));
    EXPECT_TRUE(tree.RemoveFile(node.Id(), node.FirstFile()));
    EXPECT_TRUE(tree.First().AtEnd());  // empty groups are not walked
    EXPECT_EQ(Add("/4/", "a", 5), BinBaum::InsertResult::Created);
}

// Twins far apart, with long stretches of files alone in their groups
// between them (whose links cost nothing): the rings still hold exactly
// their files, in order, through removals and a new twin.
TEST_F(BinBaumTest, TwinsFarApartKeepTheirRingsAcrossStretchesOfLoneFiles) {
    constexpr int kStretch = 40000;  // more than a chunk of links
    Add("/a/", "x", 7);
    for (int round = 0; round < 3; ++round) {
        for (int i = 0; i < kStretch; ++i) {
            Add("/lone/", "f" + std::to_string(round * kStretch + i), 1);
        }
        Add("/b" + std::to_string(round) + "/", "x", 7);
    }
    std::vector<Walked> walked = Walk(tree);
    ASSERT_EQ(walked.size(), size_t(3 * kStretch + 1));
    size_t loneChecked = 0;
    for (const Walked& group : walked) {
        if (group.name == "x") {
            EXPECT_EQ(group.paths, (std::vector<std::string>{"/a/x", "/b0/x", "/b1/x", "/b2/x"}));
        } else {
            ASSERT_EQ(group.paths.size(), 1u) << group.name;
            EXPECT_EQ(group.paths[0], "/lone/" + group.name);
            ++loneChecked;
        }
    }
    EXPECT_EQ(loneChecked, size_t(3 * kStretch));

    BinBaum::Cursor it = tree.First();
    while (it.Node().Name() != "x") {
        tree.Next(it);
    }
    TreeNode x = it.Node();
    const FileId first = x.FirstFile();
    const FileId second = x.NextFile(first);
    EXPECT_TRUE(tree.RemoveFile(x.Id(), second));
    EXPECT_TRUE(tree.RemoveFile(x.Id(), first));
    EXPECT_EQ(Add("/c/", "x", 7), BinBaum::InsertResult::Joined);
    for (const Walked& group : Walk(tree)) {
        if (group.name == "x") {
            EXPECT_EQ(group.paths, (std::vector<std::string>{"/b1/x", "/b2/x", "/c/x"}));
        }
    }
}

}  // namespace
}  // namespace quarn

#include "platform/DirectoryListing.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <string>
#include <vector>

#include "platform/FileTime.h"
#include "platform/ListingChunk.h"
#include "tests/support/TempTree.h"

namespace quarn {
namespace {

using test::TempTree;

// Every entry of an open folder as the walk lists it: names first, then
// the stat of each (folders as listed, without a stat).
std::map<std::string, FindRecord> ListHandle(int handle) {
    std::map<std::string, FindRecord> records;
    std::vector<char> buffer(DirectoryListing::kBufferSize);
    std::atomic<bool> stop{false};
    for (bool end = false; !end;) {
        ListingChunk chunk;
        end = chunk.ReadNames(handle, buffer.data(), long(buffer.size()), 100).end;
        EXPECT_TRUE(chunk.StatEntries(handle, stop));
        for (size_t i = 0; i < chunk.Size(); ++i) {
            FindRecord& record = records[std::string(chunk.Name(i))];
            UnpackToFindRecord(chunk.Entry(i), record);
            record.SetName(chunk.Name(i));
        }
    }
    return records;
}

std::map<std::string, FindRecord> ListAll(const std::string& path) {
    DirectoryListing listing = DirectoryListing::Open(path);
    EXPECT_TRUE(listing.IsOpen()) << path;
    return ListHandle(listing.Handle());
}

TEST(DirectoryListing, ReportsSizesTimesAndKindsAsTheFindRecordCarriesThem) {
    TempTree tree;
    tree.MakeFile("small.txt", 1234);
    tree.MakeSparseFile("huge.bin", 5ULL << 30);  // 5 GiB: needs the high half
    tree.MakeFolder("sub");
    tree.MakeSymlink("sub", "link-to-sub");
    tree.MakeFile(".hidden", 1);
    tree.SetModified("small.txt", -86400 * 365, 123456700);  // 1969, with a fraction

    auto records = ListAll(tree.Root());
    EXPECT_FALSE(records.count("."));  // a walk has no use for them
    EXPECT_FALSE(records.count(".."));

    const FindRecord& small = records["small.txt"];
    EXPECT_EQ(small.FileSize(), 1234u);
    EXPECT_FALSE(small.IsDirectory());
    EXPECT_EQ(small.ftLastWriteTime,
              uint64_t(kFileTimeEpochOffsetSeconds - 86400 * 365) * 10000000ULL + 1234567);

    const FindRecord& huge = records["huge.bin"];
    EXPECT_EQ(huge.nFileSizeHigh, 1u);
    EXPECT_EQ(huge.nFileSizeLow, 1u << 30);
    EXPECT_EQ(huge.FileSize(), 5368709120ULL);

    // A folder is as the listing said, without a stat: the walk opens it.
    EXPECT_TRUE(records["sub"].IsDirectory());
    struct ::stat sub;
    ASSERT_EQ(::stat(tree.Path("sub").c_str(), &sub), 0);
    EXPECT_EQ(records["sub"].inode, uint64_t(sub.st_ino));
    EXPECT_EQ(records["sub"].linkCount, 0u);  // nothing but the listing's word
    // A link to a folder is an entry of its own, never a folder to walk.
    const FindRecord& link = records["link-to-sub"];
    EXPECT_FALSE(link.IsDirectory());
    EXPECT_TRUE(link.dwFileAttributes & kAttributeLink);
    EXPECT_EQ(link.FileSize(), 3u);  // the link's own size: the length of "sub"

    EXPECT_TRUE(records[".hidden"].dwFileAttributes & kAttributeHidden);
}

TEST(DirectoryListing, CarriesTheWholeStatusSoNobodyStatsAgain) {
    TempTree tree;
    tree.MakeFile("a.bin", 10000);
    ASSERT_EQ(::link(tree.Path("a.bin").c_str(), tree.Path("b.bin").c_str()), 0);
    tree.MakeSparseFile("sparse.bin", 1ULL << 30);
    tree.MakeSymlink("a.bin", "link");
    tree.SetModified("a.bin", -86400LL * 365 * 60, 987654321);

    auto records = ListAll(tree.Root());
    const FindRecord& a = records["a.bin"];
    const FindRecord& b = records["b.bin"];
    EXPECT_EQ(a.linkCount, 2u);
    EXPECT_EQ(a.inode, b.inode);
    EXPECT_EQ(a.device, b.device);
    EXPECT_NE(a.inode, records["sparse.bin"].inode);
    EXPECT_TRUE(a.IsRegularFile());
    EXPECT_FALSE(records["link"].IsRegularFile());
    EXPECT_GE(a.allocatedSize, 8192u);
    // A sparse gigabyte takes (almost) nothing on the disk.
    EXPECT_LT(records["sparse.bin"].allocatedSize, 1u << 20);
    EXPECT_EQ(a.mtimeSeconds, -86400LL * 365 * 60);
    EXPECT_EQ(a.mtimeNanoseconds, 987654321u);
}

TEST(DirectoryListing, KeepsNamesThatAreNotUtf8AndLongNames) {
    TempTree tree;
    std::string badName = "bad\xff\xfename";
    std::string longName(255, 'n');
    tree.MakeFile(badName, 1);
    tree.MakeFile(longName, 2);
    auto records = ListAll(tree.Root());
    ASSERT_TRUE(records.count(badName));
    ASSERT_TRUE(records.count(longName));
    EXPECT_EQ(records[longName].Name().size(), 255u);
}

TEST(DirectoryListing, ListsFoldersBeyondPathMaxThroughParentHandles) {
    TempTree tree;
    // 20 levels of 250-byte names: about 5,000 bytes of path.
    std::string component(250, 'd');
    int handle = ::open(tree.Root().c_str(), O_RDONLY | O_DIRECTORY);
    ASSERT_GE(handle, 0);
    size_t pathLength = tree.Root().size();
    for (int level = 0; level < 20; ++level) {
        ASSERT_EQ(::mkdirat(handle, component.c_str(), 0755), 0);
        int next = ::openat(handle, component.c_str(), O_RDONLY | O_DIRECTORY);
        ::close(handle);
        ASSERT_GE(next, 0);
        handle = next;
        pathLength += 1 + component.size();
    }
    ASSERT_GT(pathLength, 4096u);
    int file = ::openat(handle, "deep.txt", O_WRONLY | O_CREAT, 0644);
    ASSERT_GE(file, 0);
    ASSERT_EQ(::write(file, "xyz", 3), 3);
    ::close(file);
    ::close(handle);

    // Walk down again by handles only, then list the deepest folder.
    DirectoryListing current = DirectoryListing::Open(tree.Root());
    for (int level = 0; level < 20; ++level) {
        DirectoryListing next = DirectoryListing::OpenAt(current.Handle(), component.c_str());
        ASSERT_TRUE(next.IsOpen()) << "level " << level;
        current = std::move(next);
    }
    auto records = ListHandle(current.Handle());
    ASSERT_TRUE(records.count("deep.txt"));
    EXPECT_EQ(records["deep.txt"].FileSize(), 3u);
}

TEST(DirectoryListing, OpenAtNeverFollowsALinkAndReportsTheError) {
    TempTree tree;
    tree.MakeFolder("real");
    tree.MakeSymlink("real", "alias");
    DirectoryListing root = DirectoryListing::Open(tree.Root());
    DirectoryListing alias = DirectoryListing::OpenAt(root.Handle(), "alias");
    EXPECT_FALSE(alias.IsOpen());
    EXPECT_NE(alias.OpenError(), 0);
    EXPECT_EQ(alias.OpenError(), ENOTDIR);  // the link itself is no folder
    DirectoryListing missing = DirectoryListing::Open(tree.Path("nothing-here"));
    EXPECT_FALSE(missing.IsOpen());
    EXPECT_EQ(missing.OpenError(), ENOENT);
    ListedName entry;
    EXPECT_FALSE(missing.NextName(entry));
}

// Names are read first and stat'ed later, maybe on another thread: an entry
// that vanishes in between is kept with its error, never with stale data.
TEST(ListingChunk, KeepsTheErrorOfAnEntryThatVanishedBeforeItsStat) {
    TempTree tree;
    tree.MakeFile("stays.txt", 5);
    tree.MakeFile("goes.txt", 6);
    tree.MakeFolder("sub");
    DirectoryListing folder = DirectoryListing::Open(tree.Root());
    std::vector<char> buffer(DirectoryListing::kBufferSize);
    ListingChunk chunk;
    ListingChunk::ReadOutcome outcome =
        chunk.ReadNames(folder.Handle(), buffer.data(), long(buffer.size()), 100);
    EXPECT_TRUE(outcome.end);
    EXPECT_EQ(outcome.error, 0);
    ASSERT_EQ(chunk.Size(), 3u);  // "." and ".." are left out
    ASSERT_EQ(::unlink(tree.Path("goes.txt").c_str()), 0);
    std::atomic<bool> stop{false};
    ASSERT_TRUE(chunk.StatEntries(folder.Handle(), stop));
    std::map<std::string, PackedEntry> entries;
    for (size_t i = 0; i < chunk.Size(); ++i) {
        entries[std::string(chunk.Name(i))] = chunk.Entry(i);
    }
    EXPECT_EQ(entries["goes.txt"].statError, ENOENT);
    EXPECT_EQ(entries["stays.txt"].statError, 0);
    EXPECT_EQ(entries["stays.txt"].size, 5u);
    ASSERT_EQ(chunk.FolderPositions().size(), 1u);
    EXPECT_EQ(chunk.Name(chunk.FolderPositions()[0]), "sub");

    // A stop request leaves the piece unfinished.
    ListingChunk stopped;
    DirectoryListing again = DirectoryListing::Open(tree.Root());
    stopped.ReadNames(again.Handle(), buffer.data(), long(buffer.size()), 100);
    stop = true;
    EXPECT_FALSE(stopped.StatEntries(again.Handle(), stop));
}

}  // namespace
}  // namespace quarn

#include "platform/DirectoryListing.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <map>
#include <set>
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
std::map<std::string, OwnedFileEntry> ListHandle(int handle) {
    std::map<std::string, OwnedFileEntry> records;
    std::vector<char> buffer(DirectoryListing::kBufferSize);
    std::atomic<bool> stop{false};
    for (bool end = false; !end;) {
        ListingChunk chunk;
        end = chunk.ReadNames(handle, buffer.data(), long(buffer.size()), 100).end;
        EXPECT_TRUE(chunk.StatEntries(handle, stop));
        for (size_t i = 0; i < chunk.Size(); ++i) {
            records[std::string(chunk.Name(i))] = OwnedFileEntry(chunk.Entry(i));
        }
    }
    return records;
}

std::map<std::string, OwnedFileEntry> ListAll(const std::string& path) {
    DirectoryListing listing = DirectoryListing::Open(path);
    EXPECT_TRUE(listing.IsOpen()) << path;
    return ListHandle(listing.Handle());
}

TEST(DirectoryListing, ReportsSizesTimesAndKindsAsTheEntryCarriesThem) {
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

    const OwnedFileEntry& small = records["small.txt"];
    EXPECT_EQ(small.size, 1234u);
    EXPECT_FALSE(small.IsDirectory());
    EXPECT_EQ(FileTimeFromUnix(small.mtimeSeconds, small.mtimeNanoseconds),
              uint64_t(kFileTimeEpochOffsetSeconds - 86400 * 365) * 10000000ULL + 1234567);

    EXPECT_EQ(records["huge.bin"].size, 5368709120ULL);

    // A folder is as the listing said, without a stat: the walk opens it.
    EXPECT_TRUE(records["sub"].IsDirectory());
    struct ::stat sub;
    ASSERT_EQ(::stat(tree.Path("sub").c_str(), &sub), 0);
    EXPECT_EQ(records["sub"].inode, uint64_t(sub.st_ino));
    EXPECT_EQ(records["sub"].linkCount, 0u);  // nothing but the listing's word
    // A link to a folder is an entry of its own, never a folder to walk.
    const OwnedFileEntry& link = records["link-to-sub"];
    EXPECT_FALSE(link.IsDirectory());
    EXPECT_TRUE(link.IsSymlink());
    EXPECT_FALSE(link.IsRegularFile());
    EXPECT_EQ(link.size, 3u);  // the link's own size: the length of "sub"

    EXPECT_TRUE(records[".hidden"].IsRegularFile());
}

TEST(DirectoryListing, AFifoAndASocketAreNeitherFileFolderNorLink) {
    TempTree tree;
    ASSERT_EQ(::mkfifo(tree.Path("fifo").c_str(), 0600), 0);
    int sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(sock, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string socketPath = tree.Path("sock");
    ASSERT_LT(socketPath.size(), sizeof address.sun_path);
    std::memcpy(address.sun_path, socketPath.c_str(), socketPath.size() + 1);
    ASSERT_EQ(::bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ::close(sock);

    auto records = ListAll(tree.Root());
    for (const char* name : {"fifo", "sock"}) {
        ASSERT_TRUE(records.count(name)) << name;
        const OwnedFileEntry& entry = records[name];
        EXPECT_FALSE(entry.IsRegularFile()) << name;
        EXPECT_FALSE(entry.IsDirectory()) << name;
        EXPECT_FALSE(entry.IsSymlink()) << name;
    }
}

TEST(DirectoryListing, KeptEntriesKeepTheirNamesWhenTheChunkIsMovedOrReused) {
    TempTree tree;
    tree.MakeFile("first/a", 1);
    tree.MakeFile("first/a-name-far-too-long-for-any-small-string-buffer", 2);
    tree.MakeFile("second/b", 3);
    tree.MakeFile("second/c", 4);
    DirectoryListing first = DirectoryListing::Open(tree.Path("first"));
    DirectoryListing second = DirectoryListing::Open(tree.Path("second"));
    std::vector<char> buffer(DirectoryListing::kBufferSize);
    std::atomic<bool> stop{false};

    ListingChunk chunk;
    chunk.ReadNames(first.Handle(), buffer.data(), long(buffer.size()), 100);
    ASSERT_TRUE(chunk.StatEntries(first.Handle(), stop));
    std::vector<OwnedFileEntry> kept;
    for (size_t i = 0; i < chunk.Size(); ++i) {
        kept.emplace_back(chunk.Entry(i));
    }
    std::vector<OwnedFileEntry> copies = kept;            // copied ...
    std::vector<OwnedFileEntry> moved = std::move(kept);  // ... and moved
    moved.reserve(moved.capacity() * 4);                  // and moved again

    // A moved chunk's entries still read its names.
    ListingChunk movedChunk = std::move(chunk);
    std::set<std::string> listed;
    for (size_t i = 0; i < movedChunk.Size(); ++i) {
        listed.emplace(movedChunk.Entry(i).name);
    }
    const std::set<std::string> firstNames{"a", "a-name-far-too-long-for-any-small-string-buffer"};
    EXPECT_EQ(listed, firstNames);

    // The chunk reused for another folder.
    movedChunk.Clear();
    movedChunk.ReadNames(second.Handle(), buffer.data(), long(buffer.size()), 100);
    ASSERT_TRUE(movedChunk.StatEntries(second.Handle(), stop));
    ASSERT_EQ(movedChunk.Size(), 2u);

    std::set<std::string> keptNames;
    std::set<std::string> copiedNames;
    for (size_t i = 0; i < moved.size(); ++i) {
        keptNames.emplace(moved[i].name);
        copiedNames.emplace(FileEntry(copies[i]).name);
        EXPECT_EQ(FileEntry(moved[i]).name, moved[i].name);
        EXPECT_EQ(moved[i].size, moved[i].name == "a" ? 1u : 2u);
    }
    EXPECT_EQ(keptNames, firstNames);
    EXPECT_EQ(copiedNames, firstNames);
}

TEST(DirectoryListing, CarriesTheWholeStatusSoNobodyStatsAgain) {
    TempTree tree;
    tree.MakeFile("a.bin", 10000);
    ASSERT_EQ(::link(tree.Path("a.bin").c_str(), tree.Path("b.bin").c_str()), 0);
    tree.MakeSparseFile("sparse.bin", 1ULL << 30);
    tree.MakeSymlink("a.bin", "link");
    tree.SetModified("a.bin", -86400LL * 365 * 60, 987654321);

    auto records = ListAll(tree.Root());
    const OwnedFileEntry& a = records["a.bin"];
    const OwnedFileEntry& b = records["b.bin"];
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
    EXPECT_EQ(records[longName].name.size(), 255u);
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
    EXPECT_EQ(records["deep.txt"].size, 3u);
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
    std::map<std::string, size_t> positions;
    for (size_t i = 0; i < chunk.Size(); ++i) {
        positions[std::string(chunk.Name(i))] = i;
    }
    EXPECT_EQ(chunk.StatError(positions["goes.txt"]), ENOENT);
    EXPECT_EQ(chunk.StatError(positions["stays.txt"]), 0);
    EXPECT_EQ(chunk.Entry(positions["stays.txt"]).size, 5u);
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

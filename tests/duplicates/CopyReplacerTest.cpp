// Replacing a copy by a hard link or a clone: only bytes proven equal, of
// files still as the scan saw them, are replaced, and whatever stops a
// replacement leaves the copy and its folder exactly as they were.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/fiemap.h>
#include <linux/fs.h>
#include <linux/magic.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "duplicates/CopyReplacer.h"
#include "tests/support/TempTree.h"
#include "tests/support/TestFiles.h"

namespace quarn {
namespace {

using Kind = ReplaceOutcome::Kind;

// More than one comparison block, so that a difference near the end is only
// seen by reading everything.
constexpr size_t kBigSize = (size_t(3) << 20) + 17;

std::string Bytes(size_t size, unsigned seed = 7) {
    std::mt19937 generator(seed);
    std::string bytes(size, '\0');
    for (char& c : bytes) {
        c = char(generator());
    }
    return bytes;
}

struct ::stat StatusOf(const std::string& path) {
    struct ::stat status {};
    EXPECT_EQ(::lstat(path.c_str(), &status), 0) << path;
    return status;
}

// What a scan would have seen of the file now.
ExpectedFile Seen(const std::string& path) {
    struct ::stat status = StatusOf(path);
    return {uint64_t(status.st_dev), uint64_t(status.st_ino), uint64_t(status.st_size),
            ExactTime{int64_t(status.st_mtim.tv_sec), uint32_t(status.st_mtim.tv_nsec / 100)}};
}

// Every name of a folder with its inode, links, mode, time and bytes: what a
// replacement that did not happen must leave the same.
std::vector<std::string> Listing(const std::string& folder) {
    std::vector<std::string> lines;
    for (const std::string& name : test::SortedEntryNames(folder)) {
        std::string path = folder + "/" + name;
        struct ::stat status = StatusOf(path);
        lines.push_back(name + " " + std::to_string(status.st_ino) + " " +
                        std::to_string(status.st_nlink) + " " + std::to_string(status.st_mode) +
                        " " + std::to_string(status.st_mtim.tv_sec) + "." +
                        std::to_string(status.st_mtim.tv_nsec) + " " +
                        std::to_string(std::hash<std::string>{}(test::ReadText(path))));
    }
    return lines;
}

ReplaceOutcome Replace(ReplaceMethod method, const std::string& kept, const std::string& copy,
                       bool dryRun = false, const std::function<bool()>& cancelled = {},
                       const ReplaceHooks& hooks = {}) {
    return ReplaceCopy(method, kept, Seen(kept), copy, Seen(copy), dryRun, cancelled, hooks);
}

// True when every extent of the file is shared; nullopt when it cannot be told.
std::optional<bool> AllExtentsShared(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    constexpr unsigned kExtents = 64;
    std::vector<uint64_t> storage((sizeof(fiemap) + kExtents * sizeof(fiemap_extent)) / 8 + 1);
    auto* map = reinterpret_cast<fiemap*>(storage.data());
    map->fm_length = FIEMAP_MAX_OFFSET;
    map->fm_flags = FIEMAP_FLAG_SYNC;
    map->fm_extent_count = kExtents;
    bool known = fd >= 0 && ::ioctl(fd, FS_IOC_FIEMAP, map) == 0 && map->fm_mapped_extents > 0;
    if (fd >= 0) {
        ::close(fd);
    }
    if (!known) {
        return std::nullopt;
    }
    for (unsigned i = 0; i < map->fm_mapped_extents; ++i) {
        if (!(map->fm_extents[i].fe_flags & FIEMAP_EXTENT_SHARED)) {
            return false;
        }
    }
    return true;
}

// A file system made in a sparse image and mounted through a loop device,
// unmounted and removed however the test ends.
class LoopFileSystem {
  public:
    LoopFileSystem(const std::string& mkfs, uint64_t imageBytes) {
        const std::string image = m_tree.Path("image");
        m_tree.MakeSparseFile("image", imageBytes);
        m_tree.MakeFolder("mnt");
        if (std::system((mkfs + " '" + image + "' >/dev/null 2>&1").c_str()) != 0) {
            m_why = "cannot run " + mkfs;
        } else if (std::system(("mount -o loop '" + image + "' '" + m_tree.Path("mnt") +
                                "' >/dev/null 2>&1")
                                   .c_str()) != 0) {
            m_why = "cannot mount a loop device here";
        } else {
            m_mounted = true;
        }
    }
    ~LoopFileSystem() {
        if (m_mounted && ::umount2(m_tree.Path("mnt").c_str(), 0) != 0) {
            ::umount2(m_tree.Path("mnt").c_str(), MNT_DETACH);
        }
    }
    LoopFileSystem(const LoopFileSystem&) = delete;
    LoopFileSystem& operator=(const LoopFileSystem&) = delete;

    bool Mounted() const { return m_mounted; }
    const std::string& Why() const { return m_why; }
    std::string Path(const std::string& relative) const { return m_tree.Path("mnt/" + relative); }
    bool MakeReadOnly() const {
        return ::mount(nullptr, m_tree.Path("mnt").c_str(), nullptr, MS_REMOUNT | MS_RDONLY,
                       nullptr) == 0;
    }

  private:
    test::TempTree m_tree;
    bool m_mounted = false;
    std::string m_why;
};

class CopyReplacerTest : public ::testing::Test {
  protected:
    void Write(const std::string& relative, const std::string& bytes, int64_t time = 1600000000) {
        test::WriteText(tree.Path(relative), bytes);
        tree.SetModified(relative, time);
    }
    std::string Read(const std::string& relative) const {
        return test::ReadText(tree.Path(relative));
    }
    ino_t InodeOf(const std::string& relative) const {
        return StatusOf(tree.Path(relative)).st_ino;
    }

    test::TempTree tree;
};

TEST_F(CopyReplacerTest, AHardLinkReplacesTheCopyAndFreesItsBlocks) {
    const std::string bytes = Bytes(kBigSize);
    Write("keep/a.bin", bytes);
    Write("copies/b.bin", bytes, 1700000000);
    const uint64_t blocks = uint64_t(StatusOf(tree.Path("copies/b.bin")).st_blocks) * 512;

    ReplaceOutcome outcome =
        Replace(ReplaceMethod::HardLink, tree.Path("keep/a.bin"), tree.Path("copies/b.bin"));
    EXPECT_EQ(outcome.kind, Kind::Replaced) << outcome.reason;
    EXPECT_EQ(outcome.reason, "");
    EXPECT_EQ(outcome.bytesFreed, blocks);
    EXPECT_EQ(InodeOf("copies/b.bin"), InodeOf("keep/a.bin"));
    EXPECT_EQ(StatusOf(tree.Path("keep/a.bin")).st_nlink, 2u);
    EXPECT_EQ(Read("copies/b.bin"), bytes);
    EXPECT_EQ(test::SortedEntryNames(tree.Path("copies")), std::vector<std::string>{"b.bin"});

    // A copy with another link of its own frees nothing: its data stays.
    Write("copies/c.bin", bytes);
    ASSERT_EQ(::link(tree.Path("copies/c.bin").c_str(), tree.Path("other.bin").c_str()), 0);
    outcome = Replace(ReplaceMethod::HardLink, tree.Path("keep/a.bin"), tree.Path("copies/c.bin"));
    EXPECT_EQ(outcome.kind, Kind::Replaced) << outcome.reason;
    EXPECT_EQ(outcome.bytesFreed, 0u);
    EXPECT_EQ(InodeOf("copies/c.bin"), InodeOf("keep/a.bin"));
    EXPECT_EQ(Read("other.bin"), bytes);
}

// Equal sizes, a difference in the last byte: neither method touches either
// file, and no hard link is left behind.
TEST_F(CopyReplacerTest, DifferentBytesOfEqualSizeAreLeftAlone) {
    std::string other = Bytes(kBigSize);
    other.back() ^= 1;
    Write("keep/a.bin", Bytes(kBigSize));
    Write("copies/b.bin", other);
    const std::vector<std::string> keep = Listing(tree.Path("keep"));
    const std::vector<std::string> copies = Listing(tree.Path("copies"));
    for (bool dryRun : {true, false}) {
        ReplaceOutcome outcome = Replace(ReplaceMethod::HardLink, tree.Path("keep/a.bin"),
                                         tree.Path("copies/b.bin"), dryRun);
        EXPECT_EQ(outcome.kind, Kind::Skipped);
        EXPECT_EQ(outcome.reason, "contents differ");
        EXPECT_EQ(outcome.bytesFreed, 0u);
        EXPECT_EQ(Listing(tree.Path("keep")), keep);
        EXPECT_EQ(Listing(tree.Path("copies")), copies);
    }
}

TEST_F(CopyReplacerTest, FilesNoLongerAsTheScanSawThemAreSkippedAndLeftWhole) {
    const std::string bytes = Bytes(kBigSize);
    const std::string changed = Bytes(kBigSize, 8);
    Write("a.bin", bytes);
    Write("b.bin", bytes);

    // Rewritten after the scan: same size, another time.
    ExpectedFile copy = Seen(tree.Path("b.bin"));
    Write("b.bin", changed, 1700000000);
    ReplaceOutcome outcome =
        ReplaceCopy(ReplaceMethod::HardLink, tree.Path("a.bin"), Seen(tree.Path("a.bin")),
                    tree.Path("b.bin"), copy, false, {});
    EXPECT_EQ(outcome.kind, Kind::Skipped);
    EXPECT_EQ(outcome.reason, "was modified since the scan");
    EXPECT_EQ(Read("b.bin"), changed);

    // Rewritten while it is replaced, after the bytes were compared.
    Write("b.bin", bytes);
    const auto rewrite = [&] {
        Write("b.bin", changed, 1700000000);
        return true;
    };
    outcome = Replace(ReplaceMethod::HardLink, tree.Path("a.bin"), tree.Path("b.bin"), false, {},
                      ReplaceHooks{rewrite});
    EXPECT_EQ(outcome.kind, Kind::Skipped);
    EXPECT_EQ(outcome.reason, "was modified since the scan");
    EXPECT_EQ(Read("b.bin"), changed);
    EXPECT_NE(InodeOf("b.bin"), InodeOf("a.bin"));

    // The kept file changed, the copy went, a link took the copy's place.
    Write("b.bin", bytes);
    ExpectedFile kept = Seen(tree.Path("a.bin"));
    tree.SetModified("a.bin", 1700000000);
    outcome = ReplaceCopy(ReplaceMethod::Clone, tree.Path("a.bin"), kept, tree.Path("b.bin"),
                          Seen(tree.Path("b.bin")), false, {});
    EXPECT_EQ(outcome.reason, "the kept file was modified since the scan");
    copy = Seen(tree.Path("b.bin"));
    ASSERT_EQ(::unlink(tree.Path("b.bin").c_str()), 0);
    outcome = ReplaceCopy(ReplaceMethod::HardLink, tree.Path("a.bin"), Seen(tree.Path("a.bin")),
                          tree.Path("b.bin"), copy, false, {});
    EXPECT_EQ(outcome.reason, "no longer exists");
    tree.MakeSymlink("a.bin", "b.bin");
    outcome = ReplaceCopy(ReplaceMethod::HardLink, tree.Path("a.bin"), Seen(tree.Path("a.bin")),
                          tree.Path("b.bin"), copy, false, {});
    EXPECT_EQ(outcome.kind, Kind::Skipped);
    EXPECT_EQ(outcome.reason, "is a link now");
    EXPECT_EQ(test::SortedEntryNames(tree.Root()), (std::vector<std::string>{"a.bin", "b.bin"}));
}

TEST_F(CopyReplacerTest, PairsThatCannotShareAreSkipped) {
    Write("a.bin", "same bytes");
    Write("small.bin", "same");
    Write("empty1", "");
    Write("empty2", "");
    ASSERT_EQ(::link(tree.Path("a.bin").c_str(), tree.Path("link.bin").c_str()), 0);
    const std::vector<std::string> before = Listing(tree.Root());
    for (ReplaceMethod method : {ReplaceMethod::HardLink, ReplaceMethod::Clone}) {
        EXPECT_EQ(Replace(method, tree.Path("a.bin"), tree.Path("link.bin")).reason,
                  "already a hard link of the kept file");
        EXPECT_EQ(Replace(method, tree.Path("a.bin"), tree.Path("small.bin")).reason,
                  "sizes differ");
        EXPECT_EQ(Replace(method, tree.Path("empty1"), tree.Path("empty2")).reason, "is empty");
    }
    EXPECT_EQ(Listing(tree.Root()), before);

    std::unique_ptr<test::TempTree> elsewhere = test::TempTreeOnAnotherFileSystem(tree.Root());
    if (elsewhere) {
        test::WriteText(elsewhere->Path("b.bin"), "same bytes");
        for (ReplaceMethod method : {ReplaceMethod::HardLink, ReplaceMethod::Clone}) {
            ReplaceOutcome outcome = Replace(method, tree.Path("a.bin"), elsewhere->Path("b.bin"));
            EXPECT_EQ(outcome.kind, Kind::Skipped);
            EXPECT_EQ(outcome.reason, "on another device");
        }
    }
}

// Stopped at the last moment, by an interruption or by the user, at every
// point it is asked: the folder holds what it held, and no temporary link.
TEST_F(CopyReplacerTest, StoppingLeavesTheCopyAndNoTemporaryFile) {
    const std::string bytes = Bytes(kBigSize);
    Write("keep/a.bin", bytes);
    Write("copies/b.bin", bytes, 1700000000);
    const std::vector<std::string> before = Listing(tree.Path("copies"));
    const std::vector<std::string> kept = Listing(tree.Path("keep"));

    ReplaceOutcome outcome =
        Replace(ReplaceMethod::HardLink, tree.Path("keep/a.bin"), tree.Path("copies/b.bin"), false,
                {}, ReplaceHooks{[] { return false; }});
    EXPECT_EQ(outcome.kind, Kind::Skipped);
    EXPECT_EQ(outcome.reason, "interrupted");
    EXPECT_EQ(Listing(tree.Path("copies")), before);

    for (int askedBeforeStop = 0; askedBeforeStop < 6; ++askedBeforeStop) {
        int asked = 0;
        outcome =
            Replace(ReplaceMethod::HardLink, tree.Path("keep/a.bin"), tree.Path("copies/b.bin"),
                    false, [&] { return asked++ >= askedBeforeStop; });
        if (outcome.kind == Kind::Replaced) {
            break;  // asked fewer times than that
        }
        EXPECT_EQ(outcome.reason, "cancelled");
        EXPECT_EQ(Listing(tree.Path("copies")), before) << askedBeforeStop;
        EXPECT_EQ(Listing(tree.Path("keep")), kept);
    }
}

TEST_F(CopyReplacerTest, ADryRunChangesNothing) {
    const std::string bytes = Bytes(kBigSize);
    Write("keep/a.bin", bytes);
    Write("copies/b.bin", bytes, 1700000000);
    const std::vector<std::string> before = Listing(tree.Path("copies"));
    const std::vector<std::string> kept = Listing(tree.Path("keep"));

    ReplaceOutcome outcome = Replace(ReplaceMethod::HardLink, tree.Path("keep/a.bin"),
                                     tree.Path("copies/b.bin"), /*dryRun=*/true);
    EXPECT_EQ(outcome.kind, Kind::Replaced) << outcome.reason;
    EXPECT_EQ(outcome.bytesFreed, uint64_t(StatusOf(tree.Path("copies/b.bin")).st_blocks) * 512);
    Replace(ReplaceMethod::Clone, tree.Path("keep/a.bin"), tree.Path("copies/b.bin"), true);
    EXPECT_EQ(Listing(tree.Path("copies")), before);
    EXPECT_EQ(Listing(tree.Path("keep")), kept);
}

TEST(CopyReplacerClone, OnTmpfsItIsSkippedWithItsReason) {
    struct ::statfs shm {};
    if (::statfs("/dev/shm", &shm) != 0 || shm.f_type != TMPFS_MAGIC ||
        ::access("/dev/shm", W_OK) != 0) {
        GTEST_SKIP() << "no writable tmpfs at /dev/shm";
    }
    test::ScopedEnv where{"QUARN_TEST_TMP", "/dev/shm"};
    test::TempTree tree;
    test::WriteText(tree.Path("a.bin"), "same bytes");
    test::WriteText(tree.Path("b.bin"), "same bytes");
    const std::vector<std::string> before = Listing(tree.Root());
    for (bool dryRun : {true, false}) {
        ReplaceOutcome outcome =
            Replace(ReplaceMethod::Clone, tree.Path("a.bin"), tree.Path("b.bin"), dryRun);
        EXPECT_EQ(outcome.kind, Kind::Skipped);
        EXPECT_EQ(outcome.reason, "the file system cannot clone");
    }
    EXPECT_EQ(Listing(tree.Root()), before);
}

// On a file system that shares extents: the copy keeps its inode, mode and
// time, reads the same, and its extents become shared; different bytes stay
// unshared.
void ExpectClonesOn(const LoopFileSystem& fs) {
    // More than one request's worth, ending inside a block.
    const std::string bytes = Bytes((size_t(20) << 20) + 123);
    test::WriteText(fs.Path("a.bin"), bytes);
    test::WriteText(fs.Path("b.bin"), bytes);
    ASSERT_EQ(::chmod(fs.Path("b.bin").c_str(), 0600), 0);
    ::sync();
    const struct ::stat before = StatusOf(fs.Path("b.bin"));
    const std::vector<std::string> listing = Listing(fs.Path(""));

    ReplaceOutcome outcome =
        Replace(ReplaceMethod::Clone, fs.Path("a.bin"), fs.Path("b.bin"), /*dryRun=*/true);
    EXPECT_EQ(outcome.kind, Kind::Replaced) << outcome.reason;
    EXPECT_EQ(Listing(fs.Path("")), listing);
    EXPECT_NE(AllExtentsShared(fs.Path("b.bin")), std::optional<bool>(true));

    outcome = Replace(ReplaceMethod::Clone, fs.Path("a.bin"), fs.Path("b.bin"), false,
                      [] { return true; });
    EXPECT_EQ(outcome.reason, "cancelled");
    EXPECT_EQ(Listing(fs.Path("")), listing);

    outcome = Replace(ReplaceMethod::Clone, fs.Path("a.bin"), fs.Path("b.bin"));
    EXPECT_EQ(outcome.kind, Kind::Replaced) << outcome.reason;
    EXPECT_EQ(outcome.bytesFreed, uint64_t(before.st_blocks) * 512);
    EXPECT_EQ(Listing(fs.Path("")), listing);  // inode, mode, time and bytes
    EXPECT_EQ(test::ReadText(fs.Path("b.bin")), bytes);
    std::optional<bool> shared = AllExtentsShared(fs.Path("b.bin"));
    if (shared) {
        EXPECT_TRUE(*shared);
    }

    std::string other = bytes;
    other[other.size() / 2] ^= 1;
    test::WriteText(fs.Path("c.bin"), other);
    outcome = Replace(ReplaceMethod::Clone, fs.Path("a.bin"), fs.Path("c.bin"));
    EXPECT_EQ(outcome.kind, Kind::Skipped);
    EXPECT_EQ(outcome.reason, "contents differ");
    EXPECT_EQ(test::ReadText(fs.Path("c.bin")), other);
}

TEST(CopyReplacerClone, WorksOnBtrfs) {
    LoopFileSystem fs("mkfs.btrfs -q", uint64_t(200) << 20);
    if (!fs.Mounted()) {
        GTEST_SKIP() << fs.Why();
    }
    ExpectClonesOn(fs);
}

TEST(CopyReplacerClone, WorksOnXfsWithReflink) {
    // Smaller XFS file systems are refused.
    LoopFileSystem fs("mkfs.xfs -q -m reflink=1", uint64_t(320) << 20);
    if (!fs.Mounted()) {
        GTEST_SKIP() << fs.Why();
    }
    ExpectClonesOn(fs);
}

// Refused by the file system: failed with the system's reason, nothing left.
TEST(CopyReplacerClone, AReadOnlyFileSystemFailsBothMethods) {
    LoopFileSystem fs("mkfs.btrfs -q", uint64_t(200) << 20);
    if (!fs.Mounted()) {
        GTEST_SKIP() << fs.Why();
    }
    test::WriteText(fs.Path("a.bin"), "same bytes");
    test::WriteText(fs.Path("b.bin"), "same bytes");
    ASSERT_TRUE(fs.MakeReadOnly());
    const std::vector<std::string> before = Listing(fs.Path(""));
    for (ReplaceMethod method : {ReplaceMethod::HardLink, ReplaceMethod::Clone}) {
        for (bool dryRun : {true, false}) {
            ReplaceOutcome outcome = Replace(method, fs.Path("a.bin"), fs.Path("b.bin"), dryRun);
            EXPECT_EQ(outcome.kind, Kind::Failed);
            EXPECT_EQ(outcome.reason, std::strerror(EROFS));
        }
    }
    EXPECT_EQ(Listing(fs.Path("")), before);
}

}  // namespace
}  // namespace quarn

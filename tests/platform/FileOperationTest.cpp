#include "platform/FileOperation.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fcntl.h>

#include <atomic>
#include <filesystem>
#include <memory>
#include <random>

#include "platform/FolderWalker.h"
#include "tests/platform/BigTrees.h"
#include "tests/support/TempTree.h"
#include "tests/support/TestFiles.h"

namespace quarn {
namespace {

namespace fs = std::filesystem;
using test::PathExists;
using test::ReadText;
using test::ScopedEnv;
using test::TempTree;
using test::WriteText;

struct stat LStat(const std::string& path) {
    struct stat st {};
    ::lstat(path.c_str(), &st);
    return st;
}

// Every entry below a folder, as relative paths, for "nothing left over" checks.
std::vector<std::string> Listing(const std::string& folder) {
    std::vector<std::string> names;
    if (!PathExists(folder)) {
        return names;
    }
    for (auto& entry : fs::recursive_directory_iterator(folder)) {
        names.push_back(fs::relative(entry.path(), folder).string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

FileOperationResult Copy(const std::string& source, const std::string& dest,
                         const FileOperationCallbacks& callbacks = {}) {
    return FileOperation::Run(FileOperation::Kind::Copy, source, dest, callbacks);
}
FileOperationResult Move(const std::string& source, const std::string& dest,
                         const FileOperationCallbacks& callbacks = {}) {
    return FileOperation::Run(FileOperation::Kind::Move, source, dest, callbacks);
}

// A small tree with what a copy must keep: content, modes, times, links.
void MakeSample(const TempTree& tree, const std::string& root) {
    tree.MakeFile(root + "/a.txt", 1000);
    tree.MakeFile(root + "/sub/deep/b.bin", 3 << 20);  // several copy blocks
    ::chmod(tree.Path(root + "/a.txt").c_str(), 0640);
    ::chmod(tree.Path(root + "/sub").c_str(), 0750);
    tree.MakeSymlink("a.txt", root + "/rel-link");
    tree.MakeSymlink("/no/such/target", root + "/dangling");
    tree.MakeSymlink("sub", root + "/dir-link");
    tree.SetModified(root + "/a.txt", 1000000000, 500);
    tree.SetModified(root + "/sub", 1100000000);
}

void ExpectSample(const TempTree& tree, const std::string& root) {
    std::string base = tree.Path(root);
    EXPECT_EQ(fs::file_size(base + "/a.txt"), 1000u);
    EXPECT_EQ(fs::file_size(base + "/sub/deep/b.bin"), 3u << 20);
    EXPECT_EQ(LStat(base + "/a.txt").st_mode & 07777, 0640u);
    EXPECT_EQ(LStat(base + "/sub").st_mode & 07777, 0750u);
    EXPECT_EQ(LStat(base + "/a.txt").st_mtim.tv_sec, 1000000000);
    EXPECT_EQ(LStat(base + "/a.txt").st_mtim.tv_nsec, 500);
    EXPECT_EQ(LStat(base + "/sub").st_mtim.tv_sec, 1100000000);
    for (const char* link : {"/rel-link", "/dangling", "/dir-link"}) {
        EXPECT_TRUE(fs::is_symlink(base + link)) << link << " was followed";
    }
    EXPECT_EQ(fs::read_symlink(base + "/rel-link"), "a.txt");
    EXPECT_EQ(fs::read_symlink(base + "/dangling"), "/no/such/target");
    EXPECT_EQ(fs::read_symlink(base + "/dir-link"), "sub");
}

TEST(FileOperationTest, CopyAndMoveIntoKeepLinksModesAndTimes) {
    TempTree tree;
    MakeSample(tree, "src/project");
    tree.MakeFolder("dest");

    std::vector<FileOperationProgress> reports;
    FileOperationCallbacks callbacks;
    callbacks.progress = [&](const FileOperationProgress& p) { reports.push_back(p); };
    FileOperationResult copy = Copy(tree.Path("src/project"), tree.Path("dest"), callbacks);
    ASSERT_TRUE(copy.Completed()) << copy.error;
    EXPECT_EQ(copy.target, tree.Path("dest/project"));
    ExpectSample(tree, "dest/project");
    ExpectSample(tree, "src/project");  // the source is untouched
    EXPECT_EQ(Listing(tree.Path("dest/project")), Listing(tree.Path("src/project")));
    ASSERT_FALSE(reports.empty());
    EXPECT_EQ(reports.back().bytesTotal, 1000u + (3u << 20));
    EXPECT_EQ(reports.back().filesTotal, 8u);  // project, a, sub, deep, b, 3 links
    EXPECT_EQ(reports.back().bytesDone, reports.back().bytesTotal);

    // A sparse file stays sparse.
    tree.MakeSparseFile("src/disk.img", 64u << 20);
    ASSERT_TRUE(Copy(tree.Path("src/disk.img"), tree.Path("dest")).Completed());
    EXPECT_EQ(fs::file_size(tree.Path("dest/disk.img")), 64u << 20);
    EXPECT_LT(uint64_t(LStat(tree.Path("dest/disk.img")).st_blocks) * 512, 1u << 20);

    // A single file and a link on their own.
    ASSERT_TRUE(Copy(tree.Path("src/project/a.txt"), tree.Path("dest")).Completed());
    EXPECT_EQ(fs::file_size(tree.Path("dest/a.txt")), 1000u);
    ASSERT_TRUE(Copy(tree.Path("src/project/dir-link"), tree.Path("dest")).Completed());
    EXPECT_TRUE(fs::is_symlink(tree.Path("dest/dir-link")));

    // A move within the filesystem is a rename: the same inode arrives.
    tree.MakeFolder("moved");
    ino_t inode = LStat(tree.Path("src/project/sub/deep/b.bin")).st_ino;
    FileOperationResult move = Move(tree.Path("src/project"), tree.Path("moved"));
    ASSERT_TRUE(move.Completed()) << move.error;
    EXPECT_FALSE(PathExists(tree.Path("src/project")));
    ExpectSample(tree, "moved/project");
    EXPECT_EQ(LStat(tree.Path("moved/project/sub/deep/b.bin")).st_ino, inode);
}

TEST(FileOperationTest, RefusesIntoItselfAndMissingPaths) {
    TempTree tree;
    tree.MakeFile("top/inner/f.txt", 5);
    tree.MakeSymlink(tree.Path("top/inner"), "alias");
    for (auto kind : {FileOperation::Kind::Copy, FileOperation::Kind::Move}) {
        for (const char* dest : {"top", "top/inner", "alias"}) {
            FileOperationResult r = FileOperation::Run(kind, tree.Path("top"), tree.Path(dest), {});
            EXPECT_EQ(r.status, FileOperationStatus::Failed) << dest;
            EXPECT_FALSE(r.error.empty());
        }
        // Into the folder it already is in.
        EXPECT_EQ(FileOperation::Run(kind, tree.Path("top/inner"), tree.Path("top"), {}).status,
                  FileOperationStatus::Failed);
        EXPECT_EQ(FileOperation::Run(kind, tree.Path("none"), tree.Path("top"), {}).status,
                  FileOperationStatus::Failed);
        EXPECT_EQ(FileOperation::Run(kind, tree.Path("top"), tree.Path("none"), {}).status,
                  FileOperationStatus::Failed);
        EXPECT_EQ(
            FileOperation::Run(kind, tree.Path("top"), tree.Path("top/inner/f.txt"), {}).status,
            FileOperationStatus::Failed);
    }
    EXPECT_EQ(Listing(tree.Path("top")), (std::vector<std::string>{"inner", "inner/f.txt"}));
    // A folder whose name merely begins like the source is not inside it.
    tree.MakeFolder("top-other");
    EXPECT_TRUE(Copy(tree.Path("top"), tree.Path("top-other")).Completed());
}

TEST(FileOperationTest, ConflictsAreAskedAndAnswered) {
    TempTree tree;
    WriteText(tree.Path("src/f/one.txt"), "new one");
    WriteText(tree.Path("src/f/two.txt"), "new two");
    WriteText(tree.Path("src/f/sub/three.txt"), "new three");
    WriteText(tree.Path("src/f/fresh.txt"), "fresh");
    auto resetDest = [&] {
        fs::remove_all(tree.Path("dst"));
        WriteText(tree.Path("dst/f/one.txt"), "old one");
        WriteText(tree.Path("dst/f/two.txt"), "old two");
        WriteText(tree.Path("dst/f/sub/three.txt"), "old three");
    };
    auto run = [&](std::vector<ConflictAnswer> answers, std::vector<std::string>* asked = nullptr) {
        resetDest();
        size_t next = 0;
        FileOperationCallbacks callbacks;
        callbacks.askConflict = [&](const std::string& target, const std::string& source) {
            EXPECT_EQ(ReadText(target).substr(0, 4), "old ");
            EXPECT_EQ(ReadText(source).substr(0, 4), "new ");
            if (asked != nullptr) {
                asked->push_back(fs::path(target).filename());
            }
            return next < answers.size() ? answers[next++] : ConflictAnswer::Cancel;
        };
        return Copy(tree.Path("src/f"), tree.Path("dst"), callbacks);
    };
    auto texts = [&] {
        return ReadText(tree.Path("dst/f/one.txt")) + "|" + ReadText(tree.Path("dst/f/two.txt")) +
               "|" + ReadText(tree.Path("dst/f/sub/three.txt"));
    };

    // The existing folder is merged into; each file is asked about once.
    std::vector<std::string> asked;
    FileOperationResult mixed =
        run({ConflictAnswer::Overwrite, ConflictAnswer::Skip, ConflictAnswer::Overwrite}, &asked);
    ASSERT_TRUE(mixed.Completed()) << mixed.error;
    EXPECT_EQ(asked.size(), 3u);
    EXPECT_EQ(mixed.skipped.size(), 1u);
    auto occurrences = [](const std::string& text, const std::string& word) {
        size_t n = 0;
        for (size_t at = text.find(word); at != std::string::npos; at = text.find(word, at + 1)) {
            ++n;
        }
        return n;
    };
    EXPECT_EQ(occurrences(texts(), "new "), 2u) << texts();  // listing order decides which
    EXPECT_EQ(occurrences(texts(), "old "), 1u) << texts();
    EXPECT_EQ(ReadText(tree.Path("dst/f/fresh.txt")), "fresh");

    asked.clear();
    ASSERT_TRUE(run({ConflictAnswer::OverwriteAll}, &asked).Completed());
    EXPECT_EQ(asked.size(), 1u);
    EXPECT_EQ(texts(), "new one|new two|new three");

    asked.clear();
    FileOperationResult skipAll = run({ConflictAnswer::SkipAll}, &asked);
    ASSERT_TRUE(skipAll.Completed());
    EXPECT_EQ(asked.size(), 1u);
    EXPECT_EQ(skipAll.skipped.size(), 3u);
    EXPECT_EQ(texts(), "old one|old two|old three");

    FileOperationResult cancelled = run({ConflictAnswer::Cancel});
    EXPECT_EQ(cancelled.status, FileOperationStatus::Cancelled);
    EXPECT_EQ(texts(), "old one|old two|old three");

    // Without anyone to ask, nothing is overwritten.
    resetDest();
    ASSERT_TRUE(Copy(tree.Path("src/f"), tree.Path("dst")).Completed());
    EXPECT_EQ(texts(), "old one|old two|old three");

    // A move within the filesystem merges too; the skipped file stays behind.
    resetDest();
    FileOperationCallbacks callbacks;
    int questions = 0;
    callbacks.askConflict = [&](const std::string& target, const std::string&) {
        ++questions;
        return fs::path(target).filename() == "two.txt" ? ConflictAnswer::Skip
                                                        : ConflictAnswer::Overwrite;
    };
    FileOperationResult move = Move(tree.Path("src/f"), tree.Path("dst"), callbacks);
    ASSERT_TRUE(move.Completed()) << move.error;
    EXPECT_EQ(questions, 3);
    EXPECT_EQ(texts(), "new one|old two|new three");
    EXPECT_EQ(Listing(tree.Path("src/f")), std::vector<std::string>{"two.txt"});

    // No leftovers of unfinished copies anywhere.
    for (const std::string& name : Listing(tree.Root())) {
        EXPECT_EQ(name.find(".part"), std::string::npos) << name;
    }
}

TEST(FileOperationTest, CancelledCopyLeavesNoPartialFile) {
    TempTree tree;
    tree.MakeFile("src/big/a.bin", 8 << 20);
    tree.MakeFile("src/big/b.bin", 8 << 20);
    tree.MakeFolder("dst");
    std::atomic<bool> cancel{false};
    FileOperationCallbacks callbacks;
    callbacks.cancel = &cancel;
    callbacks.progress = [&](const FileOperationProgress& p) {
        if (p.bytesDone >= (2u << 20)) {
            cancel = true;  // in the middle of the first file
        }
    };
    FileOperationResult result = Copy(tree.Path("src/big"), tree.Path("dst"), callbacks);
    EXPECT_EQ(result.status, FileOperationStatus::Cancelled);
    for (const std::string& name : Listing(tree.Path("dst"))) {
        EXPECT_EQ(name.find(".part"), std::string::npos) << name;
        if (fs::is_regular_file(tree.Path("dst/" + name))) {
            EXPECT_EQ(fs::file_size(tree.Path("dst/" + name)), 8u << 20) << "half a file: " << name;
        }
    }
    EXPECT_EQ(fs::file_size(tree.Path("src/big/a.bin")), 8u << 20);
}

// Moves to another filesystem (/dev/shm when it is one) copy, then delete.
class CrossDeviceMoveTest : public ::testing::Test {
  protected:
    void SetUp() override {
        other = test::TempTreeOnAnotherFileSystem(tree.Root());
        if (!other) {
            GTEST_SKIP() << "no second writable filesystem";
        }
    }
    TempTree tree;
    std::unique_ptr<TempTree> other;
};

TEST_F(CrossDeviceMoveTest, MoveCompletesOrLeavesTheSourceIntact) {
    MakeSample(tree, "src/project");
    std::vector<std::string> before = Listing(tree.Path("src/project"));

    // Cancelled half-way: the source is whole and the partial copy is gone.
    std::atomic<bool> cancel{false};
    FileOperationCallbacks callbacks;
    callbacks.cancel = &cancel;
    callbacks.progress = [&](const FileOperationProgress& p) {
        if (p.filesDone >= 3) {
            cancel = true;
        }
    };
    FileOperationResult cancelled = Move(tree.Path("src/project"), other->Root(), callbacks);
    EXPECT_EQ(cancelled.status, FileOperationStatus::Cancelled);
    EXPECT_EQ(Listing(tree.Path("src/project")), before);
    ExpectSample(tree, "src/project");
    EXPECT_TRUE(Listing(other->Root()).empty());

    // A failure half-way (an unwritable folder in the way) likewise.
    if (!test::RunningAsRoot()) {
        other->MakeFolder("project/sub");
        ::chmod(other->Path("project/sub").c_str(), 0500);
        FileOperationResult failed = Move(tree.Path("src/project"), other->Root());
        EXPECT_EQ(failed.status, FileOperationStatus::Failed);
        EXPECT_EQ(Listing(tree.Path("src/project")), before);
        ::chmod(other->Path("project/sub").c_str(), 0700);
        fs::remove_all(other->Path("project"));
    }

    FileOperationResult moved = Move(tree.Path("src/project"), other->Root());
    ASSERT_TRUE(moved.Completed()) << moved.error;
    EXPECT_FALSE(PathExists(tree.Path("src/project")));
    EXPECT_EQ(Listing(other->Path("project")), before);
    ExpectSample(*other, "project");

    // A file skipped after a conflict is not removed from the source.
    WriteText(tree.Path("src/again/keep.txt"), "mine");
    WriteText(tree.Path("src/again/go.txt"), "go");
    WriteText(other->Path("again/keep.txt"), "theirs");
    FileOperationCallbacks skip;
    skip.askConflict = [](const std::string&, const std::string&) { return ConflictAnswer::Skip; };
    FileOperationResult partly = Move(tree.Path("src/again"), other->Root(), skip);
    ASSERT_TRUE(partly.Completed()) << partly.error;
    EXPECT_EQ(partly.skipped, std::vector<std::string>{tree.Path("src/again/keep.txt")});
    EXPECT_EQ(ReadText(tree.Path("src/again/keep.txt")), "mine");
    EXPECT_FALSE(PathExists(tree.Path("src/again/go.txt")));
    EXPECT_EQ(ReadText(other->Path("again/keep.txt")), "theirs");
    EXPECT_EQ(ReadText(other->Path("again/go.txt")), "go");
}

// Files of awkward sizes with varied bytes arrive exactly, whether the kernel
// copies them (same filesystem) or the copy reads and writes (across
// filesystems, where it declines).
TEST(FileOperationTest, CopiesEveryByteOnOneFileSystemAndAcross) {
    TempTree tree;
    std::mt19937 random(7);
    std::vector<std::string> contents;
    for (size_t size :
         {size_t(0), size_t(1), size_t(4095), size_t(1 << 20) + 1, size_t(3 << 20) + 17}) {
        std::string bytes(size, '\0');
        for (char& c : bytes) {
            c = char(random());
        }
        WriteText(tree.Path("src/data/f" + std::to_string(size)), bytes);
        contents.push_back(bytes);
    }
    std::unique_ptr<TempTree> other = test::TempTreeOnAnotherFileSystem(tree.Root());
    std::vector<std::string> destinations = {tree.Path("dst")};
    tree.MakeFolder("dst");
    if (other) {
        destinations.push_back(other->Root());
    }
    for (const std::string& dest : destinations) {
        std::vector<FileOperationProgress> reports;
        FileOperationCallbacks callbacks;
        callbacks.progress = [&](const FileOperationProgress& p) { reports.push_back(p); };
        FileOperationResult copy = Copy(tree.Path("src/data"), dest, callbacks);
        ASSERT_TRUE(copy.Completed()) << copy.error;
        size_t i = 0;
        for (size_t size :
             {size_t(0), size_t(1), size_t(4095), size_t(1 << 20) + 1, size_t(3 << 20) + 17}) {
            EXPECT_TRUE(ReadText(dest + "/data/f" + std::to_string(size)) == contents[i++])
                << dest << " " << size;
        }
        EXPECT_EQ(reports.back().bytesDone, reports.back().bytesTotal);
        EXPECT_EQ(reports.back().bytesTotal, 0u + 1 + 4095 + (1 << 20) + 1 + (3 << 20) + 17);
    }
}

// Copies and moves go down by folder handles with a stack of their own: a
// tree far deeper than any path the system resolves copies, and merges.
TEST(FileOperationTest, CopiesAndMergesATreeOneHundredThousandLevelsDeep) {
    std::unique_ptr<TempTree> tree = test::TempTreeInMemory();
    constexpr int kDepth = 100000;
    tree->MakeFolder("src/top");
    tree->MakeFolder("dst");
    test::MakeChain(tree->Path("src/top"), kDepth, [](int handle, int level) {
        if (level % 10000 == 0) {
            int file = ::openat(handle, "f", O_WRONLY | O_CREAT | O_CLOEXEC, 0640);
            EXPECT_EQ(::write(file, "level", 5), 5);
            ::close(file);
        }
    });
    int handlesBefore = test::OpenHandleCount();
    FileOperationResult copy = Copy(tree->Path("src/top"), tree->Path("dst"));
    ASSERT_TRUE(copy.Completed()) << copy.error.substr(0, 300);
    EXPECT_EQ(test::OpenHandleCount(), handlesBefore);

    struct Counter : WalkSink {
        bool EnterFolder(const std::string&, const FileEntry*) override { return ++folders > 0; }
        void AddFile(const std::string&, const FileEntry& file) override {
            ++files;
            bytes += file.size;
            modes += file.mode & 07777;
        }
        void LeaveFolder(const std::string&) override {}
        int folders = 0, files = 0;
        uint64_t bytes = 0, modes = 0;
    };
    Counter copied;
    WalkFolderTree(tree->Path("dst/top"), copied, WalkOptions{1});
    EXPECT_EQ(copied.folders, kDepth + 1);
    EXPECT_EQ(copied.files, kDepth / 10000);
    EXPECT_EQ(copied.bytes, 5u * (kDepth / 10000));
    EXPECT_EQ(copied.modes, 0640u * (kDepth / 10000));

    // Moved onto its copy: every level exists there, so the move goes down
    // all the way, carries the one new file and takes the emptied levels away.
    int handle = ::open(tree->Path("src/top").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    for (int level = 0; level < kDepth; ++level) {
        int next = ::openat(handle, "d", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        ::close(handle);
        handle = next;
    }
    int file = ::openat(handle, "bottom", O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    ::close(file);
    ::close(handle);
    FileOperationCallbacks overwrite;
    int asked = 0;
    overwrite.askConflict = [&asked](const std::string&, const std::string&) {
        ++asked;
        return ConflictAnswer::Overwrite;
    };
    FileOperationResult move = Move(tree->Path("src/top"), tree->Path("dst"), overwrite);
    ASSERT_TRUE(move.Completed()) << move.error.substr(0, 300);
    EXPECT_EQ(asked, kDepth / 10000);
    EXPECT_FALSE(PathExists(tree->Path("src/top")));
    Counter merged;
    WalkFolderTree(tree->Path("dst/top"), merged, WalkOptions{1});
    EXPECT_EQ(merged.folders, kDepth + 1);
    EXPECT_EQ(merged.files, kDepth / 10000 + 1);
    EXPECT_EQ(test::OpenHandleCount(), handlesBefore);
    test::RemoveChain(tree->Path("dst/top"));
}

TEST(FileOperationMany, SeveralFilesGoAsOneOperationWithOneAnswerForAll) {
    TempTree tree;
    tree.MakeFile("src/a.txt", 100);
    tree.MakeFile("src/b.txt", 200);
    tree.MakeFile("src/c.txt", 300);
    tree.MakeFile("src/keep/inner.txt", 5);
    tree.MakeFile("dest/a.txt", 1);
    tree.MakeFile("dest/b.txt", 2);
    std::vector<std::string> sources{tree.Path("src/a.txt"), tree.Path("src/b.txt"),
                                     tree.Path("src/c.txt")};
    int asked = 0;
    uint64_t lastDone = 0;
    bool backwards = false;
    FileOperationProgress final;
    FileOperationCallbacks callbacks;
    callbacks.askConflict = [&](const std::string&, const std::string&) {
        ++asked;
        return ConflictAnswer::SkipAll;
    };
    callbacks.progress = [&](const FileOperationProgress& progress) {
        backwards = backwards || progress.bytesDone < lastDone;
        lastDone = progress.bytesDone;
        final = progress;
    };
    FileOperationResult result =
        FileOperation::RunMany(FileOperation::Kind::Move, sources, tree.Path("dest"), callbacks);
    EXPECT_TRUE(result.Completed()) << result.error;
    EXPECT_EQ(asked, 1);  // "Skip All" holds for b.txt too
    EXPECT_EQ(result.skipped, (std::vector<std::string>{sources[0], sources[1]}));
    EXPECT_EQ(LStat(tree.Path("dest/a.txt")).st_size, 1);
    EXPECT_EQ(LStat(tree.Path("dest/c.txt")).st_size, 300);
    EXPECT_FALSE(PathExists(sources[2]));
    EXPECT_TRUE(PathExists(sources[0]));
    EXPECT_TRUE(PathExists(tree.Path("src/keep/inner.txt")));  // only the sources given
    EXPECT_FALSE(backwards);
    EXPECT_EQ(final.filesDone, final.filesTotal);

    // A cancel stops the rest; what went before stays where it went.
    tree.MakeFile("src/d.txt", 10);
    tree.MakeFile("src/e.txt", 10);
    std::atomic<bool> cancel{false};
    FileOperationCallbacks stopping;
    stopping.cancel = &cancel;
    stopping.progress = [&](const FileOperationProgress& progress) {
        if (progress.filesDone >= 1) {
            cancel = true;
        }
    };
    result = FileOperation::RunMany(FileOperation::Kind::Copy,
                                    {tree.Path("src/d.txt"), tree.Path("src/e.txt")},
                                    tree.Path("dest"), stopping);
    EXPECT_EQ(result.status, FileOperationStatus::Cancelled);
    EXPECT_TRUE(PathExists(tree.Path("dest/d.txt")));
    EXPECT_FALSE(PathExists(tree.Path("dest/e.txt")));
}

}  // namespace
}  // namespace quarn

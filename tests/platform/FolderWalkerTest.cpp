#include "platform/FolderWalker.h"

#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/DirectoryListing.h"
#include "tests/platform/BigTrees.h"
#include "tests/support/TempTree.h"
#include "tests/support/Unprivileged.h"

namespace quarn {
namespace {

namespace fs = std::filesystem;
using test::TempTree;

// Records every event as a line, and can abandon the walk at the n-th folder.
class RecordingSink : public WalkSink {
  public:
    bool EnterFolder(const std::string& path, const FileEntry* entry) override {
        ++folders;
        events.push_back("enter " + path + (entry ? "" : " (root)"));
        return abandonAtFolder == 0 || folders < abandonAtFolder;
    }
    void AddFile(const std::string& folderPath, const FileEntry& file) override {
        ++files;
        bytes += file.size;
        events.push_back("file " + folderPath + "/" + std::string(file.name));
    }
    void LeaveFolder(const std::string& path) override { events.push_back("leave " + path); }
    void FolderUnreadable(const std::string& path, int errorNumber) override {
        events.push_back("unreadable " + path + ": " + std::strerror(errorNumber));
    }
    void EntrySkipped(const std::string& folderPath, std::string_view name,
                      int errorNumber) override {
        events.push_back("skipped " + folderPath + "/" + std::string(name) + ": " +
                         std::strerror(errorNumber));
    }

    std::vector<std::string> events;
    int folders = 0;
    int files = 0;
    uint64_t bytes = 0;
    int abandonAtFolder = 0;
};

// Every event with everything its record carries, one line each.
class FullRecordSink : public RecordingSink {
  public:
    bool EnterFolder(const std::string& path, const FileEntry* entry) override {
        bool goOn = RecordingSink::EnterFolder(path, entry);
        if (entry != nullptr) {
            events.back() += Describe(*entry);
        }
        return goOn;
    }
    void AddFile(const std::string& folderPath, const FileEntry& file) override {
        RecordingSink::AddFile(folderPath, file);
        events.back() += Describe(file);
    }

    static std::string Describe(const FileEntry& r) {
        return " [" + std::to_string(r.size) + " " + std::to_string(r.device) + ":" +
               std::to_string(r.inode) + " " + std::to_string(r.linkCount) + " " +
               std::to_string(r.mode) + " " + std::to_string(r.allocatedSize) + " " +
               std::to_string(r.mtimeSeconds) + "." + std::to_string(r.mtimeNanoseconds) + "]";
    }
};

std::vector<std::string> Walk(const std::string& root, unsigned threads) {
    FullRecordSink sink;
    EXPECT_EQ(WalkFolderTree(root, sink, WalkOptions{threads}), WalkResult::Completed);
    return sink.events;
}

// Empty when both walks handed on the same events in the same order, else
// where they first differ.
std::string FirstDifference(const std::vector<std::string>& a, const std::vector<std::string>& b) {
    for (size_t i = 0; i < a.size() && i < b.size(); ++i) {
        if (a[i] != b[i]) {
            return "event " + std::to_string(i) + ":\n  " + a[i] + "\n  " + b[i];
        }
    }
    if (a.size() != b.size()) {
        return "lengths " + std::to_string(a.size()) + " and " + std::to_string(b.size());
    }
    return "";
}

// The walk on one thread, and on several (0: as many as the work wants),
// give the very same events.
void ExpectSameEventsOnAnyThreads(const std::string& root) {
    std::vector<std::string> one = Walk(root, 1);
    for (unsigned threads : {2u, 8u, 0u}) {
        EXPECT_EQ(FirstDifference(one, Walk(root, threads)), "") << threads << " threads";
    }
}

// Events ignoring everything but enters and leaves, for the shape of the walk.
std::vector<std::string> FolderEvents(const RecordingSink& sink) {
    std::vector<std::string> out;
    for (const std::string& e : sink.events) {
        if (e.rfind("file ", 0) != 0) {
            out.push_back(e);
        }
    }
    return out;
}

TEST(FolderWalker, DescendsIntoEachSubfolderWhereTheListingMeetsIt) {
    TempTree tree;
    tree.MakeFile("top/a.txt", 10);
    tree.MakeFile("top/sub/b.txt", 20);
    tree.MakeFile("top/sub/deeper/c.txt", 30);
    tree.MakeFile("top/z.txt", 40);
    tree.MakeFolder("top/empty");
    RecordingSink sink;
    ASSERT_EQ(WalkFolderTree(tree.Path("top"), sink), WalkResult::Completed);
    EXPECT_EQ(sink.files, 4);
    EXPECT_EQ(sink.bytes, 100u);
    EXPECT_EQ(sink.folders, 4);

    // Every folder's events follow the order of its own listing, with a
    // subfolder's whole walk standing where the subfolder was listed.
    std::string top = tree.Path("top");
    std::vector<std::string> expected = {"enter " + top + " (root)"};
    DirectoryListing listing = DirectoryListing::Open(top);
    ListedName entry;
    std::vector<std::string> names;
    while (listing.NextName(entry)) {
        names.emplace_back(entry.name);
    }
    size_t position = 1;
    for (const std::string& name : names) {
        if (name == "." || name == "..") {
            continue;
        }
        std::string path = top + "/" + name;
        while (position < sink.events.size() &&
               sink.events[position].find(path) == std::string::npos) {
            ++position;
        }
        ASSERT_LT(position, sink.events.size()) << name << " out of order";
    }
    EXPECT_EQ(sink.events.front(), expected.front());
    EXPECT_EQ(sink.events.back(), "leave " + top);
    for (const std::string& e : sink.events) {
        EXPECT_EQ(e.find("/."), e.find("/.hidden")) << "dot entries are never handed on: " << e;
    }
}

TEST(FolderWalker, ASubfolderCarriesItsOwnStatus) {
    TempTree tree;
    tree.MakeFile("root/sub/f", 1);
    tree.SetModified("root/sub", 1500000000, 250);
    struct ::stat status;
    ASSERT_EQ(::stat(tree.Path("root/sub").c_str(), &status), 0);
    for (unsigned threads : {1u, 4u}) {
        struct : WalkSink {
            bool EnterFolder(const std::string&, const FileEntry* entry) override {
                if (entry != nullptr) {
                    sub = OwnedFileEntry(*entry);
                }
                return true;
            }
            void AddFile(const std::string&, const FileEntry&) override {}
            void LeaveFolder(const std::string&) override {}
            OwnedFileEntry sub;
        } sink;
        WalkFolderTree(tree.Path("root"), sink, WalkOptions{threads});
        EXPECT_TRUE(sink.sub.IsDirectory());
        EXPECT_EQ(sink.sub.name, "sub");
        EXPECT_EQ(sink.sub.device, uint64_t(status.st_dev));
        EXPECT_EQ(sink.sub.inode, uint64_t(status.st_ino));
        EXPECT_EQ(sink.sub.linkCount, uint32_t(status.st_nlink));
        EXPECT_EQ(sink.sub.mode, uint32_t(status.st_mode));
        EXPECT_EQ(sink.sub.mtimeSeconds, 1500000000);
        EXPECT_EQ(sink.sub.mtimeNanoseconds, 250u);
        EXPECT_EQ(sink.sub.size, 0u);  // a folder's size is what it holds
    }
}

TEST(FolderWalker, EntriesKeptBySinksKeepTheirNamesAfterTheWalkMovedOn) {
    // Many small folders, so that the walk reuses its listings many times
    // over while the sink keeps what it was handed.
    TempTree tree;
    std::set<std::string> expected;
    for (int folder = 0; folder < 150; ++folder) {
        for (const std::string& name : {std::string("f"), std::string(200, 'x') + "-long"}) {
            std::string path = "root/d" + std::to_string(folder) + "/" + name;
            tree.MakeFile(path, 1);
            expected.insert(tree.Path(path));
        }
    }
    for (unsigned threads : {1u, 4u}) {
        struct : WalkSink {
            bool EnterFolder(const std::string&, const FileEntry*) override { return true; }
            void AddFile(const std::string& folderPath, const FileEntry& file) override {
                folders.push_back(folderPath);
                kept.emplace_back(file);
            }
            void LeaveFolder(const std::string&) override {}
            std::vector<std::string> folders;
            std::vector<OwnedFileEntry> kept;
        } sink;
        WalkFolderTree(tree.Path("root"), sink, WalkOptions{threads});
        std::set<std::string> found;
        for (size_t i = 0; i < sink.kept.size(); ++i) {
            found.insert(sink.folders[i] + "/" + sink.kept[i].name);
        }
        EXPECT_EQ(found, expected) << threads << " threads";
    }
}

TEST(FolderWalker, NeverFollowsLinksSoLoopsEndAtOnce) {
    TempTree tree;
    tree.MakeFile("root/real/file.bin", 1000);
    tree.MakeSymlink("..", "root/real/up");  // a loop back to the parent
    tree.MakeSymlink("/", "root/slash");     // a link to the whole machine
    tree.MakeSymlink("real", "root/same");   // a second way into real/
    for (unsigned threads : {1u, 8u}) {
        RecordingSink sink;
        ASSERT_EQ(WalkFolderTree(tree.Path("root"), sink, WalkOptions{threads}),
                  WalkResult::Completed);
        EXPECT_EQ(sink.folders, 2);  // root and real, nothing behind a link
        EXPECT_EQ(sink.files, 4);    // file.bin and the three links, each of its own size
        EXPECT_EQ(sink.bytes, 1000u + 2 + 1 + 4);
    }
}

TEST(FolderWalker, AbandonsAtTheFolderWhoseEntryRefuses) {
    TempTree tree;
    tree.MakeFile("r/a/1", 1);
    tree.MakeFile("r/b/2", 1);
    tree.MakeFile("r/c/3", 1);
    RecordingSink sink;
    sink.abandonAtFolder = 2;
    EXPECT_EQ(WalkFolderTree(tree.Path("r"), sink), WalkResult::Abandoned);
    EXPECT_EQ(sink.folders, 2);
    EXPECT_EQ(sink.events.back().rfind("enter ", 0), 0u);  // no leave after the refusal
}

// Mixed, deep and wide trees with links, specials, hidden and non-UTF-8
// names and folders of several pieces: one thread or eight, the same events.
TEST(FolderWalker, ListingAheadHandsOnExactlyTheEventsOfOneThread) {
    std::unique_ptr<TempTree> tree = test::TempTreeInMemory();
    const std::string root = tree->Path("mixed");
    // Folders at pseudo-random depths, each new one below one of the last few.
    std::vector<std::string> folders = {root};
    fs::create_directories(root);
    uint32_t seed = 12345;
    auto next = [&seed](uint32_t bound) {
        seed = seed * 1103515245u + 12345u;
        return (seed >> 8) % bound;
    };
    for (int i = 1; i < 1500; ++i) {
        size_t parent = next(4) == 0 ? next(uint32_t(folders.size()))
                                     : folders.size() - 1 - next(std::min<uint32_t>(8, i));
        folders.push_back(folders[parent] + "/d" + std::to_string(i));
        fs::create_directory(folders.back());
    }
    for (int i = 0; i < 12000; ++i) {
        tree->MakeFile(folders[next(uint32_t(folders.size()))].substr(tree->Root().size() + 1) +
                           "/f" + std::to_string(i),
                       next(3000));
    }
    // Folders of several pieces, one of them holding subfolders among its files.
    test::MakeEntries(folders[7], 6000, "many");
    test::MakeEntries(folders[900], 5000, "more");
    test::MakeEntries(folders[900], 30, "sub", /*folders=*/true);
    tree->MakeFile("mixed/.hidden/.dotfile", 3);
    tree->MakeFile("mixed/bad\xff\xfe/x", 4);
    tree->MakeSymlink("..", "mixed/d1/up");
    tree->MakeSymlink("/no/such", "mixed/dangling");
    tree->MakeSymlink("d1", "mixed/folder-link");
    ASSERT_EQ(::mkfifo((root + "/fifo").c_str(), 0644), 0);
    int sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
    struct sockaddr_un address {};
    address.sun_family = AF_UNIX;
    std::string socketPath = root + "/d2/socket";
    ASSERT_LT(socketPath.size(), sizeof address.sun_path);
    std::strcpy(address.sun_path, socketPath.c_str());
    ASSERT_EQ(::bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ::close(sock);
    ExpectSameEventsOnAnyThreads(root);

    // Nothing lost or made up: the same entries a plain recursive listing finds.
    RecordingSink sink;
    WalkFolderTree(root, sink, WalkOptions{8});
    std::multiset<std::string> walked, listed;
    for (const std::string& e : sink.events) {
        if (e.rfind("file ", 0) == 0) {
            walked.insert(e.substr(5));
        } else if (e.rfind("enter ", 0) == 0 && e != "enter " + root + " (root)") {
            walked.insert(e.substr(6));
        }
    }
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(root)) {
        listed.insert(entry.path().string());
    }
    EXPECT_EQ(walked.size(), listed.size());
    EXPECT_TRUE(walked == listed);

    // Deep: a chain longer than the handles the walk keeps open, with levels
    // of several pieces on the way, so that folders are closed half-listed
    // and go on where they were after being reopened.
    const std::string deep = tree->Path("deep");
    fs::create_directory(deep);
    test::MakeChain(deep, 400, [](int handle, int level) {
        if (level % 37 == 0) {
            for (int i = 0; i < 5000; ++i) {
                int file = ::openat(handle, ("f" + std::to_string(i)).c_str(),
                                    O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
                ::close(file);
            }
        } else if (level % 5 == 0) {
            ::mkdirat(handle, "side", 0755);
        }
    });
    ExpectSameEventsOnAnyThreads(deep);
    RecordingSink deepSink;
    WalkFolderTree(deep, deepSink, WalkOptions{8});
    EXPECT_EQ(deepSink.files, 10 * 5000);
    EXPECT_EQ(deepSink.folders, 1 + 400 + 400 / 5 - 400 / 185);
    test::RemoveChain(deep);

    // Wide: thousands of subfolders in one folder.
    const std::string wide = tree->Path("wide");
    fs::create_directory(wide);
    test::MakeEntries(wide, 4000, "w", /*folders=*/true);
    test::MakeEntries(wide + "/w17", 10, "f");
    ExpectSameEventsOnAnyThreads(wide);
}

TEST(FolderWalker, TreatsUnreadableAndVirtualFoldersAsEmptyAndSaysWhy) {
    for (unsigned threads : {1u, 8u}) {
        RecordingSink proc;
        WalkFolderTree("/proc", proc, WalkOptions{threads});
        EXPECT_EQ(FolderEvents(proc),
                  (std::vector<std::string>{"enter /proc (root)", "leave /proc"}));
    }

    TempTree tree;
    ::chmod(tree.Root().c_str(), 0755);
    tree.MakeFile("r/closed/secret", 5);
    tree.MakeFile("r/open/visible", 7);
    tree.MakeFile("r/unsearchable/hidden", 9);
    tree.MakeFolder("r/unsearchable/inner");
    tree.MakeFile("r/blind/unseen", 11);
    ::chmod(tree.Path("r/closed").c_str(), 0);
    ::chmod(tree.Path("r/unsearchable").c_str(), 0444);  // names, but no stat or open below
    ::chmod(tree.Path("r/blind").c_str(), 0111);         // no names
    std::string r = tree.Path("r");
    std::optional<std::string> outcome = test::RunUnprivileged([&]() -> std::string {
        std::string problems;
        RecordingSink sink;
        WalkFolderTree(r, sink, WalkOptions{1});
        auto has = [&](const std::string& line) {
            if (std::find(sink.events.begin(), sink.events.end(), line) == sink.events.end()) {
                problems += "missing: " + line + "\n";
            }
        };
        std::string denied = std::strerror(EACCES);
        has("unreadable " + r + "/closed: " + denied);
        has("unreadable " + r + "/blind: " + denied);
        has("skipped " + r + "/unsearchable/hidden: " + denied);
        has("unreadable " + r + "/unsearchable/inner: " + denied);
        has("file " + r + "/open/visible");
        if (sink.files != 1 || sink.folders != 6) {
            problems +=
                "counts " + std::to_string(sink.files) + " " + std::to_string(sink.folders) + "\n";
        }
        // The error comes between the folder's enter and leave.
        auto at = std::find(sink.events.begin(), sink.events.end(),
                            "unreadable " + r + "/closed: " + denied);
        if (at == sink.events.end() || at == sink.events.begin() ||
            *(at - 1) != "enter " + r + "/closed" || at + 1 == sink.events.end() ||
            *(at + 1) != "leave " + r + "/closed") {
            problems += "error out of place\n";
        }
        for (unsigned threads : {2u, 8u}) {
            std::string difference = FirstDifference(Walk(r, 1), Walk(r, threads));
            if (!difference.empty()) {
                problems += std::to_string(threads) + " threads: " + difference + "\n";
            }
        }
        return problems;
    });
    if (!outcome) {
        GTEST_SKIP() << "cannot run as a user that permissions keep out";
    }
    EXPECT_EQ(*outcome, "");

    RecordingSink missing;
    EXPECT_EQ(WalkFolderTree(tree.Path("no-such-folder"), missing), WalkResult::Completed);
    EXPECT_EQ(missing.events,
              (std::vector<std::string>{
                  "enter " + tree.Path("no-such-folder") + " (root)",
                  "unreadable " + tree.Path("no-such-folder") + ": " + std::strerror(ENOENT),
                  "leave " + tree.Path("no-such-folder")}));
}

// Counts entries and the handles open while it goes.
struct HandleWatchingSink : WalkSink {
    bool EnterFolder(const std::string& path, const FileEntry*) override {
        ++entered;
        longest = std::max(longest, path.size());
        if (entered % 499 == 0) {
            mostHandles = std::max(mostHandles, test::OpenHandleCount());
        }
        return true;
    }
    void AddFile(const std::string&, const FileEntry&) override { ++files; }
    void LeaveFolder(const std::string&) override { ++left; }
    int entered = 0, left = 0, files = 0, mostHandles = 0;
    size_t longest = 0;
};

TEST(FolderWalker, WalksATreeOneHundredThousandLevelsDeepWithFewHandles) {
    std::unique_ptr<TempTree> tree = test::TempTreeInMemory();
    constexpr int kDepth = 100000;
    // A file every 1,000 levels; every 20,000 levels a folder of several
    // pieces, closed half-listed on the way down and finished on the way up.
    test::MakeChain(tree->Root(), kDepth, [](int handle, int level) {
        int files = level % 20000 == 0 ? 4000 : level % 1000 == 0 ? 1 : 0;
        for (int i = 0; i < files; ++i) {
            int file = ::openat(handle, ("f" + std::to_string(i)).c_str(),
                                O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
            ::close(file);
        }
    });
    int handlesBefore = test::OpenHandleCount();
    for (unsigned threads : {1u, 8u}) {
        HandleWatchingSink sink;
        ASSERT_EQ(WalkFolderTree(tree->Root(), sink, WalkOptions{threads}), WalkResult::Completed);
        EXPECT_EQ(sink.entered, kDepth + 1);
        EXPECT_EQ(sink.left, kDepth + 1);
        EXPECT_EQ(sink.files, kDepth / 1000 - 5 + 5 * 4000);
        EXPECT_EQ(sink.longest, tree->Root().size() + 2 * size_t(kDepth));
        EXPECT_LE(sink.mostHandles - handlesBefore, int(kMaxWalkHandles)) << threads;
        EXPECT_EQ(test::OpenHandleCount(), handlesBefore);
    }
    test::RemoveChain(tree->Root());
}

TEST(FolderWalker, KeepsFewHandlesOpenOnATreeOneHundredThousandFoldersWide) {
    std::unique_ptr<TempTree> tree = test::TempTreeInMemory();
    test::MakeEntries(tree->Root(), 100000, "w", /*folders=*/true);
    int handlesBefore = test::OpenHandleCount();
    HandleWatchingSink sink;
    ASSERT_EQ(WalkFolderTree(tree->Root(), sink, WalkOptions{8}), WalkResult::Completed);
    EXPECT_EQ(sink.entered, 100001);
    EXPECT_LE(sink.mostHandles - handlesBefore, int(kMaxWalkHandles));
    EXPECT_EQ(test::OpenHandleCount(), handlesBefore);
    test::RemoveEntries(tree->Root(), 100000, "w", /*folders=*/true);
}

// A folder is handed on while it is being read: what the sink deletes the
// moment it meets the folder's first entry is, beyond the few thousand
// entries already read ahead, never seen.
TEST(FolderWalker, HandsOnAHugeFolderAsItIsRead) {
    std::unique_ptr<TempTree> tree = test::TempTreeInMemory();
    constexpr int kFiles = 60000;
    const std::string huge = tree->Path("huge");
    fs::create_directory(huge);
    for (unsigned threads : {1u, 8u}) {
        test::MakeEntries(huge, kFiles, "f");
        struct DeletingSink : WalkSink {
            bool EnterFolder(const std::string&, const FileEntry*) override { return true; }
            void AddFile(const std::string&, const FileEntry&) override { Met(); }
            void LeaveFolder(const std::string&) override {}
            void EntrySkipped(const std::string&, std::string_view, int) override { Met(); }
            void Met() {
                ++met;
                if (met == 1) {
                    int handle = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
                    for (int i = 0; i < kFiles; ++i) {
                        ::unlinkat(handle, ("f" + std::to_string(i)).c_str(), 0);
                    }
                    ::close(handle);
                }
            }
            std::string folder;
            int met = 0;
        } sink;
        sink.folder = huge;
        WalkFolderTree(huge, sink, WalkOptions{threads});
        EXPECT_GT(sink.met, 0);
        EXPECT_LT(sink.met, kFiles / 4) << threads << " threads: read whole before handed on";
    }
}

// Cancelled while workers list ahead: every worker ends within its task,
// nothing opened after the cancel beyond the tasks under way, no handle or
// thread left behind, and what came before the cancel is the sequential
// walk's beginning.
TEST(FolderWalker, ACancelStopsEveryWorkerAndLeavesNothingOpen) {
    std::unique_ptr<TempTree> tree = test::TempTreeInMemory();
    const std::string root = tree->Path("r");
    fs::create_directory(root);
    std::vector<std::string> folders = {root};
    for (int i = 0; i < 40; ++i) {
        std::string top = root + "/t" + std::to_string(i);
        fs::create_directory(top);
        folders.push_back(top);
        for (int j = 0; j < 40; ++j) {
            folders.push_back(top + "/s" + std::to_string(j));
            fs::create_directory(folders.back());
            test::MakeEntries(folders.back(), 5, "f");
        }
    }
    RecordingSink sequential;
    WalkFolderTree(root, sequential, WalkOptions{1});

    int watcher = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(watcher, 0);
    for (const std::string& folder : folders) {
        ASSERT_GE(::inotify_add_watch(watcher, folder.c_str(), IN_OPEN | IN_ONLYDIR), 0);
    }
    // Folder opens since the last call.
    auto opensSince = [watcher] {
        int opens = 0;
        alignas(struct inotify_event) char buffer[64 * 1024];
        for (ssize_t n; (n = ::read(watcher, buffer, sizeof buffer)) > 0;) {
            for (char* at = buffer; at < buffer + n;) {
                auto* event = reinterpret_cast<struct inotify_event*>(at);
                if ((event->mask & IN_OPEN) && (event->mask & IN_ISDIR) && event->len == 0) {
                    ++opens;
                }
                at += sizeof(struct inotify_event) + event->len;
            }
        }
        return opens;
    };
    int handlesBefore = test::OpenHandleCount();
    int threadsBefore = test::ThreadCount();
    opensSince();

    constexpr unsigned kThreads = 8;
    struct CancellingSink : RecordingSink {
        bool EnterFolder(const std::string& path, const FileEntry* entry) override {
            bool goOn = RecordingSink::EnterFolder(path, entry);
            if (!goOn) {
                opensBeforeCancel = opensSince();
                workersDuringWalk = test::ThreadCount();
            }
            return goOn;
        }
        std::function<int()> opensSince;
        int opensBeforeCancel = 0;
        int workersDuringWalk = 0;
    } sink;
    sink.opensSince = opensSince;
    sink.abandonAtFolder = 300;
    EXPECT_EQ(WalkFolderTree(root, sink, WalkOptions{kThreads}), WalkResult::Abandoned);
    int opensAfterCancel = opensSince();

    EXPECT_EQ(sink.workersDuringWalk, threadsBefore + int(kThreads) - 1);
    EXPECT_GE(sink.opensBeforeCancel, 300);
    // Workers stop at the cancel; how many folders they open meanwhile depends
    // on how long the walking thread is kept off the processor, but never
    // more than the window of folders read ahead.
    EXPECT_LE(opensAfterCancel, 128 + int(kThreads)) << "listing went on after the cancel";
    EXPECT_EQ(test::ThreadCount(), threadsBefore);
    EXPECT_EQ(test::OpenHandleCount(), handlesBefore);
    ::close(watcher);
    ASSERT_LE(sink.events.size(), sequential.events.size());
    EXPECT_EQ(FirstDifference(sink.events, std::vector<std::string>(sequential.events.begin(),
                                                                    sequential.events.begin() +
                                                                        long(sink.events.size()))),
              "");
}

}  // namespace
}  // namespace quarn

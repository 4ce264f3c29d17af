// What a walk leaves out: exclude patterns (names and paths below the root)
// and other file systems; the walking thread and the workers that list ahead
// must agree, so every case runs on one thread and on eight.

#include <sys/mount.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/ExcludeRules.h"
#include "platform/FolderWalker.h"
#include "tests/support/TempTree.h"

namespace quarn {
namespace {

using test::TempTree;

class ScopeSink : public WalkSink {
  public:
    bool EnterFolder(const std::string& path, const FileEntry*) override {
        events.push_back("enter " + path.substr(rootLength));
        return true;
    }
    void AddFile(const std::string& folderPath, const FileEntry& file) override {
        events.push_back("file " + folderPath.substr(rootLength) + "/" + std::string(file.name));
    }
    void LeaveFolder(const std::string&) override {}
    void EntryExcluded(const std::string& folderPath, const FileEntry& entry,
                       ExclusionReason reason) override {
        events.push_back(std::string(reason == ExclusionReason::Pattern ? "pattern " : "othfs ") +
                         folderPath.substr(rootLength) + "/" + std::string(entry.name) +
                         (entry.IsDirectory() ? "/" : ""));
        if (reason == ExclusionReason::OtherFileSystem) {
            otherDevice = entry.device;
        }
    }

    size_t rootLength = 0;
    std::vector<std::string> events;
    uint64_t otherDevice = 0;
};

std::vector<std::string> Walk(const std::string& root, WalkOptions options, unsigned threads) {
    ScopeSink sink;
    sink.rootLength = root.size();
    options.threads = threads;
    EXPECT_EQ(WalkFolderTree(root, sink, options), WalkResult::Completed);
    std::sort(sink.events.begin(), sink.events.end());
    return sink.events;
}

bool Has(const std::vector<std::string>& events, const std::string& event) {
    return std::find(events.begin(), events.end(), event) != events.end();
}

TEST(ExcludeRules, NameAndPathFormsFoldersOnlyAndTheSettingsList) {
    ExcludeRules rules(
        ExcludeRules::SplitPatternList(" *.o ; build/ ;;src/*/cache; /top.txt ; ca[tr]?"));
    EXPECT_EQ(rules.Patterns().size(), 5u);
    EXPECT_TRUE(rules.NeedsRelativePath());
    // Name form: anywhere in the tree.
    EXPECT_TRUE(rules.Excludes("x.o", "a/b/x.o", false));
    EXPECT_TRUE(rules.Excludes("cars", "deep/cars", false));
    EXPECT_FALSE(rules.Excludes("x.oo", "x.oo", false));
    // A trailing "/": folders only.
    EXPECT_TRUE(rules.Excludes("build", "a/build", true));
    EXPECT_FALSE(rules.Excludes("build", "a/build", false));
    // Path form: below the root, "*" stays within one level.
    EXPECT_TRUE(rules.Excludes("cache", "src/lib/cache", true));
    EXPECT_FALSE(rules.Excludes("cache", "src/lib/deep/cache", true));
    EXPECT_FALSE(rules.Excludes("cache", "other/lib/cache", true));
    // A leading "/" anchors at the root.
    EXPECT_TRUE(rules.Excludes("top.txt", "top.txt", false));
    EXPECT_FALSE(rules.Excludes("top.txt", "a/top.txt", false));
    // Patterns that would leave out everything or nothing are dropped.
    EXPECT_TRUE(ExcludeRules(ExcludeRules::SplitPatternList(" ; / ;")).Empty());
}

TEST(WalkScope, PatternsLeaveOutFilesAndFoldersAlikeOnOneAndEightThreads) {
    TempTree tree;
    tree.MakeFile("keep/a.txt", 1);
    tree.MakeFile("keep/a.o", 1);
    tree.MakeFile("build/inner/deep.txt", 1);  // excluded folder: never entered
    tree.MakeFile("src/x/cache/c.txt", 1);     // path form
    tree.MakeFile("other/x/cache/c.txt", 1);   // same name, other path: kept
    tree.MakeFile("keep/build", 1);            // a file named like the folder pattern
    for (int i = 0; i < 300; ++i) {            // wide enough for the workers to claim ahead
        tree.MakeFile("wide/d" + std::to_string(i) + "/build/f", 1);
        tree.MakeFile("wide/d" + std::to_string(i) + "/f", 1);
    }
    WalkOptions options;
    options.exclude = ExcludeRules({"*.o", "build/", "src/*/cache"});
    std::vector<std::string> one = Walk(tree.Root(), options, 1);
    std::vector<std::string> eight = Walk(tree.Root(), options, 8);
    EXPECT_EQ(one, eight);

    EXPECT_TRUE(Has(one, "file /keep/a.txt"));
    EXPECT_TRUE(Has(one, "pattern /keep/a.o"));
    EXPECT_TRUE(Has(one, "file /keep/build"));
    EXPECT_TRUE(Has(one, "pattern /build/"));
    EXPECT_TRUE(Has(one, "pattern /src/x/cache/"));
    EXPECT_TRUE(Has(one, "file /other/x/cache/c.txt"));
    for (const std::string& event : one) {
        EXPECT_EQ(event.find("deep.txt"), std::string::npos) << event;
        EXPECT_EQ(event.find("/build/f"), std::string::npos) << event;
        EXPECT_NE(event, "enter /build");
    }
    EXPECT_EQ(std::count_if(one.begin(), one.end(),
                            [](const std::string& e) { return e.starts_with("pattern /wide/"); }),
              300);
}

// A tmpfs mounted inside the tree: needs the right to mount (root, or a
// user namespace); skipped where the test cannot mount.
TEST(WalkScope, OneFileSystemStopsAtAMountAndReportsItsDevice) {
    TempTree tree;
    tree.MakeFile("here/f", 1);
    tree.MakeFolder("here/mnt");
    if (::mount("quarn-test", tree.Path("here/mnt").c_str(), "tmpfs", 0, "size=1m") != 0) {
        GTEST_SKIP() << "cannot mount a tmpfs here";
    }
    tree.MakeFile("here/mnt/inside", 1);
    WalkOptions options;
    std::vector<std::string> crossing = Walk(tree.Root(), options, 1);
    options.oneFileSystem = true;
    std::vector<std::string> one = Walk(tree.Root(), options, 1);
    ScopeSink eightSink;
    eightSink.rootLength = tree.Root().size();
    options.threads = 8;
    WalkFolderTree(tree.Root(), eightSink, options);
    std::sort(eightSink.events.begin(), eightSink.events.end());
    ::umount(tree.Path("here/mnt").c_str());

    EXPECT_TRUE(Has(crossing, "file /here/mnt/inside"));
    EXPECT_TRUE(Has(one, "othfs /here/mnt/"));
    EXPECT_FALSE(Has(one, "file /here/mnt/inside"));
    EXPECT_FALSE(Has(one, "enter /here/mnt"));
    EXPECT_TRUE(Has(one, "file /here/f"));
    EXPECT_EQ(one, eightSink.events);
    EXPECT_NE(eightSink.otherDevice, 0u);
}

}  // namespace
}  // namespace quarn

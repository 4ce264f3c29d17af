// How many threads a walk lists with when not told: as many as processors,
// more only while the listings wait for the device; and whatever the count
// and however it changes during a walk, the sink sees the same events.

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "platform/FolderWalker.h"
#include "platform/WalkThreadClock.h"
#include "platform/WalkThreadGovernor.h"
#include "tests/platform/BigTrees.h"
#include "tests/support/TempTree.h"

namespace quarn {
namespace {

namespace fs = std::filesystem;

constexpr int64_t kMs = 1'000'000;

// Twenty milliseconds of `threads` threads, none idle, each with `cpu` and
// `queued` milliseconds of it.
WalkTimeSpent Interval(unsigned threads, int64_t cpu, int64_t queued = 0) {
    WalkTimeSpent spent;
    spent.interval = 20 * kMs;
    spent.working = threads * spent.interval;
    spent.cpu = threads * cpu * kMs;
    spent.queued = threads * queued * kMs;
    return spent;
}

TEST(WalkThreadGovernor, StartsWithTheProcessorsAndGrowsOnlyWhileListingsWaitForTheDevice) {
    EXPECT_EQ(WalkThreadGovernor(2).Start(), 2u);
    EXPECT_EQ(WalkThreadGovernor(0).Start(), 1u);
    EXPECT_EQ(WalkThreadGovernor(64).Start(), kMaxAdaptiveWalkThreads);

    WalkThreadGovernor twoCores(2);
    // Warm: on a processor nearly all the time, or queued for one.
    EXPECT_EQ(twoCores.Next(2, Interval(2, 19)), 2u);
    EXPECT_EQ(twoCores.Next(2, Interval(2, 9, 10)), 2u);
    // Cold: mostly blocked in the kernel; grows by half, up to the limit.
    unsigned threads = 2;
    std::vector<unsigned> steps;
    while (steps.size() < 10) {
        threads = twoCores.Next(threads, Interval(threads, 2));
        steps.push_back(threads);
    }
    EXPECT_EQ(steps, (std::vector<unsigned>{3, 4, 6, 9, 13, 16, 16, 16, 16, 16}));

    // Blocked, but the processors are as busy as they get: no more.
    EXPECT_EQ(twoCores.Next(8, Interval(8, 5)), 8u);
    // Idle threads (the sink is slow, or nothing left to claim) are no sign
    // of a slow device, even when the little work they do waits.
    WalkTimeSpent idle = Interval(2, 0);
    idle.working = 4 * kMs;
    EXPECT_EQ(twoCores.Next(2, idle), 2u);
    // Nothing measured yet.
    EXPECT_EQ(twoCores.Next(2, WalkTimeSpent{}), 2u);
}

// A clock a test drives: every reading moves it on by a millisecond, and a
// thread's processor time is all of it (a warm walk) or none (a walk whose
// every listing waits).
class FakeClock : public WalkThreadClock {
  public:
    FakeClock(bool listingsWait, unsigned processors)
        : m_listingsWait(listingsWait), m_processors(processors) {}

    int64_t Now() override { return m_now.fetch_add(kMs) + kMs; }
    ThreadUsage UsageOf(const WalkThreadId&) override {
        return ThreadUsage{m_listingsWait ? 0 : m_now.load(), 0};
    }
    unsigned Processors() override { return m_processors; }

  private:
    std::atomic<int64_t> m_now{1000 * kMs};
    const bool m_listingsWait;
    const unsigned m_processors;
};

class EventSink : public WalkSink {
  public:
    bool EnterFolder(const std::string& path, const FileEntry* entry) override {
        events.push_back("enter " + path + (entry ? " " + std::to_string(entry->inode) : ""));
        return true;
    }
    void AddFile(const std::string& folderPath, const FileEntry& file) override {
        events.push_back("file " + folderPath + "/" + std::string(file.name) + " " +
                         std::to_string(file.size) + " " + std::to_string(file.linkCount));
    }
    void LeaveFolder(const std::string& path) override { events.push_back("leave " + path); }

    std::vector<std::string> events;
};

struct Walked {
    std::vector<std::string> events;
    unsigned threads = 0;
};

Walked WalkWith(const std::string& root, WalkOptions options) {
    options.threadsUsed = std::make_shared<std::atomic<unsigned>>(0);
    EventSink sink;
    EXPECT_EQ(WalkFolderTree(root, sink, options), WalkResult::Completed);
    return Walked{std::move(sink.events), options.threadsUsed->load()};
}

class AdaptingWalk : public ::testing::Test {
  protected:
    AdaptingWalk() : m_tree(test::TempTreeInMemory()), m_root(m_tree->Path("t")) {
        // Folders wide and deep, files spread over them, and hard links.
        std::vector<std::string> folders = {m_root};
        fs::create_directories(m_root);
        for (int i = 1; i < 1200; ++i) {
            const std::string& parent = folders[i % 5 == 0 ? i / 7 : folders.size() - 1];
            folders.push_back(parent + "/d" + std::to_string(i));
            fs::create_directory(folders.back());
        }
        for (int i = 0; i < 6000; ++i) {
            std::string name = folders[(i * 7919) % folders.size()] + "/f" + std::to_string(i);
            m_tree->MakeFile(name.substr(m_tree->Root().size() + 1), size_t(i % 300));
            if (i % 50 == 0) {
                fs::create_hard_link(name,
                                     folders[i % folders.size()] + "/link" + std::to_string(i));
            }
        }
    }

    std::unique_ptr<test::TempTree> m_tree;
    std::string m_root;
};

TEST_F(AdaptingWalk, ListingsThatWaitBringMoreThreadsAndTheSameEvents) {
    const Walked one = WalkWith(m_root, WalkOptions(1));
    ASSERT_GT(one.events.size(), 8000u);
    EXPECT_EQ(one.threads, 1u);

    WalkOptions waiting;
    waiting.clock = std::make_shared<FakeClock>(/*listingsWait=*/true, 2);
    const Walked grown = WalkWith(m_root, waiting);
    EXPECT_EQ(grown.threads, kMaxAdaptiveWalkThreads);
    // Threads joined while the walk ran: the sink saw nothing of it.
    EXPECT_EQ(grown.events, one.events);
}

TEST_F(AdaptingWalk, AWarmWalkKeepsToTheProcessors) {
    WalkOptions warm;
    warm.clock = std::make_shared<FakeClock>(/*listingsWait=*/false, 2);
    const Walked walked = WalkWith(m_root, warm);
    EXPECT_EQ(walked.threads, 2u);
    EXPECT_EQ(walked.events, WalkWith(m_root, WalkOptions(1)).events);

    // On the system's clock, with the tree in memory: no thread waits for a
    // device, so none is added.
    const unsigned processors = SystemWalkThreadClock()->Processors();
    EXPECT_LE(WalkWith(m_root, WalkOptions{}).threads,
              std::min(processors, kMaxAdaptiveWalkThreads));
}

TEST_F(AdaptingWalk, AGivenThreadCountStaysFixed) {
    WalkOptions eight(8);
    eight.clock = std::make_shared<FakeClock>(/*listingsWait=*/true, 2);
    EXPECT_EQ(WalkWith(m_root, eight).threads, 8u);
}

}  // namespace
}  // namespace quarn

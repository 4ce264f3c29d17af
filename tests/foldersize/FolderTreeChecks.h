#pragma once
// What the folder-size tests share: a settings file per test, hard links,
// the items of a finished scan by path, and the comparison of a tree that
// was changed after its scan with a fresh scan of the same folder.

#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <set>
#include <string>

#include "foldersize/FolderScanner.h"
#include "platform/PathRules.h"
#include "tests/support/ScanRequests.h"
#include "tests/support/TempTree.h"

namespace quarn::test {

// Every test gets its own settings file, with the two scan settings chosen.
class ScanSettings {
  public:
    ScanSettings(bool sortBySize, bool relativeToDrive);

  private:
    TempTree m_folder;
    ScopedEnv m_ini;
};

// Makes `relative` another name of the file `existing` (both in `tree`).
void MakeHardLink(const TempTree& tree, const std::string& existing, const std::string& relative);

// The live items of a scan by their paths, files items under path +
// "|files"; every item must have a path.
std::map<std::string, NodeHandle> ItemsByPath(const FolderSizeTree& tree);

// Expects `scanner` to show what a new scan of its folder shows now: the same
// items with the same sizes, files items and percentages, the same order of
// every folder's children, and the same total and counts (a network-style
// scan's status names them). The count of linked names is not compared: a
// file's link count on the disk changes with what became of its other
// names (deleted, or still in the trash), which the tree does not know.
void ExpectSameAsFreshScan(const FolderScanner& scanner);

// Records what a combined walk hands on; can stop the walk or hold it (the
// walk then waits in the middle, its scanner busy).
class RecordingTwinFeed : public TwinFeed, private WalkSink {
  public:
    void BeginFeed(const ScanRequest&) override {}
    WalkSink& FeedSink() override { return *this; }
    void DiscardFeed(const std::string&) override {}
    void EndFeed() override {
        std::lock_guard lock(m_mutex);
        ++rebuilds;
        filesAtRebuild = paths.size();
    }
    bool EnterFolder(const std::string&, const FileEntry*) override { return true; }
    void LeaveFolder(const std::string&) override {}
    void AddFile(const std::string& folder, const FileEntry& record) override {
        std::unique_lock lock(m_mutex);
        std::string path = folder;
        AppendPathComponent(path, record.name);
        paths.insert(path);
        bytes += record.size;
        if (scannerToCancel != nullptr) {
            scannerToCancel->Cancel();
        }
        const bool holdHere = holdFirstFile ? paths.size() == 1
                                            : !holdAt.empty() && !held && path.starts_with(holdAt);
        if (holdHere) {
            held = true;
            m_changed.notify_all();
            m_changed.wait(lock, [&] { return released; });
        }
    }
    void WaitUntilHeld() {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [&] { return held; });
    }
    void Release() {
        std::lock_guard lock(m_mutex);
        released = true;
        m_changed.notify_all();
    }

    std::set<std::string> paths;
    uint64_t bytes = 0;
    int rebuilds = 0;
    size_t filesAtRebuild = 0;
    FolderScanner* scannerToCancel = nullptr;
    bool holdFirstFile = false;
    std::string holdAt;  // or hold at the first file whose path begins so

  private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool held = false;
    bool released = false;
};

}  // namespace quarn::test

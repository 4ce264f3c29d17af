#pragma once
// One walk, several sinks: hands every event to each sink in turn, in the
// order they were added. The walk goes on while every sink wants it to (a
// folder is entered only when all of them say yes).
//
// The walking thread only; the sinks must outlive the fan-out.

#include <string>
#include <string_view>
#include <vector>

#include "platform/FolderWalker.h"

namespace quarn {

class WalkFanOut final : public WalkSink {
  public:
    // A null sink is ignored, so that optional sinks can be added as they are.
    void Add(WalkSink* sink) {
        if (sink != nullptr) {
            m_sinks.push_back(sink);
        }
    }
    bool Empty() const { return m_sinks.empty(); }

    bool EnterFolder(const std::string& path, const FileEntry* entry) override {
        bool keepGoing = true;
        for (WalkSink* sink : m_sinks) {
            keepGoing = sink->EnterFolder(path, entry) && keepGoing;
        }
        return keepGoing;
    }
    void AddFile(const std::string& folderPath, const FileEntry& file) override {
        for (WalkSink* sink : m_sinks) {
            sink->AddFile(folderPath, file);
        }
    }
    void LeaveFolder(const std::string& path) override {
        for (WalkSink* sink : m_sinks) {
            sink->LeaveFolder(path);
        }
    }
    void FolderUnreadable(const std::string& path, int errorNumber) override {
        for (WalkSink* sink : m_sinks) {
            sink->FolderUnreadable(path, errorNumber);
        }
    }
    void EntryExcluded(const std::string& folderPath, const FileEntry& entry,
                       ExclusionReason reason) override {
        for (WalkSink* sink : m_sinks) {
            sink->EntryExcluded(folderPath, entry, reason);
        }
    }
    void EntrySkipped(const std::string& folderPath, std::string_view name,
                      int errorNumber) override {
        for (WalkSink* sink : m_sinks) {
            sink->EntrySkipped(folderPath, name, errorNumber);
        }
    }

  private:
    std::vector<WalkSink*> m_sinks;
};

}  // namespace quarn

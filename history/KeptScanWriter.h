#pragma once
// Keeps one scan as it is walked: the walk's events go to an export writer
// whose JSON buffers are handed to a thread of its own that compresses
// (zstd) and writes them, into a temporary file of the ScanStore that becomes
// a kept scan when the walk ended complete. Several buffers may wait, so the
// walk goes on while the compression catches up in the gaps the walk leaves. The
// compressing thread also hashes the bytes (ExportContentHash), off the walk:
// a scan like the newest kept one leaves no new file.
//
// A temporary file that cannot be made, a failed write (a full disk) or a
// failed rename keep nothing and leave every earlier scan as it was; the
// outcome says why, once, to the `told` callback (called on the walking
// thread from WalkEnded).
//
// Events and WalkEnded on the walking thread only.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <unordered_set>

#include "history/BufferHandoff.h"
#include "history/ExportContentHash.h"
#include "history/ScanStore.h"
#include "pipeline/ScanCopySink.h"
#include "platform/ExportWriter.h"

namespace quarn {

struct KeepOutcome {
    ScanStore::Kept kind = ScanStore::Kept::Failed;
    std::string file;   // Kept: the new kept scan
    std::string error;  // Failed: why nothing was kept
};

class KeptScanWriter final : public ScanCopySink {
  public:
    KeptScanWriter(ScanStore store, std::string folder, size_t keep, bool allocatedSizes,
                   std::string progver, std::function<void(const KeepOutcome&)> told);
    ~KeptScanWriter() override;

    bool EnterFolder(const std::string& path, const FileEntry* entry) override;
    void AddFile(const std::string& folderPath, const FileEntry& file) override;
    void LeaveFolder(const std::string& path) override;
    void FolderUnreadable(const std::string& path, int errorNumber) override;
    void EntryExcluded(const std::string& folderPath, const FileEntry& entry,
                       ExclusionReason reason) override;
    void EntrySkipped(const std::string& folderPath, std::string_view name,
                      int errorNumber) override;

    void WalkEnded(bool complete) override;

  private:
    // The compressing thread: the handed buffers into the temporary file.
    void Compress();
    // Closes the hand-off and waits for the compressing thread.
    void StopCompressing();
    void Tell(ScanStore::Kept kind, std::string file, std::string error);

    ScanStore m_store;
    std::string m_folder;
    size_t m_keep;
    bool m_allocated;
    std::function<void(const KeepOutcome&)> m_told;
    std::string m_tempPath;
    int m_tempFd = -1;
    int m_openError = 0;
    // Up to 16 buffers of about 1 MiB wait: a lag of some 200,000 files.
    BufferHandoff m_handoff{16};
    int m_compressError = 0;  // written by the compressing thread, read after join
    std::unique_ptr<ExportWriter> m_writer;
    ExportContentHash m_hash;  // fed by the compressing thread, read after join
    uint64_t m_total = 0;
    int64_t m_files = 0;
    // Inodes with several links, counted once in the total.
    std::unordered_set<uint64_t> m_linkedSeen;
    bool m_ended = false;
    std::thread m_compressor;  // last: starts after every member it reads
};

// The maker the engine is given: a writer per scan of a folder (not an
// import) while KeepScans is above 0, into the directory of the moment.
// `told` hears each outcome.
ScanCopyMaker KeptScanMaker(std::string progver, std::function<void(const KeepOutcome&)> told);

}  // namespace quarn

#pragma once
// A walk sink that writes the tree as it is walked in the interchange format
// of disk-usage tools: a JSON array [1, 2, {metadata}, [root info, ...]]
// where a folder is an array whose first element is its own info object
// and a file is an info object (name, asize, dsize, dev where it changes,
// ino/hlnkc/nlink for hard links, notreg, read_error, excluded ("pattern"
// or "otherfs"), mtime).
//
// Names are written as the bytes they are: only the quote, the backslash
// and control bytes are escaped, so a name that is not valid UTF-8 comes back
// byte for byte from any reader of the format.
//
// Nothing of the tree is kept: memory is a buffer and one device number per
// open folder. Walking thread only (as every sink).

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/FolderWalker.h"

namespace quarn {

class ExportWriter : public WalkSink {
  public:
    // Writes to `fd` (not owned, not closed). `progver` goes into the
    // metadata. `keepGoing`, when set, is asked once per folder; false
    // abandons the walk.
    ExportWriter(int fd, std::string progver, std::function<bool()> keepGoing = nullptr);
    // Hands each full buffer to `handOver` instead, which takes the bytes
    // (it may leave another buffer in their place) and returns 0 or the
    // errno of a failure.
    using HandOver = std::function<int(std::string& bytes)>;
    ExportWriter(HandOver handOver, std::string progver);

    bool EnterFolder(const std::string& path, const FileEntry* entry) override;
    void AddFile(const std::string& folderPath, const FileEntry& file) override;
    void LeaveFolder(const std::string& path) override;
    void FolderUnreadable(const std::string& path, int errorNumber) override;
    void EntryExcluded(const std::string& folderPath, const FileEntry& entry,
                       ExclusionReason reason) override;

    // Writes what is buffered. True when every byte so far reached `fd` (or
    // was handed over) and the root folder was closed (the export is whole).
    bool Finish();
    // The errno of the first failed write, 0 while none failed.
    int WriteError() const { return m_writeError; }
    int64_t Files() const { return m_files; }
    int64_t Folders() const { return m_folders; }

  private:
    void OpenInfo(std::string_view name, const EntryStatus& status);
    // Closes the info object of the folder just entered, before its first
    // entry or its end.
    void ClosePendingInfo();
    void Name(std::string_view name);
    void Number(const char* key, uint64_t value);
    void Append(std::string_view text);
    void Flush();
    // The buffer is written through a cursor: Room makes sure `bytes` more
    // fit after the m_used bytes written so far and returns where they go.
    char* Room(size_t bytes);
    static char* Put(char* at, std::string_view text);
    static char* PutName(char* at, std::string_view name);  // quoted, escaped
    static char* PutNumber(char* at, std::string_view keyPart, uint64_t value);

    int m_fd = -1;
    HandOver m_handOver;
    std::string m_progver;
    std::function<bool()> m_keepGoing;
    std::string m_buffer;  // its size is the room; m_used bytes are written
    size_t m_used = 0;
    std::vector<uint64_t> m_devices;  // of the open folders, root first
    bool m_infoPending = false;       // the last folder's info object is open
    bool m_pendingUnreadable = false;
    bool m_rootClosed = false;
    int m_writeError = 0;
    int64_t m_files = 0;
    int64_t m_folders = 0;
};

}  // namespace quarn

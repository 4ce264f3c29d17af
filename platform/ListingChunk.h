#pragma once
// A piece of one folder's listing as the walk carries it from the thread
// that read it to the thread that hands it on: at most a few thousand
// entries, so that a folder of a million entries is never held whole.
//
// A chunk is filled in two steps, which may run on different threads: the
// names are read from the folder's handle (ReadNames: the handle's position
// moves, so one thread at a time per folder), then every name is stat'ed
// relative to that handle (StatEntries: any thread, beside the next chunk's
// ReadNames). After StatEntries it is read-only and may be read from any
// thread that learnt of it under the lock that published it.

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/FindRecord.h"

namespace quarn {

// One entry with its whole status, packed; its name lives in the chunk.
struct PackedEntry {
    uint64_t lastWriteTime;
    uint64_t size;
    uint64_t device;
    uint64_t inode;
    uint64_t allocatedSize;
    int64_t mtimeSeconds;
    uint32_t mtimeNanoseconds;
    uint32_t linkCount;
    uint32_t mode;
    uint32_t attributes;
    uint32_t nameOffset;
    uint32_t nameLength;
    int32_t statError;  // 0, or the errno of a stat that failed (the entry has only its name)
};

PackedEntry PackFindRecord(const FindRecord& record);
// Fills everything but the name.
void UnpackToFindRecord(const PackedEntry& packed, FindRecord& record);

class ListingChunk {
  public:
    struct ReadOutcome {
        bool end = false;  // the listing has no more entries
        int error = 0;     // errno of a failed read (then `end` too)
    };

    // Reads names (without "." and "..") from the folder `handle` into this
    // empty chunk until it holds at least `minEntries` or the listing ends,
    // stopping only where the handle's position lies just past the last name
    // kept. `buffer` (of `bufferSize` bytes) is the caller's scratch space.
    ReadOutcome ReadNames(int handle, char* buffer, long bufferSize, size_t minEntries);

    // Stats every name read, relative to `handle`, never following a link;
    // an entry the OS listed as a folder is not stat'ed (the walk opens it).
    // Returns false, leaving the chunk unfinished, when `stop` was found set.
    bool StatEntries(int handle, const std::atomic<bool>& stop);

    size_t Size() const { return m_entries.size(); }
    const PackedEntry& Entry(size_t i) const { return m_entries[i]; }
    std::string_view Name(size_t i) const {
        return std::string_view(m_names.data() + m_entries[i].nameOffset, m_entries[i].nameLength);
    }
    // Positions (ascending) of the entries that are folders, after StatEntries.
    const std::vector<uint32_t>& FolderPositions() const { return m_folders; }
    // Memory held, for the walk's budget of entries listed ahead.
    size_t Bytes() const;
    // Empties the chunk for another listing, keeping its storage unless a
    // huge folder made it large.
    void Clear();

    // The index of Entry(0) in its folder's whole listing.
    uint64_t firstIndex = 0;
    // Set (under the walk's lock) once StatEntries has finished.
    bool ready = false;

  private:
    std::vector<PackedEntry> m_entries;
    std::vector<unsigned char> m_types;  // the listed DT_ type per entry, until StatEntries
    std::string m_names;                 // every name, each followed by a NUL for fstatat
    std::vector<uint32_t> m_folders;
};

}  // namespace quarn

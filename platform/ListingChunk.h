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

#include "platform/FileEntry.h"

namespace quarn {

class ListingChunk {
  public:
    ListingChunk() = default;
    // Entries point into the chunk's own name storage: a copy would point
    // into the original, while a move takes the storage along.
    ListingChunk(const ListingChunk&) = delete;
    ListingChunk& operator=(const ListingChunk&) = delete;
    ListingChunk(ListingChunk&&) = default;
    ListingChunk& operator=(ListingChunk&&) = default;

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
    // The entry as the walk hands it on; its name lives in this chunk until
    // Clear(). Its status is only the name's when StatError(i) is not 0.
    const FileEntry& Entry(size_t i) const { return m_entries[i].entry; }
    std::string_view Name(size_t i) const { return m_entries[i].entry.name; }
    // 0, or the errno of a stat that failed (the entry has only its name).
    int StatError(size_t i) const { return m_entries[i].statError; }
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
    struct Listed {
        FileEntry entry;
        uint32_t nameOffset;  // in m_names
        int32_t statError;
    };

    // Points every entry's name into m_names, which no longer grows.
    void PointNames();

    std::vector<Listed> m_entries;
    std::vector<unsigned char> m_types;  // the listed DT_ type per entry, until StatEntries
    // Every name, each followed by a NUL for fstatat. Not a std::string: a
    // short one would sit inside the chunk and move away with it.
    std::vector<char> m_names;
    std::vector<uint32_t> m_folders;
};

}  // namespace quarn

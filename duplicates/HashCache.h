#pragma once
// Content hashes kept between runs, so that a second content search over an
// unchanged tree reads no file's bytes.
//
// An entry is found by what identifies a file's contents without reading
// them: device, inode, size, and the modification and change times to the
// nanosecond. The change time is there because nobody can set it back: a file
// rewritten and then given its old modification time still misses.
//
// The file on disk is written whole and renamed into place. One that does not
// read back exactly as written is discarded, never trusted. Entries beyond
// the bound are dropped when saving, the least recently used first, also
// across runs: each entry carries a stamp of when it was last found or stored.
//
// Every member may be called from any thread at any time: one mutex guards
// all, and Save holds it while it writes.

#include <sys/stat.h>

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "duplicates/ChunkedStorage.h"

namespace quarn {

// An XXH3-128 value.
struct Hash128 {
    uint64_t low = 0;
    uint64_t high = 0;

    bool operator==(const Hash128&) const = default;
};

// What identifies a file's contents without reading them; any change of any
// field is a miss.
struct HashCacheKey {
    uint64_t device = 0;
    uint64_t inode = 0;
    uint64_t size = 0;
    int64_t mtimeSeconds = 0;
    uint32_t mtimeNanoseconds = 0;
    int64_t ctimeSeconds = 0;
    uint32_t ctimeNanoseconds = 0;

    bool operator==(const HashCacheKey&) const = default;
};

// The key of the file `status` describes (from an fstat of the open file).
HashCacheKey HashCacheKeyOf(const struct ::stat& status);

// The stages of a file's content hash, each known or not: its first 4 KiB,
// its last 4 KiB and all of it.
struct CachedHashes {
    std::optional<Hash128> first;
    std::optional<Hash128> last;
    std::optional<Hash128> whole;

    bool operator==(const CachedHashes&) const = default;
};

class HashCache {
  public:
    // 4,000,000 entries: about 400 MB in memory and 384 MB on disk.
    static constexpr size_t kDefaultMaxEntries = 4'000'000;
    // Bytes of one entry in the file. In memory an entry takes 92 bytes and
    // 5 to 11 of index (about 100 in all).
    static constexpr size_t kRecordBytes = 96;

    HashCache();
    HashCache(const HashCache&) = delete;
    HashCache& operator=(const HashCache&) = delete;

    // $XDG_CACHE_HOME/quarn/hashes (XDG_CACHE_HOME only when absolute), else
    // $HOME/.cache/quarn/hashes.
    static std::string DefaultPath();

    // Replaces the contents by the file at `path`. A missing file leaves the
    // cache empty and returns nothing. One that cannot be read, or is damaged
    // in any way, also leaves it empty and returns one message for the user.
    std::string Load(const std::string& path);

    // The stages known for `key`, if any; marks the entry as used.
    std::optional<CachedHashes> Find(const HashCacheKey& key) const;
    // Adds the stages `hashes` knows to those of `key`. A stage that differs
    // from the one kept means the file is not what the entry describes: then
    // only the new stages are kept. Keys whose times lie outside 1678 to 2262
    // are not kept (the cache holds times as nanoseconds in 64 bits).
    void Store(const HashCacheKey& key, const CachedHashes& hashes);

    // Writes the cache to `path`, creating its folders (0700) and keeping the
    // MaxEntries() entries used or stored most recently: a temporary file in
    // the same folder is written, synced and renamed over `path`. On failure
    // the earlier file is untouched, `error` says why and false is returned.
    bool Save(const std::string& path, std::string& error) const;

    size_t Size() const;
    size_t MaxEntries() const;
    void SetMaxEntries(size_t count);

  private:
    // Times as nanoseconds since 1970: a key takes 40 bytes.
    struct PackedKey {
        uint64_t device = 0;
        uint64_t inode = 0;
        uint64_t size = 0;
        int64_t modified = 0;
        int64_t changed = 0;

        bool operator==(const PackedKey&) const = default;
    };
    // The stamp and stages known live in m_used, so that nothing pads an entry.
    struct Entry {
        PackedKey key;
        Hash128 first;
        Hash128 last;
        Hash128 whole;
    };
    static_assert(sizeof(Entry) == 88);

    static constexpr uint32_t kNone = UINT32_MAX;
    static constexpr unsigned kStageBits = 3;
    static constexpr uint32_t kMaxStamp = (uint32_t(1) << (32 - kStageBits)) - 1;
    // A slot of the index holds an entry's number + 1 in its low bits (0 when
    // empty) and four more bits of the key's hash, so that most probes read
    // no entry.
    static constexpr unsigned kNumberBits = 28;
    static constexpr uint32_t kNumberMask = (uint32_t(1) << kNumberBits) - 1;
    static constexpr size_t kEntryLimit = kNumberMask;
    // Stamps are renumbered 1, 2, ... when saved.
    static_assert(kMaxStamp >= kEntryLimit);

    // Null when a time does not fit.
    static std::optional<PackedKey> Pack(const HashCacheKey& key);
    // An entry as a record of the file, and back; false for a record no
    // save writes.
    static void Encode(const Entry& entry, uint32_t stages, uint32_t stamp, unsigned char* record);
    static bool Decode(const unsigned char* record, Entry& entry, uint32_t& used);
    uint64_t HashOf(const PackedKey& key) const;
    // The number of the entry of `key`, or kNone; `slot` is where it is or
    // would go.
    uint32_t LocateLocked(const PackedKey& key, uint64_t hash, size_t& slot) const;
    // Adds an entry (room reserved) at the empty `slot`.
    void AppendLocked(const Entry& entry, uint32_t used, uint64_t hash, size_t slot);
    void ResizeIndexLocked(size_t count);
    void ClearLocked();
    // The next stamp of use; stamps only grow within a run.
    uint32_t NextStampLocked() const;
    std::string LoadLocked(const std::string& path);

    const uint64_t m_seed;  // per object, so no file can choose its collisions
    mutable std::mutex m_mutex;
    ChunkedArray<Entry, 14> m_entries;
    // Per entry: stamp << kStageBits | the stages known. Being found is a
    // use that decides what the bound keeps, so Find changes stamps while
    // the cache stays logically unchanged.
    mutable ChunkedArray<uint32_t, 16> m_used;
    mutable uint32_t m_clock = 0;
    std::vector<uint32_t> m_index;  // open addressing, linear probing
    size_t m_maxEntries = kDefaultMaxEntries;
};

}  // namespace quarn

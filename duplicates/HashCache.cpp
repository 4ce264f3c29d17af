#include "duplicates/HashCache.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <xxhash.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstring>
#include <memory>
#include <new>
#include <random>

#include "duplicates/ContentFile.h"
#include "platform/DesktopEntries.h"
#include "platform/FileRead.h"
#include "platform/FileWrite.h"
#include "platform/PathRules.h"

namespace quarn {

// The file: a header, the entries, and an XXH3-64 of both; all integers
// little-endian.
//   header (24 bytes): magic "QuarnHsh", version (u32), entry size (u32),
//                      entry count (u64)
//   entry (96 bytes):  device, inode, size (u64), modification and change
//                      time in nanoseconds since 1970 (i64), the first, last
//                      and whole hash (low u64, high u64; zero when unknown),
//                      stamp of last use (u32), stages known (u32: 1 first,
//                      2 last, 4 whole)
//   trailer (8 bytes): XXH3-64 of all bytes before it

namespace {

constexpr char kMagic[8] = {'Q', 'u', 'a', 'r', 'n', 'H', 's', 'h'};
constexpr uint32_t kVersion = 1;
constexpr size_t kHeaderBytes = 24;
constexpr size_t kTrailerBytes = 8;

constexpr uint32_t kFirst = 1;
constexpr uint32_t kLast = 2;
constexpr uint32_t kWhole = 4;
constexpr uint32_t kAllStages = kFirst | kLast | kWhole;
constexpr size_t kMinSlots = 1024;
// The earliest time a key packs to: whole seconds times 10^9 must fit in 64
// bits. An entry of an earlier time is found by no lookup.
constexpr int64_t kEarliestPacked = (INT64_MIN / 1'000'000'000) * 1'000'000'000;
// Records read or written per system call.
constexpr size_t kBlockRecords = 4096;

void Put32(unsigned char* p, uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        p[i] = static_cast<unsigned char>(value >> (8 * i));
    }
}

void Put64(unsigned char* p, uint64_t value) {
    for (int i = 0; i < 8; ++i) {
        p[i] = static_cast<unsigned char>(value >> (8 * i));
    }
}

uint32_t Get32(const unsigned char* p) {
    uint32_t value = 0;
    for (int i = 3; i >= 0; --i) {
        value = value << 8 | p[i];
    }
    return value;
}

uint64_t Get64(const unsigned char* p) {
    uint64_t value = 0;
    for (int i = 7; i >= 0; --i) {
        value = value << 8 | p[i];
    }
    return value;
}

// Nanoseconds since 1970 in 64 bits, when they hold the time.
std::optional<int64_t> Nanoseconds(int64_t seconds, uint32_t nanoseconds) {
    int64_t total = 0;
    if (nanoseconds >= 1'000'000'000 || __builtin_mul_overflow(seconds, 1'000'000'000, &total) ||
        __builtin_add_overflow(total, int64_t(nanoseconds), &total)) {
        return std::nullopt;
    }
    return total;
}

class FileCloser {
  public:
    explicit FileCloser(int fd) : m_fd(fd) {}
    ~FileCloser() { ::close(m_fd); }
    FileCloser(const FileCloser&) = delete;
    FileCloser& operator=(const FileCloser&) = delete;

  private:
    int m_fd;
};

std::string Damaged(const std::string& path) {
    return "The hash cache " + path + " was damaged and has been discarded.";
}

std::string Unreadable(const std::string& path, int error) {
    return "The hash cache " + path +
           " could not be read and is not used: " + std::strerror(error) + ".";
}

// Creates the missing folders of `folder` (0700: the cache names the user's
// files by inode); false with errno set on failure.
bool MakeFolders(const std::string& folder) {
    for (size_t end = 1; end <= folder.size(); ++end) {
        if (end == folder.size() || folder[end] == '/') {
            std::string part = folder.substr(0, end);
            if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) {
                return false;
            }
        }
    }
    return true;
}

}  // namespace

HashCacheKey HashCacheKeyOf(const struct ::stat& status) {
    HashCacheKey key;
    key.device = uint64_t(status.st_dev);
    key.inode = uint64_t(status.st_ino);
    key.size = uint64_t(status.st_size);
    key.mtimeSeconds = int64_t(status.st_mtim.tv_sec);
    key.mtimeNanoseconds = uint32_t(status.st_mtim.tv_nsec);
    key.ctimeSeconds = int64_t(status.st_ctim.tv_sec);
    key.ctimeNanoseconds = uint32_t(status.st_ctim.tv_nsec);
    return key;
}

HashCache::HashCache() : m_seed(uint64_t(std::random_device{}()) << 32 | std::random_device{}()) {
    ClearLocked();
}

std::string HashCache::DefaultPath() {
    return XdgCacheHome() + "/quarn/hashes";
}

std::optional<HashCache::PackedKey> HashCache::Pack(const HashCacheKey& key) {
    std::optional<int64_t> modified = Nanoseconds(key.mtimeSeconds, key.mtimeNanoseconds);
    std::optional<int64_t> changed = Nanoseconds(key.ctimeSeconds, key.ctimeNanoseconds);
    if (!modified || !changed) {
        return std::nullopt;
    }
    return PackedKey{key.device, key.inode, key.size, *modified, *changed};
}

void HashCache::Encode(const Entry& entry, uint32_t stages, uint32_t stamp, unsigned char* p) {
    std::memset(p, 0, kRecordBytes);
    Put64(p, entry.key.device);
    Put64(p + 8, entry.key.inode);
    Put64(p + 16, entry.key.size);
    Put64(p + 24, uint64_t(entry.key.modified));
    Put64(p + 32, uint64_t(entry.key.changed));
    const Hash128* hashes[3] = {&entry.first, &entry.last, &entry.whole};
    for (unsigned stage = 0; stage < 3; ++stage) {
        if (stages & (1u << stage)) {
            Put64(p + 40 + 16 * stage, hashes[stage]->low);
            Put64(p + 48 + 16 * stage, hashes[stage]->high);
        }
    }
    Put32(p + 88, stamp);
    Put32(p + 92, stages);
}

bool HashCache::Decode(const unsigned char* p, Entry& entry, uint32_t& used) {
    entry.key = PackedKey{Get64(p), Get64(p + 8), Get64(p + 16), int64_t(Get64(p + 24)),
                          int64_t(Get64(p + 32))};
    uint32_t stamp = Get32(p + 88);
    uint32_t stages = Get32(p + 92);
    if (stamp > kMaxStamp || stages == 0 || stages > kAllStages ||
        entry.key.modified < kEarliestPacked || entry.key.changed < kEarliestPacked) {
        return false;
    }
    Hash128* hashes[3] = {&entry.first, &entry.last, &entry.whole};
    for (unsigned stage = 0; stage < 3; ++stage) {
        Hash128 hash{Get64(p + 40 + 16 * stage), Get64(p + 48 + 16 * stage)};
        if (stages & (1u << stage)) {
            *hashes[stage] = hash;
        } else if (hash != Hash128{}) {
            return false;  // Encode writes zeros for a stage not known
        }
    }
    used = stamp << kStageBits | stages;
    return true;
}

uint64_t HashCache::HashOf(const PackedKey& key) const {
    uint64_t words[5] = {key.device, key.inode, key.size, uint64_t(key.modified),
                         uint64_t(key.changed)};
    return XXH3_64bits_withSeed(words, sizeof(words), m_seed);
}

uint32_t HashCache::LocateLocked(const PackedKey& key, uint64_t hash, size_t& slot) const {
    const uint32_t tag = uint32_t(hash >> 60) << kNumberBits;
    const size_t mask = m_index.size() - 1;
    // At most three quarters of the slots are taken: an empty one ends this.
    for (slot = size_t(hash) & mask;; slot = (slot + 1) & mask) {
        uint32_t value = m_index[slot];
        if (value == 0) {
            return kNone;
        }
        if ((value & ~kNumberMask) == tag && m_entries[(value & kNumberMask) - 1].key == key) {
            return (value & kNumberMask) - 1;
        }
    }
}

void HashCache::AppendLocked(const Entry& entry, uint32_t used, uint64_t hash, size_t slot) {
    uint32_t number = uint32_t(m_entries.Append(entry));
    m_used.Append(used);
    m_index[slot] = uint32_t(hash >> 60) << kNumberBits | (number + 1);
    if (m_entries.size() * 4 > m_index.size() * 3) {
        ResizeIndexLocked(m_entries.size());
    }
}

void HashCache::ResizeIndexLocked(size_t count) {
    // Between three eighths and three quarters full: 5 to 11 bytes an entry.
    m_index.assign(std::max(kMinSlots, std::bit_ceil(count + count / 3 + 1)), 0);
    const size_t mask = m_index.size() - 1;
    for (size_t i = 0; i < m_entries.size(); ++i) {
        uint64_t hash = HashOf(m_entries[i].key);
        size_t slot = size_t(hash) & mask;
        while (m_index[slot] != 0) {
            slot = (slot + 1) & mask;
        }
        m_index[slot] = uint32_t(hash >> 60) << kNumberBits | uint32_t(i + 1);
    }
}

void HashCache::ClearLocked() {
    m_entries.Clear();
    m_used.Clear();
    m_clock = 0;
    m_index.assign(kMinSlots, 0);
}

uint32_t HashCache::NextStampLocked() const {
    // Past the last stamp, later uses tie; the next save renumbers them.
    if (m_clock < kMaxStamp) {
        ++m_clock;
    }
    return m_clock;
}

std::optional<CachedHashes> HashCache::Find(const HashCacheKey& key) const {
    std::optional<PackedKey> packed = Pack(key);
    if (!packed) {
        return std::nullopt;
    }
    uint64_t hash = HashOf(*packed);
    std::lock_guard lock(m_mutex);
    size_t slot = 0;
    uint32_t i = LocateLocked(*packed, hash, slot);
    if (i == kNone) {
        return std::nullopt;
    }
    const Entry& entry = m_entries[i];
    uint32_t stages = m_used[i] & kAllStages;
    m_used[i] = NextStampLocked() << kStageBits | stages;
    CachedHashes hashes;
    if (stages & kFirst) {
        hashes.first = entry.first;
    }
    if (stages & kLast) {
        hashes.last = entry.last;
    }
    if (stages & kWhole) {
        hashes.whole = entry.whole;
    }
    return hashes;
}

void HashCache::Store(const HashCacheKey& key, const CachedHashes& hashes) {
    std::optional<PackedKey> packed = Pack(key);
    if (!packed || (!hashes.first && !hashes.last && !hashes.whole)) {
        return;
    }
    uint64_t hash = HashOf(*packed);
    std::lock_guard lock(m_mutex);
    size_t slot = 0;
    uint32_t i = LocateLocked(*packed, hash, slot);
    Entry fresh;
    fresh.key = *packed;
    Entry& entry = i == kNone ? fresh : m_entries[i];
    uint32_t stages = i == kNone ? 0 : m_used[i] & kAllStages;
    bool differs = ((stages & kFirst) && hashes.first && *hashes.first != entry.first) ||
                   ((stages & kLast) && hashes.last && *hashes.last != entry.last) ||
                   ((stages & kWhole) && hashes.whole && *hashes.whole != entry.whole);
    if (differs) {
        stages = 0;
        entry.first = entry.last = entry.whole = Hash128{};
    }
    if (hashes.first) {
        entry.first = *hashes.first;
        stages |= kFirst;
    }
    if (hashes.last) {
        entry.last = *hashes.last;
        stages |= kLast;
    }
    if (hashes.whole) {
        entry.whole = *hashes.whole;
        stages |= kWhole;
    }
    if (i != kNone) {
        m_used[i] = NextStampLocked() << kStageBits | stages;
    } else if (m_entries.size() < kEntryLimit) {
        m_entries.Reserve();
        m_used.Reserve();
        AppendLocked(entry, NextStampLocked() << kStageBits | stages, hash, slot);
    }
}

size_t HashCache::Size() const {
    std::lock_guard lock(m_mutex);
    return m_entries.size();
}

size_t HashCache::MaxEntries() const {
    std::lock_guard lock(m_mutex);
    return m_maxEntries;
}

void HashCache::SetMaxEntries(size_t count) {
    std::lock_guard lock(m_mutex);
    m_maxEntries = std::min(count, kEntryLimit);
}

std::string HashCache::Load(const std::string& path) {
    std::lock_guard lock(m_mutex);
    ClearLocked();
    std::string message = LoadLocked(path);
    if (!message.empty()) {
        ClearLocked();
    }
    return message;
}

std::string HashCache::LoadLocked(const std::string& path) {
    // Not blocking: a pipe put in the cache's place must not hang the search.
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        return errno == ENOENT ? std::string() : Unreadable(path, errno);
    }
    FileCloser closer(fd);
    struct ::stat status;
    if (::fstat(fd, &status) != 0) {
        return Unreadable(path, errno);
    }
    if (S_ISDIR(status.st_mode)) {
        return Unreadable(path, EISDIR);
    }
    // The length is checked before any count is believed.
    uint64_t length = uint64_t(status.st_size);
    if (!S_ISREG(status.st_mode) || length < kHeaderBytes + kTrailerBytes ||
        (length - kHeaderBytes - kTrailerBytes) % kRecordBytes != 0) {
        return Damaged(path);
    }
    uint64_t count = (length - kHeaderBytes - kTrailerBytes) / kRecordBytes;
    unsigned char header[kHeaderBytes];
    ssize_t got = ReadAll(fd, header, sizeof(header));
    if (got < 0) {
        return Unreadable(path, errno);
    }
    if (size_t(got) != sizeof(header) || std::memcmp(header, kMagic, sizeof(kMagic)) != 0 ||
        Get32(header + 8) != kVersion || Get32(header + 12) != kRecordBytes ||
        Get64(header + 16) != count || count > kEntryLimit) {
        return Damaged(path);
    }
    Xxh3State state = NewXxh3State();
    XXH3_64bits_reset(state.get());
    XXH3_64bits_update(state.get(), header, sizeof(header));
    ResizeIndexLocked(size_t(count));
    std::vector<unsigned char> block(kBlockRecords * kRecordBytes);
    std::vector<Entry> entries(kBlockRecords);
    std::vector<uint32_t> used(kBlockRecords);
    std::vector<uint64_t> hashes(kBlockRecords);
    for (uint64_t done = 0; done < count;) {
        size_t records = size_t(std::min<uint64_t>(kBlockRecords, count - done));
        got = ReadAll(fd, block.data(), records * kRecordBytes);
        if (got < 0) {
            return Unreadable(path, errno);
        }
        if (size_t(got) != records * kRecordBytes) {
            return Damaged(path);  // shorter than it was a moment ago
        }
        XXH3_64bits_update(state.get(), block.data(), size_t(got));
        // The slots of a whole block are fetched at once, not one miss after
        // another.
        for (size_t r = 0; r < records; ++r) {
            if (!Decode(block.data() + r * kRecordBytes, entries[r], used[r])) {
                return Damaged(path);
            }
            hashes[r] = HashOf(entries[r].key);
            __builtin_prefetch(&m_index[size_t(hashes[r]) & (m_index.size() - 1)]);
        }
        for (size_t r = 0; r < records; ++r) {
            size_t slot = 0;
            if (LocateLocked(entries[r].key, hashes[r], slot) != kNone) {
                return Damaged(path);  // a key twice
            }
            m_clock = std::max(m_clock, used[r] >> kStageBits);
            m_entries.Reserve();
            m_used.Reserve();
            AppendLocked(entries[r], used[r], hashes[r], slot);
        }
        done += records;
    }
    // One byte more than the trailer shows a file that grew meanwhile.
    unsigned char trailer[kTrailerBytes + 1];
    got = ReadAll(fd, trailer, sizeof(trailer));
    if (got < 0) {
        return Unreadable(path, errno);
    }
    if (size_t(got) != kTrailerBytes || Get64(trailer) != XXH3_64bits_digest(state.get())) {
        return Damaged(path);
    }
    return {};
}

bool HashCache::Save(const std::string& path, std::string& error) const {
    Xxh3State state = NewXxh3State();
    XXH3_64bits_reset(state.get());
    std::lock_guard lock(m_mutex);
    // The kept entries, least recently used first, renumbered 1, 2, ... so
    // that stamps stay small however many runs there are.
    std::vector<uint64_t> order;
    order.reserve(m_entries.size());
    for (size_t i = 0; i < m_entries.size(); ++i) {
        order.push_back(uint64_t(m_used[i] >> kStageBits) << 32 | i);
    }
    if (order.size() > m_maxEntries) {
        auto firstKept = order.end() - ptrdiff_t(m_maxEntries);
        std::nth_element(order.begin(), firstKept, order.end());
        order.erase(order.begin(), firstKept);
    }
    std::sort(order.begin(), order.end());

    auto fail = [&](const std::string& temporary) {
        int saved = errno;
        if (!temporary.empty()) {
            ::unlink(temporary.c_str());
        }
        error = "Cannot save the hash cache " + path + ": " + std::strerror(saved) + ".";
        return false;
    };
    std::string folder(FolderOfPath(path));
    if (!folder.empty() && !MakeFolders(folder)) {
        return fail({});
    }
    std::string temporary = folder.empty() ? std::string() : folder;
    if (!temporary.empty()) {
        AppendPathComponent(temporary, "");
    }
    temporary += "." + std::string(NameOfPath(path)) + ".XXXXXX";
    int fd = ::mkstemp(temporary.data());
    if (fd < 0) {
        return fail({});
    }

    auto emit = [&](const unsigned char* data, size_t size) {
        XXH3_64bits_update(state.get(), data, size);
        return WriteAll(fd, std::string_view(reinterpret_cast<const char*>(data), size));
    };
    unsigned char header[kHeaderBytes];
    std::memcpy(header, kMagic, sizeof(kMagic));
    Put32(header + 8, kVersion);
    Put32(header + 12, kRecordBytes);
    Put64(header + 16, order.size());
    bool ok = emit(header, sizeof(header));
    std::vector<unsigned char> block(kBlockRecords * kRecordBytes);
    for (size_t done = 0; ok && done < order.size();) {
        size_t records = std::min(kBlockRecords, order.size() - done);
        for (size_t r = 0; r < records; ++r) {
            size_t i = size_t(order[done + r] & UINT32_MAX);
            Encode(m_entries[i], m_used[i] & kAllStages, uint32_t(done + r + 1),
                   block.data() + r * kRecordBytes);
        }
        ok = emit(block.data(), records * kRecordBytes);
        done += records;
    }
    unsigned char trailer[kTrailerBytes];
    Put64(trailer, XXH3_64bits_digest(state.get()));
    ok = ok &&
         WriteAll(fd, std::string_view(reinterpret_cast<const char*>(trailer), sizeof(trailer))) &&
         ::fsync(fd) == 0;
    if (!ok) {
        int saved = errno;
        ::close(fd);
        errno = saved;
        return fail(temporary);
    }
    if (::close(fd) != 0 || ::rename(temporary.c_str(), path.c_str()) != 0) {
        return fail(temporary);
    }
    return true;
}

}  // namespace quarn

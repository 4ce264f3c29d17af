#include "platform/ListingChunk.h"

#include <dirent.h>

#include "platform/DirectoryListing.h"

namespace quarn {

namespace {

// How often a stat loop looks at the stop flag: a cancel is heard within
// this many stats.
constexpr size_t kStatsBetweenStopChecks = 64;

}  // namespace

PackedEntry PackFindRecord(const FindRecord& record) {
    PackedEntry packed{};
    packed.lastWriteTime = record.ftLastWriteTime;
    packed.size = record.FileSize();
    packed.device = record.device;
    packed.inode = record.inode;
    packed.allocatedSize = record.allocatedSize;
    packed.mtimeSeconds = record.mtimeSeconds;
    packed.mtimeNanoseconds = record.mtimeNanoseconds;
    packed.linkCount = record.linkCount;
    packed.mode = record.mode;
    packed.attributes = record.dwFileAttributes;
    return packed;
}

void UnpackToFindRecord(const PackedEntry& packed, FindRecord& record) {
    record.dwFileAttributes = packed.attributes;
    record.ftLastWriteTime = packed.lastWriteTime;
    record.SetFileSize(packed.size);
    record.device = packed.device;
    record.inode = packed.inode;
    record.allocatedSize = packed.allocatedSize;
    record.mtimeSeconds = packed.mtimeSeconds;
    record.mtimeNanoseconds = packed.mtimeNanoseconds;
    record.linkCount = packed.linkCount;
    record.mode = packed.mode;
}

ListingChunk::ReadOutcome ListingChunk::ReadNames(int handle, char* buffer, long bufferSize,
                                                  size_t minEntries) {
    DirectoryListing listing = DirectoryListing::Borrow(handle, buffer, bufferSize);
    listing.SkipDotEntries();
    ReadOutcome outcome;
    ListedName listed;
    while (m_entries.size() < minEntries || !listing.AtReadBoundary()) {
        if (!listing.NextName(listed)) {
            outcome.end = true;
            outcome.error = listing.ReadError();
            break;
        }
        std::string_view name(listed.name);
        PackedEntry& entry = m_entries.emplace_back();
        entry = PackedEntry{};
        entry.inode = listed.inode;
        entry.nameOffset = uint32_t(m_names.size());
        entry.nameLength = uint32_t(name.size());
        m_names.append(name);
        m_names.push_back('\0');
        m_types.push_back(listed.type);
    }
    return outcome;
}

bool ListingChunk::StatEntries(int handle, const std::atomic<bool>& stop) {
    FindRecord record;
    for (size_t i = 0; i < m_entries.size(); ++i) {
        if (i % kStatsBetweenStopChecks == 0 && stop.load(std::memory_order_relaxed)) {
            return false;
        }
        PackedEntry& entry = m_entries[i];
        ListedName listed{m_names.data() + entry.nameOffset, m_types[i], entry.inode};
        int error = DirectoryListing::StatEntry(handle, listed, /*skipFolderStatus=*/true, record);
        if (error != 0) {
            entry.statError = error;
            continue;
        }
        uint32_t nameOffset = entry.nameOffset;
        uint32_t nameLength = entry.nameLength;
        entry = PackFindRecord(record);
        entry.nameOffset = nameOffset;
        entry.nameLength = nameLength;
        if (record.IsDirectory()) {
            m_folders.push_back(uint32_t(i));
        }
    }
    std::vector<unsigned char>().swap(m_types);
    return true;
}

void ListingChunk::Clear() {
    constexpr size_t kKeptEntries = 512;
    if (m_entries.capacity() > kKeptEntries) {
        *this = ListingChunk();
        return;
    }
    m_entries.clear();
    m_types.clear();
    m_names.clear();
    m_folders.clear();
    firstIndex = 0;
    ready = false;
}

size_t ListingChunk::Bytes() const {
    return sizeof(*this) + m_entries.capacity() * sizeof(PackedEntry) + m_names.capacity() +
           m_types.capacity() + m_folders.capacity() * sizeof(uint32_t);
}

}  // namespace quarn

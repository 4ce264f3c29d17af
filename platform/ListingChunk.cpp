#include "platform/ListingChunk.h"

#include <dirent.h>

#include "platform/DirectoryListing.h"

namespace quarn {

namespace {

// How often a stat loop looks at the stop flag: a cancel is heard within
// this many stats.
constexpr size_t kStatsBetweenStopChecks = 64;

}  // namespace

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
        Listed& entry = m_entries.emplace_back();
        entry = Listed{};
        entry.entry.inode = listed.inode;
        entry.nameOffset = uint32_t(m_names.size());
        m_names.insert(m_names.end(), name.begin(), name.end());
        m_names.push_back('\0');
        m_types.push_back(listed.type);
    }
    PointNames();
    return outcome;
}

void ListingChunk::PointNames() {
    const char* names = m_names.data();
    for (size_t i = 0; i < m_entries.size(); ++i) {
        uint32_t end =
            i + 1 < m_entries.size() ? m_entries[i + 1].nameOffset : uint32_t(m_names.size());
        uint32_t offset = m_entries[i].nameOffset;
        m_entries[i].entry.name = std::string_view(names + offset, end - 1 - offset);
    }
}

bool ListingChunk::StatEntries(int handle, const std::atomic<bool>& stop) {
    for (size_t i = 0; i < m_entries.size(); ++i) {
        if (i % kStatsBetweenStopChecks == 0 && stop.load(std::memory_order_relaxed)) {
            return false;
        }
        Listed& entry = m_entries[i];
        ListedName listed{entry.entry.name.data(), m_types[i], entry.entry.inode};
        int error =
            DirectoryListing::StatEntry(handle, listed, /*skipFolderStatus=*/true, entry.entry);
        if (error != 0) {
            entry.statError = error;
            continue;
        }
        if (entry.entry.IsDirectory()) {
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
    return sizeof(*this) + m_entries.capacity() * sizeof(Listed) + m_names.capacity() +
           m_types.capacity() + m_folders.capacity() * sizeof(uint32_t);
}

}  // namespace quarn

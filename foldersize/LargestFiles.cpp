#include "foldersize/LargestFiles.h"

#include <algorithm>

#include "platform/PathRules.h"

namespace quarn {

LargestFiles::LargestFiles(size_t capacity) : m_capacity(capacity) {
    // Reserving up front keeps the walk free of reallocations; a huge
    // capacity asked for by a caller is reached by growing instead.
    m_heap.reserve(std::min<size_t>(capacity, kDefaultLargestFiles));
}

bool LargestFiles::ComesBefore(const Entry& a, const Entry& b) {
    if (a.bytes != b.bytes) {
        return a.bytes > b.bytes;
    }
    return a.path < b.path;  // std::string compares as unsigned bytes
}

void LargestFiles::Add(std::string_view folderPath, std::string_view name, uint64_t bytes,
                       int64_t mtimeSeconds) {
    if (m_capacity == 0) {
        return;
    }
    if (m_heap.size() == m_capacity) {
        const Entry& last = m_heap.front();
        if (bytes < last.bytes) {
            return;  // the usual case once the heap is full
        }
        if (bytes == last.bytes) {
            m_scratch.assign(folderPath);
            AppendPathComponent(m_scratch, name);
            if (!(m_scratch < last.path)) {
                return;
            }
        }
        std::pop_heap(m_heap.begin(), m_heap.end(), ComesBefore);
        Entry& slot = m_heap.back();
        slot.path.assign(folderPath);  // reuses the pushed-out entry's buffer
        AppendPathComponent(slot.path, name);
        slot.bytes = bytes;
        slot.mtimeSeconds = mtimeSeconds;
    } else {
        Entry entry;
        entry.path.assign(folderPath);
        AppendPathComponent(entry.path, name);
        entry.bytes = bytes;
        entry.mtimeSeconds = mtimeSeconds;
        m_heap.push_back(std::move(entry));
    }
    std::push_heap(m_heap.begin(), m_heap.end(), ComesBefore);
}

std::vector<LargestFiles::Entry> LargestFiles::Sorted() const {
    std::vector<Entry> sorted = m_heap;
    std::sort(sorted.begin(), sorted.end(), ComesBefore);
    return sorted;
}

}  // namespace quarn

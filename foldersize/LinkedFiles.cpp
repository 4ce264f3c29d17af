#include "foldersize/LinkedFiles.h"

namespace quarn {

uint32_t LinkedFiles::Intern(uint64_t device, uint64_t inode, uint64_t bytes) {
    auto [at, added] = m_index.try_emplace(Key{device, inode}, uint32_t(m_bytes.size()));
    if (added) {
        m_bytes.push_back(bytes);
    }
    return at->second;
}

void LinkedFiles::Clear() {
    // Released, not kept: the next scan may have no links at all.
    std::unordered_map<Key, uint32_t, KeyHash>().swap(m_index);
    std::vector<uint64_t>().swap(m_bytes);
    std::vector<Name>().swap(m_names);
}

}  // namespace quarn

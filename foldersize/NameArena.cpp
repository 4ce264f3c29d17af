#include "foldersize/NameArena.h"

#include <cstring>
#include <stdexcept>

namespace quarn {

NameArena::Ref NameArena::Add(std::string_view name) {
    if (name.size() > kMaxShortName) {
        if (m_longNames.size() >= kLongName) {
            throw std::length_error("too many long names");
        }
        m_longNames.emplace_back(name);
        return kLongName | Ref(m_longNames.size() - 1);
    }
    // A name never spans two blocks, so that it can be read as one view.
    if (m_used + 1 + name.size() > kBlockBytes) {
        if ((m_blocks.size() + 1) * kBlockBytes > kLongName) {
            throw std::length_error("name arena full");
        }
        m_blocks.push_back(std::make_unique_for_overwrite<char[]>(kBlockBytes));
        m_used = 0;
    }
    char* at = m_blocks.back().get() + m_used;
    at[0] = char(static_cast<unsigned char>(name.size()));
    std::memcpy(at + 1, name.data(), name.size());
    Ref ref = Ref((m_blocks.size() - 1) * kBlockBytes + m_used);
    m_used += 1 + name.size();
    return ref;
}

std::string_view NameArena::Get(Ref ref) const {
    if ((ref & kLongName) != 0) {
        return m_longNames[ref & ~kLongName];
    }
    const char* at = m_blocks[ref / kBlockBytes].get() + ref % kBlockBytes;
    return std::string_view(at + 1, static_cast<unsigned char>(at[0]));
}

}  // namespace quarn

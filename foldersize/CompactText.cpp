#include "foldersize/CompactText.h"

#include <cstring>
#include <utility>

namespace quarn {

CompactText::CompactText(CompactText&& other) noexcept {
    std::memcpy(m_inline, other.m_inline, sizeof m_inline);
    other.m_inline[kInlineCapacity] = 0;
}

CompactText& CompactText::operator=(CompactText&& other) noexcept {
    if (this != &other) {
        clear();
        std::memcpy(m_inline, other.m_inline, sizeof m_inline);
        other.m_inline[kInlineCapacity] = 0;
    }
    return *this;
}

char* CompactText::Heap() const {
    char* block;
    std::memcpy(&block, m_inline, sizeof block);
    return block;
}

void CompactText::SetHeap(char* block) {
    std::memcpy(m_inline, &block, sizeof block);
}

void CompactText::clear() {
    if (OnHeap()) {
        delete[] Heap();
    }
    m_inline[kInlineCapacity] = 0;
}

void CompactText::assign(std::string_view text) {
    if (text.size() <= kInlineCapacity) {
        if (OnHeap()) {
            delete[] Heap();
        }
        std::memcpy(m_inline, text.data(), text.size());
        m_inline[kInlineCapacity] = char(text.size());
        return;
    }
    auto length = uint32_t(text.size());
    char* block = new char[sizeof length + text.size()];
    std::memcpy(block, &length, sizeof length);
    std::memcpy(block + sizeof length, text.data(), text.size());
    clear();
    SetHeap(block);
    m_inline[kInlineCapacity] = char(kOnHeap);
}

std::string_view CompactText::view() const {
    if (OnHeap()) {
        uint32_t length;
        std::memcpy(&length, Heap(), sizeof length);
        return std::string_view(Heap() + sizeof length, length);
    }
    return std::string_view(m_inline, static_cast<unsigned char>(m_inline[kInlineCapacity]));
}

}  // namespace quarn

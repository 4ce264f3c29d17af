#include "foldersize/ColumnTexts.h"

#include <cstdint>

namespace quarn {

namespace {

constexpr size_t kLengthBytes = 4;

uint32_t ReadLength(const std::string& packed, size_t at) {
    uint32_t length = 0;
    for (size_t i = 0; i < kLengthBytes; ++i) {
        length |= uint32_t(static_cast<unsigned char>(packed[at + i])) << (8 * i);
    }
    return length;
}

void WriteLength(std::string& out, uint32_t length) {
    for (size_t i = 0; i < kLengthBytes; ++i) {
        out.push_back(char((length >> (8 * i)) & 0xff));
    }
}

}  // namespace

size_t ColumnTexts::Count() const {
    size_t count = 0;
    for (size_t at = 0; at < m_packed.size(); ++count) {
        at += kLengthBytes + ReadLength(m_packed, at);
    }
    return count;
}

std::string_view ColumnTexts::Get(size_t index) const {
    size_t at = 0;
    for (size_t i = 0; at < m_packed.size(); ++i) {
        uint32_t length = ReadLength(m_packed, at);
        if (i == index) {
            return std::string_view(m_packed).substr(at + kLengthBytes, length);
        }
        at += kLengthBytes + length;
    }
    return {};
}

void ColumnTexts::Set(size_t index, std::string_view text) {
    size_t at = 0;
    size_t i = 0;
    while (at < m_packed.size() && i < index) {
        at += kLengthBytes + ReadLength(m_packed, at);
        ++i;
    }
    if (at == m_packed.size()) {
        for (; i < index; ++i) {
            WriteLength(m_packed, 0);
        }
        WriteLength(m_packed, uint32_t(text.size()));
        m_packed.append(text);
        return;
    }
    uint32_t oldLength = ReadLength(m_packed, at);
    std::string entry;
    WriteLength(entry, uint32_t(text.size()));
    entry.append(text);
    m_packed.replace(at, kLengthBytes + oldLength, entry);
}

}  // namespace quarn

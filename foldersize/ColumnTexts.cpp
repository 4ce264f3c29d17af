#include "foldersize/ColumnTexts.h"

#include <cstdint>

namespace quarn {

namespace {

constexpr size_t kLengthBytes = 4;

uint32_t ReadLength(std::string_view packed, size_t at) {
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
    std::string_view packed = m_packed.view();
    size_t count = 0;
    for (size_t at = 0; at < packed.size(); ++count) {
        at += kLengthBytes + ReadLength(packed, at);
    }
    return count;
}

std::string_view ColumnTexts::Get(size_t index) const {
    std::string_view packed = m_packed.view();
    size_t at = 0;
    for (size_t i = 0; at < packed.size(); ++i) {
        uint32_t length = ReadLength(packed, at);
        if (i == index) {
            return packed.substr(at + kLengthBytes, length);
        }
        at += kLengthBytes + length;
    }
    return {};
}

void ColumnTexts::Set(size_t index, std::string_view text) {
    std::string packed = m_packed.str();
    size_t at = 0;
    size_t i = 0;
    while (at < packed.size() && i < index) {
        at += kLengthBytes + ReadLength(packed, at);
        ++i;
    }
    if (at == packed.size()) {
        for (; i < index; ++i) {
            WriteLength(packed, 0);
        }
        WriteLength(packed, uint32_t(text.size()));
        packed.append(text);
    } else {
        uint32_t oldLength = ReadLength(packed, at);
        std::string entry;
        WriteLength(entry, uint32_t(text.size()));
        entry.append(text);
        packed.replace(at, kLengthBytes + oldLength, entry);
    }
    m_packed.assign(packed);
}

}  // namespace quarn

#include "settings/IniText.h"

#include <strings.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

namespace quarn {

namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

bool IsSpace(char c) {
    return IsBlank(c) || c == '\v' || c == '\f';
}

int DigitValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'z') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'Z') {
        return c - 'A' + 10;
    }
    return 99;
}

}  // namespace

bool ParseBool(const char* text, bool def) {
    if (text == nullptr || *text == '\0') {
        return def;
    }
    if (::strcasecmp(text, "true") == 0 || ::strcasecmp(text, "yes") == 0) {
        return true;
    }
    return std::strtoll(text, nullptr, 10) != 0;
}

bool TrimBlanks(char* text) {
    if (text == nullptr) {
        return false;
    }
    size_t length = std::strlen(text);
    size_t first = 0;
    while (first < length && IsBlank(text[first])) {
        ++first;
    }
    size_t last = length;
    while (last > first && IsBlank(text[last - 1])) {
        --last;
    }
    if (first == 0 && last == length) {
        return false;
    }
    std::memmove(text, text + first, last - first);
    text[last - first] = '\0';
    return true;
}

bool TrimBlanks(std::string& text) {
    size_t first = 0;
    while (first < text.size() && IsBlank(text[first])) {
        ++first;
    }
    size_t last = text.size();
    while (last > first && IsBlank(text[last - 1])) {
        --last;
    }
    if (first == 0 && last == text.size()) {
        return false;
    }
    text = text.substr(first, last - first);
    return true;
}

size_t SplitList(const char* text, char* buffer, size_t size, const char* delimiter, bool trim) {
    if (text == nullptr || buffer == nullptr || size == 0) {
        return 0;
    }
    std::memset(buffer, 0, size);
    if (*text == '\0') {
        return 0;
    }
    // One byte of the buffer is always kept for the NUL that closes the list.
    size_t room = size - 1;
    std::string_view delim = delimiter == nullptr ? "," : delimiter;
    std::string_view rest = text;
    if (delim.empty()) {
        size_t n = rest.size() < room ? rest.size() : (room > 0 ? room - 1 : 0);
        std::memcpy(buffer, rest.data(), n);
        return n;
    }
    size_t written = 0;
    for (;;) {
        size_t at = rest.find(delim);
        std::string piece(rest.substr(0, at));
        if (trim) {
            TrimBlanks(piece);
        }
        if (!piece.empty()) {
            if (written + piece.size() + 1 > room) {
                break;
            }
            std::memcpy(buffer + written, piece.data(), piece.size());
            written += piece.size() + 1;
        }
        if (at == std::string_view::npos) {
            break;
        }
        rest.remove_prefix(at + delim.size());
    }
    return written;
}

bool ForEachItem(const char* list, const std::function<bool(const char* item)>& callback) {
    if (list == nullptr || !callback) {
        return false;
    }
    for (const char* item = list; *item != '\0'; item += std::strlen(item) + 1) {
        if (!callback(item)) {
            return false;
        }
    }
    return true;
}

std::string FormatUnsigned(uint64_t value, int radix) {
    if (radix == 2) {
        std::string digits;
        do {
            digits.insert(digits.begin(), char('0' + (value & 1)));
            value >>= 1;
        } while (value != 0);
        return digits;
    }
    const char* format = radix == 8 ? "%llo" : radix == 16 ? "%llX" : "%llu";
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, format, static_cast<unsigned long long>(value));
    return buffer;
}

uint32_t ParseUnsigned32(const char* text, int radix) {
    if (text == nullptr) {
        return 0;
    }
    if (radix != 2 && radix != 8 && radix != 16) {
        radix = 10;
    }
    const char* p = text;
    while (IsSpace(*p)) {
        ++p;
    }
    bool negative = false;
    if (*p == '+' || *p == '-') {
        negative = *p == '-';
        ++p;
    }
    if (radix == 16 && p[0] == '0' && (p[1] == 'x' || p[1] == 'X') && DigitValue(p[2]) < 16) {
        p += 2;
    }
    uint64_t value = 0;
    bool overflow = false;
    for (; DigitValue(*p) < radix; ++p) {
        value = value * unsigned(radix) + unsigned(DigitValue(*p));
        if (value > 0xFFFFFFFFu) {
            overflow = true;
            value = 0xFFFFFFFFu;
        }
    }
    if (overflow) {
        return 0xFFFFFFFFu;
    }
    return negative ? uint32_t(0u - uint32_t(value)) : uint32_t(value);
}

}  // namespace quarn

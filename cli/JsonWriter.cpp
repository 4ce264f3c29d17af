#include "cli/JsonWriter.h"

namespace quarn::cli {

namespace {

// Length of the valid UTF-8 sequence at `i`, or 0 when the byte there does not
// start one (overlong forms, surrogates and values above U+10FFFF are invalid).
size_t ValidUtf8Length(std::string_view s, size_t i) {
    auto byte = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
    auto continuation = [&](size_t k) { return k < s.size() && (byte(k) & 0xC0) == 0x80; };
    unsigned char c = byte(i);
    if (c < 0x80) {
        return 1;
    }
    if (c >= 0xC2 && c <= 0xDF) {
        return continuation(i + 1) ? 2 : 0;
    }
    if (c >= 0xE0 && c <= 0xEF) {
        if (!continuation(i + 1) || !continuation(i + 2)) {
            return 0;
        }
        unsigned char c1 = byte(i + 1);
        if ((c == 0xE0 && c1 < 0xA0) || (c == 0xED && c1 >= 0xA0)) {
            return 0;
        }
        return 3;
    }
    if (c >= 0xF0 && c <= 0xF4) {
        if (!continuation(i + 1) || !continuation(i + 2) || !continuation(i + 3)) {
            return 0;
        }
        unsigned char c1 = byte(i + 1);
        if ((c == 0xF0 && c1 < 0x90) || (c == 0xF4 && c1 >= 0x90)) {
            return 0;
        }
        return 4;
    }
    return 0;
}

bool IsPlainJsonByte(unsigned char c) {
    return c >= 0x20 && c < 0x7F && c != '"' && c != '\\';
}

}  // namespace

std::string JsonString(std::string_view bytes) {
    static const char kHex[] = "0123456789abcdef";
    std::string out;
    out.reserve(bytes.size() + 2);
    out.push_back('"');
    for (size_t i = 0; i < bytes.size();) {
        // Printable ASCII other than the quote and the backslash goes out as
        // it is: a path is mostly that, and one append per run instead of one
        // per byte keeps a large report's output cheap.
        size_t plain = i;
        while (plain < bytes.size() && IsPlainJsonByte(static_cast<unsigned char>(bytes[plain]))) {
            ++plain;
        }
        if (plain > i) {
            out.append(bytes.substr(i, plain - i));
            i = plain;
            continue;
        }
        unsigned char c = static_cast<unsigned char>(bytes[i]);
        size_t length = ValidUtf8Length(bytes, i);
        if (length == 0) {
            out += "\\udc";
            out.push_back(kHex[c >> 4]);
            out.push_back(kHex[c & 0xF]);
            ++i;
            continue;
        }
        if (length > 1) {
            out.append(bytes.substr(i, length));
            i += length;
            continue;
        }
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            case '\b':
                out += "\\b";
                break;
            case '\f':
                out += "\\f";
                break;
            default:
                if (c < 0x20 || c == 0x7F) {
                    out += "\\u00";
                    out.push_back(kHex[c >> 4]);
                    out.push_back(kHex[c & 0xF]);
                } else {
                    out.push_back(char(c));
                }
        }
        ++i;
    }
    out.push_back('"');
    return out;
}

void JsonWriter::Write(std::string_view text) {
    std::fwrite(text.data(), 1, text.size(), m_out);
}

void JsonWriter::BeforeValue() {
    if (m_afterKey) {
        m_afterKey = false;
        return;
    }
    if (!m_firstInScope.empty()) {
        if (!m_firstInScope.back()) {
            Write(",");
        }
        m_firstInScope.back() = false;
    }
}

void JsonWriter::BeginObject() {
    BeforeValue();
    Write("{");
    m_firstInScope.push_back(true);
}

void JsonWriter::EndObject() {
    m_firstInScope.pop_back();
    Write("}");
}

void JsonWriter::BeginArray() {
    BeforeValue();
    Write("[");
    m_firstInScope.push_back(true);
}

void JsonWriter::EndArray() {
    m_firstInScope.pop_back();
    Write("]");
}

void JsonWriter::Key(std::string_view name) {
    BeforeValue();
    Write(JsonString(name));
    Write(":");
    m_afterKey = true;
}

void JsonWriter::String(std::string_view bytes) {
    BeforeValue();
    Write(JsonString(bytes));
}

void JsonWriter::Number(int64_t value) {
    BeforeValue();
    std::fprintf(m_out, "%lld", static_cast<long long>(value));
}

void JsonWriter::Unsigned(uint64_t value) {
    BeforeValue();
    std::fprintf(m_out, "%llu", static_cast<unsigned long long>(value));
}

void JsonWriter::Bool(bool value) {
    BeforeValue();
    Write(value ? "true" : "false");
}

void JsonWriter::Null() {
    BeforeValue();
    Write("null");
}

void JsonWriter::Finish() {
    Write("\n");
    std::fflush(m_out);
}

}  // namespace quarn::cli

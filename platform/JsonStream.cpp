#include "platform/JsonStream.h"

#include "platform/DecodedInput.h"

namespace quarn {

namespace {

constexpr size_t kPieceSize = size_t(1) << 20;

void AppendUtf8(std::string& text, uint32_t code) {
    if (code < 0x80) {
        text += char(code);
    } else if (code < 0x800) {
        text += char(0xc0 | (code >> 6));
        text += char(0x80 | (code & 0x3f));
    } else if (code < 0x10000) {
        text += char(0xe0 | (code >> 12));
        text += char(0x80 | ((code >> 6) & 0x3f));
        text += char(0x80 | (code & 0x3f));
    } else {
        text += char(0xf0 | (code >> 18));
        text += char(0x80 | ((code >> 12) & 0x3f));
        text += char(0x80 | ((code >> 6) & 0x3f));
        text += char(0x80 | (code & 0x3f));
    }
}

}  // namespace

JsonStream::JsonStream(ByteSource& input) : m_input(input), m_piece(new char[kPieceSize]) {}

void JsonStream::Expect(char wanted) {
    if (Peek() != wanted) {
        throw JsonDamage{std::string("expected '") + wanted + "'"};
    }
    Next();
}

uint64_t JsonStream::ReadNumber() {
    int c = Peek();
    if (c == '-') {
        throw JsonDamage{"a negative number"};
    }
    if (c < '0' || c > '9') {
        throw JsonDamage{"expected a number"};
    }
    const uint64_t start = m_offset;
    uint64_t value = 0;
    while (c >= '0' && c <= '9') {
        RawTake();
        uint64_t digit = uint64_t(c - '0');
        if (value > (UINT64_MAX - digit) / 10) {
            throw JsonDamage{"a number too large", start};
        }
        value = value * 10 + digit;
        c = RawPeekOrEnd();
    }
    // A fraction or an exponent: the whole part counts.
    while (c == '.' || c == 'e' || c == 'E' || c == '+' || c == '-' || (c >= '0' && c <= '9')) {
        RawTake();
        c = RawPeekOrEnd();
    }
    return value;
}

uint64_t JsonStream::ReadNumberUpTo(uint64_t limit, const char* tooLarge) {
    Peek();
    const uint64_t start = m_offset;
    const uint64_t value = ReadNumber();
    if (value > limit) {
        throw JsonDamage{tooLarge, start};
    }
    return value;
}

bool JsonStream::ReadBool() {
    int c = Peek();
    if (c == 't') {
        ExpectWord("true");
        return true;
    }
    if (c == 'f') {
        ExpectWord("false");
        return false;
    }
    if (c == 'n') {
        ExpectWord("null");
        return false;
    }
    throw JsonDamage{"expected true or false"};
}

void JsonStream::ExpectWord(const char* word) {
    Peek();
    for (const char* p = word; *p != '\0'; ++p) {
        if (RawNext() != *p) {
            throw JsonDamage{std::string("expected ") + word};
        }
    }
}

// A string's bytes. Bytes of 0x80 and above are taken as they are (that
// is how names that are not UTF-8 travel); \udcXX alone stands for the
// byte XX, as the program's reports write it.
std::string JsonStream::ReadString() {
    if (Peek() != '"') {
        throw JsonDamage{"expected a string"};
    }
    Next();
    std::string text;
    for (;;) {
        int c = RawNext();
        if (c == '"') {
            return text;
        }
        if (c == '\\') {
            Escape(text);
        } else if (c < 0x20) {
            throw JsonDamage{"a control byte inside a string"};
        } else {
            text += char(c);
        }
    }
}

void JsonStream::Escape(std::string& text) {
    int c = RawNext();
    switch (c) {
        case '"':
        case '\\':
        case '/':
            text += char(c);
            return;
        case 'b':
            text += '\b';
            return;
        case 'f':
            text += '\f';
            return;
        case 'n':
            text += '\n';
            return;
        case 'r':
            text += '\r';
            return;
        case 't':
            text += '\t';
            return;
        case 'u':
            break;
        default:
            throw JsonDamage{"an unknown escape in a string"};
    }
    uint32_t unit = Hex4();
    if (unit >= 0xdc80 && unit <= 0xdcff) {
        text += char(unit & 0xff);
        return;
    }
    uint32_t code = unit;
    if (unit >= 0xd800 && unit <= 0xdbff) {
        if (RawNext() != '\\' || RawNext() != 'u') {
            throw JsonDamage{"half of a surrogate pair"};
        }
        uint32_t low = Hex4();
        if (low < 0xdc00 || low > 0xdfff) {
            throw JsonDamage{"half of a surrogate pair"};
        }
        code = 0x10000 + ((unit - 0xd800) << 10) + (low - 0xdc00);
    } else if (unit >= 0xdc00 && unit <= 0xdfff) {
        throw JsonDamage{"half of a surrogate pair"};
    }
    AppendUtf8(text, code);
}

uint32_t JsonStream::Hex4() {
    uint32_t value = 0;
    for (int i = 0; i < 4; ++i) {
        int c = RawNext();
        int digit = c >= '0' && c <= '9'   ? c - '0'
                    : c >= 'a' && c <= 'f' ? c - 'a' + 10
                    : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                           : -1;
        if (digit < 0) {
            throw JsonDamage{"a bad \\u escape"};
        }
        value = value * 16 + uint32_t(digit);
    }
    return value;
}

// Any value, nested as deep as it likes, without recursion.
void JsonStream::SkipValue() {
    int depth = 0;
    do {
        int c = Peek();
        if (c == '"') {
            ReadString();
        } else if (c == '{' || c == '[') {
            Next();
            ++depth;
            continue;
        } else if (c == '}' || c == ']') {
            if (depth == 0) {
                throw JsonDamage{"expected a value"};
            }
            Next();
            --depth;
        } else if (c == ',' || c == ':') {
            if (depth == 0) {
                throw JsonDamage{"expected a value"};
            }
            Next();
            continue;
        } else if (c == 't') {
            ExpectWord("true");
        } else if (c == 'f') {
            ExpectWord("false");
        } else if (c == 'n') {
            ExpectWord("null");
        } else if (c == '-' || (c >= '0' && c <= '9')) {
            Next();
            while (true) {
                int d = RawPeekOrEnd();
                if (d == '.' || d == 'e' || d == 'E' || d == '+' || d == '-' ||
                    (d >= '0' && d <= '9')) {
                    RawTake();
                } else {
                    break;
                }
            }
        } else {
            throw JsonDamage{"expected a value"};
        }
    } while (depth > 0);
}

void JsonStream::SkipObjectBody() {
    // The '{' has been read: pass the rest of the object.
    int depth = 1;
    while (depth > 0) {
        int c = Peek();
        if (c == '"') {
            ReadString();
            continue;
        }
        Next();
        if (c == '{' || c == '[') {
            ++depth;
        } else if (c == '}' || c == ']') {
            --depth;
        }
    }
}
bool JsonStream::Refill() {
    m_at = 0;
    m_size = m_input.Read(m_piece.get(), kPieceSize);
    return m_size > 0;
}

}  // namespace quarn

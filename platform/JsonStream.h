#pragma once
// Reads JSON from a byte source (a file, or its decoded bytes) as a stream, value by value: the
// import's tokens. The input is read in pieces of a fixed size, so memory does not grow with the
// file; nothing is built but the strings and numbers asked for.
//
// Damage throws JsonDamage (with what was wrong), a failed read throws
// JsonReadFailure (with the errno); Offset() tells where reading stopped,
// unless the damage names where it lies.
// Strings are bytes: bytes of 0x80 and above are taken as they are, which is
// how names that are not UTF-8 travel.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace quarn {

class ByteSource;

struct JsonDamage {
    std::string what;
    // Where the damaged value begins, when reading stopped past it (a
    // number too large for what it counts); none: at Offset().
    std::optional<uint64_t> offset = std::nullopt;
    // The offset counts the compressed bytes of the file, not the JSON's.
    bool inCompressedBytes = false;
};
struct JsonReadFailure {
    int error;
};

class JsonStream {
  public:
    static constexpr int kEnd = -1;

    // Reads from `input`, which stays the caller's.
    explicit JsonStream(ByteSource& input);

    // Bytes taken so far.
    uint64_t Offset() const { return m_offset; }

    // The next byte that is not white space, not taken; kEnd at the end.
    int PeekOrEnd() {
        for (;;) {
            if (m_at == m_size && !Refill()) {
                return kEnd;
            }
            auto c = static_cast<unsigned char>(m_piece[m_at]);
            if (c == ' ' || c == '\n' || c == '\r' || c == '\t') {
                ++m_at;
                ++m_offset;
                continue;
            }
            return c;
        }
    }
    // As PeekOrEnd, but the end is damage ("truncated").
    int Peek() {
        int c = PeekOrEnd();
        if (c == kEnd) {
            throw JsonDamage{"truncated"};
        }
        return c;
    }
    // Takes the byte Peek() shows.
    int Next() {
        int c = Peek();
        ++m_at;
        ++m_offset;
        return c;
    }
    // Takes `wanted` or throws.
    void Expect(char wanted);

    // A number's whole part; a sign is damage, a fraction or an exponent is
    // passed over. A number above 2^64-1 is damage at its first digit.
    uint64_t ReadNumber();
    // As ReadNumber, but a number above `limit` is damage too, at its first
    // digit, described as `tooLarge`.
    uint64_t ReadNumberUpTo(uint64_t limit, const char* tooLarge);
    // true or false (null reads as false).
    bool ReadBool();
    // A string's bytes. \udcXX alone stands for the byte XX, as the program's
    // reports write a byte that is not UTF-8.
    std::string ReadString();
    // Any value, nested as deep as it likes, without recursion.
    void SkipValue();
    // The rest of an object whose '{' has been taken.
    void SkipObjectBody();

  private:
    // The next byte as it is, not taken; kEnd at the end. Inside a number a
    // blank ends it: "1 2" is two numbers, never 12.
    int RawPeekOrEnd() {
        if (m_at == m_size && !Refill()) {
            return kEnd;
        }
        return static_cast<unsigned char>(m_piece[m_at]);
    }
    // Takes the byte RawPeekOrEnd() shows.
    void RawTake() {
        ++m_at;
        ++m_offset;
    }
    // The next byte as it is (inside strings and words).
    int RawNext() {
        if (m_at == m_size && !Refill()) {
            throw JsonDamage{"truncated"};
        }
        ++m_offset;
        return static_cast<unsigned char>(m_piece[m_at++]);
    }
    void ExpectWord(const char* word);
    void Escape(std::string& text);
    uint32_t Hex4();
    bool Refill();

    ByteSource& m_input;
    std::unique_ptr<char[]> m_piece;
    size_t m_at = 0;
    size_t m_size = 0;
    uint64_t m_offset = 0;
};

}  // namespace quarn

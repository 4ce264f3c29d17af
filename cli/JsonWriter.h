#pragma once
// A small streaming JSON writer for the headless report.
//
// Strings are bytes as the filesystem gave them. Valid UTF-8 is written as
// it is; a byte that is not part of valid UTF-8 is written as the escape
// \udcXX (XX its hex value), so a reader that maps lone surrogates back
// (Python's surrogateescape) recovers the exact bytes.

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace quarn::cli {

// The JSON string literal for `bytes`, quotes included.
std::string JsonString(std::string_view bytes);

class JsonWriter {
  public:
    explicit JsonWriter(std::FILE* out) : m_out(out) {}

    void BeginObject();
    void EndObject();
    void BeginArray();
    void EndArray();
    // A key of the current object; the value follows with one of the calls below.
    void Key(std::string_view name);
    void String(std::string_view bytes);
    void Number(int64_t value);
    void Unsigned(uint64_t value);
    void Bool(bool value);
    void Null();
    // Ends the document with a newline.
    void Finish();

  private:
    void BeforeValue();
    void Write(std::string_view text);

    std::FILE* m_out;
    std::vector<bool> m_firstInScope;  // one per open object or array
    bool m_afterKey = false;
};

}  // namespace quarn::cli

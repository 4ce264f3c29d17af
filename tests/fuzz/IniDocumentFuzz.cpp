// The INI document on arbitrary text. Input: the file's text, then
// optionally NUL, section, NUL, key, NUL, value for a change to make.
//
// Checked: writing is stable (what was written reads back and writes the
// same), a text with one kind of line end comes back byte for byte, nothing
// read holds a line break, and a storable change reads back as made, survives
// a write and touches no other section.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "settings/IniDocument.h"
#include "tests/fuzz/FuzzCheck.h"
#include "tests/fuzz/FuzzInput.h"

namespace {

using fuzz::SplitAtNul;

using quarn::IniDocument;

bool HasLineBreak(std::string_view text) {
    return text.find_first_of("\r\n") != std::string_view::npos;
}

// A text whose lines all end in the same line end, the last one included.
bool HasOneKindOfLineEnd(std::string_view text) {
    if (text.empty()) {
        return true;
    }
    std::string_view end;
    if (text.ends_with("\r\n")) {
        end = "\r\n";
    } else if (text.back() == '\n' || text.back() == '\r') {
        end = text.substr(text.size() - 1);
    } else {
        return false;
    }
    size_t at = 0;
    while (at < text.size()) {
        size_t next = text.find_first_of("\r\n", at);
        if (text.substr(next, end.size()) != end) {
            return false;
        }
        at = next + end.size();
    }
    return true;
}

std::string_view Trimmed(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
        text.remove_prefix(1);
    }
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) {
        text.remove_suffix(1);
    }
    return text;
}

void CheckReadsHaveNoLineBreaks(const IniDocument& doc) {
    for (const std::string& section : doc.SectionNames()) {
        FUZZ_CHECK(!HasLineBreak(section));
        FUZZ_CHECK(doc.HasSection(section));
        for (const std::string& line : doc.SectionLines(section)) {
            FUZZ_CHECK(!HasLineBreak(line));
            size_t eq = line.find('=');
            if (eq != std::string::npos) {
                std::optional<std::string> value = doc.Value(section, line.substr(0, eq));
                FUZZ_CHECK(value && !HasLineBreak(*value));
            }
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<std::string_view> parts =
        SplitAtNul(std::string_view(reinterpret_cast<const char*>(data), size));
    const std::string_view text = parts[0];

    IniDocument doc = IniDocument::Parse(text);
    const std::string written = doc.Serialize();
    FUZZ_CHECK(IniDocument::Parse(written).Serialize() == written);
    if (HasOneKindOfLineEnd(text)) {
        FUZZ_CHECK(written == text);
    }
    CheckReadsHaveNoLineBreaks(doc);

    if (parts.size() < 4) {
        return 0;
    }
    const std::string_view section = parts[1], key = parts[2], value = parts[3];
    if (!IniDocument::IsStorableSection(section) || !IniDocument::IsStorableKey(key) ||
        !IniDocument::IsStorableValue(value)) {
        return 0;
    }
    // What others read before the change, to see that it stays.
    std::vector<std::pair<std::string, std::vector<std::string>>> others;
    for (const std::string& name : doc.SectionNames()) {
        if (!IniDocument::SameName(name, section)) {
            others.emplace_back(name, doc.SectionLines(name));
        }
    }
    doc.SetValue(section, key, value);
    // A value reads back without its outer blanks and one pair of quotes.
    std::string_view expected = Trimmed(value);
    if (expected.size() >= 2 && (expected.front() == '"' || expected.front() == '\'') &&
        expected.back() == expected.front()) {
        expected = expected.substr(1, expected.size() - 2);
    }
    std::optional<std::string> read = doc.Value(section, key);
    FUZZ_CHECK(read && *read == expected);
    IniDocument reread = IniDocument::Parse(doc.Serialize());
    FUZZ_CHECK(reread.Value(section, key) == read);
    for (const auto& [name, lines] : others) {
        FUZZ_CHECK(reread.SectionLines(name) == lines);
    }
    CheckReadsHaveNoLineBreaks(reread);
    return 0;
}

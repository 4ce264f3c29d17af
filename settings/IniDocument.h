#pragma once
// The text of one INI file in memory: "[section]" lines, "key=value" lines,
// comments and whatever else the file holds.
//
// Names are matched without regard to ASCII letter case and with the blanks
// around them ignored; the first matching section, and in it the first
// matching key, is the one read and changed. Lines before the first section
// header belong to no section: they are kept, but no lookup finds them.
// A change touches only the lines it concerns, so comments, blank lines and
// lines we do not understand survive every write.
//
// A plain value type with no locking; IniFileIo does the file side.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quarn {

class IniDocument {
  public:
    IniDocument() = default;

    // Splits `text` into lines at "\n", "\r\n" and a lone "\r". Written
    // back, every line ends as the first line of `text` did.
    static IniDocument Parse(std::string_view text);
    std::string Serialize() const;

    // The value of `key` in `section`, blanks around it removed and one pair
    // of matching enclosing quotes (" or ') dropped; nullopt when absent.
    std::optional<std::string> Value(std::string_view section, std::string_view key) const;
    bool HasSection(std::string_view section) const;
    // Every section name once (the first spelling met), in file order.
    std::vector<std::string> SectionNames() const;
    // The lines of `section` that are neither blank nor comments, with the
    // blanks at their ends removed; empty when the section is missing.
    std::vector<std::string> SectionLines(std::string_view section) const;

    // Replaces the line of `key` or, when the key is missing, adds one after
    // the section's last line; a missing section is appended at the end.
    void SetValue(std::string_view section, std::string_view key, std::string_view value);
    void DeleteKey(std::string_view section, std::string_view key);
    // Removes the section's header and every line up to the next header.
    void DeleteSection(std::string_view section);
    // Makes `lines` the whole body of `section`, creating it when missing.
    void ReplaceSection(std::string_view section, const std::vector<std::string>& lines);

    // Whether `section` / `key` / `value` can be stored so that they read
    // back as written: no line breaks anywhere, no "=" in a key and no key
    // that would read as a comment or header, no "]" in a section name.
    static bool IsStorableSection(std::string_view section);
    static bool IsStorableKey(std::string_view key);
    static bool IsStorableValue(std::string_view value);
    // Whether two names are the same name: ASCII letter case and the blanks
    // at their ends ignored.
    static bool SameName(std::string_view a, std::string_view b);

  private:
    // Lines [header, end) of a section: its header and its body.
    struct SectionSpan {
        size_t header;
        size_t end;
    };
    std::optional<SectionSpan> FindSection(std::string_view section) const;
    std::optional<size_t> FindKey(const SectionSpan& span, std::string_view key) const;
    // Where a new line goes in a section: after its last non-blank line.
    size_t InsertionPoint(const SectionSpan& span) const;

    std::vector<std::string> m_lines;  // without their line ends
    std::string m_lineEnd = "\n";      // the first line's: written after every line
};

}  // namespace quarn

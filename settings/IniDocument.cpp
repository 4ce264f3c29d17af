#include "settings/IniDocument.h"

#include <algorithm>

namespace quarn {

namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

std::string_view Trimmed(std::string_view text) {
    while (!text.empty() && IsBlank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && IsBlank(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

char LowerAscii(char c) {
    return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
}

bool IsComment(std::string_view trimmed) {
    return !trimmed.empty() && (trimmed.front() == ';' || trimmed.front() == '#');
}

// The name of a "[name]" line, nullopt for any other line.
std::optional<std::string_view> HeaderName(std::string_view line) {
    std::string_view t = Trimmed(line);
    if (t.empty() || t.front() != '[') {
        return std::nullopt;
    }
    size_t close = t.find(']');
    if (close == std::string_view::npos) {
        return std::nullopt;
    }
    return Trimmed(t.substr(1, close - 1));
}

// The key name of a "key=value" line, nullopt for any other line.
std::optional<std::string_view> KeyName(std::string_view line) {
    std::string_view t = Trimmed(line);
    if (t.empty() || IsComment(t) || HeaderName(t)) {
        return std::nullopt;
    }
    size_t eq = t.find('=');
    if (eq == std::string_view::npos) {
        return std::nullopt;
    }
    return Trimmed(t.substr(0, eq));
}

bool HasLineBreak(std::string_view text) {
    return text.find_first_of("\r\n") != std::string_view::npos;
}

}  // namespace

IniDocument IniDocument::Parse(std::string_view text) {
    IniDocument doc;
    size_t start = 0;
    bool first = true;
    while (start < text.size()) {
        // LF, CR LF and a lone CR each end a line: a CR kept inside a line
        // would join two lines into one and hide the second's key.
        size_t stop = text.find_first_of("\r\n", start);
        if (stop == std::string_view::npos) {
            doc.m_lines.emplace_back(text.substr(start));
            break;
        }
        size_t endLength = text.compare(stop, 2, "\r\n") == 0 ? 2 : 1;
        if (first) {
            doc.m_lineEnd = std::string(text.substr(stop, endLength));
            first = false;
        }
        doc.m_lines.emplace_back(text.substr(start, stop - start));
        start = stop + endLength;
    }
    return doc;
}

std::string IniDocument::Serialize() const {
    std::string text;
    for (const std::string& line : m_lines) {
        text += line;
        text += m_lineEnd;
    }
    return text;
}

std::optional<IniDocument::SectionSpan> IniDocument::FindSection(std::string_view section) const {
    for (size_t i = 0; i < m_lines.size(); ++i) {
        std::optional<std::string_view> name = HeaderName(m_lines[i]);
        if (name && SameName(*name, section)) {
            size_t end = i + 1;
            while (end < m_lines.size() && !HeaderName(m_lines[end])) {
                ++end;
            }
            return SectionSpan{i, end};
        }
    }
    return std::nullopt;
}

std::optional<size_t> IniDocument::FindKey(const SectionSpan& span, std::string_view key) const {
    for (size_t i = span.header + 1; i < span.end; ++i) {
        std::optional<std::string_view> name = KeyName(m_lines[i]);
        if (name && SameName(*name, key)) {
            return i;
        }
    }
    return std::nullopt;
}

size_t IniDocument::InsertionPoint(const SectionSpan& span) const {
    size_t at = span.end;
    while (at > span.header + 1 && Trimmed(m_lines[at - 1]).empty()) {
        --at;
    }
    return at;
}

std::optional<std::string> IniDocument::Value(std::string_view section,
                                              std::string_view key) const {
    std::optional<SectionSpan> span = FindSection(section);
    if (!span) {
        return std::nullopt;
    }
    std::optional<size_t> line = FindKey(*span, key);
    if (!line) {
        return std::nullopt;
    }
    std::string_view text = m_lines[*line];
    std::string_view value = Trimmed(text.substr(text.find('=') + 1));
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front()) {
        value = value.substr(1, value.size() - 2);
    }
    return std::string(value);
}

bool IniDocument::HasSection(std::string_view section) const {
    return FindSection(section).has_value();
}

std::vector<std::string> IniDocument::SectionNames() const {
    std::vector<std::string> names;
    for (const std::string& line : m_lines) {
        std::optional<std::string_view> name = HeaderName(line);
        if (name && std::none_of(names.begin(), names.end(),
                                 [&](const std::string& n) { return SameName(n, *name); })) {
            names.emplace_back(*name);
        }
    }
    return names;
}

std::vector<std::string> IniDocument::SectionLines(std::string_view section) const {
    std::vector<std::string> lines;
    std::optional<SectionSpan> span = FindSection(section);
    if (!span) {
        return lines;
    }
    for (size_t i = span->header + 1; i < span->end; ++i) {
        std::string_view t = Trimmed(m_lines[i]);
        if (!t.empty() && !IsComment(t)) {
            lines.emplace_back(t);
        }
    }
    return lines;
}

void IniDocument::SetValue(std::string_view section, std::string_view key, std::string_view value) {
    std::string line = std::string(Trimmed(key)) + "=" + std::string(value);
    std::optional<SectionSpan> span = FindSection(section);
    if (!span) {
        m_lines.push_back("[" + std::string(Trimmed(section)) + "]");
        m_lines.push_back(std::move(line));
        return;
    }
    if (std::optional<size_t> at = FindKey(*span, key)) {
        m_lines[*at] = std::move(line);
        return;
    }
    m_lines.insert(m_lines.begin() + std::ptrdiff_t(InsertionPoint(*span)), std::move(line));
}

void IniDocument::DeleteKey(std::string_view section, std::string_view key) {
    if (std::optional<SectionSpan> span = FindSection(section)) {
        if (std::optional<size_t> at = FindKey(*span, key)) {
            m_lines.erase(m_lines.begin() + std::ptrdiff_t(*at));
        }
    }
}

void IniDocument::DeleteSection(std::string_view section) {
    if (std::optional<SectionSpan> span = FindSection(section)) {
        m_lines.erase(m_lines.begin() + std::ptrdiff_t(span->header),
                      m_lines.begin() + std::ptrdiff_t(span->end));
    }
}

void IniDocument::ReplaceSection(std::string_view section, const std::vector<std::string>& lines) {
    std::optional<SectionSpan> span = FindSection(section);
    if (!span) {
        m_lines.push_back("[" + std::string(Trimmed(section)) + "]");
        m_lines.insert(m_lines.end(), lines.begin(), lines.end());
        return;
    }
    auto first = m_lines.begin() + std::ptrdiff_t(span->header + 1);
    m_lines.erase(first, m_lines.begin() + std::ptrdiff_t(InsertionPoint(*span)));
    m_lines.insert(m_lines.begin() + std::ptrdiff_t(span->header + 1), lines.begin(), lines.end());
}

bool IniDocument::IsStorableSection(std::string_view section) {
    return !HasLineBreak(section) && section.find(']') == std::string_view::npos;
}

bool IniDocument::IsStorableKey(std::string_view key) {
    std::string_view t = Trimmed(key);
    return !HasLineBreak(key) && key.find('=') == std::string_view::npos &&
           (t.empty() || (t.front() != '[' && !IsComment(t)));
}

bool IniDocument::SameName(std::string_view a, std::string_view b) {
    a = Trimmed(a);
    b = Trimmed(b);
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return LowerAscii(x) == LowerAscii(y);
           });
}

bool IniDocument::IsStorableValue(std::string_view value) {
    return !HasLineBreak(value);
}

}  // namespace quarn

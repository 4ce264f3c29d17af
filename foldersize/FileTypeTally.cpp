#include "foldersize/FileTypeTally.h"

#include <algorithm>

#include "platform/ByteSum.h"

namespace quarn {

namespace {

// The extension as it stands in the name, not yet lower-cased.
std::string_view RawExtension(std::string_view name) {
    size_t dot = name.rfind('.');
    if (dot == std::string_view::npos || dot == 0 || dot + 1 == name.size()) {
        return {};
    }
    return name.substr(dot + 1);
}

// ASCII only: a locale's rules would give one file two types on two machines.
void LowerAsciiInto(std::string_view text, std::string& out) {
    out.assign(text);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') {
            c = char(c - 'A' + 'a');
        }
    }
}

}  // namespace

std::string FileTypeTally::ExtensionOf(std::string_view name) {
    std::string ext;
    LowerAsciiInto(RawExtension(name), ext);
    return ext;
}

void FileTypeTally::Add(std::string_view name, uint64_t bytes) {
    const std::string_view raw = RawExtension(name);
    if (m_lastCounts == nullptr || raw != m_lastRaw) {
        LowerAsciiInto(raw, m_scratch);
        auto found = m_counts.find(std::string_view(m_scratch));
        if (found == m_counts.end()) {
            found = m_counts.emplace(m_scratch, Counts{}).first;
        }
        m_lastRaw.assign(raw);
        m_lastCounts = &found->second;
    }
    ++m_lastCounts->files;
    AddBytes(m_lastCounts->bytes, bytes);
}

std::vector<FileTypeTally::Row> FileTypeTally::Rows() const {
    std::vector<Row> rows;
    rows.reserve(m_counts.size());
    for (const auto& [ext, counts] : m_counts) {
        rows.push_back(Row{ext, counts.files, counts.bytes});
    }
    std::sort(rows.begin(), rows.end(), ComesBefore);
    return rows;
}

bool FileTypeTally::ComesBefore(const Row& a, const Row& b) {
    if (a.bytes != b.bytes) {
        return a.bytes > b.bytes;
    }
    if (a.files != b.files) {
        return a.files > b.files;
    }
    return a.ext < b.ext;
}

}  // namespace quarn

#include "settings/IniFile.h"

#include <algorithm>
#include <charconv>
#include <cstring>

#include "settings/IniFileIo.h"

namespace quarn {

namespace {

// Numeric and boolean reads look at the start of a value only.
constexpr size_t kNumberChars = 64;

std::string NumberPart(const std::string& value) {
    return value.substr(0, kNumberChars);
}

std::string FormatInt(int value, int radix) {
    if (radix == 2 || radix == 8 || radix == 16) {
        return FormatUnsigned(static_cast<uint32_t>(value), radix);
    }
    return std::to_string(value);
}

std::string FormatUInt(unsigned value, int radix) {
    return FormatUnsigned(value, radix);
}

// Fixed notation with a "." in every locale, so a file written under one
// locale reads back under another.
std::string FormatDouble(double value, int precision) {
    int decimals = precision <= 0 ? 6 : precision;
    std::string text(400 + size_t(decimals), '\0');
    auto result = std::to_chars(text.data(), text.data() + text.size(), value,
                                std::chars_format::fixed, decimals);
    text.resize(size_t(result.ptr - text.data()));
    return text;
}

double ParseDouble(const std::string& text) {
    const char* p = text.c_str();
    while (*p == ' ' || *p == '\t') {
        ++p;
    }
    if (*p == '+') {
        ++p;
    }
    double value = 0;
    auto result = std::from_chars(p, text.c_str() + text.size(), value);
    return result.ec == std::errc() ? value : 0.0;
}

std::string HexOf(const void* data, size_t length) {
    static const char kDigits[] = "0123456789ABCDEF";
    const auto* bytes = static_cast<const unsigned char*>(data);
    std::string text;
    text.reserve(length * 2);
    for (size_t i = 0; i < length; ++i) {
        text += kDigits[bytes[i] >> 4];
        text += kDigits[bytes[i] & 0x0F];
    }
    return text;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

void PutLittleEndian(unsigned char* out, int32_t value) {
    auto bits = static_cast<uint32_t>(value);
    for (int i = 0; i < 4; ++i) {
        out[i] = static_cast<unsigned char>(bits >> (8 * i));
    }
}

int32_t GetLittleEndian(const unsigned char* in) {
    uint32_t bits = 0;
    for (int i = 0; i < 4; ++i) {
        bits |= uint32_t(in[i]) << (8 * i);
    }
    return static_cast<int32_t>(bits);
}

// Writes `items` as a NUL-separated list closed by a NUL into a cleared
// buffer, leaving out what does not fit; returns the characters written
// without the closing NUL. With a null buffer: the size a buffer needs,
// plus one spare character.
size_t CopyList(const std::vector<std::string>& items, char* buffer, size_t size) {
    if (buffer == nullptr) {
        size_t total = 0;
        for (const std::string& item : items) {
            total += item.size() + 1;
        }
        return total + 2;
    }
    if (size == 0) {
        return 0;
    }
    std::memset(buffer, 0, size);
    size_t written = 0;
    for (const std::string& item : items) {
        if (written + item.size() + 1 > size - 1) {
            break;
        }
        std::memcpy(buffer + written, item.data(), item.size());
        written += item.size() + 1;
    }
    return written;
}

bool Storable(const char* section, const char* key, std::string_view value) {
    return section != nullptr && key != nullptr && IniDocument::IsStorableSection(section) &&
           IniDocument::IsStorableKey(key) && IniDocument::IsStorableValue(value);
}

}  // namespace

CIniFile::CIniFile(const char* path) {
    if (path != nullptr) {
        m_strPath = path;
    }
}

CIniFile::CIniFile(const std::string& path) : m_strPath(path) {}

CIniFile::~CIniFile() = default;

void CIniFile::SetPath(const char* path) {
    m_strPath = path != nullptr ? path : "";
}

size_t CIniFile::GetPath(char* buffer, size_t size) const {
    if (buffer == nullptr || size == 0) {
        return 0;
    }
    std::memset(buffer, 0, size);
    std::string path = GetPath();
    size_t n = std::min(path.size(), size - 1);
    std::memcpy(buffer, path.data(), n);
    return n;
}

std::string CIniFile::GetPath() const {
    return m_strPath.value_or(std::string());
}

std::optional<std::string> CIniFile::Lookup(const char* section, const char* key) const {
    if (section == nullptr || key == nullptr || !m_strPath) {
        return std::nullopt;
    }
    return LoadIniDocument(*m_strPath).Value(section, key);
}

template <typename Next>
bool CIniFile::ModifyValue(const char* section, const char* key, Next next) {
    if (section == nullptr || key == nullptr || !m_strPath) {
        return false;
    }
    return UpdateIniDocument(*m_strPath, [&](IniDocument& doc) {
        std::optional<std::string> value = next(doc.Value(section, key));
        if (!value || !Storable(section, key, *value)) {
            return false;
        }
        doc.SetValue(section, key, *value);
        return true;
    });
}

// ---- Strings ----

std::string CIniFile::ReadString(const char* section, const char* key, const char* def) const {
    std::optional<std::string> value = Lookup(section, key);
    if (value) {
        return *value;
    }
    return def != nullptr ? def : "";
}

size_t CIniFile::ReadString(const char* section, const char* key, char* buffer, size_t size,
                            const char* def) const {
    std::string value = ReadString(section, key, def);
    if (buffer == nullptr) {
        return value.size();
    }
    if (size == 0) {
        return 0;
    }
    std::memset(buffer, 0, size);
    size_t n = std::min(value.size(), size - 1);
    std::memcpy(buffer, value.data(), n);
    return n;
}

bool CIniFile::WriteString(const char* section, const char* key, const char* value) {
    std::string text = value != nullptr ? value : "";
    return ModifyValue(section, key, [&](const std::optional<std::string>&) { return text; });
}

bool CIniFile::AppendString(const char* section, const char* key, const char* text) {
    if (text == nullptr) {
        return false;
    }
    return ModifyValue(section, key, [&](const std::optional<std::string>& current) {
        return current.value_or(std::string()) + text;
    });
}

// ---- Numbers, booleans, characters ----

int CIniFile::ReadInt(const char* section, const char* key, int def, int radix) const {
    return static_cast<int>(ReadUInt(section, key, static_cast<unsigned>(def), radix));
}

unsigned CIniFile::ReadUInt(const char* section, const char* key, unsigned def, int radix) const {
    std::string value = NumberPart(ReadString(section, key, ""));
    return value.empty() ? def : ParseUnsigned32(value.c_str(), radix);
}

bool CIniFile::WriteInt(const char* section, const char* key, int value, int radix) {
    return WriteString(section, key, FormatInt(value, radix).c_str());
}

bool CIniFile::WriteUInt(const char* section, const char* key, unsigned value, int radix) {
    return WriteString(section, key, FormatUInt(value, radix).c_str());
}

bool CIniFile::AddToInt(const char* section, const char* key, int delta, int radix) {
    return ModifyValue(section, key, [&](const std::optional<std::string>& current) {
        std::string text = NumberPart(current.value_or(std::string()));
        uint32_t base = text.empty() ? 0u : ParseUnsigned32(text.c_str(), radix);
        // Unsigned arithmetic wraps like the stored 32 bits do.
        return FormatInt(static_cast<int>(base + static_cast<uint32_t>(delta)), radix);
    });
}

bool CIniFile::AddToUInt(const char* section, const char* key, unsigned delta, int radix) {
    return ModifyValue(section, key, [&](const std::optional<std::string>& current) {
        std::string text = NumberPart(current.value_or(std::string()));
        uint32_t base = text.empty() ? 0u : ParseUnsigned32(text.c_str(), radix);
        return FormatUInt(base + delta, radix);
    });
}

bool CIniFile::ReadBool(const char* section, const char* key, bool def) const {
    std::optional<std::string> value = Lookup(section, key);
    return ParseBool(value ? NumberPart(*value).c_str() : nullptr, def);
}

bool CIniFile::WriteBool(const char* section, const char* key, bool flag) {
    return WriteString(section, key, flag ? "1" : "0");
}

bool CIniFile::ToggleBool(const char* section, const char* key) {
    return ModifyValue(section, key, [&](const std::optional<std::string>& current) {
        bool now = ParseBool(current ? NumberPart(*current).c_str() : nullptr, false);
        return std::string(now ? "0" : "1");
    });
}

double CIniFile::ReadDouble(const char* section, const char* key, double def) const {
    std::string value = NumberPart(ReadString(section, key, ""));
    return value.empty() ? def : ParseDouble(value);
}

bool CIniFile::WriteDouble(const char* section, const char* key, double value, int precision) {
    return WriteString(section, key, FormatDouble(value, precision).c_str());
}

bool CIniFile::AddToDouble(const char* section, const char* key, double delta, int precision) {
    return ModifyValue(section, key, [&](const std::optional<std::string>& current) {
        std::string text = NumberPart(current.value_or(std::string()));
        double base = text.empty() ? 0.0 : ParseDouble(text);
        return FormatDouble(base + delta, precision);
    });
}

char CIniFile::ReadChar(const char* section, const char* key, char def) const {
    std::string value = ReadString(section, key, "");
    return value.empty() ? def : value.front();
}

bool CIniFile::WriteChar(const char* section, const char* key, char c) {
    char text[2] = {c, '\0'};
    return WriteString(section, key, text);
}

// ---- Byte blocks ----

bool CIniFile::WriteBlock(const char* section, const char* key, const void* data, size_t length) {
    if (data == nullptr) {
        return false;
    }
    return WriteString(section, key, HexOf(data, length).c_str());
}

bool CIniFile::AppendBlock(const char* section, const char* key, const void* data, size_t length) {
    if (data == nullptr) {
        return false;
    }
    return AppendString(section, key, HexOf(data, length).c_str());
}

size_t CIniFile::ReadBlock(const char* section, const char* key, void* buffer, size_t size,
                           size_t offset) const {
    std::string text = ReadString(section, key, "");
    for (char c : text) {
        if (HexDigit(c) < 0) {
            return 0;
        }
    }
    size_t stored = text.size() / 2;
    if (offset >= stored) {
        return 0;
    }
    size_t available = stored - offset;
    if (buffer == nullptr) {
        return available;
    }
    size_t n = std::min(available, size);
    auto* out = static_cast<unsigned char*>(buffer);
    for (size_t i = 0; i < n; ++i) {
        size_t at = 2 * (offset + i);
        out[i] = static_cast<unsigned char>(HexDigit(text[at]) * 16 + HexDigit(text[at + 1]));
    }
    return n;
}

bool CIniFile::WritePoint(const char* section, const char* key, IniPoint point) {
    unsigned char bytes[8];
    PutLittleEndian(bytes, point.x);
    PutLittleEndian(bytes + 4, point.y);
    return WriteBlock(section, key, bytes, sizeof bytes);
}

IniPoint CIniFile::ReadPoint(const char* section, const char* key, IniPoint def) const {
    unsigned char bytes[8];
    if (ReadBlock(section, key, nullptr, 0, 0) != sizeof bytes ||
        ReadBlock(section, key, bytes, sizeof bytes, 0) != sizeof bytes) {
        return def;
    }
    return IniPoint{GetLittleEndian(bytes), GetLittleEndian(bytes + 4)};
}

bool CIniFile::WriteRect(const char* section, const char* key, const IniRect& rect) {
    unsigned char bytes[16];
    PutLittleEndian(bytes, rect.left);
    PutLittleEndian(bytes + 4, rect.top);
    PutLittleEndian(bytes + 8, rect.right);
    PutLittleEndian(bytes + 12, rect.bottom);
    return WriteBlock(section, key, bytes, sizeof bytes);
}

IniRect CIniFile::ReadRect(const char* section, const char* key, const IniRect& def) const {
    unsigned char bytes[16];
    if (ReadBlock(section, key, nullptr, 0, 0) != sizeof bytes ||
        ReadBlock(section, key, bytes, sizeof bytes, 0) != sizeof bytes) {
        return def;
    }
    return IniRect{GetLittleEndian(bytes), GetLittleEndian(bytes + 4), GetLittleEndian(bytes + 8),
                   GetLittleEndian(bytes + 12)};
}

// ---- Lists ----

size_t CIniFile::ReadList(const char* section, const char* key, char* buffer, size_t size,
                          const char* delimiter, bool trim) const {
    if (buffer != nullptr && size > 0) {
        std::memset(buffer, 0, size);
    }
    std::string value = ReadString(section, key, "");
    if (value.empty()) {
        return 0;
    }
    if (buffer == nullptr) {
        // The split never writes more than the text plus two NULs.
        std::vector<char> scratch(value.size() + 2);
        return SplitList(value.c_str(), scratch.data(), scratch.size(), delimiter, trim) + 1;
    }
    return SplitList(value.c_str(), buffer, size, delimiter, trim);
}

size_t CIniFile::ReadList(const char* section, const char* key, std::vector<std::string>& items,
                          const char* delimiter) const {
    items.clear();
    std::string value = ReadString(section, key, "");
    if (value.empty()) {
        return 0;
    }
    std::vector<char> scratch(value.size() + 2);
    SplitList(value.c_str(), scratch.data(), scratch.size(), delimiter, true);
    ForEachItem(scratch.data(), [&](const char* item) {
        items.emplace_back(item);
        return true;
    });
    return items.size();
}

bool CIniFile::WriteList(const char* section, const char* key,
                         const std::vector<std::string>& items, int count, const char* delimiter) {
    size_t n = count < 0 || size_t(count) > items.size() ? items.size() : size_t(count);
    const char* delim = delimiter == nullptr || *delimiter == '\0' ? "," : delimiter;
    std::string joined;
    for (size_t i = 0; i < n; ++i) {
        if (i > 0) {
            joined += delim;
        }
        joined += items[i];
    }
    return WriteString(section, key, joined.c_str());
}

// ---- Sections and keys ----

size_t CIniFile::ReadSection(const char* section, char* buffer, size_t size) const {
    if (buffer != nullptr && size > 0) {
        std::memset(buffer, 0, size);
    }
    if (section == nullptr) {
        return 0;
    }
    std::vector<std::string> lines;
    ReadKeyLines(section, lines);
    return CopyList(lines, buffer, size);
}

size_t CIniFile::ReadSectionNames(char* buffer, size_t size) const {
    std::vector<std::string> names;
    ReadSectionNames(names);
    return CopyList(names, buffer, size);
}

size_t CIniFile::ReadSectionNames(std::vector<std::string>& names) const {
    names.clear();
    if (m_strPath) {
        names = LoadIniDocument(*m_strPath).SectionNames();
    }
    return names.size();
}

size_t CIniFile::ReadKeyLines(const char* section, std::vector<std::string>& lines) const {
    lines.clear();
    if (section != nullptr && m_strPath) {
        lines = LoadIniDocument(*m_strPath).SectionLines(section);
    }
    return lines.size();
}

size_t CIniFile::ReadKeyNames(const char* section, char* buffer, size_t size) const {
    if (buffer != nullptr && size > 0) {
        std::memset(buffer, 0, size);
    }
    if (section == nullptr) {
        return 0;
    }
    std::vector<std::string> names;
    ReadKeyNames(section, names);
    size_t total = 0;
    for (const std::string& name : names) {
        if (buffer == nullptr) {
            total += name.size() + 1;
            continue;
        }
        // Room for this name and its NUL, keeping one for the list's end.
        size_t room = size > total + 1 ? size - total - 1 : 0;
        if (room < 2) {
            break;
        }
        size_t n = std::min(name.size(), room - 1);
        std::memcpy(buffer + total, name.data(), n);
        total += n + 1;
    }
    return total;
}

size_t CIniFile::ReadKeyNames(const char* section, std::vector<std::string>& names) const {
    names.clear();
    std::vector<std::string> lines;
    ReadKeyLines(section, lines);
    for (std::string& line : lines) {
        size_t eq = line.find('=');
        if (eq == std::string::npos || eq == 0) {
            continue;
        }
        std::string name = line.substr(0, eq);
        TrimBlanks(name);
        names.push_back(std::move(name));
    }
    return names.size();
}

bool CIniFile::DeleteSection(const char* section) {
    if (section == nullptr || !m_strPath) {
        return false;
    }
    return UpdateIniDocument(*m_strPath, [&](IniDocument& doc) {
        doc.DeleteSection(section);
        return true;
    });
}

bool CIniFile::DeleteKey(const char* section, const char* key) {
    if (section == nullptr || key == nullptr || !m_strPath) {
        return false;
    }
    return UpdateIniDocument(*m_strPath, [&](IniDocument& doc) {
        doc.DeleteKey(section, key);
        return true;
    });
}

bool CIniFile::SectionExists(const char* section) const {
    return section != nullptr && m_strPath && LoadIniDocument(*m_strPath).HasSection(section);
}

bool CIniFile::KeyExists(const char* section, const char* key) const {
    if (section == nullptr || key == nullptr) {
        return false;
    }
    return ReadString(section, key, kIniKeyExistsSentinel) != kIniKeyExistsSentinel;
}

bool CIniFile::CopySectionStep(const char* from, const char* to, bool failIfExists,
                               bool removeFrom) {
    if (from == nullptr || to == nullptr || !m_strPath || IniDocument::SameName(from, to) ||
        !IniDocument::IsStorableSection(to) || !SectionExists(from)) {
        return false;
    }
    return UpdateIniDocument(*m_strPath, [&](IniDocument& doc) {
        if (!doc.HasSection(from) || (failIfExists && doc.HasSection(to))) {
            return false;
        }
        std::vector<std::string> lines = doc.SectionLines(from);
        doc.DeleteSection(to);
        doc.ReplaceSection(to, lines);
        if (removeFrom) {
            doc.DeleteSection(from);
        }
        return true;
    });
}

bool CIniFile::CopyKeyStep(const char* fromSection, const char* fromKey, const char* toSection,
                           const char* toKey, bool failIfExists, bool removeFrom) {
    if (fromSection == nullptr || fromKey == nullptr || toSection == nullptr || toKey == nullptr ||
        !m_strPath ||
        (IniDocument::SameName(fromSection, toSection) && IniDocument::SameName(fromKey, toKey)) ||
        !KeyExists(fromSection, fromKey)) {
        return false;
    }
    return UpdateIniDocument(*m_strPath, [&](IniDocument& doc) {
        std::optional<std::string> value = doc.Value(fromSection, fromKey);
        if (!value || *value == kIniKeyExistsSentinel ||
            (failIfExists && doc.Value(toSection, toKey) &&
             *doc.Value(toSection, toKey) != kIniKeyExistsSentinel) ||
            !Storable(toSection, toKey, *value)) {
            return false;
        }
        doc.SetValue(toSection, toKey, *value);
        if (removeFrom) {
            doc.DeleteKey(fromSection, fromKey);
        }
        return true;
    });
}

bool CIniFile::CopySection(const char* from, const char* to, bool failIfExists) {
    return CopySectionStep(from, to, failIfExists, false);
}

bool CIniFile::CopyKey(const char* fromSection, const char* fromKey, const char* toSection,
                       const char* toKey, bool failIfExists) {
    return CopyKeyStep(fromSection, fromKey, toSection, toKey, failIfExists, false);
}

bool CIniFile::MoveSection(const char* from, const char* to, bool failIfExists) {
    return CopySectionStep(from, to, failIfExists, true);
}

bool CIniFile::MoveKey(const char* fromSection, const char* fromKey, const char* toSection,
                       const char* toKey, bool failIfExists) {
    return CopyKeyStep(fromSection, fromKey, toSection, toKey, failIfExists, true);
}

}  // namespace quarn

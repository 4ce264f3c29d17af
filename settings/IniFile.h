#pragma once
// CIniFile: typed access to one INI file.
//
// A small value class that binds a file path. It keeps no cache: every read
// reads the file, every write reaches the file before it returns. Any number
// of objects on any threads (and other processes) may use the same file at
// once; each change is one locked read-modify-write that replaces the file
// atomically (see IniFileIo.h), so no change is lost and a reader never sees
// half a file. One object is not meant to be shared between threads while
// SetPath is called on it.
//
// Only a regular file of up to 16 MB is read: anything else at the path (a
// FIFO, a device, a folder, a larger file) reads at once as if it held
// nothing, so every read gives its default, and it is never written over.
//
// Section and key names: null means "missing" (writes return false and
// change nothing, reads give the default); they are matched without regard
// to ASCII letter case. Writes return true when the file holds the change,
// false when it could not be written (the file then stays as it was) or
// when a name or value cannot be stored as given (a line break anywhere, "="
// in a key, "]" in a section name): storing those would make other lines of
// the file read differently.
//
// Value texts in the file: booleans "1"/"0"; integers in radix 10 unless 2,
// 8 or 16 is asked for; floating-point numbers in fixed notation with a "."
// whatever the locale; byte blocks as two upper-case hexadecimal digits per
// byte; points and rectangles as blocks of little-endian 32-bit integers;
// lists as items joined by a delimiter (default ",").
//
// Buffer forms follow one rule: a given buffer is cleared first and always
// ends with a NUL inside `size` (lists with their closing NUL too).

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "settings/IniDocument.h"
#include "settings/IniText.h"

namespace quarn {

// A key whose value is this text reads as absent in KeyExists.
inline constexpr const char* kIniKeyExistsSentinel = "{63788286-AE30-4D6B-95DF-3B451C1C79F9}";

struct IniPoint {
    int32_t x = 0;
    int32_t y = 0;
    bool operator==(const IniPoint&) const = default;
};

struct IniRect {
    int32_t left = 0;
    int32_t top = 0;
    int32_t right = 0;
    int32_t bottom = 0;
    bool operator==(const IniRect&) const = default;
};

class CIniFile {
  public:
    // No file bound: reads give their defaults, writes return false.
    CIniFile() = default;
    // Binds a copy of `path`; null binds nothing.
    explicit CIniFile(const char* path);
    explicit CIniFile(const std::string& path);
    virtual ~CIniFile();
    CIniFile(const CIniFile&) = default;
    CIniFile& operator=(const CIniFile&) = default;

    // Non-null: binds a copy of `path`. Null: the path becomes the empty text
    // (still bound, naming no file).
    void SetPath(const char* path);
    // Copies at most size - 1 characters of the path and a NUL into the
    // cleared buffer; returns how many characters it holds.
    size_t GetPath(char* buffer, size_t size) const;
    std::string GetPath() const;

    // ---- Strings ----
    // The value, or `def` (null = empty text) when the key is absent.
    std::string ReadString(const char* section, const char* key, const char* def = nullptr) const;
    // Copies at most size - 1 characters of the value (or default) and a NUL
    // into the cleared buffer and returns how many; with a null buffer
    // returns the value's full length.
    size_t ReadString(const char* section, const char* key, char* buffer, size_t size,
                      const char* def) const;
    // A null value is written as the empty text (the key remains).
    bool WriteString(const char* section, const char* key, const char* value);
    // Writes the current value followed by `text` (false for a null text).
    bool AppendString(const char* section, const char* key, const char* text);

    // ---- Numbers, booleans, characters ----
    // The first 64 characters of the value as an unsigned number in `radix`
    // (2, 8, 16, else 10), as 32 bits; `def` when empty or absent.
    int ReadInt(const char* section, const char* key, int def, int radix = 10) const;
    unsigned ReadUInt(const char* section, const char* key, unsigned def, int radix = 10) const;
    bool WriteInt(const char* section, const char* key, int value, int radix = 10);
    bool WriteUInt(const char* section, const char* key, unsigned value, int radix = 10);
    // Add `delta` to the current value (absent = 0), in one locked step.
    bool AddToInt(const char* section, const char* key, int delta, int radix = 10);
    bool AddToUInt(const char* section, const char* key, unsigned delta, int radix = 10);

    bool ReadBool(const char* section, const char* key, bool def) const;
    bool WriteBool(const char* section, const char* key, bool flag);
    // Writes the negation of the current value (absent = false), in one step.
    bool ToggleBool(const char* section, const char* key);

    double ReadDouble(const char* section, const char* key, double def) const;
    // Six decimals when `precision` is 0 or less, else `precision` decimals.
    bool WriteDouble(const char* section, const char* key, double value, int precision = 0);
    bool AddToDouble(const char* section, const char* key, double delta, int precision = 0);

    // The first character of the value; `def` when empty or absent.
    char ReadChar(const char* section, const char* key, char def) const;
    bool WriteChar(const char* section, const char* key, char c);

    // ---- Byte blocks ----
    bool WriteBlock(const char* section, const char* key, const void* data, size_t length);
    bool AppendBlock(const char* section, const char* key, const void* data, size_t length);
    // Decodes the stored hexadecimal text from byte `offset` into `buffer`
    // and returns the number of bytes placed (at most `size`); with a null
    // buffer, the number of bytes available after `offset`. 0 when `offset`
    // is not below the stored byte count or the text holds a character that
    // is not a hexadecimal digit.
    size_t ReadBlock(const char* section, const char* key, void* buffer, size_t size,
                     size_t offset = 0) const;
    bool WritePoint(const char* section, const char* key, IniPoint point);
    // `def` unless exactly 8 bytes are stored.
    IniPoint ReadPoint(const char* section, const char* key, IniPoint def) const;
    bool WriteRect(const char* section, const char* key, const IniRect& rect);
    // `def` unless exactly 16 bytes are stored.
    IniRect ReadRect(const char* section, const char* key, const IniRect& def) const;

    // ---- Lists ----
    // Splits the value (SplitList) into the cleared buffer and returns the
    // characters written; with a null buffer returns the buffer size the
    // split needs. 0 for a null name or an empty value.
    size_t ReadList(const char* section, const char* key, char* buffer, size_t size,
                    const char* delimiter = nullptr, bool trim = true) const;
    // Replaces `items` with the value's non-empty items, trimmed; returns
    // their number.
    size_t ReadList(const char* section, const char* key, std::vector<std::string>& items,
                    const char* delimiter = nullptr) const;
    // Joins the first `count` items (all when negative or too large) with
    // `delimiter` (null or empty = ",") and writes them.
    bool WriteList(const char* section, const char* key, const std::vector<std::string>& items,
                   int count = -1, const char* delimiter = nullptr);

    // ---- Sections and keys ----
    // The section's lines (blank and comment lines left out) as a list of
    // NUL-terminated lines closed by an extra NUL; returns the characters
    // written without the closing NUL (lines that do not fit are left out).
    // With a null buffer returns the buffer size needed, plus one spare.
    size_t ReadSection(const char* section, char* buffer, size_t size) const;
    // Same for the section names of the file.
    size_t ReadSectionNames(char* buffer, size_t size) const;
    size_t ReadSectionNames(std::vector<std::string>& names) const;
    size_t ReadKeyLines(const char* section, std::vector<std::string>& lines) const;
    // The names of the section's "key=value" lines, trimmed, as a list;
    // returns the characters written including each name's NUL (with a null
    // buffer: the length the whole list needs, without the closing NUL).
    size_t ReadKeyNames(const char* section, char* buffer, size_t size) const;
    size_t ReadKeyNames(const char* section, std::vector<std::string>& names) const;

    bool DeleteSection(const char* section);
    bool DeleteKey(const char* section, const char* key);
    bool SectionExists(const char* section) const;
    // True when the key is present, unless its value is kIniKeyExistsSentinel.
    bool KeyExists(const char* section, const char* key) const;

    // Copies every line of `from` into `to` (which is first emptied). False,
    // with the file untouched, when a name is null, both name the same
    // section, `from` does not exist, or `failIfExists` is set and `to`
    // exists.
    bool CopySection(const char* from, const char* to, bool failIfExists);
    // Copies one value. False, with the file untouched, when a name is null,
    // source and target are the same key, the source key is absent, or
    // `failIfExists` is set and the target key exists.
    bool CopyKey(const char* fromSection, const char* fromKey, const char* toSection,
                 const char* toKey, bool failIfExists);
    // Copy, then delete the source: true only when both happen, as one step.
    bool MoveSection(const char* from, const char* to, bool failIfExists);
    bool MoveKey(const char* fromSection, const char* fromKey, const char* toSection,
                 const char* toKey, bool failIfExists);

  private:
    std::optional<std::string> Lookup(const char* section, const char* key) const;
    // One locked read-modify-write of a single value: `next` gets the current
    // value and returns the new one (nullopt: change nothing, fail).
    template <typename Next>
    bool ModifyValue(const char* section, const char* key, Next next);
    bool CopySectionStep(const char* from, const char* to, bool failIfExists, bool removeFrom);
    bool CopyKeyStep(const char* fromSection, const char* fromKey, const char* toSection,
                     const char* toKey, bool failIfExists, bool removeFrom);

    std::optional<std::string> m_strPath;  // nullopt: no file bound
};

}  // namespace quarn

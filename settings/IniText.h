#pragma once
// Text helpers of the INI store: yes/no parsing, trimming, delimited lists
// and numbers in several radixes. Pure functions, safe on any thread.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace quarn {

// Null or empty `text`: `def`. "true" or "yes" in any letter case: true.
// Otherwise true exactly when the leading decimal integer (leading white
// space skipped) is non-zero, so "12", "1abc" and " 1" are true, "abc" false.
bool ParseBool(const char* text, bool def);

// Removes blanks, tabs, carriage returns and line feeds from both ends in
// place; returns whether anything was removed. A null text is left alone.
bool TrimBlanks(char* text);
bool TrimBlanks(std::string& text);

// Splits `text` at every `delimiter` (null = ",") into `buffer` as a list of
// NUL-terminated items closed by an extra NUL, skipping empty items (after
// trimming them when `trim` is set). Items that do not fit whole are left
// out; the list is always closed inside `size`. An empty delimiter copies
// the whole text as one item. Returns the characters written including the
// item terminators but not the closing NUL; 0 when `text` or `buffer` is
// null, `size` is 0 or the text is empty.
size_t SplitList(const char* text, char* buffer, size_t size, const char* delimiter, bool trim);

// Calls `callback` for each item of a NUL-separated list closed by an empty
// item, in order; stops and returns false as soon as a callback returns
// false. False for a null list or an empty callback, true otherwise.
bool ForEachItem(const char* list, const std::function<bool(const char* item)>& callback);

// Radix 2: binary digits without leading zeros ("0" for zero); 8: octal;
// 16: upper-case hexadecimal; any other radix: decimal.
std::string FormatUnsigned(uint64_t value, int radix);

// The leading number of `text` in `radix` (2, 8, 16, else 10) as a 32-bit
// value: white space and a sign skipped ("-1" gives 0xFFFFFFFF), "0x"
// accepted in radix 16, a number too large for 32 bits gives 0xFFFFFFFF,
// no digits give 0.
uint32_t ParseUnsigned32(const char* text, int radix);

}  // namespace quarn

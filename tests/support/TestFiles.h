#pragma once
// Reading, writing and looking at whole test files.

#include <cstddef>
#include <string>
#include <vector>

namespace quarn::test {

// The file's bytes; empty when it cannot be read.
std::string ReadText(const std::string& path);

// The lines of `text`, without their line ends.
std::vector<std::string> Lines(const std::string& text);

// Creates or truncates the file (and its missing folders) to hold `text`.
void WriteText(const std::string& path, const std::string& text);

// True when something, even a dangling link, stands at `path`.
bool PathExists(const std::string& path);

// The names in a folder, sorted.
std::vector<std::string> SortedEntryNames(const std::string& folder);

// `size` bytes of no pattern that differ from one seed to the next, the same
// for the same seed.
std::string SeededBytes(size_t size, unsigned seed);

}  // namespace quarn::test

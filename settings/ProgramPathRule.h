#pragma once
// The program part of a command line and the settings file named after it,
// for command lines in the style where the program path ends in ".exe"
// (paths of such command lines are kept as text; nothing is resolved).

#include <string>

namespace quarn {

// Lower-cases `commandLine` (per character in the current locale, multibyte
// aware) and keeps it through the first "exe" and the one character after it:
// the closing quote of a quoted program path, or the blank before the
// arguments. A command line without "exe" gives its first word (a quoted
// first word with its quotes), lower-cased.
std::string GetProgramPath(const std::string& commandLine);

// The settings file for `commandLine`: GetProgramPath with every "exe"
// replaced by "ini", double quotes removed and trailing blanks dropped.
std::string IniPathFromCommandLine(const std::string& commandLine);

}  // namespace quarn

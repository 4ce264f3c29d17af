#pragma once
// `quarn --help` and `quarn --version`: whether the command line asks for
// them, and what they print. The help is the one list of every option of the
// window and the report; a new option is one line in its table
// (ProgramHelp.cpp).

#include <string>
#include <vector>

namespace quarn {

enum class ProgramInfo { None, Help, Version };

// "--help" or "-h" asks for the help, "--version" for the version, wherever
// they stand before a "--" (after it every argument is a folder); the first
// one given counts. `arguments` holds the program name first.
ProgramInfo RequestedProgramInfo(const std::vector<std::string>& arguments);

// The usage lines, every option with what it does, and where the settings
// are read from. Ends with a line break.
std::string ProgramHelpText();

// "Quarn <version>", with a line break.
std::string ProgramVersionText();

}  // namespace quarn

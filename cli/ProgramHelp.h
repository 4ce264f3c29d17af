#pragma once
// What `quarn --help` and `quarn --version` print. The help is made from the
// table of options (cli/ProgramArguments.h): a new option is one row there.

#include <string>

namespace quarn::cli {

// The usage lines, every option with what it does, and where the settings
// are read from. Ends with a line break.
std::string ProgramHelpText();

// "Quarn <version>", with a line break.
std::string ProgramVersionText();

}  // namespace quarn::cli

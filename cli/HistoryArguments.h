#pragma once
// The report's options of the scan history: --since FILE, --sort change and
// --save, read into ReportOptions and checked against the rest of the line
// (cli/ProgramArguments.cpp reads every other option).

#include <optional>
#include <string>

#include "cli/ProgramArguments.h"

namespace quarn::cli {

// Takes one of them with its value; false with `error` for a bad value.
bool ReadHistoryOption(OptionId id, const std::string& value, ReportOptions& options,
                       std::string& error);

// Why the options cannot go together, once the line is read.
std::optional<std::string> RefusedHistoryOptions(const ReportOptions& options);

}  // namespace quarn::cli

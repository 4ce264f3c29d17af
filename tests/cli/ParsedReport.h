#pragma once
// The report's options as the program reads them from its command line.

#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "cli/ProgramArguments.h"

namespace quarn::test {

// `arguments` without the program's name. Nothing, and `error` says why, when
// the line is refused or is not a report.
inline std::optional<cli::ReportOptions> ParsedReport(std::vector<std::string> arguments,
                                                      std::string& error) {
    arguments.insert(arguments.begin(), "quarn");
    const cli::ProgramCommand command = cli::ParseProgramArguments(arguments);
    if (const auto* report = std::get_if<cli::ReportArguments>(&command)) {
        return report->options;
    }
    const auto* refused = std::get_if<cli::UsageError>(&command);
    error = refused != nullptr ? refused->message : "not a report";
    return std::nullopt;
}

}  // namespace quarn::test

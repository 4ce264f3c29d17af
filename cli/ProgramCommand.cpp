#include "cli/ProgramCommand.h"

#include <cstdio>

#include "cli/DedupeCommand.h"
#include "cli/ProgramHelp.h"

namespace quarn::cli {

std::optional<int> RunWithoutDisplay(const ProgramCommand& command) {
    if (std::holds_alternative<HelpRequest>(command)) {
        std::fputs(ProgramHelpText().c_str(), stdout);
        return 0;
    }
    if (std::holds_alternative<VersionRequest>(command)) {
        std::fputs(ProgramVersionText().c_str(), stdout);
        return 0;
    }
    if (const auto* error = std::get_if<UsageError>(&command)) {
        // The usage of every option lives in one place, the help.
        std::fprintf(stderr, "quarn: %s (see quarn --help)\n", error->message.c_str());
        return 2;
    }
    if (const auto* report = std::get_if<ReportArguments>(&command)) {
        return RunReportCommand(report->options);
    }
    if (const auto* exported = std::get_if<ExportArguments>(&command)) {
        return RunReportCommand(exported->options);
    }
    if (const auto* dedupe = std::get_if<DedupeArguments>(&command)) {
        return RunDedupeCommand(dedupe->options);
    }
    return std::nullopt;
}

}  // namespace quarn::cli

#pragma once
// Runs what the command line asks for when that needs no display.

#include <optional>

#include "cli/ProgramArguments.h"

namespace quarn::cli {

// The help, the version, a refusal ("quarn: ... (see quarn --help)" on
// stderr, 2), the report and the export: their exit code. Nothing for the
// window, the bench and the treemap picture, which need Qt; no Qt object may
// exist before this returns.
std::optional<int> RunWithoutDisplay(const ProgramCommand& command);

}  // namespace quarn::cli

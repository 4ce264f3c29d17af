#pragma once
// `quarn --export FILE [--threads N] [--exclude PATTERN]... [-x] FOLDER`:
// walks FOLDER headless with the settings' scope and writes the tree to FILE
// ("-": standard output) in the interchange format, as it is walked.
//
// A FILE is written beside itself under a temporary name and renamed over
// FILE only when the export is whole: an interrupted or failed export leaves
// the old FILE as it was. Exit codes: 0 done, 1 the export could not be
// written ("quarn: write error: ..." on stderr), 2 a bad folder, 130
// interrupted (standard output then ends where the walk stopped, which a
// reader reports as truncated).

#include "cli/ReportCommand.h"

namespace quarn::cli {

int RunExportCommand(const ReportOptions& options);

}  // namespace quarn::cli

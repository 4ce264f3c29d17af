#pragma once
// `quarn --dedupe hardlink|clone [--dry-run] [--json] FOLDER`: a content
// search of FOLDER, then every copy replaced by a hard link to, or a clone
// of, the file its set keeps (a reference file, else the oldest, else the
// first path), each only after it was re-checked and proven equal.

#include "cli/ReportCommand.h"

namespace quarn::cli {

// Prints each replacement (or, with --dry-run, each that would be made),
// then the files replaced, skipped with their reasons, and the bytes freed.
// Returns 0 when nothing failed, 1 when a replacement failed (each is named),
// 2 for a folder it cannot scan, 130 when interrupted.
int RunDedupeCommand(const ReportOptions& options);

}  // namespace quarn::cli

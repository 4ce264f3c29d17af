#pragma once
// Replacing copies of a content search's sets by hard links or clones of the
// file each set keeps: what is planned, and what became of it.

#include <cstdint>
#include <string>
#include <vector>

#include "duplicates/CopyReplacer.h"
#include "duplicates/TwinRows.h"

namespace quarn {

// One copy to replace, and the file of its set that stays.
struct CopyReplacement {
    RowSource copy;
    RowSource kept;
};

struct ReplacementResult {
    std::string copyPath;
    std::string keptPath;
    ReplaceOutcome outcome;
};

struct ReplacementSummary {
    ReplaceMethod method = ReplaceMethod::HardLink;
    bool dryRun = false;
    bool cancelled = false;
    int replaced = 0;  // or, in a dry run, would be
    int skipped = 0;
    int failed = 0;
    uint64_t bytesFreed = 0;
    std::vector<ReplacementResult> results;  // in the plan's order
};

// "Replaced 3 copies with hard links, 12.000 MB freed; 1 skipped, 0 failed"
// ("Would replace ..." for a dry run, "... (cancelled)" after a cancel).
std::string ReplacementStatus(const ReplacementSummary& summary);
// "Replacing copies: D of T, S freed" while the job runs.
std::string ReplacementProgressStatus(size_t done, size_t total, uint64_t bytesFreed);

}  // namespace quarn

#include <cstdio>

#include "cli/ReportCommand.h"

namespace quarn::cli {

// Replaced by the folder-size report.
int RunFolderReport(const ReportOptions&) {
    std::fprintf(stderr, "quarn: the folder-size report is not built yet\n");
    return 1;
}

}  // namespace quarn::cli

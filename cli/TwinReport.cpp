#include <cstdio>

#include "cli/ReportCommand.h"

namespace quarn::cli {

// Replaced by the twin-file report.
int RunTwinReport(const ReportOptions&) {
    std::fprintf(stderr, "quarn: the twin-file report is not built yet\n");
    return 1;
}

}  // namespace quarn::cli

#include "cli/ReportCommand.h"

#include <cstdio>

namespace quarn::cli {

int RunImportReport(const ReportOptions&) {
    std::fprintf(stderr, "quarn: --import is not built yet\n");
    return 2;
}

}  // namespace quarn::cli

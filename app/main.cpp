#include <cstdio>

#include "cli/ReportCommand.h"

int main(int argc, char** argv) {
    if (quarn::cli::IsReportInvocation(argc, argv)) {
        return quarn::cli::RunReportCommand(argc, argv);
    }
    std::fprintf(stderr,
                 "quarn: the window is not built yet; run the headless report instead:\n"
                 "  quarn --report [--dupmatch] [--json] FOLDER\n");
    return 0;
}

#include "cli/ExportCommand.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "cli/Interrupt.h"
#include "cli/WaitForEngine.h"
#include "foldersize/FolderScanner.h"
#include "history/KeptScanWriter.h"
#include "platform/PathRules.h"

#ifndef QUARN_VERSION
#error "QUARN_VERSION must name the program's version"
#endif

namespace quarn::cli {

int RunExportCommand(const ReportOptions& options) {
    std::string folder = ResolveFolderArgument(options.folder);
    if (int error = CheckReadableFolder(folder)) {
        return error;
    }
    InstallInterruptHandler();
    ScanAdditions additions;
    additions.walk = ReportWalkOptions(options);
    FolderScanner scanner;
    // An export is a scan like any other: it is kept too, and a failure to
    // keep it is said but does not fail the export.
    scanner.SetScanKeeper(KeptScanMaker(QUARN_VERSION, [](const KeepOutcome& outcome) {
        if (outcome.kind == ScanStore::Kept::Failed) {
            std::fprintf(stderr, "quarn: %s\n", outcome.error.c_str());
        }
    }));
    scanner.StartExport(ScanRequestFromSettings(ScanRequest::Source::Folder, folder, additions),
                        options.exportFile, QUARN_VERSION);
    WaitForEngine(scanner);
    const FolderScanner::ExportOutcome outcome = scanner.LastExport();
    if (outcome.written) {
        return 0;
    }
    if (outcome.writeError != 0) {
        std::fprintf(stderr, "quarn: write error: %s\n", outcome.error.c_str());
        return 1;
    }
    if (outcome.error == "cancelled") {
        std::fprintf(stderr, "quarn: export interrupted; %s was not written\n",
                     options.exportFile == "-" ? "the rest" : options.exportFile.c_str());
        return 130;
    }
    // The file could not be made at all.
    std::fprintf(stderr, "quarn: %s: %s\n", options.exportFile.c_str(), outcome.error.c_str());
    return 2;
}

}  // namespace quarn::cli

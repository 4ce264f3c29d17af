#include "cli/ReportCommand.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "cli/ExportCommand.h"
#include "cli/Interrupt.h"
#include "cli/ReportOutput.h"
#include "settings/Settings.h"

namespace quarn::cli {

WalkOptions ReportWalkOptions(const ReportOptions& options) {
    WalkOptions walk(options.threads);
    walk.exclude = ExcludeRules(options.exclude);
    walk.oneFileSystem = options.oneFileSystem;
    return walk;
}

int CheckReadableFolder(const std::string& folder) {
    int handle = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (handle < 0) {
        std::fprintf(stderr, "quarn: %s: %s\n", folder.c_str(), std::strerror(errno));
        return 2;
    }
    ::close(handle);
    return 0;
}

int RunReportCommand(const ReportOptions& options) {
    struct ::stat status;
    if (options.importTree) {
        // The tree comes from the file; there is no folder to check.
    } else if (::stat(options.folder.c_str(), &status) != 0) {
        std::fprintf(stderr, "quarn: %s: %s\n", options.folder.c_str(), std::strerror(errno));
        return 2;
    }
    if (!options.importTree && !S_ISDIR(status.st_mode)) {
        std::fprintf(stderr, "quarn: %s: not a folder\n", options.folder.c_str());
        return 2;
    }
    // Once, before the scan: the engines read the settings again and again,
    // and each time quietly takes the defaults.
    if (const std::optional<std::string> warning = UnreadableSettingsWarning()) {
        std::fprintf(stderr, "quarn: %s\n", warning->c_str());
    }
    if (options.exportTree) {
        int code = RunExportCommand(options);
        ReportWritten();
        return code;
    }
    CheckedStandardOutput output;
    int code = options.dupmatch ? RunTwinReport(options) : RunFolderReport(options);
    if (!output.Finish()) {
        code = kWriteErrorExit;
    }
    ReportWritten();
    return code;
}

}  // namespace quarn::cli

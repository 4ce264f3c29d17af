#include "cli/ExportCommand.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "cli/Interrupt.h"
#include "cli/ProgressLine.h"
#include "platform/ExportTarget.h"
#include "platform/ExportWriter.h"
#include "platform/PathRules.h"
#include "settings/ScanScope.h"

#ifndef QUARN_VERSION
#error "QUARN_VERSION must name the program's version"
#endif

namespace quarn::cli {

int RunExportCommand(const ReportOptions& options) {
    std::string folder = ResolveFolderArgument(options.folder);
    if (int error = CheckReadableFolder(folder)) {
        return error;
    }
    ExportTarget target(options.exportFile);
    if (target.Fd() < 0) {
        std::fprintf(stderr, "quarn: %s: %s\n", options.exportFile.c_str(),
                     std::strerror(target.OpenError()));
        return 2;
    }
    InstallInterruptHandler();
    ProgressLine progress;
    ExportWriter* writerSeen = nullptr;
    std::string current;
    ExportWriter writer(target.Fd(), QUARN_VERSION, [&] {
        if (progress.Enabled()) {
            progress.Update(writerSeen->Folders(), writerSeen->Files(), current);
        }
        return !InterruptRequested();
    });
    writerSeen = &writer;
    // The walk's own sink sees the path; the progress line shows the last.
    struct PathTap final : WalkSink {
        ExportWriter& inner;
        std::string& current;
        PathTap(ExportWriter& w, std::string& c) : inner(w), current(c) {}
        bool EnterFolder(const std::string& path, const FindRecord* entry) override {
            current = path;
            return inner.EnterFolder(path, entry);
        }
        void AddFile(const std::string& p, const FindRecord& f) override { inner.AddFile(p, f); }
        void LeaveFolder(const std::string& p) override { inner.LeaveFolder(p); }
        void FolderUnreadable(const std::string& p, int e) override {
            inner.FolderUnreadable(p, e);
        }
        void EntryExcluded(const std::string& p, const FindRecord& f, ExclusionReason r) override {
            inner.EntryExcluded(p, f, r);
        }
    } tap(writer, current);
    WalkFolderTree(folder, tap, WithScopeSettings(ReportWalkOptions(options)));
    progress.Clear();
    bool whole = writer.Finish();
    if (writer.WriteError() != 0) {
        std::fprintf(stderr, "quarn: write error: %s\n", std::strerror(writer.WriteError()));
        return 1;
    }
    if (!whole) {
        std::fprintf(stderr, "quarn: export interrupted; %s was not written\n",
                     options.exportFile == "-" ? "the rest" : options.exportFile.c_str());
        return 130;
    }
    if (int error = target.Commit()) {
        std::fprintf(stderr, "quarn: write error: %s\n", std::strerror(error));
        return 1;
    }
    return 0;
}

}  // namespace quarn::cli

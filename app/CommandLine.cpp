#include "app/CommandLine.h"

#include "app/ScanMode.h"
#include "cli/ProgramArguments.h"
#include "platform/PathRules.h"

namespace quarn {

StartOptions ParseCommandLine(const std::vector<std::string>& arguments) {
    StartOptions options;
    options.scanMode = kScanModeDirmass;
    const cli::ProgramCommand command = cli::ParseProgramArguments(arguments);
    const auto* window = std::get_if<cli::WindowArguments>(&command);
    if (window == nullptr) {
        return options;
    }
    // An import fills both panes; the switches choose which one is shown.
    options.scanMode = window->dupmatch ? kScanModeDupmatch : kScanModeDirmass;
    if (window->folder && !window->folder->empty()) {
        options.folder = ResolveFolderArgument(*window->folder);
    }
    options.importFile = window->importFile;
    options.importSet = window->importSet;
    return options;
}

}  // namespace quarn

#include "app/CommandLine.h"

#include "app/ScanMode.h"
#include "platform/PathRules.h"

namespace quarn {

namespace {

constexpr const char* kDirmassSwitch = "/Dirmass";
constexpr const char* kDupmatchSwitch = "/dupmatch";

bool IsSwitch(const std::string& argument) {
    return argument.starts_with('-') || argument == kDirmassSwitch || argument == kDupmatchSwitch;
}

}  // namespace

StartOptions ParseCommandLine(const std::vector<std::string>& arguments) {
    StartOptions options;
    bool dirmass = false;
    bool dupmatch = false;
    for (size_t i = 1; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (argument == "--import" && i + 1 < arguments.size()) {
            options.importFile = arguments[++i];
        } else if (IsSwitch(argument)) {
            dirmass = dirmass || argument.find(kDirmassSwitch) != std::string::npos;
            dupmatch = dupmatch || argument.find(kDupmatchSwitch) != std::string::npos;
        } else if (!options.folder && !argument.empty()) {
            options.folder = ResolveFolderArgument(argument);
        }
    }
    // An import fills both panes; the switches choose which one is shown.
    options.scanMode = dupmatch && !dirmass ? kScanModeDupmatch : kScanModeDirmass;
    return options;
}

}  // namespace quarn

#include "app/CommandLine.h"

#include "app/ScanMode.h"

namespace quarn {

namespace {

constexpr const char* kDirmassSwitch = "/Dirmass";
constexpr const char* kDupmatchSwitch = "/dupmatch";

}  // namespace

StartOptions ParseCommandLine(const std::vector<std::string>& arguments) {
    StartOptions options;
    std::string whole;
    for (const std::string& argument : arguments) {
        if (!whole.empty()) {
            whole += ' ';
        }
        whole += argument;
    }
    if (whole.find(kDirmassSwitch) != std::string::npos) {
        options.scanMode = kScanModeDirmass;
    } else if (whole.find(kDupmatchSwitch) != std::string::npos) {
        options.scanMode = kScanModeDupmatch;
    } else {
        options.scanMode = kScanModeDirmass;
    }
    for (size_t i = 1; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (argument.empty() || argument.front() == '-' || argument == kDirmassSwitch ||
            argument == kDupmatchSwitch) {
            continue;
        }
        options.folder = argument;
        break;
    }
    return options;
}

}  // namespace quarn

#include "cli/HistoryArguments.h"

namespace quarn::cli {

bool ReadHistoryOption(OptionId id, const std::string& value, ReportOptions& options,
                       std::string& error) {
    switch (id) {
        case OptionId::Since:
            options.sinceFile = value;
            return true;
        case OptionId::SortBy:
            if (value != "change") {
                error = "--sort takes change, not '" + value + "'";
                return false;
            }
            options.sortByChange = true;
            return true;
        case OptionId::Save:
            options.save = true;
            return true;
        default:
            return true;
    }
}

std::optional<std::string> RefusedHistoryOptions(const ReportOptions& options) {
    if (!options.sinceFile.empty() && options.dupmatch) {
        return "--since belongs to the folder report, not to --dupmatch";
    }
    if (options.sortByChange && options.sinceFile.empty()) {
        return "--sort change needs --since";
    }
    if (options.save && (options.dupmatch || options.importTree)) {
        return "--save keeps a folder report's scan: not with --dupmatch or --import";
    }
    return std::nullopt;
}

}  // namespace quarn::cli

#include "app/ScanSummary.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace quarn {

namespace {

std::string Counted(int64_t count, const char* one, const char* many) {
    return std::to_string(count) + " " + (count == 1 ? one : many);
}

}  // namespace

std::string FormatScanSummary(int64_t files, int64_t folders, std::optional<double> seconds) {
    std::string text =
        Counted(files, "file", "files") + ", " + Counted(folders, "folder", "folders");
    if (!seconds) {
        return text;
    }
    char took[64];
    if (*seconds < 59.995) {
        // Not printf's "%.2f": the decimal point must not follow the locale.
        const long hundredths = std::lround(std::max(0.0, *seconds) * 100.0);
        std::snprintf(took, sizeof took, " in %ld.%02ld s", hundredths / 100, hundredths % 100);
    } else {
        const long whole = std::lround(*seconds);
        std::snprintf(took, sizeof took, " in %ld min %ld s", whole / 60, whole % 60);
    }
    return text + took;
}

std::string FormatUnreadableSummary(int64_t folders, int64_t entries) {
    std::string text;
    if (folders > 0) {
        text = Counted(folders, "folder", "folders");
    }
    if (entries > 0) {
        text += (text.empty() ? "" : ", ") + Counted(entries, "entry", "entries");
    }
    return text.empty() ? text : text + " unreadable";
}

}  // namespace quarn

#include "foldersize/SizeText.h"

#include <charconv>
#include <cinttypes>
#include <cstdio>
#include <cstring>

namespace quarn {

namespace {

constexpr uint64_t kKilo = 1024;
constexpr uint64_t kMega = kKilo * 1024;
constexpr uint64_t kGiga = kMega * 1024;

}  // namespace

std::string FormatSize(uint64_t bytes) {
    const char* unit = " KB";
    double reciprocal = 1.0 / double(kKilo);
    if (bytes >= kGiga) {
        unit = " GB";
        reciprocal = 1.0 / double(kGiga);
    } else if (bytes >= kMega) {
        unit = " MB";
        reciprocal = 1.0 / double(kMega);
    }
    // "%.3f", but with a full stop whatever the user's locale says: the
    // program runs in that locale and these texts must not change with it.
    char text[64];
    auto end = std::to_chars(text, text + sizeof text - 4, double(bytes) * reciprocal,
                             std::chars_format::fixed, 3)
                   .ptr;
    std::memcpy(end, unit, 3);
    return std::string(text, end + 3);
}

int PercentOf(uint64_t size, uint64_t denominator) {
    double share = double(size) / double(denominator) * 100.0 + double(0.9f);
    // A share above the whole (sparse files measured against a drive's size)
    // is a full bar, and stays inside int.
    if (share >= 100.0) {
        return 100;
    }
    return int(float(share));
}

std::string PercentText(int percent) {
    char text[16];
    std::snprintf(text, sizeof text, "%d%%", percent);
    return text;
}

std::string FilesItemText(int64_t fileCount) {
    char text[48];
    std::snprintf(text, sizeof text, "[%" PRId64 " file%c]", fileCount, fileCount == 1 ? ' ' : 's');
    return text;
}

std::string NetworkReadyStatus(const std::string& scanPath, uint64_t total, int64_t files,
                               int64_t folders, int64_t exceptions) {
    char counts[160];
    std::snprintf(counts, sizeof counts,
                  "], %" PRId64 " files, %" PRId64 " foders, Exceptions: %" PRId64, files, folders,
                  exceptions);
    return "Ready - " + scanPath + " [" + FormatSize(total) + counts;
}

std::string FreeSpaceStatus(const std::string& mountPoint, uint64_t freeToCaller) {
    return mountPoint + " [free " + FormatSize(freeToCaller) + "]";
}

}  // namespace quarn

#include "duplicates/TwinRowText.h"

#include <cinttypes>
#include <cstdio>
#include <ctime>
#include <optional>

#include "platform/FileTime.h"

namespace quarn {

std::string FormatSizeText(uint64_t bytes) {
    char text[40];
    std::snprintf(text, sizeof text, "%" PRIu64 " Bytes", bytes);
    return text;
}

std::string FormatModifiedText(uint64_t fileTime) {
    // Times before 1900 in local time show the start of 1970 (UTC) instead;
    // any other time is shown as it is, far past or far future, so that one
    // odd file never stops a scan.
    std::optional<std::tm> fields = FileTimeToLocalTime(fileTime);
    if (fields && fields->tm_year < 0) {
        fields = FileTimeToLocalTime(FileTimeFromUnix(0, 0));
    }
    if (!fields) {
        return {};
    }
    char text[96];
    const size_t length = std::strftime(text, sizeof text, "%d.%m.%y  %H:%M:%S ", &*fields);
    return std::string(text, length);
}

}  // namespace quarn

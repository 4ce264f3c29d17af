#include "platform/FileTime.h"

namespace quarn {

uint64_t FileTimeFromUnix(int64_t seconds, long nanoseconds) {
    if (seconds < -kFileTimeEpochOffsetSeconds) {
        return 0;
    }
    // Unsigned: a time near the end of int64 must not overflow on the way.
    const uint64_t sinceEpoch1601 = uint64_t(seconds) + uint64_t(kFileTimeEpochOffsetSeconds);
    const uint64_t ticks = uint64_t(nanoseconds) / 100;
    if (sinceEpoch1601 > (kLastFileTime - ticks) / kFileTimeTicksPerSecond) {
        return kLastFileTime;  // a wrapped time would sort among the oldest
    }
    return sinceEpoch1601 * kFileTimeTicksPerSecond + ticks;
}

int64_t UnixSecondsFromFileTime(uint64_t fileTime) {
    return int64_t(fileTime / kFileTimeTicksPerSecond) - kFileTimeEpochOffsetSeconds;
}

std::optional<std::tm> FileTimeToLocalTime(uint64_t fileTime) {
    std::time_t seconds = std::time_t(UnixSecondsFromFileTime(fileTime));
    std::tm fields{};
    if (localtime_r(&seconds, &fields) == nullptr) {
        return std::nullopt;
    }
    return fields;
}

std::string FormatLocalFileTime(uint64_t fileTime, const char* format) {
    std::optional<std::tm> fields = FileTimeToLocalTime(fileTime);
    if (!fields) {
        return {};
    }
    char text[128];
    size_t length = std::strftime(text, sizeof text, format, &*fields);
    return std::string(text, length);
}

}  // namespace quarn

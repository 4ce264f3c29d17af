#include "platform/FileTime.h"

#include <gtest/gtest.h>

#include "tests/support/TempTree.h"

namespace quarn {
namespace {

TEST(FileTime, ConvertsBothWaysAcrossNineteenSeventy) {
    EXPECT_EQ(FileTimeFromUnix(0, 0), 116444736000000000ULL);
    EXPECT_EQ(FileTimeFromUnix(1, 500), 116444736010000005ULL);
    // Before 1970 the seconds are negative but the FILETIME still counts up from 1601.
    EXPECT_EQ(FileTimeFromUnix(-1, 999999900), 116444735999999999ULL);
    EXPECT_EQ(FileTimeFromUnix(-kFileTimeEpochOffsetSeconds, 0), 0u);
    EXPECT_EQ(FileTimeFromUnix(-kFileTimeEpochOffsetSeconds - 10, 0), 0u);  // before 1601 clamps
    EXPECT_EQ(UnixSecondsFromFileTime(116444735999999999ULL), -1);
    EXPECT_EQ(UnixSecondsFromFileTime(FileTimeFromUnix(1700000000, 0)), 1700000000);
}

TEST(FileTime, TimesBeyondTheLastFileTimeClampInsteadOfWrapping) {
    // The last whole second that fits, with and without ticks that overflow it.
    const int64_t lastSecond =
        int64_t(kLastFileTime / kFileTimeTicksPerSecond) - kFileTimeEpochOffsetSeconds;
    const uint64_t lastSecondStart =
        uint64_t(lastSecond + kFileTimeEpochOffsetSeconds) * kFileTimeTicksPerSecond;
    EXPECT_EQ(FileTimeFromUnix(lastSecond, 0), lastSecondStart);
    EXPECT_EQ(FileTimeFromUnix(lastSecond, 955161500), kLastFileTime);
    EXPECT_EQ(FileTimeFromUnix(lastSecond, 999999999), kLastFileTime);
    EXPECT_EQ(FileTimeFromUnix(lastSecond + 1, 0), kLastFileTime);
    EXPECT_EQ(FileTimeFromUnix(INT64_MAX, 999999999), kLastFileTime);
    // Later times never come out earlier than sooner ones.
    EXPECT_LT(FileTimeFromUnix(lastSecond - 1, 999999999), FileTimeFromUnix(lastSecond + 10, 0));
}

TEST(FileTime, FormatsInTheLocalTimeZone) {
    test::ScopedEnv zone("TZ", "UTC");
    tzset();
    EXPECT_EQ(FormatLocalFileTime(FileTimeFromUnix(0, 0), "%Y-%m-%d %H:%M:%S"),
              "1970-01-01 00:00:00");
    EXPECT_EQ(FormatLocalFileTime(FileTimeFromUnix(-86400, 0), "%d.%m.%y"), "31.12.69");
    {
        test::ScopedEnv berlin("TZ", "CET-1");
        tzset();
        EXPECT_EQ(FormatLocalFileTime(FileTimeFromUnix(0, 0), "%H:%M"), "01:00");
    }
    tzset();
}

}  // namespace
}  // namespace quarn

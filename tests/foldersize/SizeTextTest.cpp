#include "foldersize/SizeText.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdint>
#include <string>

namespace quarn {
namespace {

TEST(SizeText, UnitIsChosenBeforeRoundingAtEveryBoundary) {
    EXPECT_EQ(FormatSize(0), "0.000 KB");
    EXPECT_EQ(FormatSize(1), "0.001 KB");
    EXPECT_EQ(FormatSize(512), "0.500 KB");
    EXPECT_EQ(FormatSize(1023), "0.999 KB");
    EXPECT_EQ(FormatSize((1u << 20) - 1), "1023.999 KB");
    EXPECT_EQ(FormatSize(1u << 20), "1.000 MB");
    EXPECT_EQ(FormatSize(123456789), "117.738 MB");
    EXPECT_EQ(FormatSize((uint64_t(1) << 30) - 1), "1024.000 MB");
    EXPECT_EQ(FormatSize(uint64_t(1) << 30), "1.000 GB");
    EXPECT_EQ(FormatSize(5 * (uint64_t(1) << 40)), "5120.000 GB");
    EXPECT_EQ(FormatSize(UINT64_MAX), "17179869184.000 GB");
}

TEST(SizeText, PercentageRoundsSmallSharesUpAndNearWholeSharesToFull) {
    EXPECT_EQ(PercentOf(1, 1000), 1);
    EXPECT_EQ(PercentOf(991, 1000), 100);
    EXPECT_EQ(PercentOf(990, 1000), 99);
    EXPECT_EQ(PercentOf(1, 1001), 0);
    EXPECT_EQ(PercentOf(1, 3), 34);
    EXPECT_EQ(PercentOf(0, 3), 0);
    EXPECT_EQ(PercentOf(1000, 1000), 100);
    // Sizes beyond 2^32 are not cut to their low part.
    EXPECT_EQ(PercentOf(uint64_t(5) << 30, uint64_t(10) << 30), 50);
    // More than the whole (sparse files against a drive) is a full bar.
    EXPECT_EQ(PercentOf(uint64_t(1) << 50, 1), 100);
    EXPECT_EQ(PercentText(42), "42%");
}

TEST(SizeText, FilesItemAndStatusTextsReadExactly) {
    EXPECT_EQ(FilesItemText(1), "[1 file ]");
    EXPECT_EQ(FilesItemText(2), "[2 files]");
    EXPECT_EQ(FilesItemText(12), "[12 files]");
    EXPECT_EQ(NetworkReadyStatus("//server/share", 2048, 3, 4, 2),
              "Ready - //server/share [2.000 KB], 3 files, 4 foders, Exceptions: 2");
    EXPECT_EQ(FreeSpaceStatus("/home", uint64_t(3) << 30), "/home [free 3.000 GB]");
    // Paths are bytes, not formats: a '%' in them is printed as it stands.
    EXPECT_EQ(NetworkReadyStatus("//s/100%d", 0, 0, 0, 0),
              "Ready - //s/100%d [0.000 KB], 0 files, 0 foders, Exceptions: 0");
}

// The program runs in the user's locale; a decimal comma there must not
// leak into the size texts.
TEST(SizeText, SizesKeepTheFullStopInADecimalCommaLocale) {
    std::string saved = std::setlocale(LC_NUMERIC, nullptr);
    const char* found = nullptr;
    for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "fr_FR.utf8"}) {
        if ((found = std::setlocale(LC_NUMERIC, name)) != nullptr) {
            break;
        }
    }
    if (found == nullptr) {
        GTEST_SKIP() << "no locale with a decimal comma installed";
    }
    std::string kilo = FormatSize(512);
    std::string giga = FormatSize(uint64_t(5) << 40);
    std::string status = NetworkReadyStatus("//s/x", 1536, 1, 0, 0);
    std::setlocale(LC_NUMERIC, saved.c_str());
    EXPECT_EQ(kilo, "0.500 KB");
    EXPECT_EQ(giga, "5120.000 GB");
    EXPECT_EQ(status, "Ready - //s/x [1.500 KB], 1 files, 0 foders, Exceptions: 0");
}

}  // namespace
}  // namespace quarn

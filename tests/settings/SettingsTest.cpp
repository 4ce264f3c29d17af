// The seven yes/no settings as the rest of the program sees them.

#include <gtest/gtest.h>

#include <string>

#include "platform/ProgramPath.h"
#include "settings/Settings.h"
#include "tests/support/TempTree.h"
#include "tests/support/TestFiles.h"

namespace quarn {
namespace {

using test::ReadText;
using test::WriteText;

const char* const kAllKeys[] = {kTwinMode, kShellRun, kSortBySize, kRelativToDriveSpace,
                                kCmpName,  kCmpSize,  kCmpDate};

TEST(Settings, EveryKeyIsOnWithoutAFile) {
    test::TempTree tree;
    test::ScopedEnv ini("QUARN_INI", tree.Path("none/quarn.ini"));
    for (const char* key : kAllKeys) {
        EXPECT_TRUE(ReadSetting(key)) << key;
    }
}

TEST(Settings, HandWrittenValuesAndWrittenDigits) {
    test::TempTree tree;
    test::ScopedEnv ini("QUARN_INI", tree.Path("quarn.ini"));
    EXPECT_EQ(SettingsFilePath(), tree.Path("quarn.ini"));
    WriteText(tree.Path("quarn.ini"),
              "[settings]\nTwinMode=yes\nSortBySize=TRUE\nCmpSize=no\nCmpDate=\n");
    EXPECT_TRUE(ReadSetting(kTwinMode));
    EXPECT_TRUE(ReadSetting(kSortBySize));
    EXPECT_FALSE(ReadSetting(kCmpSize));
    EXPECT_TRUE(ReadSetting(kCmpDate));  // empty counts as absent

    ASSERT_TRUE(WriteSetting(kShellRun, false));
    ASSERT_TRUE(WriteSetting(kCmpSize, true));
    EXPECT_FALSE(ReadSetting(kShellRun));
    EXPECT_EQ(ReadText(tree.Path("quarn.ini")),
              "[settings]\nTwinMode=yes\nSortBySize=TRUE\nCmpSize=1\nCmpDate=\nShellRun=0\n");
}

TEST(Settings, UnwritableFileKeepsTheOldValues) {
    test::TempTree tree;
    tree.MakeFile("blocker", 1);
    test::ScopedEnv ini("QUARN_INI", tree.Path("blocker/quarn.ini"));
    EXPECT_FALSE(WriteSetting(kSortBySize, false));
    EXPECT_TRUE(ReadSetting(kSortBySize));
}

TEST(Settings, WithoutTheVariableTheFileSitsBesideTheProgram) {
    test::ScopedEnv ini("QUARN_INI", "");
    EXPECT_EQ(SettingsFilePath(), ExecutableRealPath() + ".ini");
}

}  // namespace
}  // namespace quarn

// A program of its own that uses the settings as Quarn does, so that a test
// can place it in a folder of its choosing (a read-only one) and start it
// again to see what a restart keeps.
//
//   settings_probe write KEY 0|1   writes the key; exit 0 when written
//   settings_probe read KEY        prints the value, 1 or 0
// Both print the file written to on a second line.

#include <cstdio>
#include <cstring>

#include "settings/Settings.h"

int main(int argc, char** argv) {
    using namespace quarn;
    if (argc == 4 && std::strcmp(argv[1], "write") == 0) {
        const bool written = WriteSetting(argv[2], std::strcmp(argv[3], "1") == 0);
        std::printf("%s\n%s\n", written ? "written" : "refused", SettingsFilePath().c_str());
        return written ? 0 : 1;
    }
    if (argc == 3 && std::strcmp(argv[1], "read") == 0) {
        std::printf("%d\n%s\n", ReadSetting(argv[2]) ? 1 : 0, SettingsFilePath().c_str());
        return 0;
    }
    std::fprintf(stderr, "usage: settings_probe write KEY 0|1 | read KEY\n");
    return 2;
}

#include "settings/Settings.h"

#include <cstdlib>

#include "platform/ProgramPath.h"
#include "settings/IniFile.h"

namespace quarn {

std::string SettingsFilePath() {
    const char* chosen = std::getenv("QUARN_INI");
    if (chosen != nullptr && *chosen != '\0') {
        return chosen;
    }
    // The real path keeps its letter case and works without an ".exe":
    // lower-casing it would name a file nobody can find on this system.
    std::string program = ExecutableRealPath();
    return program.empty() ? std::string() : program + ".ini";
}

bool ReadSetting(const char* key) {
    return CIniFile(SettingsFilePath()).ReadBool(kSettingsSection, key, true);
}

bool WriteSetting(const char* key, bool value) {
    return CIniFile(SettingsFilePath()).WriteBool(kSettingsSection, key, value);
}

}  // namespace quarn

#include "settings/Settings.h"

#include <unistd.h>

#include <cstdlib>

#include "platform/DesktopEntries.h"
#include "platform/ProgramPath.h"
#include "settings/IniFile.h"
#include "settings/IniFileIo.h"

namespace quarn {

namespace {

bool FolderWritable(const std::string& file) {
    const size_t slash = file.rfind('/');
    const std::string folder = slash == 0 ? std::string("/") : file.substr(0, slash);
    return slash != std::string::npos && ::access(folder.c_str(), W_OK | X_OK) == 0;
}

}  // namespace

SettingsFiles LocateSettingsFiles() {
    const char* chosen = std::getenv("QUARN_INI");
    if (chosen != nullptr && *chosen != '\0') {
        return {chosen, std::string()};
    }
    // The real path keeps its letter case and works without an ".exe":
    // lower-casing it would name a file nobody can find on this system.
    const std::string program = ExecutableRealPath();
    const std::string beside = program.empty() ? std::string() : program + ".ini";
    if (!beside.empty() && FolderWritable(beside)) {
        return {beside, std::string()};
    }
    // Installed where the user cannot write (/usr/bin): a file beside the
    // program could never take a change, and every setting would be lost.
    SettingsFiles files{XdgConfigHome() + "/quarn/quarn.ini", std::string()};
    if (!beside.empty() && ::access(beside.c_str(), F_OK) == 0) {
        files.besideProgram = beside;
    }
    return files;
}

std::string SettingsFilePath() {
    return LocateSettingsFiles().file;
}

bool ReadSetting(const char* key) {
    return ReadSetting(key, true);
}

bool ReadSetting(const char* key, bool missing) {
    const SettingsFiles files = LocateSettingsFiles();
    const bool fallback =
        files.besideProgram.empty()
            ? missing
            : CIniFile(files.besideProgram).ReadBool(kSettingsSection, key, missing);
    return CIniFile(files.file).ReadBool(kSettingsSection, key, fallback);
}

bool WriteSetting(const char* key, bool value) {
    return CIniFile(SettingsFilePath()).WriteBool(kSettingsSection, key, value);
}

std::string ReadSettingText(const char* key) {
    const SettingsFiles files = LocateSettingsFiles();
    const std::string fallback =
        files.besideProgram.empty()
            ? std::string()
            : CIniFile(files.besideProgram).ReadString(kSettingsSection, key);
    return CIniFile(files.file).ReadString(kSettingsSection, key, fallback.c_str());
}

bool WriteSettingText(const char* key, const std::string& value) {
    return CIniFile(SettingsFilePath()).WriteString(kSettingsSection, key, value.c_str());
}

std::optional<std::string> UnreadableSettingsWarning() {
    const SettingsFiles files = LocateSettingsFiles();
    for (const std::string& path : {files.file, files.besideProgram}) {
        if (const std::optional<std::string> problem = IniFileReadProblem(path)) {
            return "the settings file " + path + " cannot be read (" + *problem +
                   "); the defaults apply";
        }
    }
    return std::nullopt;
}

}  // namespace quarn

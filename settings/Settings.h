#pragma once
// The seven yes/no settings, in section "SETTINGS" of the INI file.
//
// Nothing is cached: every read goes to the file at the moment the value is
// needed, every write reaches the file at once. Any thread may call these.

#include <string>

namespace quarn {

inline constexpr const char* kSettingsSection = "SETTINGS";

inline constexpr const char* kTwinMode = "TwinMode";
inline constexpr const char* kShellRun = "ShellRun";
inline constexpr const char* kSortBySize = "SortBySize";
inline constexpr const char* kRelativToDriveSpace = "RelativToDriveSpace";
inline constexpr const char* kCmpName = "CmpName";
inline constexpr const char* kCmpSize = "CmpSize";
inline constexpr const char* kCmpDate = "CmpDate";

// The INI file: $QUARN_INI when set and not empty, else the executable's
// real path with the extension ".ini". Derived anew on every call.
std::string SettingsFilePath();

// The setting `key`, true when the file, the section or the key is missing.
bool ReadSetting(const char* key);

// Writes `key` as "1" or "0"; returns false when the file cannot be written
// (the old values then stay in force).
bool WriteSetting(const char* key, bool value);

}  // namespace quarn

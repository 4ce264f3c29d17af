#pragma once
// The seven yes/no settings, in section "SETTINGS" of the INI file.
//
// Nothing is cached: every read goes to the file at the moment the value is
// needed, every write reaches the file at once, and where the file lives is
// decided anew on every call. Any thread may call these.

#include <optional>
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
inline constexpr const char* kVerifyContents = "VerifyContents";  // default 0
inline constexpr const char* kAllocatedSize = "AllocatedSize";    // default 0
inline constexpr const char* kShowTreemap = "ShowTreemap";        // default 1
// Beyond the seven: what a scan leaves out. `Exclude` holds shell patterns
// separated by ";" (empty by default), `OneFileSystem` is no by default.
inline constexpr const char* kExclude = "Exclude";
inline constexpr const char* kOneFileSystem = "OneFileSystem";
// Twins by content whatever their names (default 0: twins by name);
// `ReferenceFolders` holds folders separated by ";" whose files are never
// selected, trashed or replaced (empty by default); `HashCache` keeps the
// content hashes between searches (default 1).
inline constexpr const char* kTwinsByContent = "TwinsByContent";
inline constexpr const char* kReferenceFolders = "ReferenceFolders";
inline constexpr const char* kHashCache = "HashCache";
// Twin folders may differ in their files' names (default 0: names count).
inline constexpr const char* kTwinFoldersIgnoreNames = "TwinFoldersIgnoreNames";
// How many finished scans are kept per folder (a number, default 10; 0
// keeps none).
inline constexpr const char* kKeepScans = "KeepScans";

// Where the settings are read and written.
struct SettingsFiles {
    // Read first and written: $QUARN_INI when set and not empty; else the
    // executable's real path with ".ini" when the program's folder is
    // writable by the user (a program run from its build or a folder of
    // its own); else, for an installed program, the user's
    // $XDG_CONFIG_HOME/quarn/quarn.ini (default ~/.config/quarn/quarn.ini).
    std::string file;
    // Only with the user's file: the INI file beside the program, read for
    // every key `file` does not hold, so that one placed there still counts
    // while every change goes to the user's file. Empty otherwise.
    std::string besideProgram;
};

SettingsFiles LocateSettingsFiles();

// The file that settings are written to (LocateSettingsFiles().file).
std::string SettingsFilePath();

// The setting `key`, true when no file holds it (or holds it empty).
bool ReadSetting(const char* key);

// The setting `key`, `missing` when no file holds it (or holds it empty).
bool ReadSetting(const char* key, bool missing);

// Writes `key` as "1" or "0"; returns false when the file cannot be written
// (the old values then stay in force).
bool WriteSetting(const char* key, bool value);

// A text setting as stored, empty when no file holds it.
std::string ReadSettingText(const char* key);
// Writes a text setting; false when the file cannot be written.
bool WriteSettingText(const char* key, const std::string& value);

// When a settings file (either of SettingsFiles) exists but cannot be read
// (not a regular file, larger than 16 MB, no permission), the sentence that
// tells the user so:
// "the settings file PATH cannot be read (REASON); the defaults apply".
// Nothing when the file is readable or missing. Never blocks; the report
// and the window each show it once when they start.
std::optional<std::string> UnreadableSettingsWarning();

}  // namespace quarn

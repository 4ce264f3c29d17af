#pragma once
// A desktop entry file seen as the desktop sees it: its values as GLib's
// key-file reader gives them, and the command the desktop's library runs for
// it on a folder.

#include <optional>
#include <string>
#include <vector>

namespace quarn::test {

// The value of `key` in group "Desktop Entry", key-file escapes undone;
// nothing when the file, the group or the key is missing.
std::optional<std::string> DesktopEntryValue(const std::string& entryFile, const std::string& key);

// Makes at `programPath` (folders included) a program that records the
// arguments it is started with, for StartEntryOnFolder.
void MakeArgumentRecorder(const std::string& programPath);

// Starts the entry on `folder` as a file manager does (GIO) and returns what
// the recorder at `programPath` received: its own path, then its arguments.
// Nothing when the desktop refused the entry or the program did not run.
std::optional<std::vector<std::string>> StartEntryOnFolder(const std::string& entryFile,
                                                           const std::string& programPath,
                                                           const std::string& folder);

}  // namespace quarn::test

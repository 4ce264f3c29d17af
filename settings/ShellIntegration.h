#pragma once
// The folder verb "Dirmass": a desktop entry for folders in the user's
// applications folder, so that the file manager's "Open With" on a folder
// offers this tool and starts it with the folder as its only argument.
//
// Runs on the interface thread (frame start-up, Settings dialog OK). Failures
// never reach the user: the next start tries again.

#include <string>

namespace quarn {

// The entry's file: $XDG_DATA_HOME/applications/Dirmass.desktop (default
// ~/.local/share/applications).
std::string ShellVerbEntryPath();

// Writes the entry (creating its folders), replacing any old one atomically.
// Its Exec line starts `programPath` (default: this executable's real path),
// quoted so that any path survives, with the folder as the one argument.
// Returns 1 when the entry is in place, 0 on any failure (then an old entry,
// if any, is left as it was).
int RegisterShellVerb();
int RegisterShellVerb(const std::string& programPath);

// Removes the entry. Returns 1 only when there was one and it is gone; 0 when
// there was none or it could not be removed. Touches nothing else.
int UnregisterShellVerb();

// Registers or removes the entry as the setting ShellRun says, silently;
// when that changed the entry and update-desktop-database is installed, runs
// it on the applications folder so the desktop's MIME cache knows at once.
void ApplyShellIntegration();
void ApplyShellIntegration(const std::string& programPath);

}  // namespace quarn

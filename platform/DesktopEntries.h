#pragma once
// The desktop's application database: desktop entries in the XDG data folders
// and the MIME associations of mimeapps.list and mimeinfo.cache.
//
// Everything is read from disk on every call (the lists are small and change
// behind our back when the user installs programs); nothing is cached. All
// functions may be called from any thread. Paths and names are raw bytes.

#include <optional>
#include <string>
#include <vector>

namespace quarn {

struct DesktopApplication {
    std::string id;        // desktop id, e.g. "org.example.Viewer.desktop"
    std::string name;      // Name= (unlocalised)
    std::string exec;      // Exec= after the key-file escapes (\s \n \t \r \\)
    std::string filePath;  // the .desktop file it was read from
    bool terminal = false;
    bool noDisplay = false;
};

// $XDG_DATA_HOME when set to an absolute path, else $HOME/.local/share.
std::string XdgDataHome();
// XdgDataHome() first, then the absolute entries of $XDG_DATA_DIRS (default
// /usr/local/share:/usr/share), without duplicates. Most important first.
std::vector<std::string> XdgDataDirs();
// $XDG_CONFIG_HOME when absolute, else $HOME/.config.
std::string XdgConfigHome();
// XdgConfigHome() first, then $XDG_CONFIG_DIRS (default /etc/xdg).
std::vector<std::string> XdgConfigDirs();

// The installed application with this desktop id, looked up in
// <data dir>/applications in XdgDataDirs() order; an id "a-b.desktop" also
// matches the file applications/a/b.desktop. Nothing when the first entry
// found is hidden (Hidden=true), is not of Type=Application, has no Exec, or
// names in TryExec a program that is not installed.
std::optional<DesktopApplication> LoadDesktopApplication(const std::string& desktopId);

// The default application for a MIME type: the first installed entry of
// [Default Applications] in the mimeapps.list files (config folders, then the
// applications folders of the data folders, desktop-specific files first);
// failing that, the first of ApplicationsFor(mimeType).
std::optional<DesktopApplication> DefaultApplicationFor(const std::string& mimeType);

// Every installed application for a MIME type, most preferred first: the
// default, then [Added Associations], then the entries of mimeinfo.cache and
// the MimeType= lines of the desktop entries. [Removed Associations] of a
// file drop an application from the files below it and from the entries.
// Each application appears once.
std::vector<DesktopApplication> ApplicationsFor(const std::string& mimeType);

// Splits an Exec value into arguments: blanks separate, double quotes group
// (inside them a backslash escapes " ` $ \), single quotes group literally,
// and outside quotes a backslash escapes the next character. Field codes such
// as %f stay in the arguments as they are.
std::vector<std::string> SplitExec(const std::string& exec);

// The command line of an Exec value for these files (exact bytes, as paths):
// an argument "%F" or "%U" becomes one argument per file; %f and %u become
// the first file (an argument of their own or inside a longer one); "%i",
// "%c", "%k" and the deprecated codes are dropped; "%%" becomes "%". When the
// value has no file code and files are given, they are appended, so that
// "open with" never silently opens nothing.
std::vector<std::string> ExpandExec(const std::string& exec, const std::vector<std::string>& files);

// True when the Exec value takes several files in one process (%F or %U);
// otherwise a caller with several files starts one process per file.
bool ExecTakesFileList(const std::string& exec);

// One argument written for an Exec value so that SplitExec (and, for '%',
// ExpandExec) gives it back unchanged: quoted when it holds a blank or a
// reserved character, with " ` $ \ escaped, and '%' doubled.
std::string QuoteExecArgument(const std::string& arg);

// A string value written into a desktop file: the key-file escapes for
// backslash, newline, tab, carriage return and leading blanks.
std::string EscapeDesktopValue(const std::string& value);

}  // namespace quarn

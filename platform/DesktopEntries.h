#pragma once
// What writing a desktop entry of our own needs: the XDG base folders and the
// rules of Exec lines and key-file values. Finding and starting the desktop's
// applications is DesktopApplications.h (GIO).
//
// Environment variables are read on every call. Any thread may call these.

#include <string>
#include <vector>

namespace quarn {

// $XDG_DATA_HOME when set to an absolute path, else $HOME/.local/share.
std::string XdgDataHome();
// $XDG_CONFIG_HOME when set to an absolute path, else $HOME/.config.
std::string XdgConfigHome();
// $XDG_CACHE_HOME when set to an absolute path, else $HOME/.cache.
std::string XdgCacheHome();

// Splits an Exec value into arguments: blanks separate, double quotes group
// (inside them a backslash escapes " ` $ \), single quotes group literally,
// and outside quotes a backslash escapes the next character. Field codes such
// as %f stay in the arguments as they are.
std::vector<std::string> SplitExec(const std::string& exec);

// The command line of an Exec value for these files (exact bytes, as paths):
// an argument "%F" or "%U" becomes one argument per file; %f and %u become
// the first file (an argument of their own or inside a longer one); "%i",
// "%c", "%k" and the deprecated codes are dropped; "%%" becomes "%". When the
// value has no file code and files are given, they are appended, so that a
// program started on files never silently opens nothing.
std::vector<std::string> ExpandExec(const std::string& exec, const std::vector<std::string>& files);

// One argument written for an Exec value so that SplitExec (and, for '%',
// ExpandExec) gives it back unchanged: quoted when it holds a blank or a
// reserved character, with " ` $ \ escaped, and '%' doubled.
std::string QuoteExecArgument(const std::string& arg);

// A string value written into a desktop file: the key-file escapes for
// backslash, newline, tab, carriage return and leading blanks.
std::string EscapeDesktopValue(const std::string& value);

}  // namespace quarn

#pragma once
// How paths are joined and normalised. "/" is the one separator; a path that
// begins with "//" is network style and keeps every separator as given.

#include <string>
#include <string_view>

namespace quarn {

inline constexpr char kPathSeparator = '/';

// A path beginning with "//" names a network location and is never normalised.
inline bool IsNetworkStylePath(std::string_view path) {
    return path.starts_with("//");
}

// The one spelling of a path that every part of the program compares and
// shows: every run of separators becomes one and trailing separators go
// ("/" stays "/"). A network-style path keeps its separators as given, but
// for trailing ones ("//server/" stays "//server/" only when nothing follows
// the host: it keeps at least three characters).
std::string NormalisedPath(std::string_view path);

// Appends "/" and `name` to `folder`. Outside network-style paths no doubled
// separator is made, so a walk from "/" yields "/usr", not "//usr".
void AppendPathComponent(std::string& folder, std::string_view name);

// The folder part of a path: everything before its last separator; "/" for
// an entry right below the root, empty when there is no separator.
std::string_view FolderOfPath(std::string_view path);
// The name part: everything after the last separator (the whole path when
// there is none).
std::string_view NameOfPath(std::string_view path);

// `path` made absolute against the working folder (kept relative when that
// cannot be read), then NormalisedPath. For local files only: a
// network-style "//" start is reduced too, which Linux reads as the same
// path.
std::string AbsolutePath(std::string_view path);

// A folder named on a command line, in the one form every scan shows it.
// A relative path is resolved by the kernel's rules (realpath), so "link/.."
// is the parent of the link's target, as for ls and du, not the folder that
// holds the link; when it cannot be resolved (it does not exist) it is
// joined to the working folder as text. An absolute path is kept as given,
// in NormalisedPath's spelling.
std::string ResolveFolderArgument(std::string_view folder);

}  // namespace quarn

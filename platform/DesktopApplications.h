#pragma once
// The desktop's own application database, read through GIO: the type of a
// file, the programs the desktop offers for that type, and starting one of
// them on files.
//
// GIO keeps its index of the installed desktop entries (their MIME
// registrations come from the mimeinfo.cache files that the desktop's tools
// maintain, the preferences from mimeapps.list) and refreshes it when those
// folders change. It reads the XDG folder variables once, at its first use in
// the process. Any thread may call these functions. Paths are raw bytes.

#include <memory>
#include <optional>
#include <string>
#include <vector>

struct _GAppInfo;  // GIO's application entry, kept opaque here

namespace quarn {

struct DesktopApplication {
    std::string id;                   // desktop id, e.g. "org.example.Viewer.desktop"
    std::string name;                 // the name the desktop shows
    std::string exec;                 // the Exec value, field codes kept ("viewer %f")
    std::shared_ptr<_GAppInfo> info;  // the entry LaunchApplication starts
};

// The content type of the file or folder at `path`: by name, and by content
// where the name does not tell ("inode/directory" for a folder). Empty when
// the path cannot be examined.
std::string ContentTypeOf(const std::string& path);

// Every installed application for a content type, most preferred first: the
// default, the applications registered for the type itself, then those
// registered for a type it derives from (a text editor for a Python script).
// Each application appears once.
std::vector<DesktopApplication> ApplicationsFor(const std::string& contentType);

// The application the desktop opens a content type with by default.
std::optional<DesktopApplication> DefaultApplicationFor(const std::string& contentType);

// Starts `application` on `files` (each passed with its exact bytes; one
// process per file when the program takes only one). Returns an empty text
// when the program was started, else why it was not.
std::string LaunchApplication(const DesktopApplication& application,
                              const std::vector<std::string>& files);

}  // namespace quarn

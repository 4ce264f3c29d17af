#pragma once
// Moving files and folders to the desktop trash (the freedesktop.org trash
// layout), done by us so that every step can be checked: the trash folders
// are created before use, the entry's description is written before the file
// moves, and afterwards we look that the file really left its place. Nothing
// is ever deleted permanently here: when no trash can take a file, the call
// fails and the file stays where it was.
//
// Threading: the functions share no state and may be called from any thread.
// Paths are raw bytes.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace quarn {

// What a path named when it was looked at: the same device and inode, and
// for a file's content the same size and last-write time (FILETIME). A
// folder stays the same folder while its content changes, so for folders
// only device and inode count (see SameEntry).
struct FileIdentity {
    uint64_t dev = 0;
    uint64_t ino = 0;
    uint64_t size = 0;
    uint64_t mtime = 0;  // 100 ns units since 1601-01-01 UTC
    bool isFolder = false;

    bool operator==(const FileIdentity&) const = default;
};

// True when `now` is still the entry that `expected` described.
bool SameEntry(const FileIdentity& expected, const FileIdentity& now);

// The identity of the entry at `path` itself (links are not followed), or
// nothing when it cannot be looked at (for example when it does not exist).
std::optional<FileIdentity> IdentityOf(const std::string& path);

enum class TrashStatus {
    Trashed,          // the entry now lies in a trash folder
    Vanished,         // nothing at the path
    IdentityChanged,  // the path names another file than the caller expected
    Refused,          // not a thing we trash (the trash itself, "/", ...)
    NoTrash,          // no trash folder on the entry's filesystem could take it
    Failed,           // the move failed; the entry stays where it was
};

struct TrashResult {
    TrashStatus status = TrashStatus::Failed;
    std::string error;        // for the user; empty when trashed
    std::string trashedPath;  // where the entry now lies (when trashed)
    std::string infoPath;     // its .trashinfo file (when trashed)

    bool Ok() const { return status == TrashStatus::Trashed; }
};

// Where the trash folders are. The default uses $XDG_DATA_HOME/Trash (or
// ~/.local/share/Trash) and the mount table; tests put both in temporary
// folders.
struct TrashLocations {
    std::string homeTrash;
    // The top folder of the filesystem that holds a path (its mount point).
    std::function<std::optional<std::string>(const std::string& path)> topDirOf;

    static TrashLocations Default();
};

// Moves the file, link or folder at `path` into the trash. With `expected`,
// the entry must still have that identity at the moment of the move (a file
// replaced since it was shown is not trashed). A relative path is taken from
// the working folder. On any failure the entry stays where it was and no
// trash entry is left behind.
TrashResult MoveToTrash(const std::string& path, const std::optional<FileIdentity>& expected = {});
TrashResult MoveToTrash(const std::string& path, const std::optional<FileIdentity>& expected,
                        const TrashLocations& locations);

}  // namespace quarn

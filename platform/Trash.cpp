#include "platform/Trash.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string_view>
#include <vector>

#include "platform/FileSystems.h"
#include "platform/FileTime.h"
#include "platform/PathRules.h"

namespace quarn {

namespace {

// Longest name we give an entry in files/: its info file adds ".trashinfo"
// and must still fit NAME_MAX.
constexpr size_t kMaxTrashName = 255 - 10;

std::string ErrnoText(int error) {
    return std::strerror(error);
}

FileIdentity IdentityFromStat(const struct stat& st) {
    FileIdentity id;
    id.dev = uint64_t(st.st_dev);
    id.ino = uint64_t(st.st_ino);
    id.size = uint64_t(st.st_size);
    id.mtime = FileTimeFromUnix(int64_t(st.st_mtim.tv_sec), st.st_mtim.tv_nsec);
    id.isFolder = S_ISDIR(st.st_mode);
    return id;
}

// True when a component of the path is a trash folder of a filesystem top.
bool LiesInTopDirTrash(const std::string& path) {
    size_t start = 0;
    while (start < path.size()) {
        size_t end = path.find('/', start);
        if (end == std::string::npos) {
            end = path.size();
        }
        std::string_view part(path.data() + start, end - start);
        if (part == ".Trash" || part.starts_with(".Trash-")) {
            return true;
        }
        start = end + 1;
    }
    return false;
}

bool IsInside(const std::string& path, const std::string& folder) {
    return path == folder || (path.size() > folder.size() && path.starts_with(folder) &&
                              (folder == "/" || path[folder.size()] == '/'));
}

// Creates `path` and its missing parents; the folders we create get `mode`.
bool MakeFolders(const std::string& path, mode_t mode, std::string& error) {
    struct stat st;
    if (::stat(path.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode)) {
            return true;
        }
        error = path + " is not a folder";
        return false;
    }
    size_t slash = path.rfind('/');
    if (slash != std::string::npos && slash > 0 &&
        !MakeFolders(path.substr(0, slash), mode, error)) {
        return false;
    }
    if (::mkdir(path.c_str(), mode) != 0 && errno != EEXIST) {
        error = "cannot create " + path + ": " + ErrnoText(errno);
        return false;
    }
    return true;
}

// Percent-encodes everything but unreserved URI characters and "/".
std::string EscapePath(const std::string& path) {
    static const char* hex = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : path) {
        bool keep = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                    c == '-' || c == '_' || c == '.' || c == '~' || c == '/';
        if (keep) {
            out += char(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

std::string DeletionDateNow() {
    std::time_t now = std::time(nullptr);
    std::tm local{};
    char buffer[32] = {};
    if (::localtime_r(&now, &local) != nullptr) {
        std::strftime(buffer, sizeof buffer, "%Y-%m-%dT%H:%M:%S", &local);
    }
    return buffer;
}

// Cuts a UTF-8 name to at most `limit` bytes without splitting a character.
std::string CutName(const std::string& name, size_t limit) {
    if (name.size() <= limit) {
        return name;
    }
    size_t n = limit;
    while (n > 0 && (static_cast<unsigned char>(name[n]) & 0xC0) == 0x80) {
        --n;
    }
    return name.substr(0, n);
}

// "name.ext", "name 2.ext", "name 3.ext", ... A folder's name is not split.
std::string CandidateName(const std::string& base, bool isFolder, int attempt) {
    std::string stem = base;
    std::string extension;
    if (!isFolder) {
        size_t dot = base.rfind('.');
        if (dot != std::string::npos && dot > 0 && dot + 1 < base.size()) {
            stem = base.substr(0, dot);
            extension = base.substr(dot);
        }
    }
    std::string suffix = attempt > 1 ? " " + std::to_string(attempt) : std::string();
    if (extension.size() > kMaxTrashName / 2) {
        stem = base;
        extension.clear();
    }
    size_t room = kMaxTrashName - suffix.size() - extension.size();
    return CutName(stem, room) + suffix + extension;
}

bool IsUsableFolder(const std::string& path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::getuid() &&
           ::access(path.c_str(), W_OK | X_OK) == 0;
}

// A trash folder with files/ and info/, created with 0700 where missing.
bool PrepareTrash(const std::string& trash, std::string& error) {
    if (!MakeFolders(trash, 0700, error)) {
        return false;
    }
    struct stat st;
    if (::lstat(trash.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        error = trash + " is not a folder";
        return false;
    }
    for (const char* sub : {"/files", "/info"}) {
        std::string folder = trash + sub;
        if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
            error = "cannot create " + folder + ": " + ErrnoText(errno);
            return false;
        }
        if (!IsUsableFolder(folder)) {
            error = folder + " cannot be used";
            return false;
        }
    }
    return true;
}

enum class Attempt { Done, CrossDevice, Failed };

struct Claim {
    std::string infoPath;
    std::string filesPath;
};

// Reserves a unique name: the .trashinfo is created with O_EXCL, so two
// programs trashing at once never share a name.
bool ClaimName(const std::string& trash, const std::string& base, bool isFolder,
               const std::string& originalPath, Claim& claim, std::string& error) {
    std::string content = "[Trash Info]\nPath=" + EscapePath(originalPath) +
                          "\nDeletionDate=" + DeletionDateNow() + "\n";
    for (int attempt = 1; attempt < 10000; ++attempt) {
        std::string name = CandidateName(base, isFolder, attempt);
        std::string info = trash + "/info/" + name + ".trashinfo";
        std::string files = trash + "/files/" + name;
        int fd = ::open(info.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd < 0) {
            if (errno == EEXIST) {
                continue;
            }
            error = "cannot write " + info + ": " + ErrnoText(errno);
            return false;
        }
        bool written = ::write(fd, content.data(), content.size()) == ssize_t(content.size());
        bool closed = ::close(fd) == 0;
        if (!written || !closed) {
            error = "cannot write " + info;
            ::unlink(info.c_str());
            return false;
        }
        struct stat st;
        if (::lstat(files.c_str(), &st) == 0) {
            // An entry without its info file (left by someone else): keep it.
            ::unlink(info.c_str());
            continue;
        }
        claim = {info, files};
        return true;
    }
    error = "no free name in " + trash;
    return false;
}

// Renames without ever replacing an entry that appeared in the meantime.
int RenameNoReplace(const char* from, const char* to) {
#ifdef RENAME_NOREPLACE
    if (::renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0) {
        return 0;
    }
    if (errno != EINVAL && errno != ENOSYS) {
        return -1;
    }
#endif
    struct stat st;
    if (::lstat(to, &st) == 0) {
        errno = EEXIST;
        return -1;
    }
    return ::rename(from, to);
}

Attempt TrashInto(const std::string& trash, const std::string& path,
                  const std::string& infoPathValue, const FileIdentity& identity, bool isFolder,
                  TrashResult& result) {
    std::string error;
    if (!PrepareTrash(trash, error)) {
        result.error = error;
        return Attempt::Failed;
    }
    Claim claim;
    if (!ClaimName(trash, std::string(NameOfPath(path)), isFolder, infoPathValue, claim, error)) {
        result.error = error;
        return Attempt::Failed;
    }
    // The identity is checked once more right before the move: the window in
    // which the path could be swapped is the one between these two calls.
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0 || !SameEntry(identity, IdentityFromStat(st))) {
        ::unlink(claim.infoPath.c_str());
        result.status = TrashStatus::IdentityChanged;
        result.error = path + " changed while it was being moved to the trash";
        return Attempt::Failed;
    }
    if (RenameNoReplace(path.c_str(), claim.filesPath.c_str()) != 0) {
        int error = errno;
        ::unlink(claim.infoPath.c_str());
        if (error == EXDEV) {
            return Attempt::CrossDevice;
        }
        result.error = "cannot move " + path + " to " + trash + ": " + ErrnoText(error);
        return Attempt::Failed;
    }
    // Check that the move really happened, and happened to our file.
    struct stat moved;
    bool arrived = ::lstat(claim.filesPath.c_str(), &moved) == 0 &&
                   uint64_t(moved.st_dev) == identity.dev && uint64_t(moved.st_ino) == identity.ino;
    if (!arrived) {
        if (::lstat(claim.filesPath.c_str(), &moved) == 0) {
            // Someone swapped the path in the instant before the rename: put
            // their entry back where it was.
            RenameNoReplace(claim.filesPath.c_str(), path.c_str());
            result.status = TrashStatus::IdentityChanged;
            result.error = path + " changed while it was being moved to the trash";
        } else {
            result.error = path + " did not arrive in the trash";
        }
        ::unlink(claim.infoPath.c_str());
        return Attempt::Failed;
    }
    struct stat left;
    if (::lstat(path.c_str(), &left) == 0 && uint64_t(left.st_dev) == identity.dev &&
        uint64_t(left.st_ino) == identity.ino) {
        result.error = path + " is still in its place";
        ::unlink(claim.infoPath.c_str());
        return Attempt::Failed;
    }
    result.status = TrashStatus::Trashed;
    result.error.clear();
    result.trashedPath = claim.filesPath;
    result.infoPath = claim.infoPath;
    return Attempt::Done;
}

// The trash folder of the filesystem mounted at `topDir` that we may use:
// $topdir/.Trash/$uid when the administrator made $topdir/.Trash sticky and
// it is no link, otherwise $topdir/.Trash-$uid.
std::vector<std::string> TopDirTrashes(const std::string& topDir) {
    std::string base = topDir == "/" ? "" : topDir;
    std::string uid = std::to_string(::getuid());
    std::vector<std::string> trashes;
    struct stat st;
    std::string shared = base + "/.Trash";
    if (::lstat(shared.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && (st.st_mode & S_ISVTX) != 0) {
        std::string own = shared + "/" + uid;
        struct stat ownStat;
        if (::lstat(own.c_str(), &ownStat) != 0 ? ::mkdir(own.c_str(), 0700) == 0
                                                : S_ISDIR(ownStat.st_mode)) {
            if (IsUsableFolder(own)) {
                trashes.push_back(own);
            }
        }
    }
    std::string personal = base + "/.Trash-" + uid;
    if (::lstat(personal.c_str(), &st) != 0) {
        ::mkdir(personal.c_str(), 0700);
    }
    if (IsUsableFolder(personal)) {
        trashes.push_back(personal);
    }
    return trashes;
}

// The device of `path` or, while it does not exist yet, of its nearest
// existing parent folder.
dev_t DeviceOfNearestFolder(std::string path) {
    struct stat st;
    while (::stat(path.c_str(), &st) != 0) {
        size_t slash = path.rfind('/');
        if (slash == std::string::npos || path == "/") {
            return dev_t(-1);
        }
        path = slash == 0 ? "/" : path.substr(0, slash);
    }
    return st.st_dev;
}

}  // namespace

bool SameEntry(const FileIdentity& expected, const FileIdentity& now) {
    if (expected.isFolder && now.isFolder) {
        return expected.dev == now.dev && expected.ino == now.ino;
    }
    return expected == now;
}

std::optional<FileIdentity> IdentityOf(const std::string& path) {
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0) {
        return std::nullopt;
    }
    return IdentityFromStat(st);
}

TrashLocations TrashLocations::Default() {
    TrashLocations locations;
    const char* dataHome = std::getenv("XDG_DATA_HOME");
    std::string base;
    if (dataHome != nullptr && dataHome[0] == '/') {
        base = dataHome;
    } else {
        const char* home = std::getenv("HOME");
        base = std::string(home != nullptr ? home : "") + "/.local/share";
    }
    locations.homeTrash = base + "/Trash";
    locations.topDirOf = [](const std::string& path) { return MountPointOf(path); };
    return locations;
}

TrashResult MoveToTrash(const std::string& path, const std::optional<FileIdentity>& expected) {
    return MoveToTrash(path, expected, TrashLocations::Default());
}

TrashResult MoveToTrash(const std::string& rawPath, const std::optional<FileIdentity>& expected,
                        const TrashLocations& locations) {
    TrashResult result;
    std::string path = AbsolutePath(rawPath);
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0) {
        result.status = TrashStatus::Vanished;
        result.error = path + " no longer exists";
        return result;
    }
    FileIdentity identity = IdentityFromStat(st);
    if (expected && !SameEntry(*expected, identity)) {
        result.status = TrashStatus::IdentityChanged;
        result.error = path + " is no longer the file it was";
        return result;
    }
    std::string homeTrash = AbsolutePath(locations.homeTrash);
    if (path == "/" || IsInside(homeTrash, path) || IsInside(path, homeTrash) ||
        LiesInTopDirTrash(path)) {
        result.status = TrashStatus::Refused;
        result.error = path + " cannot be moved to the trash";
        return result;
    }
    bool isFolder = S_ISDIR(st.st_mode);

    // The home trash takes what lies on its own filesystem; the data folder
    // may not exist yet, which PrepareTrash mends.
    std::string homeError;
    {
        TrashResult home;
        Attempt attempt = TrashInto(homeTrash, path, path, identity, isFolder, home);
        if (attempt == Attempt::Done) {
            return home;
        }
        if (attempt == Attempt::Failed && home.status == TrashStatus::IdentityChanged) {
            return home;
        }
        homeError = home.error;
        // A file on the home trash's own filesystem goes there or nowhere:
        // a failing home trash is no reason to make trash folders elsewhere.
        if (attempt != Attempt::CrossDevice && st.st_dev == DeviceOfNearestFolder(homeTrash)) {
            result.status = TrashStatus::NoTrash;
            result.error = "no trash can take " + path + " (" + homeError + ")";
            return result;
        }
    }

    std::optional<std::string> topDir =
        locations.topDirOf ? locations.topDirOf(path) : std::optional<std::string>();
    if (topDir && IsInside(path, *topDir) && path != *topDir) {
        std::string relative = *topDir == "/" ? path.substr(1) : path.substr(topDir->size() + 1);
        for (const std::string& trash : TopDirTrashes(*topDir)) {
            TrashResult other;
            Attempt attempt = TrashInto(trash, path, relative, identity, isFolder, other);
            if (attempt == Attempt::Done) {
                return other;
            }
            if (attempt == Attempt::Failed && other.status == TrashStatus::IdentityChanged) {
                return other;
            }
            if (!other.error.empty()) {
                homeError = other.error;
            }
        }
    }
    result.status = TrashStatus::NoTrash;
    result.error = "no trash can take " + path + (homeError.empty() ? "" : " (" + homeError + ")");
    return result;
}

}  // namespace quarn

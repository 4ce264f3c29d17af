#include "platform/FileSystems.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/statvfs.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace quarn {

namespace {

constexpr uint64_t kTmpfsMagic = 0x01021994;
constexpr uint64_t kFuseMagic = 0x65735546;
constexpr uint64_t kRamfsMagic = 0x858458f6;

constexpr std::array<uint64_t, 16> kVirtualMagics = {
    0x9fa0,      // proc
    0x62656572,  // sysfs
    0x27e0eb,    // cgroup
    0x63677270,  // cgroup2
    0x1cd1,      // devpts
    0x64626720,  // debugfs
    0x74726163,  // tracefs
    0x73636673,  // securityfs
    0x6165676c,  // pstore
    0xcafe4a11,  // bpf
    0x62656570,  // configfs
    0x65735543,  // fusectl
    0x19800202,  // mqueue
    0x958458f6,  // hugetlbfs
    0x42494e4d,  // binfmt_misc
    0x0187,      // autofs
};

constexpr std::array<uint64_t, 10> kNetworkMagics = {
    0x6969,      // nfs
    0x517b,      // smb
    0xff534d42,  // cifs
    0xfe534d42,  // smb2
    0x01021997,  // 9p (v9fs)
    0x00c36400,  // ceph
    0x5346414f,  // afs
    0x73757245,  // coda
    0x564c,      // ncp
    0x6b414653,  // kafs
};

constexpr std::array<std::string_view, 17> kVirtualTypeNames = {
    "proc",    "sysfs",   "cgroup",     "cgroup2",     "devtmpfs", "devpts",
    "debugfs", "tracefs", "securityfs", "pstore",      "bpf",      "configfs",
    "fusectl", "mqueue",  "hugetlbfs",  "binfmt_misc", "autofs",
};

constexpr std::array<std::string_view, 14> kNetworkTypeNames = {
    "nfs",       "nfs4", "cifs",  "smb3",       "smbfs",       "9p",        "ceph",
    "glusterfs", "afs",  "davfs", "fuse.sshfs", "fuse.rclone", "fuse.s3fs", "fuse.curlftpfs",
};

// FUSE filesystems that reach another machine; a local FUSE mount (for
// example an archive mounter) counts as local.
constexpr std::array<std::string_view, 8> kFuseNetworkSuffixes = {
    "sshfs", "rclone", "s3fs", "gcsfuse", "curlftpfs", "gvfsd-fuse", "smbnetfs", "davfs",
};

bool Contains(auto& list, auto value) {
    return std::find(list.begin(), list.end(), value) != list.end();
}

std::string UnescapeMountField(std::string_view field) {
    // The kernel writes blanks, tabs, newlines and backslashes as \ooo.
    std::string out;
    out.reserve(field.size());
    for (size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size()) {
            int value = 0;
            bool octal = true;
            for (size_t k = 1; k <= 3; ++k) {
                char c = field[i + k];
                if (c < '0' || c > '7') {
                    octal = false;
                    break;
                }
                value = value * 8 + (c - '0');
            }
            if (octal) {
                out.push_back(char(value));
                i += 3;
                continue;
            }
        }
        out.push_back(field[i]);
    }
    return out;
}

const MountEntry* FindMountByDevice(const std::vector<MountEntry>& table, dev_t device) {
    const MountEntry* found = nullptr;
    for (const MountEntry& entry : table) {
        if (entry.device == device) {
            found = &entry;  // the last one wins, as it covers the earlier ones
        }
    }
    return found;
}

FileSystemKind ClassifyStatfs(const struct ::statfs& info, dev_t device) {
    uint64_t magic = uint64_t(info.f_type) & 0xffffffffu;
    std::string typeName;
    if (magic == kTmpfsMagic || magic == kFuseMagic) {
        std::vector<MountEntry> table = ReadMountTable();
        if (const MountEntry* entry = FindMountByDevice(table, device)) {
            typeName = entry->typeName;
        }
    }
    return ClassifyFileSystem(magic, typeName);
}

bool IsWithin(const std::string& path, const std::string& mountPoint) {
    if (mountPoint == "/") {
        return !path.empty() && path[0] == '/';
    }
    return path.compare(0, mountPoint.size(), mountPoint) == 0 &&
           (path.size() == mountPoint.size() || path[mountPoint.size()] == '/');
}

}  // namespace

FileSystemKind ClassifyFileSystem(uint64_t magic, std::string_view typeName) {
    if (!typeName.empty()) {
        if (Contains(kVirtualTypeNames, typeName)) {
            return FileSystemKind::Virtual;
        }
        if (Contains(kNetworkTypeNames, typeName)) {
            return FileSystemKind::Network;
        }
        if (typeName.starts_with("fuse.")) {
            std::string_view sub = typeName.substr(5);
            return Contains(kFuseNetworkSuffixes, sub) ? FileSystemKind::Network
                                                       : FileSystemKind::Local;
        }
    }
    if (Contains(kVirtualMagics, magic)) {
        return FileSystemKind::Virtual;
    }
    if (Contains(kNetworkMagics, magic)) {
        return FileSystemKind::Network;
    }
    (void)kRamfsMagic;
    return FileSystemKind::Local;
}

std::vector<MountEntry> ReadMountTable() {
    std::vector<MountEntry> table;
    std::ifstream in("/proc/self/mountinfo");
    std::string line;
    while (std::getline(in, line)) {
        // id parent major:minor root mountpoint options [optional...] - type source super
        std::istringstream fields(line);
        std::string id, parent, majorMinor, root, mountPoint;
        if (!(fields >> id >> parent >> majorMinor >> root >> mountPoint)) {
            continue;
        }
        std::string token;
        while (fields >> token && token != "-") {
        }
        std::string typeName;
        fields >> typeName;
        unsigned major = 0, minor = 0;
        if (std::sscanf(majorMinor.c_str(), "%u:%u", &major, &minor) != 2) {
            continue;
        }
        table.push_back({UnescapeMountField(mountPoint), typeName, makedev(major, minor)});
    }
    return table;
}

FileSystemKind FileSystemKindOfHandle(int handle) {
    struct ::statfs info;
    struct ::stat status;
    if (::fstatfs(handle, &info) != 0 || ::fstat(handle, &status) != 0) {
        return FileSystemKind::Local;
    }
    return ClassifyStatfs(info, status.st_dev);
}

FileSystemKind FileSystemKindOfPath(const std::string& path) {
    int handle = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_PATH);
    if (handle < 0) {
        return FileSystemKind::Local;
    }
    // fstatfs works on O_PATH handles since Linux 3.6.
    FileSystemKind kind = FileSystemKindOfHandle(handle);
    ::close(handle);
    return kind;
}

std::optional<std::string> MountPointOf(const std::string& path) {
    char* resolved = ::realpath(path.c_str(), nullptr);
    if (resolved == nullptr) {
        return std::nullopt;
    }
    std::string real(resolved);
    std::free(resolved);
    struct ::stat status;
    bool haveDevice = ::stat(real.c_str(), &status) == 0;
    std::optional<std::string> best;
    for (const MountEntry& entry : ReadMountTable()) {
        if (!IsWithin(real, entry.mountPoint)) {
            continue;
        }
        if (!best || entry.mountPoint.size() >= best->size()) {
            // Prefer the entry whose device matches: a bind mount of a file
            // system elsewhere does not hold this path.
            if (!haveDevice || entry.device == status.st_dev || !best ||
                entry.mountPoint.size() > best->size()) {
                best = entry.mountPoint;
            }
        }
    }
    return best;
}

std::optional<DiskSpace> DiskSpaceOf(const std::string& path) {
    struct ::statvfs info;
    if (::statvfs(path.c_str(), &info) != 0) {
        return std::nullopt;
    }
    DiskSpace space;
    space.freeToCaller = uint64_t(info.f_bavail) * info.f_frsize;
    space.total = uint64_t(info.f_blocks) * info.f_frsize;
    space.totalFree = uint64_t(info.f_bfree) * info.f_frsize;
    return space;
}

std::vector<MountEntry> ListUserVolumes() {
    std::vector<MountEntry> volumes;
    for (const MountEntry& entry : ReadMountTable()) {
        if (ClassifyFileSystem(0, entry.typeName) == FileSystemKind::Virtual) {
            continue;
        }
        // Pseudo filesystems that hold no user data.
        static constexpr std::array<std::string_view, 6> kPseudo = {
            "tmpfs", "ramfs", "overlay", "squashfs", "nsfs", "efivarfs"};
        bool pseudo =
            Contains(kPseudo, std::string_view(entry.typeName)) && entry.mountPoint != "/";
        if (pseudo || entry.mountPoint.starts_with("/proc") ||
            entry.mountPoint.starts_with("/sys") || entry.mountPoint.starts_with("/dev") ||
            (entry.mountPoint.starts_with("/run") && !entry.mountPoint.starts_with("/run/media"))) {
            continue;
        }
        auto same = std::find_if(volumes.begin(), volumes.end(), [&](const MountEntry& v) {
            return v.mountPoint == entry.mountPoint;
        });
        if (same != volumes.end()) {
            *same = entry;
        } else {
            volumes.push_back(entry);
        }
    }
    std::sort(volumes.begin(), volumes.end(),
              [](const MountEntry& a, const MountEntry& b) { return a.mountPoint < b.mountPoint; });
    return volumes;
}

std::optional<bool> IsRotatingDisk(uint64_t device) {
    const std::string block = "/sys/dev/block/" + std::to_string(major(dev_t(device))) + ":" +
                              std::to_string(minor(dev_t(device)));
    // A partition has no queue of its own; its whole disk is one folder up.
    for (const char* queue : {"/queue/rotational", "/../queue/rotational"}) {
        std::ifstream file(block + queue);
        int rotational = -1;
        if (file >> rotational && (rotational == 0 || rotational == 1)) {
            return rotational == 1;
        }
    }
    return std::nullopt;
}

}  // namespace quarn

#pragma once
// What kind of filesystem holds a folder, where it is mounted and how much
// space it has: our stand-ins for the drive calls of a desktop with drives.

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quarn {

enum class FileSystemKind {
    Local,    // holds disk bytes of this machine
    Network,  // NFS, SMB/CIFS, sshfs and other FUSE network mounts, 9p, ...
    Virtual,  // kernel filesystems (proc, sysfs, cgroup, ...): no disk bytes, never walked
};

// Classifies by the statfs magic and, where the magic is shared (tmpfs and
// devtmpfs, the many FUSE filesystems), by the type name from the mount table.
FileSystemKind ClassifyFileSystem(uint64_t magic, std::string_view typeName);

struct MountEntry {
    std::string mountPoint;  // unescaped
    std::string typeName;    // e.g. "ext4", "fuse.sshfs"
    dev_t device = 0;
};

// The mount table of this process in the kernel's order (later entries
// cover earlier ones on the same mount point).
std::vector<MountEntry> ReadMountTable();

// The kind of filesystem that holds an open folder or a path.
FileSystemKind FileSystemKindOfHandle(int handle);
FileSystemKind FileSystemKindOfPath(const std::string& path);

// True when the block device `device` (a file's st_dev) is a rotating disk,
// as the kernel says (/sys/dev/block/MAJ:MIN, or its whole disk for a
// partition). Nothing for a device without a block device (tmpfs, network
// file systems, overlays) or when the kernel does not say.
std::optional<bool> IsRotatingDisk(uint64_t device);

// The mount point that holds `path` (for example "/" or "/home"), or nothing
// when the path cannot be resolved.
std::optional<std::string> MountPointOf(const std::string& path);

struct DiskSpace {
    uint64_t freeToCaller = 0;  // f_bavail * f_frsize
    uint64_t total = 0;         // f_blocks * f_frsize
    uint64_t totalFree = 0;     // f_bfree * f_frsize
};

// The space of the filesystem that holds `path`; nothing when it cannot be read.
std::optional<DiskSpace> DiskSpaceOf(const std::string& path);

// The mounted volumes a user can pick, in mount-point order, without
// virtual or pseudo filesystems; "/" first on an ordinary machine.
std::vector<MountEntry> ListUserVolumes();

}  // namespace quarn

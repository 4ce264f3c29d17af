#pragma once
// The twin index's storage, shared by the files that implement BinBaum
// (BinBaum.cpp: insertion, walking, reading; BinBaumGroups.cpp: what a content
// search makes of the groups). Not for anyone else.

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "duplicates/BinBaum.h"
#include "duplicates/ChunkedStorage.h"
#include "duplicates/NameOrder.h"
#include "duplicates/TwinKeyHash.h"

namespace quarn {

namespace binbaum {

// A file's flags.
// The folder entry holds the whole path (a path that did not end in the name).
constexpr uint16_t kPathIsWhole = 0x8000u;
// The FILETIME cannot hold the real time; the exact time table has it.
constexpr uint16_t kTimeBeyondFileTime = 0x4000u;
// No regular file: a group of its own that nothing joins.
constexpr uint16_t kNotCandidate = 0x2000u;
// An earlier file of the group is the same inode.
constexpr uint16_t kExtraLink = 0x1000u;
// Found in a reference folder: never selected, trashed or replaced.
constexpr uint16_t kReference = 0x0800u;
// A regular file of no bytes.
constexpr uint16_t kEmptyRegular = 0x0400u;
// Not a file but a whole folder (a twin folder of a content search); its
// path is whole, its size the folder's.
constexpr uint16_t kFolderEntry = 0x0200u;

constexpr uint16_t kUnknownDevice = 0xffffu;

// Nanoseconds since 1970 hold about 1678 to 2262; other times are unknown.
inline int64_t ChangeTimeOf(const FileEntry& entry) {
    constexpr int64_t kLimit = INT64_MAX / 1'000'000'000 - 1;
    if (entry.ctimeSeconds == 0 && entry.ctimeNanoseconds == 0) {
        return kUnknownChangeTime;
    }
    if (entry.ctimeSeconds > kLimit || entry.ctimeSeconds < -kLimit) {
        return kUnknownChangeTime;
    }
    return entry.ctimeSeconds * 1'000'000'000 + int64_t(entry.ctimeNanoseconds);
}

// A hash slot: the group id + 1 in the low bits, a few bits of the key's
// hash above them, so that most probes never touch the group itself.
constexpr uint32_t kSlotGroupBits = 26;
constexpr uint32_t kSlotGroupMask = (1u << kSlotGroupBits) - 1;
constexpr size_t kMaxGroups = kSlotGroupMask - 1;

// In GroupRec::name: the group holds two files or more.
constexpr uint32_t kHasTwins = 0x80000000u;

// Four-byte fields only, so that records packed back to back stay aligned
// for every field: 64-bit values are kept as two halves.
struct FileRec {
    uint32_t timeLow;
    uint32_t timeHigh;
    uint32_t sizeLow;
    uint32_t sizeHigh;
    uint32_t inodeLow;
    uint32_t inodeHigh;
    uint32_t folder;
    uint32_t next;    // the group's files form a ring; the group points at its last
    uint16_t flags;   // kPathIsWhole, kTimeBeyondFileTime, ...
    uint16_t device;  // index in the device table; kUnknownDevice when it is full

    uint64_t Time() const { return (uint64_t(timeHigh) << 32) | timeLow; }
    uint64_t Size() const { return (uint64_t(sizeHigh) << 32) | sizeLow; }
    uint64_t Inode() const { return (uint64_t(inodeHigh) << 32) | inodeLow; }
};
static_assert(sizeof(FileRec) == 36 && alignof(FileRec) == 4);

struct GroupRec {
    uint32_t name;  // offset in the name arena, | kHasTwins
    uint32_t last;  // last file of the ring (its next is the first); kNoFile: empty
};

// An inode within a group: a second file of the same key is a hard link.
struct InodeKey {
    uint64_t device;
    uint64_t inode;
    GroupId group;
    bool operator==(const InodeKey&) const = default;
};
struct InodeKeyHash {
    size_t operator()(const InodeKey& key) const {
        return size_t(MixHash(key.device ^ MixHash(key.inode ^ (uint64_t(key.group) << 40))));
    }
};

}  // namespace binbaum

using namespace binbaum;

struct BinBaum::Impl {
    ChunkedArray<FileRec, 14> files;
    // A content index's files have names of their own: their offsets in
    // `names`, parallel to `files` (empty otherwise).
    ChunkedArray<uint32_t, 14> fileNames;
    // ... and their change times, in nanoseconds (kUnknownChangeTime when the
    // walk had none or it does not fit).
    ChunkedArray<int64_t, 14> changeTimes;
    ChunkedArray<GroupRec, 14> groups;
    ChunkedArray<std::string, 12> folders;
    NameArena names;
    std::string lastFolder;  // the folder interned last, for the cheap common case
    bool haveLastFolder = false;

    // Open addressing, at most half full. Dropped while a walk order exists
    // (the sort reuses its memory) and rebuilt by the next insertion.
    std::vector<uint32_t> slots;
    size_t slotMask = 0;
    bool slotsValid = false;

    uint8_t compare = 0;
    bool compareSet = false;

    bool ByContent() const { return (compare & kCompareContent) != 0; }

    // The walk order: group ids (NameOrder.h).
    struct FreeDeleter {
        void operator()(void* p) const { std::free(p); }
    };
    mutable std::unique_ptr<uint32_t[], FreeDeleter> orderBuffer;
    mutable size_t orderSize = 0;
    mutable bool orderValid = false;

    // Times a FILETIME cannot hold, by file (rare: before 1601, after 60056).
    std::unordered_map<FileId, ExactTime> beyondTimes;
    // Devices met, so a file keeps a 2-byte index; the last one is cached.
    std::vector<uint64_t> devices;
    uint16_t lastDevice = kUnknownDevice;
    // Every inode with more than one link, by group, as inserted.
    std::unordered_set<InodeKey, InodeKeyHash> linkedInodes;

    uint16_t InternDevice(uint64_t device) {
        if (lastDevice != kUnknownDevice && devices[lastDevice] == device) {
            return lastDevice;
        }
        for (size_t i = 0; i < devices.size(); ++i) {
            if (devices[i] == device) {
                return lastDevice = uint16_t(i);
            }
        }
        if (devices.size() >= kUnknownDevice) {
            return kUnknownDevice;  // links on such a device are never matched
        }
        devices.push_back(device);
        return lastDevice = uint16_t(devices.size() - 1);
    }
    uint64_t DeviceOf(const FileRec& file) const {
        return file.device == kUnknownDevice ? 0 : devices[file.device];
    }
    bool KnownInode(const FileRec& file) const {
        return file.device != kUnknownDevice && file.Inode() != 0;
    }
    bool SameInode(const FileRec& a, const FileRec& b) const {
        return KnownInode(a) && a.device == b.device && a.Inode() == b.Inode();
    }

    TwinKey KeyOfFile(std::string_view name, FileId id) const {
        const FileRec& file = files[id];
        TwinKey key{name, file.Size(), file.Time()};
        if ((file.flags & kTimeBeyondFileTime) != 0) {
            key.beyondFileTime = true;
            key.exact = beyondTimes.at(id);
        }
        return key;
    }
    ExactTime ExactTimeOfFile(FileId id) const {
        if ((files[id].flags & kTimeBeyondFileTime) != 0) {
            return beyondTimes.at(id);
        }
        return ExactTimeOfFileTime(files[id].Time());
    }

    std::string_view NameOf(GroupId g) const { return names.At(NameField(g) & ~kHasTwins); }

    // The twins bit changes while other threads read the name of the same
    // group, hence atomic access (plain loads and stores on common machines).
    uint32_t NameField(GroupId g) const {
        return std::atomic_ref<uint32_t>(const_cast<uint32_t&>(groups[g].name))
            .load(std::memory_order_relaxed);
    }
    void SetTwinsBit(GroupId g, bool on) {
        std::atomic_ref<uint32_t> name(groups[g].name);
        if (on) {
            name.fetch_or(kHasTwins, std::memory_order_relaxed);
        } else {
            name.fetch_and(~kHasTwins, std::memory_order_relaxed);
        }
    }

    TwinKey KeyOfGroup(GroupId g) const { return KeyOfFile(NameOf(g), files[groups[g].last].next); }
    bool IsCandidateGroup(GroupId g) const {
        const GroupRec& group = groups[g];
        return group.last != kNoFile && (files[group.last].flags & kNotCandidate) == 0;
    }

    const uint32_t* Order() const { return orderBuffer.get(); }

    static size_t SlotOf(uint32_t hash, size_t mask) { return size_t(MixHash(hash)) & mask; }
    static uint32_t TagOf(uint32_t hash) { return hash & ~kSlotGroupMask; }

    // Sizes the table for `groupCount` groups; may throw std::bad_alloc.
    void EnsureSlots(size_t groupCount) {
        if (slotsValid && groupCount * 2 <= slots.size()) {
            return;
        }
        size_t capacity = 1024;
        while (capacity < groupCount * 2) {
            capacity *= 2;
        }
        std::vector<uint32_t> fresh(capacity, 0);
        size_t mask = capacity - 1;
        for (size_t g = 0; g < groups.size(); ++g) {
            if (!IsCandidateGroup(GroupId(g))) {
                continue;  // emptied by trashing, or no regular file: never joined
            }
            uint32_t hash = HashTwinKey(KeyOfGroup(GroupId(g)), compare);
            size_t pos = SlotOf(hash, mask);
            while (fresh[pos] != 0) {
                pos = (pos + 1) & mask;
            }
            fresh[pos] = TagOf(hash) | uint32_t(g + 1);
        }
        slots.swap(fresh);
        slotMask = mask;
        slotsValid = true;
    }

    uint32_t InternFolder(std::string_view folder) {
        if (haveLastFolder && lastFolder == folder) {
            return uint32_t(folders.size() - 1);
        }
        folders.Reserve();
        std::string copy(folder);
        lastFolder = copy;
        haveLastFolder = true;
        return uint32_t(folders.Append(std::move(copy)));
    }
};

}  // namespace quarn

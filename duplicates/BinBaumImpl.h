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
// for every field: 64-bit values are kept as two halves. Sizes and inode
// numbers nearly always fit 32 bits: their upper halves live apart
// (SparseWords), and so do the folder, which the walk hands over the same
// for a run of files (FolderRun), and the link to the next file of the
// group (RingLinks).
struct FileRec {
    uint32_t timeLow;
    uint32_t timeHigh;
    uint32_t sizeLow;
    uint32_t inodeLow;
    uint16_t flags;   // kPathIsWhole, kTimeBeyondFileTime, ...
    uint16_t device;  // index in the device table; kUnknownDevice when it is full

    uint64_t Time() const { return (uint64_t(timeHigh) << 32) | timeLow; }
};
static_assert(sizeof(FileRec) == 20 && alignof(FileRec) == 4);

// The files of a group form a ring; the group points at its last. Each link
// is kept as next XOR file, so a file alone in its group, as most files of
// most trees are, is its own next at no cost: only a stretch of files with
// twins among them has a chunk of links.
class RingLinks {
  public:
    FileId Next(FileId file) const { return FileId(m_words.Get(file) ^ file); }
    // After MakeRoom(file), unless `next` is the file itself or the file's
    // link was set to another file before.
    void SetNext(FileId file, FileId next) { m_words.Set(file, file ^ next); }
    // Makes sure SetNext(file, ...) cannot throw; may throw std::bad_alloc.
    void MakeRoom(FileId file) { m_words.MakeRoom(file); }
    void Clear() { m_words.Clear(); }
    size_t Bytes() const { return m_words.Bytes(); }

  private:
    SparseWords m_words;
};

// Files from `firstFile` on, up to the next run's first, lie in `folder`
// (a FolderNode).
struct FolderRun {
    uint32_t firstFile;
    uint32_t folder;
};

constexpr uint32_t kNoParent = 0xffffffffu;

// A stored folder: a folder stored earlier whose path is a prefix of its own
// (kNoParent: none), and the rest of its path (in the path arena). A walk
// stores its folders as a tree this way, each by its own name, instead of
// every folder's whole path.
struct FolderNode {
    uint32_t parent;
    uint32_t rest;
};

// A folder above the current one (InternFolder): its node, and the length of
// its path, a prefix of the current one's.
struct OpenFolder {
    uint32_t node;
    size_t length;
};

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
    RingLinks ring;
    // A content index's files have names of their own: their offsets in
    // `names`, parallel to `files` (empty otherwise).
    ChunkedArray<uint32_t, 14> fileNames;
    // ... and their change times, in nanoseconds (kUnknownChangeTime when the
    // walk had none or it does not fit).
    ChunkedArray<int64_t, 14> changeTimes;
    ChunkedArray<GroupRec, 14> groups;
    SparseWords sizeHighs;
    SparseWords inodeHighs;
    // Every folder prefix (or whole path) stored, and which files lie in it.
    ChunkedArray<FolderNode, 12> folders;
    PathArena folderTexts;
    ChunkedArray<FolderRun, 12> folderRuns;
    NameArena names;
    // Published with release: a reader that learnt of a file under a lock
    // sees every run up to the file's.
    std::atomic<size_t> folderRunCount{0};
    // The path of the folder interned last, and the folders above it whose
    // paths are prefixes of it, itself last (InternFolder).
    std::string lastFolder;
    std::vector<OpenFolder> openFolders;

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
    uint64_t SizeOf(FileId id) const {
        return (uint64_t(sizeHighs.Get(id)) << 32) | files[id].sizeLow;
    }
    uint64_t InodeOf(FileId id) const {
        return (uint64_t(inodeHighs.Get(id)) << 32) | files[id].inodeLow;
    }
    // After Reserve() of `files` and of both high words' chunks (SetHighWords).
    void SetHighWords(FileId id, uint64_t size, uint64_t inode) {
        sizeHighs.Set(id, uint32_t(size >> 32));
        inodeHighs.Set(id, uint32_t(inode >> 32));
    }
    bool KnownInode(FileId id) const {
        return files[id].device != kUnknownDevice && InodeOf(id) != 0;
    }
    bool SameInode(FileId a, FileId b) const {
        return KnownInode(a) && files[a].device == files[b].device && InodeOf(a) == InodeOf(b);
    }

    TwinKey KeyOfFile(std::string_view name, FileId id) const {
        const FileRec& file = files[id];
        TwinKey key{name, SizeOf(id), file.Time()};
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

    TwinKey KeyOfGroup(GroupId g) const { return KeyOfFile(NameOf(g), ring.Next(groups[g].last)); }
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

    // The folder's node, with room for one more run. A walk goes depth
    // first: a folder met again after its subfolders is one of the folders
    // above the current one, so those are looked at before a folder is
    // stored again, and a new one is stored below the nearest. May throw
    // std::bad_alloc.
    uint32_t InternFolder(std::string_view folder) {
        folderRuns.Reserve();
        if (!openFolders.empty() && openFolders.back().length == folder.size() &&
            lastFolder == folder) {
            return openFolders.back().node;
        }
        size_t kept = openFolders.size();
        while (kept > 0 &&
               !folder.starts_with(
                   std::string_view(lastFolder).substr(0, openFolders[kept - 1].length))) {
            --kept;
        }
        // Whatever may throw comes first.
        folders.Reserve();
        openFolders.reserve(kept + 1);
        std::string path(folder);
        if (kept > 0 && openFolders[kept - 1].length == folder.size()) {
            openFolders.resize(kept);
        } else {
            const OpenFolder* above = kept > 0 ? &openFolders[kept - 1] : nullptr;
            const uint32_t rest = folderTexts.Append(folder.substr(above ? above->length : 0));
            const uint32_t node =
                uint32_t(folders.Append(FolderNode{above ? above->node : kNoParent, rest}));
            openFolders.resize(kept);
            openFolders.push_back(OpenFolder{node, folder.size()});
        }
        lastFolder.swap(path);
        return openFolders.back().node;
    }
    // A path kept whole (a folder entry): never the next file's folder.
    uint32_t StoreWholePath(std::string_view path) {
        folderRuns.Reserve();
        folders.Reserve();
        const uint32_t rest = folderTexts.Append(path);
        openFolders.clear();
        return uint32_t(folders.Append(FolderNode{kNoParent, rest}));
    }
    // The stored folder's whole path.
    std::string FolderPath(uint32_t node) const {
        size_t length = 0;
        for (uint32_t at = node; at != kNoParent; at = folders[at].parent) {
            length += folderTexts.At(folders[at].rest).size();
        }
        std::string path(length, '\0');
        for (uint32_t at = node; at != kNoParent; at = folders[at].parent) {
            const std::string_view rest = folderTexts.At(folders[at].rest);
            length -= rest.size();
            path.replace(length, rest.size(), rest);
        }
        return path;
    }

    // After InternFolder or StoreWholePath: file `id`, just appended, lies in
    // `folder`.
    void NoteFolder(FileId id, uint32_t folder) {
        const size_t runs = folderRuns.size();
        if (runs != 0 && folderRuns[runs - 1].folder == folder) {
            return;
        }
        folderRuns.Append(FolderRun{id, folder});
        folderRunCount.store(runs + 1, std::memory_order_release);
    }
    uint32_t FolderOf(FileId id) const {
        size_t low = 0, high = folderRunCount.load(std::memory_order_acquire);
        while (high - low > 1) {  // the last run that starts at or before `id`
            const size_t middle = low + (high - low) / 2;
            if (folderRuns[middle].firstFile <= id) {
                low = middle;
            } else {
                high = middle;
            }
        }
        return folderRuns[low].folder;
    }
};

}  // namespace quarn

#include "duplicates/BinBaum.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>
#include <stdexcept>
#include <unordered_set>

#include "duplicates/ChunkedStorage.h"
#include "duplicates/NameOrder.h"
#include "duplicates/TwinKeyHash.h"

namespace quarn {

namespace {

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
int64_t ChangeTimeOf(const FileEntry& entry) {
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

}  // namespace
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

std::string_view TreeNode::Name() const {
    return m_pTree->GroupName(m_id);
}
size_t TreeNode::FileCount() const {
    return m_pTree->GroupFileCount(m_id);
}
bool TreeNode::HasTwins() const {
    return m_pTree->GroupHasTwins(m_id);
}
FileId TreeNode::FirstFile() const {
    return m_pTree->GroupFirstFile(m_id);
}
FileId TreeNode::LastFile() const {
    return m_pTree->GroupLastFile(m_id);
}
FileId TreeNode::NextFile(FileId file) const {
    return m_pTree->NextFileInGroup(m_id, file);
}

uint64_t TreeNode::GetSize(size_t i) const {
    FileId file = FirstFile();
    while (i-- > 0 && file != kNoFile) {
        file = NextFile(file);
    }
    return file == kNoFile ? 0 : m_pTree->FileSize(file);
}

bool TreeNode::IsCandidate() const {
    return m_pTree->m_impl->IsCandidateGroup(m_id);
}

bool TreeNode::IsTwin(const TwinKey& candidate) const {
    if (!IsCandidate()) {
        return false;
    }
    return IsTwinUnder(m_pTree->m_impl->compare, m_pTree->m_impl->KeyOfGroup(m_id), candidate);
}

BinBaum::BinBaum() : m_impl(std::make_unique<Impl>()) {}

BinBaum::~BinBaum() = default;

void BinBaum::SetUserMessagePresenter(UserMessagePresenter presenter) {
    m_presenter = std::move(presenter);
}

void BinBaum::ReserveGroup() {
    if (m_impl->groups.size() >= kMaxGroups) {
        throw std::bad_alloc();
    }
    m_impl->groups.Reserve();
}

BinBaum::Inserted BinBaum::Insert(const TwinGroup& candidate) {
    if (candidate.m_files.empty()) {
        return Inserted{};
    }
    const FileEntry entry = candidate.m_files.front();
    std::string_view name = entry.name;
    std::string_view path = candidate.m_paths.empty() ? std::string_view() : candidate.m_paths[0];
    if (path.empty()) {
        return InsertEntry(entry, std::string_view(), false, candidate.m_nCompare);
    }
    if (path.size() > name.size() && path.ends_with(name)) {
        return InsertEntry(entry, path.substr(0, path.size() - name.size()), false,
                           candidate.m_nCompare);
    }
    return InsertEntry(entry, path, true, candidate.m_nCompare);
}

BinBaum::Inserted BinBaum::Insert(std::string_view folderPrefix, const FileEntry& entry,
                                  uint8_t compare, bool reference) {
    return InsertEntry(entry, folderPrefix, false, compare, reference);
}

BinBaum::Inserted BinBaum::InsertEntry(const FileEntry& entry, std::string_view folderPrefix,
                                       bool prefixIsPath, uint8_t compare, bool reference) {
    Impl& impl = *m_impl;
    if (!impl.compareSet) {
        impl.compare = compare;
        impl.compareSet = true;
    }
    if (impl.orderValid) {
        impl.orderValid = false;
        impl.orderBuffer.reset();
        impl.orderSize = 0;
    }
    const TwinKey key = TwinKeyOf(entry);
    // Empty files hold no content to share: never twins by content.
    const bool candidate = entry.IsRegularFile() && !(impl.ByContent() && entry.size == 0);
    try {
        impl.EnsureSlots(impl.groups.size() + 1);
    } catch (const std::bad_alloc&) {
        ShowUserMessage(m_presenter, "BinBaum:: new TreeNode - exception");
        return Inserted{};
    }
    const uint32_t hash = HashTwinKey(key, impl.compare);
    const uint32_t tag = Impl::TagOf(hash);
    const uint64_t inode = entry.inode;
    FileRec file{uint32_t(key.lastWriteTime),
                 uint32_t(key.lastWriteTime >> 32),
                 uint32_t(key.size),
                 uint32_t(key.size >> 32),
                 uint32_t(inode),
                 uint32_t(inode >> 32),
                 0,
                 0,
                 uint16_t((prefixIsPath ? kPathIsWhole : 0u) |
                          (key.beyondFileTime ? kTimeBeyondFileTime : 0u) |
                          (candidate ? 0u : kNotCandidate) | (reference ? kReference : 0u) |
                          (entry.IsRegularFile() && entry.size == 0 ? kEmptyRegular : 0u)),
                 impl.InternDevice(entry.device)};
    const bool manyLinks = candidate && entry.linkCount > 1 && impl.KnownInode(file);

    // Groups of one name never share a key, so the group found is the
    // first-created one the file is a twin of.
    size_t pos = Impl::SlotOf(hash, impl.slotMask);
    while (candidate && impl.slots[pos] != 0) {
        uint32_t slot = impl.slots[pos];
        GroupId g = (slot & kSlotGroupMask) - 1;
        if ((slot & ~kSlotGroupMask) == tag && impl.groups[g].last != kNoFile &&
            TreeNode(this, g).IsTwin(key)) {
            // Joining: memory exhausted here abandons the walk, as any failure does.
            impl.files.Reserve();
            file.folder = impl.InternFolder(folderPrefix);
            if (impl.ByContent()) {
                impl.fileNames.Reserve();
                impl.changeTimes.Reserve();
                impl.names.Reserve(key.name);
                impl.fileNames.Append(impl.names.Append(key.name));
                impl.changeTimes.Append(ChangeTimeOf(entry));
            }
            bool extraLink = false;
            if (manyLinks) {
                extraLink = !impl.linkedInodes.insert(InodeKey{entry.device, inode, g}).second;
            }
            if (extraLink) {
                file.flags |= kExtraLink;
            }
            GroupRec& group = impl.groups[g];
            FileRec& last = impl.files[group.last];
            file.next = last.next;
            uint32_t id = uint32_t(impl.files.size());
            if (key.beyondFileTime) {
                impl.beyondTimes.insert_or_assign(id, key.exact);
            }
            impl.files.Append(file);
            last.next = id;
            group.last = id;
            impl.SetTwinsBit(g, true);
            if (extraLink) {
                ++m_extraLinkJoins;  // the same file again: no copy
            }
            return Inserted{InsertResult::Joined, g, id, extraLink};
        }
        pos = (pos + 1) & impl.slotMask;
    }

    try {
        ReserveGroup();
        impl.files.Reserve();
        impl.names.Reserve(key.name);
        if (impl.ByContent()) {
            impl.fileNames.Reserve();
            impl.changeTimes.Reserve();
        }
        file.folder = impl.InternFolder(folderPrefix);
        if (key.beyondFileTime) {
            impl.beyondTimes.insert_or_assign(uint32_t(impl.files.size()), key.exact);
        }
        if (manyLinks) {
            impl.linkedInodes.insert(InodeKey{entry.device, inode, GroupId(impl.groups.size())});
        }
    } catch (const std::bad_alloc&) {
        ShowUserMessage(m_presenter, "BinBaum:: new TreeNode - exception");
        return Inserted{};
    }
    uint32_t id = uint32_t(impl.files.size());
    file.next = id;
    impl.files.Append(file);
    const uint32_t name = impl.names.Append(key.name);
    if (impl.ByContent()) {
        impl.fileNames.Append(name);
        impl.changeTimes.Append(ChangeTimeOf(entry));
    }
    GroupId g = GroupId(impl.groups.Append(GroupRec{name, id}));
    if (candidate) {
        impl.slots[pos] = tag | (g + 1);
    }
    m_groupCount = impl.groups.size();
    m_folderCount = impl.folders.size();
    ++m_nNodes;
    return Inserted{InsertResult::Created, g, id, false};
}

void BinBaum::Clear() {
    Impl& impl = *m_impl;
    impl.files.Clear();
    impl.fileNames.Clear();
    impl.changeTimes.Clear();
    impl.groups.Clear();
    impl.folders.Clear();
    impl.names.Clear();
    impl.haveLastFolder = false;
    impl.lastFolder.clear();
    std::vector<uint32_t>().swap(impl.slots);
    impl.slotMask = 0;
    impl.slotsValid = false;
    impl.compareSet = false;
    impl.orderBuffer.reset();
    impl.orderSize = 0;
    impl.orderValid = false;
    impl.beyondTimes.clear();
    impl.devices.clear();
    impl.lastDevice = kUnknownDevice;
    impl.linkedInodes.clear();
    m_groupCount = 0;
    m_folderCount = 0;
    m_extraLinkJoins = 0;
}

void BinBaum::BuildOrder() const {
    Impl& impl = *m_impl;
    // The hash table is not needed while walking; its memory goes to the sort.
    std::vector<uint32_t>().swap(impl.slots);
    impl.slotsValid = false;

    size_t count = impl.groups.size();
    impl.orderBuffer.reset();
    impl.orderSize = 0;
    impl.orderBuffer.reset(OrderIdsByName(count, [&impl](GroupId g) { return impl.NameOf(g); }));
    impl.orderSize = count;
    impl.orderValid = true;
}

TreeNode BinBaum::Cursor::Node() const {
    if (AtEnd()) {
        return TreeNode();
    }
    return TreeNode(m_pTree, m_pTree->m_impl->Order()[m_pos]);
}

bool BinBaum::Cursor::operator==(const Cursor& other) const {
    if (AtEnd() || other.AtEnd()) {
        return AtEnd() == other.AtEnd();
    }
    return Node() == other.Node();
}

BinBaum::Cursor BinBaum::First() const {
    if (!m_impl->orderValid) {
        BuildOrder();
    }
    Cursor cursor;
    cursor.m_pTree = this;
    cursor.m_pos = 0;
    cursor.m_size = m_impl->orderSize;
    while (!cursor.AtEnd() && m_impl->groups[m_impl->Order()[cursor.m_pos]].last == kNoFile) {
        ++cursor.m_pos;
    }
    return cursor;
}

void BinBaum::Next(Cursor& cursor) const {
    if (cursor.AtEnd()) {
        return;
    }
    do {
        ++cursor.m_pos;
    } while (!cursor.AtEnd() && m_impl->groups[m_impl->Order()[cursor.m_pos]].last == kNoFile);
}

std::string_view BinBaum::GroupName(GroupId group) const {
    return m_impl->NameOf(group);
}

size_t BinBaum::GroupFileCount(GroupId group) const {
    size_t count = 0;
    for (FileId f = GroupFirstFile(group); f != kNoFile; f = NextFileInGroup(group, f)) {
        ++count;
    }
    return count;
}

bool BinBaum::GroupHasTwins(GroupId group) const {
    return (m_impl->NameField(group) & kHasTwins) != 0;
}

FileId BinBaum::GroupFirstFile(GroupId group) const {
    const GroupRec& rec = m_impl->groups[group];
    return rec.last == kNoFile ? kNoFile : m_impl->files[rec.last].next;
}

FileId BinBaum::GroupLastFile(GroupId group) const {
    return m_impl->groups[group].last;
}

FileId BinBaum::NextFileInGroup(GroupId group, FileId file) const {
    const GroupRec& rec = m_impl->groups[group];
    if (rec.last == kNoFile || file == rec.last) {
        return kNoFile;
    }
    return m_impl->files[file].next;
}

uint64_t BinBaum::FileSize(FileId file) const {
    return m_impl->files[file].Size();
}

uint64_t BinBaum::FileLastWriteTime(FileId file) const {
    return m_impl->files[file].Time();
}

ExactTime BinBaum::FileExactTime(FileId file) const {
    return m_impl->ExactTimeOfFile(file);
}

uint64_t BinBaum::FileDevice(FileId file) const {
    return m_impl->DeviceOf(m_impl->files[file]);
}

uint64_t BinBaum::FileInode(FileId file) const {
    return m_impl->files[file].Inode();
}

bool BinBaum::FileIsExtraLink(FileId file) const {
    return (m_impl->files[file].flags & kExtraLink) != 0;
}

bool BinBaum::SameInode(FileId a, FileId b) const {
    return m_impl->SameInode(m_impl->files[a], m_impl->files[b]);
}

std::string_view BinBaum::FileName(GroupId group, FileId file) const {
    if (m_impl->ByContent()) {
        return m_impl->names.At(m_impl->fileNames[file]);
    }
    return GroupName(group);
}

size_t BinBaum::FileCount() const {
    return m_impl->files.size();
}

int64_t BinBaum::FileChangeTime(FileId file) const {
    return m_impl->ByContent() ? m_impl->changeTimes[file] : kUnknownChangeTime;
}

bool BinBaum::FileIsEmptyRegular(FileId file) const {
    return (m_impl->files[file].flags & kEmptyRegular) != 0;
}

bool BinBaum::FileIsFolder(FileId file) const {
    return (m_impl->files[file].flags & kFolderEntry) != 0;
}

std::string_view BinBaum::FileFolder(FileId file) const {
    const FileRec& rec = m_impl->files[file];
    if ((rec.flags & kPathIsWhole) != 0) {
        return {};
    }
    return m_impl->folders[rec.folder];
}

GroupId BinBaum::AddFolderGroup(const std::vector<FolderMember>& members) {
    Impl& impl = *m_impl;
    if (members.empty()) {
        return kNoGroup;
    }
    ReserveGroup();
    std::vector<FileId> ids;
    for (const FolderMember& member : members) {
        impl.files.Reserve();
        impl.names.Reserve(member.name);
        if (impl.ByContent()) {
            impl.fileNames.Reserve();
            impl.changeTimes.Reserve();
        }
        const uint32_t name = impl.names.Append(member.name);
        if (impl.ByContent()) {
            impl.fileNames.Append(name);
            impl.changeTimes.Append(kUnknownChangeTime);
        }
        impl.haveLastFolder = false;
        impl.folders.Reserve();
        const uint32_t folder = uint32_t(impl.folders.Append(member.path));
        FileRec rec{uint32_t(member.lastWriteTime),
                    uint32_t(member.lastWriteTime >> 32),
                    uint32_t(member.bytes),
                    uint32_t(member.bytes >> 32),
                    uint32_t(member.inode),
                    uint32_t(member.inode >> 32),
                    folder,
                    0,
                    uint16_t(kPathIsWhole | kNotCandidate | kFolderEntry),
                    impl.InternDevice(member.device)};
        ids.push_back(FileId(impl.files.Append(rec)));
    }
    for (size_t i = 0; i < ids.size(); ++i) {
        impl.files[ids[i]].next = ids[(i + 1) % ids.size()];
    }
    const uint32_t name =
        impl.ByContent() ? impl.fileNames[ids.front()] : impl.names.Append(members.front().name);
    const GroupId group = GroupId(impl.groups.Append(GroupRec{name, ids.back()}));
    impl.SetTwinsBit(group, ids.size() > 1);
    m_groupCount = impl.groups.size();
    m_folderCount = impl.folders.size();
    impl.orderValid = false;
    impl.orderBuffer.reset();
    impl.orderSize = 0;
    impl.slotsValid = false;
    ++m_nNodes;
    return group;
}

bool BinBaum::FileIsReference(FileId file) const {
    return (m_impl->files[file].flags & kReference) != 0;
}

bool BinBaum::IsContentIndex() const {
    return m_impl->compareSet && m_impl->ByContent();
}

std::string BinBaum::FilePath(GroupId group, FileId file) const {
    const FileRec& rec = m_impl->files[file];
    std::string path = m_impl->folders[rec.folder];
    if ((rec.flags & kPathIsWhole) == 0) {
        path.append(FileName(group, file));
    }
    return path;
}

GroupId BinBaum::SplitOff(GroupId group, const std::vector<FileId>& files) {
    Impl& impl = *m_impl;
    if (files.empty()) {
        return kNoGroup;
    }
    ReserveGroup();
    // One pass over the group's ring: what stays is relinked as it was, what
    // moves forms a ring of its own in the order given. (Taking the files out
    // one by one would walk the ring once per file.)
    const std::unordered_set<FileId> moving(files.begin(), files.end());
    std::vector<FileId> staying;
    size_t found = 0;
    for (FileId f = GroupFirstFile(group); f != kNoFile; f = NextFileInGroup(group, f)) {
        if (moving.count(f) != 0) {
            ++found;
        } else {
            staying.push_back(f);
        }
    }
    if (found != moving.size() || moving.size() != files.size()) {
        throw std::invalid_argument("SplitOff: a file not in its group");
    }
    GroupRec& old = impl.groups[group];
    if (staying.empty()) {
        old.last = kNoFile;
    } else {
        for (size_t i = 0; i < staying.size(); ++i) {
            impl.files[staying[i]].next = staying[(i + 1) % staying.size()];
        }
        old.last = staying.back();
        // A link that stays while the file it was a link of moved now stands
        // for its inode.
        for (FileId f : staying) {
            FileRec& rec = impl.files[f];
            if ((rec.flags & kExtraLink) == 0) {
                continue;
            }
            const bool primaryStays = std::any_of(staying.begin(), staying.end(), [&](FileId o) {
                return o != f && (impl.files[o].flags & kExtraLink) == 0 &&
                       impl.SameInode(impl.files[o], rec);
            });
            if (!primaryStays) {
                rec.flags &= uint16_t(~kExtraLink);
            }
        }
    }
    impl.SetTwinsBit(group, staying.size() > 1);
    for (size_t i = 0; i < files.size(); ++i) {
        impl.files[files[i]].next = files[(i + 1) % files.size()];
    }
    const uint32_t name =
        impl.ByContent() ? impl.fileNames[files.front()] : (impl.NameField(group) & ~kHasTwins);
    const GroupId split = GroupId(impl.groups.Append(GroupRec{name, files.back()}));
    impl.SetTwinsBit(split, files.size() > 1);
    m_groupCount = impl.groups.size();
    // A new group invalidates the walk order; the hash table no longer
    // leads to these files' old group.
    impl.orderValid = false;
    impl.orderBuffer.reset();
    impl.orderSize = 0;
    impl.slotsValid = false;
    ++m_nNodes;
    return split;
}

void BinBaum::RetireGroup(GroupId group) {
    m_impl->SetTwinsBit(group, false);
}

void BinBaum::RelinkFile(FileId file, FileId to) {
    Impl& impl = *m_impl;
    FileRec& rec = impl.files[file];
    const FileRec& target = impl.files[to];
    if ((rec.flags & kExtraLink) == 0) {
        // Another link of the old inode, if the group has one, now stands
        // for it (the ring of the group passes through every file).
        for (FileId f = rec.next; f != file; f = impl.files[f].next) {
            FileRec& other = impl.files[f];
            if ((other.flags & kExtraLink) != 0 && impl.SameInode(other, rec)) {
                other.flags &= uint16_t(~kExtraLink);
                break;
            }
        }
    }
    rec.timeLow = target.timeLow;
    rec.timeHigh = target.timeHigh;
    rec.inodeLow = target.inodeLow;
    rec.inodeHigh = target.inodeHigh;
    rec.device = target.device;
    rec.flags = uint16_t((rec.flags & ~kTimeBeyondFileTime) | (target.flags & kTimeBeyondFileTime) |
                         kExtraLink);
    if ((target.flags & kTimeBeyondFileTime) != 0) {
        impl.beyondTimes.insert_or_assign(file, impl.beyondTimes.at(to));
    } else {
        impl.beyondTimes.erase(file);
    }
}

bool BinBaum::RemoveFile(GroupId group, FileId file) {
    Impl& impl = *m_impl;
    if (group >= impl.groups.size() || file >= impl.files.size()) {
        return false;
    }
    GroupRec& rec = impl.groups[group];
    if (rec.last == kNoFile) {
        return false;
    }
    // Find the file's predecessor in the ring.
    FileId prev = rec.last;
    do {
        FileId current = impl.files[prev].next;
        if (current == file) {
            if (current == prev) {
                rec.last = kNoFile;  // the group's only file
                impl.SetTwinsBit(group, false);
                // Its hash slot must not lead to it again.
                impl.slotsValid = false;
                return true;
            }
            impl.files[prev].next = impl.files[current].next;
            if (rec.last == current) {
                rec.last = prev;
            }
            if (impl.files[rec.last].next == rec.last) {
                impl.SetTwinsBit(group, false);
            }
            if ((impl.files[file].flags & kExtraLink) == 0) {
                // The group's first link of this inode went: the next link
                // now stands for the file.
                for (FileId f = GroupFirstFile(group); f != kNoFile;
                     f = NextFileInGroup(group, f)) {
                    if ((impl.files[f].flags & kExtraLink) != 0 &&
                        impl.SameInode(impl.files[f], impl.files[file])) {
                        impl.files[f].flags &= uint16_t(~kExtraLink);
                        break;
                    }
                }
            }
            return true;
        }
        prev = current;
    } while (prev != rec.last);
    return false;
}

}  // namespace quarn

#include "duplicates/BinBaum.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>
#include <unordered_set>

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

constexpr uint16_t kUnknownDevice = 0xffffu;

// A hash slot: the group id + 1 in the low bits, a few bits of the key's
// hash above them, so that most probes never touch the group itself.
constexpr uint32_t kSlotGroupBits = 26;
constexpr uint32_t kSlotGroupMask = (1u << kSlotGroupBits) - 1;
constexpr size_t kMaxGroups = kSlotGroupMask - 1;

// In GroupRec::name: the group holds two files or more.
constexpr uint32_t kHasTwins = 0x80000000u;

// Elements live in fixed-size chunks whose directory is reserved up front:
// nothing ever moves, so other threads can read stored elements while the
// worker appends. Untouched directory pages cost no memory.
template <class T, unsigned kChunkBits>
class ChunkedArray {
  public:
    static constexpr size_t kChunkSize = size_t(1) << kChunkBits;
    static constexpr size_t kMaxChunks = (size_t(1) << 32) >> kChunkBits;

    ChunkedArray() { m_chunks.reserve(kMaxChunks); }

    size_t size() const { return m_size; }
    T& operator[](size_t i) { return m_chunks[i >> kChunkBits][i & (kChunkSize - 1)]; }
    const T& operator[](size_t i) const { return m_chunks[i >> kChunkBits][i & (kChunkSize - 1)]; }

    // Makes room for one more element; may throw std::bad_alloc.
    void Reserve() {
        if (m_size == m_chunks.size() * kChunkSize) {
            if (m_chunks.size() == kMaxChunks) {
                throw std::bad_alloc();
            }
            m_chunks.push_back(std::make_unique<T[]>(kChunkSize));
        }
    }
    // After Reserve(): does not throw for trivially copyable T.
    size_t Append(T value) {
        (*this)[m_size] = std::move(value);
        return m_size++;
    }
    void Clear() {
        m_chunks.clear();  // keeps the reserved directory
        m_size = 0;
    }

  private:
    std::vector<std::unique_ptr<T[]>> m_chunks;
    size_t m_size = 0;
};

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

// Names as [length byte][bytes]; a name never straddles a chunk.
class NameArena {
  public:
    static constexpr uint32_t kChunkBits = 16;
    static constexpr uint32_t kChunkSize = 1u << kChunkBits;

    NameArena() { m_chunks.reserve(size_t(1) << (32 - kChunkBits)); }

    std::string_view At(uint32_t offset) const {
        const unsigned char* p = m_chunks[offset >> kChunkBits].get() + (offset & (kChunkSize - 1));
        return std::string_view(reinterpret_cast<const char*>(p + 1), p[0]);
    }
    // Makes room for `name`; may throw std::bad_alloc.
    void Reserve(std::string_view name) {
        if (m_chunks.empty() || m_used + 1 + name.size() > kChunkSize) {
            if (m_chunks.size() == m_chunks.capacity()) {
                throw std::bad_alloc();
            }
            m_chunks.push_back(std::make_unique<unsigned char[]>(kChunkSize));
            m_used = 0;
        }
    }
    uint32_t Append(std::string_view name) {
        uint32_t offset = uint32_t((m_chunks.size() - 1) << kChunkBits) + m_used;
        unsigned char* p = m_chunks.back().get() + m_used;
        p[0] = static_cast<unsigned char>(name.size());
        std::memcpy(p + 1, name.data(), name.size());
        m_used += uint32_t(1 + name.size());
        return offset;
    }
    void Clear() {
        m_chunks.clear();
        m_used = 0;
    }

  private:
    std::vector<std::unique_ptr<unsigned char[]>> m_chunks;
    uint32_t m_used = 0;
};

uint64_t Mix(uint64_t h) {
    h ^= h >> 33;
    h *= 0xff51afd7ed558ccdULL;
    h ^= h >> 33;
    h *= 0xc4ceb9fe1a85ec53ULL;
    h ^= h >> 33;
    return h;
}

// An inode within a group: a second file of the same key is a hard link.
struct InodeKey {
    uint64_t device;
    uint64_t inode;
    GroupId group;
    bool operator==(const InodeKey&) const = default;
};
struct InodeKeyHash {
    size_t operator()(const InodeKey& key) const {
        return size_t(Mix(key.device ^ Mix(key.inode ^ (uint64_t(key.group) << 40))));
    }
};

uint32_t HashKey(const TwinKey& key, uint8_t compare) {
    uint64_t h = 0x9e3779b97f4a7c15ULL ^ key.name.size();
    const char* p = key.name.data();
    size_t n = key.name.size();
    while (n >= 8) {
        uint64_t word;
        std::memcpy(&word, p, 8);
        h = Mix(h ^ word);
        p += 8;
        n -= 8;
    }
    uint64_t tail = 0;
    std::memcpy(&tail, p, n);
    h = Mix(h ^ tail);
    if ((compare & kCompareIgnoreSize) == 0) {
        h = Mix(h ^ key.size);
    }
    if ((compare & kCompareIgnoreTime) == 0) {
        h = key.beyondFileTime ? Mix(h ^ Mix(uint64_t(key.exact.seconds)) ^ key.exact.ticks)
                               : Mix(h ^ key.lastWriteTime);
    }
    return uint32_t(h >> 32) ^ uint32_t(h);
}

// Bytes offset..offset+3 of a name as a big-endian number, zeros past its
// end. Names hold no zero byte, so comparing these chunk by chunk is the
// unsigned byte order with a shorter name first.
uint32_t NameChunk(std::string_view name, size_t offset) {
    uint32_t chunk = 0;
    for (size_t i = 0; i < 4; ++i) {
        unsigned char byte =
            offset + i < name.size() ? static_cast<unsigned char>(name[offset + i]) : 0;
        chunk = (chunk << 8) | byte;
    }
    return chunk;
}

}  // namespace
struct BinBaum::Impl {
    ChunkedArray<FileRec, 14> files;
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

    // The walk order: group ids. The sort keys (64 bits each) are made in the
    // same buffer, which is shrunk to the 32-bit ids once they are in order.
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

    static size_t SlotOf(uint32_t hash, size_t mask) { return size_t(Mix(hash)) & mask; }
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
            uint32_t hash = HashKey(KeyOfGroup(GroupId(g)), compare);
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

    // Sorts keys[begin, end) whose names agree before `offset`: by the next
    // four bytes, the later group first among equals; runs that still agree
    // and go on are sorted again four bytes further. Each pass reads a name
    // once, not once per comparison.
    void SortByName(uint64_t* keys, size_t begin, size_t end, size_t offset) const {
        struct Range {
            size_t begin, end, offset;
        };
        std::vector<Range> pending{{begin, end, offset}};
        while (!pending.empty()) {
            Range range = pending.back();
            pending.pop_back();
            for (size_t i = range.begin; i < range.end; ++i) {
                GroupId g = ~uint32_t(keys[i]);
                keys[i] = (uint64_t(NameChunk(NameOf(g), range.offset)) << 32) | uint32_t(keys[i]);
            }
            std::sort(keys + range.begin, keys + range.end);
            size_t run = range.begin;
            while (run < range.end) {
                size_t runEnd = run + 1;
                uint32_t chunk = uint32_t(keys[run] >> 32);
                while (runEnd < range.end && uint32_t(keys[runEnd] >> 32) == chunk) {
                    ++runEnd;
                }
                // A chunk ending in a zero byte means the names ended: equal.
                if (runEnd - run > 1 && (chunk & 0xff) != 0) {
                    pending.push_back(Range{run, runEnd, range.offset + 4});
                }
                run = runEnd;
            }
        }
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
                                  uint8_t compare) {
    return InsertEntry(entry, folderPrefix, false, compare);
}

BinBaum::Inserted BinBaum::InsertEntry(const FileEntry& entry, std::string_view folderPrefix,
                                       bool prefixIsPath, uint8_t compare) {
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
    const bool candidate = entry.IsRegularFile();
    try {
        impl.EnsureSlots(impl.groups.size() + 1);
    } catch (const std::bad_alloc&) {
        ShowUserMessage(m_presenter, "BinBaum:: new TreeNode - exception");
        return Inserted{};
    }
    const uint32_t hash = HashKey(key, impl.compare);
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
                          (candidate ? 0u : kNotCandidate)),
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
    GroupId g = GroupId(impl.groups.Append(GroupRec{impl.names.Append(key.name), id}));
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
    auto* keys = static_cast<uint64_t*>(std::malloc(std::max<size_t>(count, 1) * sizeof(uint64_t)));
    if (keys == nullptr) {
        throw std::bad_alloc();
    }
    // Low half: the group id inverted, so equal names sort the later group first.
    for (size_t g = 0; g < count; ++g) {
        keys[g] = ~uint32_t(g);
    }
    impl.SortByName(keys, 0, count, 0);
    // Compact to 32-bit ids in place (writes never overtake reads).
    uint32_t* order = reinterpret_cast<uint32_t*>(keys);
    for (size_t i = 0; i < count; ++i) {
        uint32_t group = ~uint32_t(keys[i]);
        order[i] = group;
    }
    void* shrunk = std::realloc(keys, std::max<size_t>(count, 1) * sizeof(uint32_t));
    impl.orderBuffer.reset(static_cast<uint32_t*>(shrunk != nullptr ? shrunk : keys));
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

std::string BinBaum::FilePath(GroupId group, FileId file) const {
    const FileRec& rec = m_impl->files[file];
    std::string path = m_impl->folders[rec.folder];
    if ((rec.flags & kPathIsWhole) == 0) {
        path.append(GroupName(group));
    }
    return path;
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

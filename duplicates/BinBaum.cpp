#include "duplicates/BinBaum.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "duplicates/FileListCtrl.h"

namespace quarn {

namespace {

// Set in a file's stored attributes when its folder entry holds the whole
// path (a path that did not end in the file's name).
constexpr uint32_t kPathIsWhole = 0x80000000u;

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

#pragma pack(push, 4)
struct FileRec {
    uint64_t lastWriteTime;
    uint64_t size;
    uint32_t attributes;
    uint32_t folder;
    uint32_t next;  // the group's files form a ring; the group points at its last
};
#pragma pack(pop)
static_assert(sizeof(FileRec) == 28);

struct GroupRec {
    uint32_t name;   // offset in the name arena
    uint32_t last;   // last file of the ring (its next is the first)
    uint32_t count;  // files in the group (0 once all were trashed)
    uint32_t hash;   // of (name, size, time) as the tree's flags choose
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
        h = Mix(h ^ key.lastWriteTime);
    }
    return uint32_t(h >> 32) ^ uint32_t(h);
}

// Order of the walk: names by unsigned bytes; equal names, the later group first.
uint64_t NamePrefix(std::string_view name) {
    unsigned char bytes[8] = {};
    std::memcpy(bytes, name.data(), std::min<size_t>(8, name.size()));
    uint64_t prefix = 0;
    for (unsigned char b : bytes) {
        prefix = (prefix << 8) | b;
    }
    return prefix;
}

}  // namespace

struct BinBaum::Impl {
    ChunkedArray<FileRec, 14> files;
    ChunkedArray<GroupRec, 14> groups;
    ChunkedArray<std::string, 10> folders;
    NameArena names;
    std::string lastFolder;  // the folder interned last, for the cheap common case
    bool haveLastFolder = false;

    // Open addressing: group id + 1, 0 = empty. Dropped while a walk order
    // exists (it is not needed then) and rebuilt by the next insertion.
    std::vector<uint32_t> slots;
    size_t slotMask = 0;
    bool slotsValid = true;

    uint8_t compare = 0;
    bool compareSet = false;

    mutable std::vector<uint32_t> order;
    mutable bool orderValid = false;

    std::unordered_map<GroupId, int> icons;

    TwinKey KeyOfGroup(GroupId g) const {
        const GroupRec& group = groups[g];
        const FileRec& first = files[files[group.last].next];
        return TwinKey{names.At(group.name), first.size, first.lastWriteTime};
    }

    static size_t SlotOf(uint32_t hash, size_t mask) { return size_t(Mix(hash)) & mask; }

    // Sizes the table for `groupCount` groups at most half full; may throw.
    void EnsureSlots(size_t groupCount) {
        if (slotsValid && groupCount * 2 <= slots.size()) {
            return;
        }
        size_t capacity = 1024;
        while (capacity < groupCount * 2) {
            capacity *= 2;
        }
        if (slotsValid && capacity <= slots.size()) {
            return;
        }
        std::vector<uint32_t> fresh(capacity, 0);
        size_t mask = capacity - 1;
        for (size_t g = 0; g < groups.size(); ++g) {
            size_t pos = SlotOf(groups[g].hash, mask);
            while (fresh[pos] != 0) {
                pos = (pos + 1) & mask;
            }
            fresh[pos] = uint32_t(g + 1);
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

bool TreeNode::IsTwin(const TwinKey& candidate) const {
    if (FileCount() == 0) {
        return false;
    }
    return IsTwinUnder(m_pTree->m_impl->compare, m_pTree->m_impl->KeyOfGroup(m_id), candidate);
}

BinBaum::BinBaum() : m_impl(std::make_unique<Impl>()) {}

BinBaum::~BinBaum() = default;

void BinBaum::SetOwner(CFileListCtrl* owner, uint64_t* twinBytes) {
    m_pOwner = owner;
    m_pTwinBytes = twinBytes;
}

void BinBaum::SetUserMessagePresenter(UserMessagePresenter presenter) {
    m_presenter = std::move(presenter);
}

void BinBaum::ReserveGroup() {
    m_impl->groups.Reserve();
}

BinBaum::InsertResult BinBaum::Insert(const TwinGroup& candidate) {
    if (candidate.m_files.empty()) {
        return InsertResult::LeftOut;
    }
    const FindRecord& record = candidate.m_files.front();
    std::string_view name = record.Name();
    std::string_view path = candidate.m_paths.empty() ? std::string_view() : candidate.m_paths[0];
    TwinKey key{name, record.FileSize(), record.ftLastWriteTime};
    if (path.empty()) {
        return InsertKey(key, std::string_view(), false, record.dwFileAttributes,
                         candidate.m_nCompare);
    }
    if (path.size() > name.size() && path.ends_with(name)) {
        return InsertKey(key, path.substr(0, path.size() - name.size()), false,
                         record.dwFileAttributes, candidate.m_nCompare);
    }
    return InsertKey(key, path, true, record.dwFileAttributes, candidate.m_nCompare);
}

BinBaum::InsertResult BinBaum::Insert(std::string_view folderPrefix, const FindRecord& record,
                                      uint8_t compare) {
    TwinKey key{record.Name(), record.FileSize(), record.ftLastWriteTime};
    return InsertKey(key, folderPrefix, false, record.dwFileAttributes, compare);
}

BinBaum::InsertResult BinBaum::InsertKey(const TwinKey& key, std::string_view folderPrefix,
                                         bool prefixIsPath, uint32_t attributes, uint8_t compare) {
    Impl& impl = *m_impl;
    if (!impl.compareSet) {
        impl.compare = compare;
        impl.compareSet = true;
    }
    impl.orderValid = false;
    uint32_t hash = HashKey(key, impl.compare);
    try {
        impl.EnsureSlots(impl.groups.size() + 1);
    } catch (const std::bad_alloc&) {
        ShowUserMessage(m_presenter, "BinBaum:: new TreeNode - exception");
        return InsertResult::LeftOut;
    }

    FileRec file{key.lastWriteTime, key.size,
                 (attributes & ~kPathIsWhole) | (prefixIsPath ? kPathIsWhole : 0u), 0, 0};

    // Groups of one name never share a key, so the group found is the
    // first-created one the file is a twin of.
    size_t pos = Impl::SlotOf(hash, impl.slotMask);
    while (impl.slots[pos] != 0) {
        GroupId g = impl.slots[pos] - 1;
        GroupRec& group = impl.groups[g];
        if (group.hash == hash && group.count > 0 &&
            IsTwinUnder(impl.compare, impl.KeyOfGroup(g), key)) {
            // Joining: memory exhausted here abandons the walk, as any failure does.
            impl.files.Reserve();
            file.folder = impl.InternFolder(folderPrefix);
            FileRec& last = impl.files[group.last];
            file.next = last.next;
            uint32_t id = uint32_t(impl.files.Append(file));
            last.next = id;
            group.last = id;
            ++group.count;
            if (m_pOwner != nullptr) {
                m_pOwner->AddRowForFile(TreeNode(this, g), id);
            }
            if (m_pTwinBytes != nullptr) {
                *m_pTwinBytes += key.size;
            }
            return InsertResult::Joined;
        }
        pos = (pos + 1) & impl.slotMask;
    }

    try {
        ReserveGroup();
        impl.groups.Reserve();
        impl.files.Reserve();
        impl.names.Reserve(key.name);
        file.folder = impl.InternFolder(folderPrefix);
    } catch (const std::bad_alloc&) {
        ShowUserMessage(m_presenter, "BinBaum:: new TreeNode - exception");
        return InsertResult::LeftOut;
    }
    uint32_t id = uint32_t(impl.files.size());
    file.next = id;
    impl.files.Append(file);
    GroupRec group{impl.names.Append(key.name), id, 1, hash};
    GroupId g = GroupId(impl.groups.Append(group));
    impl.slots[pos] = g + 1;
    m_groupCount = impl.groups.size();
    m_folderCount = impl.folders.size();
    ++m_nNodes;
    return InsertResult::Created;
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
    std::vector<uint32_t>().swap(impl.order);
    impl.orderValid = false;
    impl.icons.clear();
    m_groupCount = 0;
    m_folderCount = 0;
}

void BinBaum::BuildOrder() const {
    Impl& impl = *m_impl;
    // The hash table is not needed while walking; give its memory to the sort.
    std::vector<uint32_t>().swap(impl.slots);
    impl.slotsValid = false;

#pragma pack(push, 4)
    struct SortKey {
        uint64_t prefix;
        uint32_t group;
    };
#pragma pack(pop)
    std::vector<SortKey> keys(impl.groups.size());
    for (size_t g = 0; g < keys.size(); ++g) {
        keys[g] = SortKey{NamePrefix(impl.names.At(impl.groups[g].name)), uint32_t(g)};
    }
    std::sort(keys.begin(), keys.end(), [&impl](const SortKey& a, const SortKey& b) {
        if (a.prefix != b.prefix) {
            return a.prefix < b.prefix;
        }
        std::string_view nameA = impl.names.At(impl.groups[a.group].name);
        std::string_view nameB = impl.names.At(impl.groups[b.group].name);
        // string_view compares char_traits<char>, which orders as unsigned char.
        int cmp = nameA.compare(nameB);
        if (cmp != 0) {
            return cmp < 0;
        }
        return a.group > b.group;
    });
    impl.order.resize(keys.size());
    for (size_t i = 0; i < keys.size(); ++i) {
        impl.order[i] = keys[i].group;
    }
    impl.orderValid = true;
}

TreeNode BinBaum::Cursor::Node() const {
    if (AtEnd()) {
        return TreeNode();
    }
    return TreeNode(m_pTree, m_pTree->m_impl->order[m_pos]);
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
    cursor.m_size = m_impl->order.size();
    while (!cursor.AtEnd() && GroupFileCount(m_impl->order[cursor.m_pos]) == 0) {
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
    } while (!cursor.AtEnd() && GroupFileCount(m_impl->order[cursor.m_pos]) == 0);
}

std::string_view BinBaum::GroupName(GroupId group) const {
    return m_impl->names.At(m_impl->groups[group].name);
}

size_t BinBaum::GroupFileCount(GroupId group) const {
    return m_impl->groups[group].count;
}

FileId BinBaum::GroupFirstFile(GroupId group) const {
    const GroupRec& rec = m_impl->groups[group];
    return rec.count == 0 ? kNoFile : m_impl->files[rec.last].next;
}

FileId BinBaum::GroupLastFile(GroupId group) const {
    const GroupRec& rec = m_impl->groups[group];
    return rec.count == 0 ? kNoFile : rec.last;
}

FileId BinBaum::NextFileInGroup(GroupId group, FileId file) const {
    const GroupRec& rec = m_impl->groups[group];
    if (rec.count == 0 || file == rec.last) {
        return kNoFile;
    }
    return m_impl->files[file].next;
}

uint64_t BinBaum::FileSize(FileId file) const {
    return m_impl->files[file].size;
}

uint64_t BinBaum::FileLastWriteTime(FileId file) const {
    return m_impl->files[file].lastWriteTime;
}

uint32_t BinBaum::FileAttributes(FileId file) const {
    return m_impl->files[file].attributes & ~kPathIsWhole;
}

std::string BinBaum::FilePath(GroupId group, FileId file) const {
    const FileRec& rec = m_impl->files[file];
    std::string path = m_impl->folders[rec.folder];
    if ((rec.attributes & kPathIsWhole) == 0) {
        path.append(GroupName(group));
    }
    return path;
}

FindRecord BinBaum::FileRecord(GroupId group, FileId file) const {
    const FileRec& rec = m_impl->files[file];
    FindRecord record;
    record.dwFileAttributes = rec.attributes & ~kPathIsWhole;
    record.ftLastWriteTime = rec.lastWriteTime;
    record.SetFileSize(rec.size);
    record.SetName(GroupName(group));
    return record;
}

int BinBaum::GroupIcon(GroupId group) const {
    auto found = m_impl->icons.find(group);
    return found == m_impl->icons.end() ? -1 : found->second;
}

void BinBaum::SetGroupIcon(GroupId group, int icon) {
    m_impl->icons[group] = icon;
}

bool BinBaum::RemoveFile(GroupId group, FileId file) {
    Impl& impl = *m_impl;
    if (group >= impl.groups.size() || file >= impl.files.size()) {
        return false;
    }
    GroupRec& rec = impl.groups[group];
    if (rec.count == 0) {
        return false;
    }
    // Find the file's predecessor in the ring.
    FileId prev = rec.last;
    for (uint32_t n = 0; n < rec.count; ++n) {
        FileId current = impl.files[prev].next;
        if (current == file) {
            if (rec.count == 1) {
                rec.count = 0;
                return true;
            }
            impl.files[prev].next = impl.files[current].next;
            if (rec.last == current) {
                rec.last = prev;
            }
            --rec.count;
            return true;
        }
        prev = current;
    }
    return false;
}

}  // namespace quarn

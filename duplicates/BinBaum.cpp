#include "duplicates/BinBaum.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>
#include <stdexcept>
#include <unordered_set>

#include "duplicates/BinBaumImpl.h"

namespace quarn {

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
                 uint32_t(inode),
                 uint16_t((prefixIsPath ? kPathIsWhole : 0u) |
                          (key.beyondFileTime ? kTimeBeyondFileTime : 0u) |
                          (candidate ? 0u : kNotCandidate) | (reference ? kReference : 0u) |
                          (entry.IsRegularFile() && entry.size == 0 ? kEmptyRegular : 0u)),
                 impl.InternDevice(entry.device)};
    const bool manyLinks =
        candidate && entry.linkCount > 1 && file.device != kUnknownDevice && inode != 0;

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
            impl.ring.MakeRoom(FileId(impl.files.size()));
            impl.ring.MakeRoom(impl.groups[g].last);
            const uint32_t folder = impl.InternFolder(folderPrefix);
            impl.SetHighWords(FileId(impl.files.size()), key.size, inode);
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
            const FileId last = group.last;
            uint32_t id = uint32_t(impl.files.size());
            impl.ring.SetNext(id, impl.ring.Next(last));
            if (key.beyondFileTime) {
                impl.beyondTimes.insert_or_assign(id, key.exact);
            }
            impl.files.Append(file);
            impl.NoteFolder(id, folder);
            impl.ring.SetNext(last, id);
            group.last = id;
            impl.SetTwinsBit(g, true);
            if (extraLink) {
                ++m_extraLinkJoins;  // the same file again: no copy
            }
            return Inserted{InsertResult::Joined, g, id, extraLink};
        }
        pos = (pos + 1) & impl.slotMask;
    }

    uint32_t folder = 0;
    try {
        ReserveGroup();
        impl.files.Reserve();
        impl.names.Reserve(key.name);
        if (impl.ByContent()) {
            impl.fileNames.Reserve();
            impl.changeTimes.Reserve();
        }
        folder = impl.InternFolder(folderPrefix);
        impl.SetHighWords(FileId(impl.files.size()), key.size, inode);
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
    uint32_t id = uint32_t(impl.files.size());  // alone in its ring: its own next
    impl.files.Append(file);
    impl.NoteFolder(id, folder);
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
    impl.ring.Clear();
    impl.fileNames.Clear();
    impl.changeTimes.Clear();
    impl.groups.Clear();
    impl.sizeHighs.Clear();
    impl.inodeHighs.Clear();
    impl.folders.Clear();
    impl.folderTexts.Clear();
    impl.folderRuns.Clear();
    impl.folderRunCount.store(0);
    impl.names.Clear();
    impl.lastFolder.clear();
    impl.openFolders.clear();
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
    return rec.last == kNoFile ? kNoFile : m_impl->ring.Next(rec.last);
}

FileId BinBaum::GroupLastFile(GroupId group) const {
    return m_impl->groups[group].last;
}

FileId BinBaum::NextFileInGroup(GroupId group, FileId file) const {
    const GroupRec& rec = m_impl->groups[group];
    if (rec.last == kNoFile || file == rec.last) {
        return kNoFile;
    }
    return m_impl->ring.Next(file);
}

uint64_t BinBaum::FileSize(FileId file) const {
    return m_impl->SizeOf(file);
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
    return m_impl->InodeOf(file);
}

bool BinBaum::FileIsExtraLink(FileId file) const {
    return (m_impl->files[file].flags & kExtraLink) != 0;
}

bool BinBaum::SameInode(FileId a, FileId b) const {
    return m_impl->SameInode(a, b);
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

std::string BinBaum::FileFolder(FileId file) const {
    const FileRec& rec = m_impl->files[file];
    if ((rec.flags & kPathIsWhole) != 0) {
        return {};
    }
    return m_impl->FolderPath(m_impl->FolderOf(file));
}

bool BinBaum::FileIsReference(FileId file) const {
    return (m_impl->files[file].flags & kReference) != 0;
}

bool BinBaum::IsContentIndex() const {
    return m_impl->compareSet && m_impl->ByContent();
}

size_t BinBaum::MemoryBytes() const {
    const Impl& impl = *m_impl;
    // The hash containers' nodes: the key or pair, a next pointer, a cached hash.
    constexpr size_t kNodeOverhead = 2 * sizeof(void*);
    return impl.files.Bytes() + impl.ring.Bytes() + impl.fileNames.Bytes() +
           impl.changeTimes.Bytes() + impl.groups.Bytes() + impl.sizeHighs.Bytes() +
           impl.inodeHighs.Bytes() + impl.folders.Bytes() + impl.folderTexts.Bytes() +
           impl.folderRuns.Bytes() + impl.names.Bytes() + impl.slots.capacity() * sizeof(uint32_t) +
           impl.orderSize * sizeof(uint32_t) +
           impl.beyondTimes.size() * (sizeof(std::pair<FileId, ExactTime>) + kNodeOverhead) +
           impl.beyondTimes.bucket_count() * sizeof(void*) +
           impl.linkedInodes.size() * (sizeof(InodeKey) + kNodeOverhead) +
           impl.linkedInodes.bucket_count() * sizeof(void*) + impl.devices.capacity() * 8;
}

std::string BinBaum::FilePath(GroupId group, FileId file) const {
    const FileRec& rec = m_impl->files[file];
    std::string path = m_impl->FolderPath(m_impl->FolderOf(file));
    if ((rec.flags & kPathIsWhole) == 0) {
        path.append(FileName(group, file));
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
        FileId current = impl.ring.Next(prev);
        if (current == file) {
            if (current == prev) {
                rec.last = kNoFile;  // the group's only file
                impl.SetTwinsBit(group, false);
                // Its hash slot must not lead to it again.
                impl.slotsValid = false;
                return true;
            }
            // prev had a link to another file, so its chunk exists: no allocation.
            impl.ring.SetNext(prev, impl.ring.Next(current));
            if (rec.last == current) {
                rec.last = prev;
            }
            if (impl.ring.Next(rec.last) == rec.last) {
                impl.SetTwinsBit(group, false);
            }
            if ((impl.files[file].flags & kExtraLink) == 0) {
                // The group's first link of this inode went: the next link
                // now stands for the file.
                for (FileId f = GroupFirstFile(group); f != kNoFile;
                     f = NextFileInGroup(group, f)) {
                    if ((impl.files[f].flags & kExtraLink) != 0 && impl.SameInode(f, file)) {
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
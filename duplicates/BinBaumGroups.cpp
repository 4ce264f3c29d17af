#include <algorithm>
#include <stdexcept>
#include <unordered_set>

#include "duplicates/BinBaumImpl.h"

// What a content search makes of the twin index's groups: sets split off
// their size groups, groups of whole folders, copies that became hard links.

namespace quarn {

GroupId BinBaum::AddFolderGroup(const std::vector<FolderMember>& members) {
    Impl& impl = *m_impl;
    if (members.empty()) {
        return kNoGroup;
    }
    ReserveGroup();
    std::vector<FileId> ids;
    for (const FolderMember& member : members) {
        impl.files.Reserve();
        impl.ring.MakeRoom(FileId(impl.files.size()));
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
        const uint32_t folder = impl.StoreWholePath(member.path);
        const FileId id = FileId(impl.files.size());
        impl.SetHighWords(id, member.bytes, member.inode);
        FileRec rec{uint32_t(member.lastWriteTime),
                    uint32_t(member.lastWriteTime >> 32),
                    uint32_t(member.bytes),
                    uint32_t(member.inode),
                    uint16_t(kPathIsWhole | kNotCandidate | kFolderEntry),
                    impl.InternDevice(member.device)};
        impl.files.Append(rec);
        impl.NoteFolder(id, folder);
        ids.push_back(id);
    }
    for (size_t i = 0; i < ids.size(); ++i) {
        impl.ring.SetNext(ids[i], ids[(i + 1) % ids.size()]);
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
    // Whatever may throw comes first.
    for (FileId f : staying) {
        impl.ring.MakeRoom(f);
    }
    for (FileId f : files) {
        impl.ring.MakeRoom(f);
    }
    GroupRec& old = impl.groups[group];
    if (staying.empty()) {
        old.last = kNoFile;
    } else {
        for (size_t i = 0; i < staying.size(); ++i) {
            impl.ring.SetNext(staying[i], staying[(i + 1) % staying.size()]);
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
                return o != f && (impl.files[o].flags & kExtraLink) == 0 && impl.SameInode(o, f);
            });
            if (!primaryStays) {
                rec.flags &= uint16_t(~kExtraLink);
            }
        }
    }
    impl.SetTwinsBit(group, staying.size() > 1);
    for (size_t i = 0; i < files.size(); ++i) {
        impl.ring.SetNext(files[i], files[(i + 1) % files.size()]);
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
    const uint32_t inodeHigh = impl.inodeHighs.Get(to);
    impl.inodeHighs.MakeRoom(file);  // whatever may throw comes first
    if ((rec.flags & kExtraLink) == 0) {
        // Another link of the old inode, if the group has one, now stands
        // for it (the ring of the group passes through every file).
        for (FileId f = impl.ring.Next(file); f != file; f = impl.ring.Next(f)) {
            FileRec& other = impl.files[f];
            if ((other.flags & kExtraLink) != 0 && impl.SameInode(f, file)) {
                other.flags &= uint16_t(~kExtraLink);
                break;
            }
        }
    }
    rec.timeLow = target.timeLow;
    rec.timeHigh = target.timeHigh;
    rec.inodeLow = target.inodeLow;
    impl.inodeHighs.Set(file, inodeHigh);
    rec.device = target.device;
    rec.flags = uint16_t((rec.flags & ~kTimeBeyondFileTime) | (target.flags & kTimeBeyondFileTime) |
                         kExtraLink);
    if ((target.flags & kTimeBeyondFileTime) != 0) {
        impl.beyondTimes.insert_or_assign(file, impl.beyondTimes.at(to));
    } else {
        impl.beyondTimes.erase(file);
    }
}

}  // namespace quarn

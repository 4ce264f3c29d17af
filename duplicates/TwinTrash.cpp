#include "duplicates/TwinTrash.h"

#include <dirent.h>
#include <sys/stat.h>

#include <optional>
#include <unordered_set>

#include "duplicates/ContentFile.h"
#include "duplicates/ContentVerifier.h"
#include "platform/ByteSum.h"

namespace quarn {

TwinTrash::Plan TwinTrash::PlanTrash(const TwinScanner& twins,
                                     const std::vector<RowSource>& files) {
    const BinBaum& index = twins.m_tree;
    Plan plan;
    std::unordered_set<FileId> batch;
    for (const RowSource& source : files) {
        batch.insert(source.file);
    }
    for (const RowSource& source : files) {
        plan.freesNothing.push_back(false);
        if (!twins.InGroup(source.group, source.file)) {
            continue;
        }
        ++plan.files;
        // Another link of the same inode stays: the data stays with it.
        bool linkStays = false;
        for (FileId f = index.GroupFirstFile(source.group); f != kNoFile && !linkStays;
             f = index.NextFileInGroup(source.group, f)) {
            linkStays = f != source.file && batch.count(f) == 0 && index.SameInode(f, source.file);
        }
        if (linkStays) {
            ++plan.freeingNothing;
            plan.freesNothing.back() = true;
        } else {
            AddBytes(plan.bytes, index.FileSize(source.file));
        }
    }
    return plan;
}

TwinTrash::Outcome TwinTrash::CheckBeforeTrash(TwinScanner& twins, GroupId group, FileId file,
                                               const std::string& path) {
    const BinBaum& index = twins.m_tree;
    auto ExpectedOf = [&twins](FileId id) { return twins.ExpectedOf(id); };
    auto VerdictOf = [&twins](FileId id) { return twins.VerdictOf(id); };
    auto VerdictReason = [&twins](FileId id) { return twins.VerdictReason(id); };
    Outcome outcome{path, Verdict::Trashed, {}, index.FileSize(file)};
    if (index.FileIsReference(file)) {
        outcome.verdict = Verdict::Reference;
        outcome.reason = "lies in a reference folder";
        return outcome;
    }
    if (index.FileIsFolder(file)) {
        return CheckFolderBeforeTrash(twins, group, file, path);
    }
    std::string reason;
    ContentFile::Opened now = ContentFile::Check(path, ExpectedOf(file), reason);
    if (now != ContentFile::Opened::Yes) {
        outcome.verdict = now == ContentFile::Opened::Changed ? Verdict::Changed : Verdict::Unread;
        outcome.reason = reason;
        return outcome;
    }
    // The other files of the group that are still as the scan saw them.
    auto stillThere = [&](FileId other) {
        std::string ignored;
        return ContentFile::Check(index.FilePath(group, other), ExpectedOf(other), ignored) ==
               ContentFile::Opened::Yes;
    };
    std::vector<FileId> others;
    for (FileId f = index.GroupFirstFile(group); f != kNoFile;
         f = index.NextFileInGroup(group, f)) {
        if (f != file) {
            others.push_back(f);
        }
    }
    for (FileId other : others) {
        if (index.SameInode(other, file) && stillThere(other)) {
            return outcome;  // another link keeps the data
        }
    }
    const FileVerdict verdict = VerdictOf(file);
    switch (verdict.content) {
        case Content::Identical:
        case Content::HardLink: {
            bool setHasOther = false;
            for (FileId other : others) {
                if (VerdictOf(other).set == verdict.set && !index.SameInode(other, file)) {
                    setHasOther = true;
                    if (stillThere(other)) {
                        return outcome;
                    }
                }
            }
            outcome.verdict = setHasOther ? Verdict::LastOfSet : Verdict::Differs;
            outcome.reason = setHasOther ? "no other file with the same content is left"
                                         : "its content differs from every twin";
            return outcome;
        }
        case Content::Unique:
            // Unique from the start, or the last of its set by now.
            outcome.verdict = Verdict::LastOfSet;
            outcome.reason = "no other file with the same content is left";
            return outcome;
        case Content::Changed:
            outcome.verdict = Verdict::Changed;
            outcome.reason = VerdictReason(file);
            return outcome;
        case Content::Unread:
            outcome.verdict = Verdict::Unread;
            outcome.reason = "could not be read: " + VerdictReason(file);
            return outcome;
        case Content::Folder:
            return CheckFolderBeforeTrash(twins, group, file, path);
        case Content::NotVerified:
            break;
    }
    // Not verified: its bytes must be another file's.
    std::vector<VerifyMember> pair(2);
    pair[0] = VerifyMember{file, path, ExpectedOf(file)};
    bool comparedOne = false;
    for (FileId other : others) {
        if (index.FileSize(other) != index.FileSize(file) || index.SameInode(other, file)) {
            continue;
        }
        pair[1] = VerifyMember{other, index.FilePath(group, other), ExpectedOf(other)};
        ContentVerifier verifier({});
        std::optional<std::vector<MemberVerdict>> compared = verifier.VerifyGroup(pair);
        if (!compared) {
            continue;
        }
        const MemberVerdict& mine = (*compared)[0];
        const Content theirs = (*compared)[1].verdict.content;
        if (mine.verdict.content == Content::Identical) {
            return outcome;
        }
        if (mine.verdict.content == Content::Changed || mine.verdict.content == Content::Unread) {
            outcome.verdict =
                mine.verdict.content == Content::Changed ? Verdict::Changed : Verdict::Unread;
            outcome.reason = mine.reason;
            return outcome;
        }
        comparedOne = comparedOne || theirs == Content::Unique;
    }
    // Twins that changed or cannot be read prove nothing.
    outcome.verdict = comparedOne ? Verdict::Differs : Verdict::LastOfSet;
    outcome.reason = comparedOne ? "its content differs from every twin"
                                 : "no other file with the same content is left";
    return outcome;
}

std::vector<TwinTrash::Outcome> TwinTrash::TrashFiles(TwinScanner& twins,
                                                      const std::vector<RowSource>& files,
                                                      const Mover& mover) {
    const BinBaum& index = twins.m_tree;
    std::vector<Outcome> outcomes;
    if (twins.IsWorking()) {
        for (size_t i = 0; i < files.size(); ++i) {
            outcomes.push_back(
                Outcome{{}, Verdict::Busy, "a scan, search or verification is still at work"});
        }
        return outcomes;
    }
    int trashed = 0;
    for (const RowSource& source : files) {
        if (!twins.InGroup(source.group, source.file)) {
            outcomes.push_back(Outcome{{}, Verdict::Changed, "is no longer listed"});
            continue;
        }
        const std::string path = index.FilePath(source.group, source.file);
        Outcome outcome = CheckBeforeTrash(twins, source.group, source.file, path);
        if (outcome.verdict == Verdict::Trashed) {
            // The trash checks once more, at the moment it moves the file.
            const bool folder = index.FileIsFolder(source.file);
            FileIdentity expected{index.FileDevice(source.file), index.FileInode(source.file),
                                  index.FileSize(source.file), index.FileLastWriteTime(source.file),
                                  folder};
            TrashResult result = mover ? mover(path, expected) : MoveToTrash(path, expected);
            if (result.Ok() && folder) {
                twins.ForgetPaths({}, {path});  // the folder and the files inside
            } else if (result.Ok()) {
                twins.ForgetFile(source.group, source.file);
                ++trashed;
            } else {
                outcome.verdict = result.status == TrashStatus::IdentityChanged ||
                                          result.status == TrashStatus::Vanished
                                      ? Verdict::Changed
                                      : Verdict::Failed;
                outcome.reason = result.error;
            }
        }
        outcomes.push_back(std::move(outcome));
    }
    if (trashed > 0) {
        twins.m_nFiles.fetch_sub(trashed);
        twins.SetStatusText(twins.StatusAfterChange());
    }
    return outcomes;
}

namespace {

// Entries below `folder` that are not folders, or -1 when it cannot be read
// whole.
int64_t EntriesBelow(const std::string& folder) {
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr) {
        return -1;
    }
    int64_t count = 0;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string_view name = entry->d_name;
        if (name == "." || name == "..") {
            continue;
        }
        const std::string path = folder + "/" + std::string(name);
        struct ::stat status;
        if (::lstat(path.c_str(), &status) != 0) {
            count = -1;
            break;
        }
        if (S_ISDIR(status.st_mode)) {
            const int64_t below = EntriesBelow(path);
            if (below < 0) {
                count = -1;
                break;
            }
            count += below;
        } else {
            ++count;
        }
    }
    ::closedir(dir);
    return count;
}

}  // namespace

TwinTrash::Outcome TwinTrash::CheckFolderBeforeTrash(TwinScanner& twins, GroupId group, FileId file,
                                                     const std::string& path) {
    const BinBaum& index = twins.m_tree;
    Outcome outcome{path, Verdict::Trashed, {}, index.FileSize(file)};
    struct ::stat status;
    if (::lstat(path.c_str(), &status) != 0 || !S_ISDIR(status.st_mode) ||
        uint64_t(status.st_ino) != index.FileInode(file)) {
        outcome.verdict = Verdict::Changed;
        outcome.reason = "is no longer the folder the search saw";
        return outcome;
    }
    // Every file the search saw inside must still be as it was.
    const std::string prefix = path == "/" ? path : path + "/";
    int64_t seen = 0;
    for (GroupId g = 0; g < index.GroupCount(); ++g) {
        for (FileId f = index.GroupFirstFile(g); f != kNoFile; f = index.NextFileInGroup(g, f)) {
            if (index.FileIsFolder(f)) {
                continue;
            }
            const std::string inside = index.FilePath(g, f);
            if (!inside.starts_with(prefix)) {
                continue;
            }
            ++seen;
            std::string reason;
            if (ContentFile::Check(inside, twins.ExpectedOf(f), reason) !=
                ContentFile::Opened::Yes) {
                outcome.verdict = Verdict::Changed;
                outcome.reason =
                    "its contents changed since the search: " + inside.substr(prefix.size()) + " " +
                    reason;
                return outcome;
            }
        }
    }
    if (EntriesBelow(path) != seen) {
        outcome.verdict = Verdict::Changed;
        outcome.reason = "holds entries the search did not see";
        return outcome;
    }
    // Another copy must stay.
    for (FileId other = index.GroupFirstFile(group); other != kNoFile;
         other = index.NextFileInGroup(group, other)) {
        if (other == file) {
            continue;
        }
        struct ::stat copy;
        const std::string otherPath = index.FilePath(group, other);
        if (::lstat(otherPath.c_str(), &copy) == 0 && S_ISDIR(copy.st_mode) &&
            uint64_t(copy.st_ino) == index.FileInode(other)) {
            return outcome;
        }
    }
    outcome.verdict = Verdict::LastOfSet;
    outcome.reason = "no other copy of the folder is left";
    return outcome;
}

}  // namespace quarn

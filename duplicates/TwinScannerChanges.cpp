#include <algorithm>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

#include "duplicates/TwinScanner.h"
#include "duplicates/TwinStatusText.h"
#include "platform/PathRules.h"

// What the twin engine does when files leave the disk: they leave their
// groups and rows, and the status follows.

namespace quarn {

ExpectedFile TwinScanner::ExpectedOf(FileId file) const {
    return ExpectedFile{m_tree.FileDevice(file), m_tree.FileInode(file), m_tree.FileSize(file),
                        m_tree.FileExactTime(file)};
}

bool TwinScanner::InGroup(GroupId group, FileId file) const {
    if (group >= m_tree.GroupCount()) {
        return false;
    }
    for (FileId f = m_tree.GroupFirstFile(group); f != kNoFile;
         f = m_tree.NextFileInGroup(group, f)) {
        if (f == file) {
            return true;
        }
    }
    return false;
}

void TwinScanner::ForgetFile(GroupId group, FileId file) {
    std::lock_guard lock(m_rows.RowMutex());
    m_tree.RemoveFile(group, file);
    m_verdicts.Erase(file);
    m_rows.RemoveRowsIfLocked([file](const RowSource& source) { return source.file == file; });

    // Distinct inodes left in the group, and in each identical set.
    int units = 0;
    std::unordered_map<uint32_t, std::vector<FileId>> sets;
    for (FileId f = m_tree.GroupFirstFile(group); f != kNoFile;
         f = m_tree.NextFileInGroup(group, f)) {
        if (!m_tree.FileIsExtraLink(f)) {
            ++units;
            FileVerdict verdict = m_verdicts.Get(f);
            if (verdict.content == Content::Identical) {
                sets[verdict.set].push_back(f);
            }
        }
    }
    // The last file of a set is no longer identical to anything.
    for (const auto& [set, files] : sets) {
        if (files.size() == 1) {
            m_verdicts.Set(files[0], FileVerdict{Content::Unique, set});
        }
    }
    if (units < 2) {
        // No twin left: the group leaves the list (it stays in the tree).
        m_rows.RemoveRowsIfLocked(
            [group](const RowSource& source) { return source.group == group; });
    }
}

std::string TwinScanner::StatusAfterChange() const {
    switch (m_shown.load()) {
        case Shown::Search:
            return FileFindStatus(m_rows.GetItemCount(), true);
        case Shown::Verified:
            return ByContent() ? ContentStatus(false) : VerifyStatus(CountTwins(), false);
        case Shown::Scan:
            break;
    }
    const TwinCounts counts = CountTwins();
    return TwinSummaryStatus(counts.copies, counts.copyBytes, int(m_nFiles.load()),
                             int(m_nExceptions.load()));
}

bool TwinScanner::ForgetTwinFolders(const std::unordered_set<std::string>& files,
                                    const std::unordered_set<std::string>& folders,
                                    const std::function<bool(std::string_view)>& below) {
    // A twin folder that went, or lost a file, is no copy any more; a set
    // left with one folder is no set.
    auto touched = [&](const std::string& folder) {
        if (folders.contains(folder) || below(folder)) {
            return true;
        }
        const std::string prefix = folder + kPathSeparator;
        return std::any_of(files.begin(), files.end(),
                           [&prefix](const std::string& file) { return file.starts_with(prefix); });
    };
    std::lock_guard lock(m_mutex);
    bool changed = false;
    for (TwinFolderSet& set : m_twinFolders) {
        changed |= std::erase_if(set.folders, touched) > 0;
    }
    std::erase_if(m_twinFolders, [](const TwinFolderSet& set) { return set.folders.size() < 2; });
    return changed;
}

bool TwinScanner::ForgetPaths(const std::vector<std::string>& files,
                              const std::vector<std::string>& folders) {
    if (IsWorking()) {
        return false;  // the index is a job's until it ends
    }
    auto below = [&folders](std::string_view path) {
        for (const std::string& folder : folders) {
            const std::string prefix = folder == "/" ? folder : folder + kPathSeparator;
            if (path.starts_with(prefix)) {
                return true;
            }
        }
        return false;
    };
    const std::unordered_set<std::string> gone(files.begin(), files.end());
    const std::unordered_set<std::string> goneFolders(folders.begin(), folders.end());
    int forgotten = 0;
    for (GroupId group = 0; group < m_tree.GroupCount(); ++group) {
        for (FileId file = m_tree.GroupFirstFile(group); file != kNoFile;) {
            const FileId next = m_tree.NextFileInGroup(group, file);
            const std::string path = m_tree.FilePath(group, file);
            const bool folder = m_tree.FileIsFolder(file);
            if (gone.contains(path) || below(path) || (folder && goneFolders.contains(path))) {
                ForgetFile(group, file);
                forgotten += folder ? 0 : 1;
            }
            file = next;
        }
    }
    const bool foldersGone = ForgetTwinFolders(gone, goneFolders, below);
    if (forgotten > 0 || foldersGone) {
        m_nFiles.fetch_sub(forgotten);
        SetStatusText(StatusAfterChange());
    }
    return true;
}

}  // namespace quarn

#include <sys/stat.h>

#include <algorithm>
#include <new>
#include <unordered_set>

#include "duplicates/TwinScanner.h"
#include "platform/FileTime.h"
#include "platform/PathRules.h"

// The twin engine's twin folders: found from the content search's verdicts
// and listed above the twin files.

namespace quarn {

namespace {

// Content numbers for the finder: a verdict's set (equal sets, equal bytes),
// one number for every empty file, none for a file of unknown content.
constexpr uint64_t kEmptyContent = 1;
uint64_t ContentOf(const FileVerdict& verdict, bool emptyRegular) {
    if (verdict.set != 0 && verdict.content != Content::Changed &&
        verdict.content != Content::Unread) {
        return uint64_t(verdict.set) + 2;
    }
    return emptyRegular ? kEmptyContent : TwinFolderFinder::kUnknownContent;
}

std::string_view WithoutSeparator(std::string_view prefix) {
    if (prefix.size() > 1 && prefix.back() == '/') {
        prefix.remove_suffix(1);
    }
    return prefix;
}

}  // namespace

void TwinScanner::NoteUnreadableFolder(const std::string& path) {
    std::lock_guard lock(m_mutex);
    m_unreadableFolders.push_back(path);
}

std::vector<TwinFolderSet> TwinScanner::TwinFolders() const {
    std::lock_guard lock(m_mutex);
    return m_twinFolders;
}

void TwinScanner::ListTwinFolders(const ScanRequest& request, std::vector<RowSource>& rows,
                                  uint32_t& nextSet) {
    if (request.IsImport()) {
        return;  // no content was read
    }
    TwinFolderFinder finder(request.twinFoldersIgnoreNames);
    finder.AddRoot(request.root);
    for (const std::string& folder : FoldersOutside(request.root, request.referenceFolders)) {
        finder.AddRoot(folder);
    }
    // The files still in a group, handed on in the order the walk met them
    // (ids follow it), so a folder's files come together.
    std::vector<GroupId> groupOf(m_tree.FileCount(), kNoGroup);
    for (GroupId group = 0; group < m_tree.GroupCount(); ++group) {
        for (FileId file = m_tree.GroupFirstFile(group); file != kNoFile;
             file = m_tree.NextFileInGroup(group, file)) {
            groupOf[file] = group;
        }
    }
    for (FileId file = 0; file < groupOf.size(); ++file) {
        const std::string folder = m_tree.FileFolder(file);
        if (groupOf[file] == kNoGroup || m_tree.FileIsFolder(file) || folder.empty()) {
            continue;
        }
        finder.AddFile(WithoutSeparator(folder), m_tree.FileName(groupOf[file], file),
                       m_tree.FileSize(file),
                       ContentOf(m_verdicts.Get(file), m_tree.FileIsEmptyRegular(file)));
    }
    std::vector<TwinFolderSet> sets;
    {
        std::lock_guard lock(m_mutex);
        for (const std::string& folder : m_unreadableFolders) {
            finder.AddUnreadable(folder);
        }
    }
    sets = finder.Find();

    // One group per set, first in the list; the file sets that lie wholly
    // inside the listed folders are not listed again.
    std::vector<RowSource> folderRows;
    std::vector<std::string> listed;
    try {
        for (const TwinFolderSet& set : sets) {
            std::vector<BinBaum::FolderMember> members;
            for (const std::string& path : set.folders) {
                struct ::stat status {};
                ::lstat(path.c_str(), &status);
                members.push_back(BinBaum::FolderMember{
                    path, std::string(NameOfPath(path)), set.bytes,
                    FileTimeFromUnix(status.st_mtim.tv_sec, status.st_mtim.tv_nsec),
                    uint64_t(status.st_dev), uint64_t(status.st_ino)});
                listed.push_back(path + "/");
            }
            const GroupId group = m_tree.AddFolderGroup(members);
            const uint32_t setNumber = nextSet++;
            for (FileId file = m_tree.GroupFirstFile(group); file != kNoFile;
                 file = m_tree.NextFileInGroup(group, file)) {
                m_verdicts.Set(file, FileVerdict{Content::Folder, setNumber});
                m_twinFolderFiles[file] = set.files;
                folderRows.push_back(RowSource{group, file});
            }
        }
    } catch (const std::bad_alloc&) {
        ShowUserMessage(m_presenter, "BinBaum:: new TreeNode - exception");
    }
    // A file lies in a listed folder when one of its folder's ancestors is
    // one: a look-up per level instead of a comparison per listed folder.
    const std::unordered_set<std::string_view> listedSet(listed.begin(), listed.end());
    auto insideListed = [&](FileId file) {
        const std::string path = m_tree.FileFolder(file);
        std::string_view folder = path;
        while (folder.size() > 1) {
            if (listedSet.contains(folder)) {
                return true;
            }
            const size_t slash = folder.find_last_of('/', folder.size() - 2);
            if (slash == std::string_view::npos) {
                break;
            }
            folder = folder.substr(0, slash + 1);
        }
        return false;
    };
    std::vector<RowSource> kept = std::move(folderRows);
    for (size_t i = 0; i < rows.size();) {
        size_t end = i;
        bool allInside = true;
        while (end < rows.size() && rows[end].group == rows[i].group) {
            allInside = allInside && insideListed(rows[end].file);
            ++end;
        }
        if (!allInside) {
            kept.insert(kept.end(), rows.begin() + long(i), rows.begin() + long(end));
        }
        i = end;
    }
    rows = std::move(kept);
    std::lock_guard lock(m_mutex);
    m_twinFolders = std::move(sets);
}

}  // namespace quarn

#include "foldersize/TwinFolderMarks.h"

#include <algorithm>

#include "platform/PathRules.h"

namespace quarn {

namespace {

// `inner` is `outer` or lies below it.
bool AtOrBelow(std::string_view inner, std::string_view outer) {
    if (!inner.starts_with(outer)) {
        return false;
    }
    return inner.size() == outer.size() || outer == "/" || inner[outer.size()] == kPathSeparator;
}

}  // namespace

void TwinFolderMarks::AddSet(uint64_t bytes, const std::vector<std::string>& folders) {
    Set set{bytes, {}};
    for (const std::string& folder : folders) {
        const std::string path = NormalisedPath(folder);
        if (!m_setOf.contains(path) &&
            std::find(set.folders.begin(), set.folders.end(), path) == set.folders.end()) {
            set.folders.push_back(path);
        }
    }
    if (set.folders.size() < 2) {
        return;  // no twin of its own
    }
    for (const std::string& folder : set.folders) {
        m_setOf.emplace(folder, m_sets.size());
    }
    m_sets.push_back(std::move(set));
}

std::vector<std::string> TwinFolderMarks::Folders() const {
    std::vector<std::string> folders;
    folders.reserve(m_setOf.size());
    for (const auto& [folder, set] : m_setOf) {
        folders.push_back(folder);
    }
    std::sort(folders.begin(), folders.end());
    return folders;
}

std::optional<TwinFolderMarks::Mark> TwinFolderMarks::Find(std::string_view folder) const {
    const auto found = m_setOf.find(std::string(folder));
    if (found == m_setOf.end()) {
        return std::nullopt;
    }
    const Set& set = m_sets[found->second];
    Mark mark;
    for (const std::string& other : set.folders) {
        if (other != folder) {
            mark.others.push_back(other);
        }
    }
    mark.freed = set.bytes * mark.others.size();
    return mark;
}

std::optional<std::string> TwinFolderMarks::NextCopy(std::string_view folder) const {
    const auto found = m_setOf.find(std::string(folder));
    if (found == m_setOf.end()) {
        return std::nullopt;
    }
    const std::vector<std::string>& folders = m_sets[found->second].folders;
    const size_t at = size_t(std::find(folders.begin(), folders.end(), folder) - folders.begin());
    return folders[(at + 1) % folders.size()];
}

template <typename Stale>
bool TwinFolderMarks::Drop(const Stale& stale) {
    bool dropped = false;
    for (Set& set : m_sets) {
        // Partitioned, not removed: the names of those that go are needed.
        const auto gone =
            std::stable_partition(set.folders.begin(), set.folders.end(),
                                  [&stale](const std::string& f) { return !stale(f); });
        dropped = dropped || gone != set.folders.end();
        for (auto folder = gone; folder != set.folders.end(); ++folder) {
            m_setOf.erase(*folder);
        }
        set.folders.erase(gone, set.folders.end());
        if (set.folders.size() == 1) {
            m_setOf.erase(set.folders.front());
            set.folders.clear();
        }
    }
    return dropped;
}

bool TwinFolderMarks::Removed(std::string_view path, bool isFolder) {
    if (Empty()) {
        return false;
    }
    const std::string gone = NormalisedPath(path);
    // The folder itself or one above it went; or, inside it, a part.
    return Drop([&gone, isFolder](const std::string& folder) {
        return (isFolder && AtOrBelow(folder, gone)) || (folder != gone && AtOrBelow(gone, folder));
    });
}

bool TwinFolderMarks::Changed(std::string_view folder) {
    if (Empty()) {
        return false;
    }
    const std::string changed = NormalisedPath(folder);
    return Drop([&changed](const std::string& marked) { return AtOrBelow(changed, marked); });
}

}  // namespace quarn

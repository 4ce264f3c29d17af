#include "duplicates/TwinFolderFinder.h"

#include <xxhash.h>

#include <algorithm>
#include <cstring>
#include <map>

#include "platform/ByteSum.h"
#include "platform/PathRules.h"

namespace quarn {

uint64_t BytesInFolderCopies(const std::vector<TwinFolderSet>& sets) {
    std::vector<std::string> removed;
    uint64_t bytes = 0;
    for (const TwinFolderSet& set : sets) {  // the largest first
        for (size_t i = 1; i < set.folders.size(); ++i) {
            const std::string& folder = set.folders[i];
            const bool inside = std::any_of(removed.begin(), removed.end(), [&](const auto& gone) {
                return folder.size() > gone.size() && folder.starts_with(gone) &&
                       folder[gone.size()] == '/';
            });
            if (!inside) {
                removed.push_back(folder);
                AddBytes(bytes, set.bytes);
            }
        }
    }
    return bytes;
}

void TwinFolderFinder::AddRoot(std::string_view root) {
    m_roots.emplace_back(root);
}

bool TwinFolderFinder::IsRoot(std::string_view path) const {
    return std::find(m_roots.begin(), m_roots.end(), path) != m_roots.end();
}

size_t TwinFolderFinder::FolderOf(std::string_view path) {
    if (auto it = m_index.find(std::string(path)); it != m_index.end()) {
        return it->second;
    }
    const size_t id = m_folders.size();
    m_folders.emplace_back();
    m_paths.emplace_back(path);
    m_index.emplace(std::string(path), id);
    m_folders[id].nameHash = XXH3_64bits(NameOfPath(path).data(), NameOfPath(path).size());
    const std::string_view parent = FolderOfPath(path);
    if (!IsRoot(path) && !parent.empty() && parent != path) {
        const size_t parentId = FolderOf(parent);
        m_folders[id].parent = parentId;
        m_folders[parentId].children.push_back(id);
    }
    return id;
}

void TwinFolderFinder::AddFile(std::string_view folder, std::string_view name, uint64_t size,
                               uint64_t content) {
    if (m_lastFolder == SIZE_MAX || folder != m_lastPath) {
        m_lastFolder = FolderOf(folder);
        m_lastPath.assign(folder);
    }
    Folder& node = m_folders[m_lastFolder];
    node.files.emplace_back(XXH3_64bits(name.data(), name.size()), content);
    AddBytes(node.bytes, size);
    ++node.fileCount;
    if (content == kUnknownContent) {
        node.unknownContent = true;
    }
}

void TwinFolderFinder::AddUnreadable(std::string_view folder) {
    m_folders[FolderOf(folder)].unreadable = true;
}

std::vector<TwinFolderSet> TwinFolderFinder::Find() {
    const size_t count = m_folders.size();
    // Deepest first: every folder after all of its subfolders.
    for (size_t id = 0; id < count; ++id) {
        size_t depth = 0;
        for (size_t up = m_folders[id].parent; up != SIZE_MAX; up = m_folders[up].parent) {
            ++depth;
        }
        m_folders[id].depth = depth;
    }
    std::vector<size_t> order(count);
    for (size_t id = 0; id < count; ++id) {
        order[id] = id;
    }
    std::stable_sort(order.begin(), order.end(), [this](size_t a, size_t b) {
        return m_folders[a].depth > m_folders[b].depth;
    });
    // Totals, and whether anything below could not be read.
    std::vector<bool> tainted(count, false);
    for (size_t id : order) {
        Folder& folder = m_folders[id];
        tainted[id] = tainted[id] || folder.unreadable;
        if (folder.parent != SIZE_MAX) {
            AddBytes(m_folders[folder.parent].bytes, folder.bytes);
            m_folders[folder.parent].fileCount += folder.fileCount;
            if (tainted[id]) {
                tainted[folder.parent] = true;
            }
        }
    }
    std::map<std::pair<uint64_t, uint64_t>, int> sameTotals;
    for (const Folder& folder : m_folders) {
        if (folder.fileCount != 0) {
            ++sameTotals[{folder.bytes, folder.fileCount}];
        }
    }

    // Each entry is hashed by itself (its kind, name and content or digest);
    // the sorted entry hashes make the folder's digest.
    std::vector<std::pair<uint64_t, uint64_t>> entries;
    auto entryHash = [this](char kind, uint64_t name, uint64_t a, uint64_t b) {
        uint64_t words[4] = {uint64_t(uint8_t(kind)), m_ignoreNames ? 0 : name, a, b};
        const XXH128_hash_t hash = XXH3_128bits(words, sizeof words);
        return std::pair(hash.high64, hash.low64);
    };
    for (size_t id : order) {
        Folder& folder = m_folders[id];
        if (folder.fileCount == 0 || tainted[id] || folder.unknownContent ||
            sameTotals[{folder.bytes, folder.fileCount}] < 2) {
            continue;
        }
        entries.clear();
        bool complete = true;
        for (const auto& [name, content] : folder.files) {
            entries.push_back(entryHash('f', name, content, 0));
        }
        for (size_t child : folder.children) {
            const Folder& sub = m_folders[child];
            if (sub.fileCount == 0) {
                continue;  // empty folders do not count
            }
            if (!sub.digested) {
                complete = false;
                break;
            }
            entries.push_back(entryHash('d', sub.nameHash, sub.digestLow, sub.digestHigh));
        }
        if (!complete) {
            continue;
        }
        std::sort(entries.begin(), entries.end());
        const XXH128_hash_t digest =
            XXH3_128bits(entries.data(), entries.size() * sizeof(entries[0]));
        folder.digested = true;
        folder.digestLow = digest.low64;
        folder.digestHigh = digest.high64;
    }

    // Sets of equal digests, then only their topmost copies.
    std::map<std::pair<uint64_t, uint64_t>, std::vector<size_t>> byDigest;
    for (size_t id = 0; id < count; ++id) {
        if (m_folders[id].digested) {
            byDigest[{m_folders[id].digestHigh, m_folders[id].digestLow}].push_back(id);
        }
    }
    std::vector<size_t> setOf(count, SIZE_MAX);
    std::vector<std::vector<size_t>> sets;
    for (auto& [digest, members] : byDigest) {
        if (members.size() < 2) {
            continue;
        }
        for (size_t id : members) {
            setOf[id] = sets.size();
        }
        sets.push_back(std::move(members));
    }
    std::vector<TwinFolderSet> found;
    for (const std::vector<size_t>& members : sets) {
        const size_t parent = m_folders[members[0]].parent;
        const size_t parentSet = parent == SIZE_MAX ? SIZE_MAX : setOf[parent];
        const bool covered =
            parentSet != SIZE_MAX && std::all_of(members.begin(), members.end(), [&](size_t id) {
                const size_t up = m_folders[id].parent;
                return up != SIZE_MAX && setOf[up] == parentSet;
            });
        if (covered) {
            continue;  // their parents are listed as copies already
        }
        TwinFolderSet set;
        set.bytes = m_folders[members[0]].bytes;
        set.files = m_folders[members[0]].fileCount;
        for (size_t id : members) {
            set.folders.push_back(m_paths[id]);
        }
        std::sort(set.folders.begin(), set.folders.end());
        found.push_back(std::move(set));
    }
    std::sort(found.begin(), found.end(), [](const TwinFolderSet& a, const TwinFolderSet& b) {
        return a.bytes != b.bytes ? a.bytes > b.bytes : a.folders.front() < b.folders.front();
    });
    return found;
}

}  // namespace quarn

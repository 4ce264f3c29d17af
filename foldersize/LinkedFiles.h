#pragma once
// The files of a scan that have more than one hard link: each inode once
// with the bytes it counts for, and every name of it the walk met, as the
// folder item whose own files hold that name. A folder total counts an inode
// once however many of its names lie below the folder, so whoever changes
// part of the tree later (a delete, a refresh) asks here which of the
// inode's names remain elsewhere.
//
// Files with one link never come here: the usual tree costs nothing.
//
// Not thread-safe by itself; the folder-size view guards it with its store
// lock.

#include <algorithm>
#include <cstdint>
#include <unordered_map>
#include <vector>

#include "platform/ByteSum.h"

namespace quarn {

class LinkedFiles {
  public:
    // One name: the inode (an index of this table) and the number of the
    // folder item whose own files hold it.
    struct Name {
        uint32_t inode;
        uint32_t folder;
    };

    // The index of the inode (device, inode), made with `bytes` when it is
    // new; an inode already known keeps its bytes.
    uint32_t Intern(uint64_t device, uint64_t inode, uint64_t bytes);
    uint64_t Bytes(uint32_t inode) const { return m_bytes[inode]; }
    uint32_t InodeCount() const { return uint32_t(m_bytes.size()); }

    void AddName(uint32_t inode, uint32_t folder) { m_names.push_back(Name{inode, folder}); }
    const std::vector<Name>& Names() const { return m_names; }
    // Removes every name for which `remove(name)` is true; returns them.
    template <typename Predicate>
    std::vector<Name> TakeNamesIf(Predicate remove) {
        std::vector<Name> taken;
        size_t kept = 0;
        for (const Name& name : m_names) {
            if (remove(name)) {
                taken.push_back(name);
            } else {
                m_names[kept++] = name;
            }
        }
        m_names.resize(kept);
        return taken;
    }

    // For a part of the tree that changes below chain[0] (its names taken
    // out of the table before, or not yet added): per folder of `chain`
    // (item numbers from chain[0] up to the scan root), the bytes of the
    // distinct inodes of `changed` that the table's names still hold below
    // that folder (or in its own files). `parentOf` gives an item number's
    // parent number, kNoParent above the top.
    static constexpr uint32_t kNoParent = 0xffffffffu;
    template <typename ParentOf>
    std::vector<uint64_t> BytesHeldAlong(const std::vector<uint32_t>& chain,
                                         const std::vector<Name>& changed, ParentOf parentOf) const;

    void Clear();

  private:
    struct Key {
        uint64_t device;
        uint64_t inode;
        bool operator==(const Key&) const = default;
    };
    struct KeyHash {
        size_t operator()(const Key& key) const {
            return size_t(key.inode * 0x9e3779b97f4a7c15ull ^ key.device);
        }
    };

    std::unordered_map<Key, uint32_t, KeyHash> m_index;
    std::vector<uint64_t> m_bytes;
    std::vector<Name> m_names;
};

template <typename ParentOf>
std::vector<uint64_t> LinkedFiles::BytesHeldAlong(const std::vector<uint32_t>& chain,
                                                  const std::vector<Name>& changed,
                                                  ParentOf parentOf) const {
    std::vector<uint64_t> held(chain.size(), 0);
    if (changed.empty() || chain.empty()) {
        return held;
    }
    // The lowest place in the chain that still holds each changed inode.
    constexpr uint32_t kNowhere = 0xffffffffu;
    std::unordered_map<uint32_t, uint32_t> lowest;
    for (const Name& name : changed) {
        lowest.emplace(name.inode, kNowhere);
    }
    std::unordered_map<uint32_t, uint32_t> place;
    for (uint32_t at = 0; at < chain.size(); ++at) {
        place.emplace(chain[at], at);
    }
    for (const Name& name : m_names) {
        auto wanted = lowest.find(name.inode);
        if (wanted == lowest.end()) {
            continue;
        }
        // Up from the name's folder to the first folder of the chain.
        for (uint32_t folder = name.folder; folder != kNoParent; folder = parentOf(folder)) {
            auto found = place.find(folder);
            if (found != place.end()) {
                wanted->second = std::min(wanted->second, found->second);
                break;
            }
        }
    }
    // A folder holds an inode when it or a folder below it in the chain does.
    std::vector<uint64_t> from(chain.size() + 1, 0);
    for (const auto& [inode, at] : lowest) {
        if (at != kNowhere) {
            AddBytes(from[at], m_bytes[inode]);
        }
    }
    uint64_t sum = 0;
    for (size_t at = 0; at < chain.size(); ++at) {
        AddBytes(sum, from[at]);
        held[at] = sum;
    }
    return held;
}

}  // namespace quarn

#pragma once
// The twin folders the folder tree marks: sets of folders with the same
// contents, as the twin engine's content search found them, handed over as
// plain paths. Marks are matched by path, so a tree scanned apart from the
// search (or by the same walk) finds them alike.
//
// A mark goes when its folder may no longer be a copy: it, a folder above
// it or anything inside it left the disk, or something in it changed (what
// arrived, or a copy replaced by a link, which no mark can tell apart). A set
// left with one folder has no twin any more and loses that mark too.
//
// Plain data, one thread.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace quarn {

class TwinFolderMarks {
  public:
    struct Mark {
        std::vector<std::string> others;  // the other copies, by path
        uint64_t freed = 0;  // what removing the other copies would free: bytes × (copies − 1)
    };

    // A set of two folders or more, each `bytes` large; a folder already
    // marked keeps its first set.
    void AddSet(uint64_t bytes, const std::vector<std::string>& folders);

    bool Empty() const { return m_setOf.empty(); }
    // Every marked folder, by path.
    std::vector<std::string> Folders() const;
    std::optional<Mark> Find(std::string_view folder) const;
    // The copy after `folder` in its set, round: asked again and again, it
    // visits every copy. Nothing when `folder` is not marked.
    std::optional<std::string> NextCopy(std::string_view folder) const;

    // `path` (a file, or a folder and all below it) left the disk. True when
    // a mark went.
    bool Removed(std::string_view path, bool isFolder);
    // Something in `folder` changed. True when a mark went.
    bool Changed(std::string_view folder);

  private:
    struct Set {
        uint64_t bytes = 0;
        std::vector<std::string> folders;  // by path
    };
    // Drops every marked folder for which `stale` holds, then the sets left
    // with one folder.
    template <typename Stale>
    bool Drop(const Stale& stale);

    std::vector<Set> m_sets;
    std::unordered_map<std::string, size_t> m_setOf;  // folder → its set
};

}  // namespace quarn

#pragma once
// Files and bytes per file-name extension, counted during a walk. The
// extension is what follows the last "." of the name, lower-cased (ASCII
// letters only; other bytes stay as they are). A name without a ".", with
// its only "." first (".bashrc") or with a "." last ("notes.") has none and
// counts under the empty extension.
//
// Not thread-safe: one walk fills it on one thread; readers take Rows() once
// the walk is over.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace quarn {

class FileTypeTally {
  public:
    FileTypeTally() = default;
    // Not copyable: the last type counted is remembered by its address.
    FileTypeTally(const FileTypeTally&) = delete;
    FileTypeTally& operator=(const FileTypeTally&) = delete;

    struct Row {
        std::string ext;  // empty: no extension
        int64_t files = 0;
        uint64_t bytes = 0;
    };

    // The extension of `name` as counted here (lower-cased), empty for none.
    static std::string ExtensionOf(std::string_view name);

    // Counts one file name and `bytes` (0 for a further name of a file whose
    // bytes were counted already).
    void Add(std::string_view name, uint64_t bytes);

    // Every extension met, more bytes first, then more files, then by
    // extension.
    std::vector<Row> Rows() const;
    // The order of Rows(): more bytes first, then more files, then by extension.
    static bool ComesBefore(const Row& a, const Row& b);
    size_t TypeCount() const { return m_counts.size(); }

  private:
    struct Counts {
        int64_t files = 0;
        uint64_t bytes = 0;
    };
    // Lets a string_view find its entry without making a string.
    struct Hash {
        using is_transparent = void;
        size_t operator()(std::string_view text) const {
            return std::hash<std::string_view>()(text);
        }
    };

    std::unordered_map<std::string, Counts, Hash, std::equal_to<>> m_counts;
    std::string m_scratch;  // the lower-cased extension, reused
    // Files of one folder mostly share a type: the extension counted last,
    // as it stood in the name, and its counts (map nodes never move).
    std::string m_lastRaw;
    Counts* m_lastCounts = nullptr;
};

}  // namespace quarn

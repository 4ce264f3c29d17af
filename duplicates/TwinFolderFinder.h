#pragma once
// Whole folders that are copies of each other, found from what a content
// search already knows: no file is read again.
//
// Folders are twins when they hold the same names (unless names are
// ignored) and, recursively, files of identical content and the same
// subfolders. Each folder gets a digest of its sorted (name, content) and
// (name, subfolder digest) pairs, bottom-up. A folder with an entry of
// unknown content (unique, unread, not a regular file) or an unreadable
// folder below it is never a twin; folders that hold no file do not count,
// neither as twins nor as entries; nor do entries the scan left out, since
// it never handed them on. A folder whose total size and file count no other
// folder shares is not digested at all (nothing can be its twin), and
// neither is any folder above it.
//
// Only the topmost copies are listed: a set whose folders' parents all
// belong to one other set is left out.
//
// Plain data, one thread.

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace quarn {

// A set of folders with the same contents, each `bytes` and `files` large.
struct TwinFolderSet {
    uint64_t bytes = 0;
    uint64_t files = 0;
    std::vector<std::string> folders;  // by path
};

// What removing every copy but the first of each set would free: a folder
// inside one already counted is not counted again.
uint64_t BytesInFolderCopies(const std::vector<TwinFolderSet>& sets);

class TwinFolderFinder {
  public:
    // The content of a file whose twins are unknown: its folder is no twin.
    static constexpr uint64_t kUnknownContent = 0;

    explicit TwinFolderFinder(bool ignoreNames) : m_ignoreNames(ignoreNames) {}

    // A folder a scan started from (no trailing separator but for "/");
    // folders above it are not considered.
    void AddRoot(std::string_view root);
    // A file of `folder`; files of equal `content` hold the same bytes.
    void AddFile(std::string_view folder, std::string_view name, uint64_t size, uint64_t content);
    // A folder that could not be read whole: it and every folder above it
    // are never twins.
    void AddUnreadable(std::string_view folder);

    // Every set of two twin folders or more, topmost copies only, the largest
    // first (equal sizes by their first path); folders within a set by path.
    std::vector<TwinFolderSet> Find();

  private:
    struct Folder {
        uint64_t nameHash = 0;
        std::vector<std::pair<uint64_t, uint64_t>> files;  // (name's hash, content)
        std::vector<size_t> children;
        size_t parent = SIZE_MAX;
        uint64_t bytes = 0;  // of the files here and below
        uint64_t fileCount = 0;
        bool unreadable = false;
        bool unknownContent = false;
        bool digested = false;
        uint64_t digestLow = 0;
        uint64_t digestHigh = 0;
        size_t depth = 0;
    };

    size_t FolderOf(std::string_view path);
    bool IsRoot(std::string_view path) const;

    bool m_ignoreNames;
    std::vector<std::string> m_roots;
    std::vector<Folder> m_folders;
    std::vector<std::string> m_paths;  // parallel to m_folders
    std::unordered_map<std::string, size_t> m_index;
    // Files come folder by folder: the last folder is found without a look-up.
    std::string m_lastPath;
    size_t m_lastFolder = SIZE_MAX;
};

}  // namespace quarn

#pragma once
// The duplicate detector's tree (the twin index): every file a scan meets,
// grouped into twin groups and walked in name order. Plain data: it owns no
// rows and tells nobody; Insert says what became of each file.
//
// What a user of the tree sees:
//   - a file joins the first-created group of which it is a twin (the
//     group's IsTwin, TwinGroup.h), otherwise it starts a new group ("node"),
//     and m_nNodes grows by one;
//   - the in-order walk yields the groups by name in unsigned byte order,
//     groups of equal name newest first, the files of a group in join order.
//
// How it is stored: a plain binary tree keyed by name degenerates into a
// chain when names arrive sorted, and many groups of one name are twin-tested
// one after another, both quadratic. Instead, groups live in creation order
// in chunked arrays; a hash table keyed by (name, size, time) as the flags
// choose finds a file's group in O(1), which is the first-created twin since
// groups of one name never share a key; the walk order is made once, by a
// sort, when a walk starts after insertions. A file costs 24 bytes (with its
// device and inode, so that hard links and the trash's re-check need no
// second stat; the upper halves of sizes and inodes beyond 32 bits, rare,
// apart) plus 8 bytes per run of files in one folder, a group 8 bytes plus
// its name and about 8 bytes of hash table; a folder is kept once, as its
// name below the folder stored before it that holds it. Up to 2^26 - 2 groups; more are
// refused like a failed node.
//
// Only regular files are twin candidates: a link, fifo, socket or device
// becomes a group of its own that nothing ever joins (it is still walked and
// found by the filter). Files of one (device, inode) in a group are one file:
// a later link is marked (FileIsExtraLink) and adds no twin bytes.
//
// Threads: one thread inserts and walks at a time (the worker of the engine
// that owns the tree). Other threads may read groups, files and names whose
// ids they got from rows while the worker appends: stored records never move
// and are written before their ids are published under the row store's lock.
// Clear() and RemoveFile() need that no other thread reads at the same time
// (the owner calls them under its row lock).

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "duplicates/TwinGroup.h"
#include "platform/FileEntry.h"
#include "platform/UserMessage.h"

namespace quarn {

class BinBaum;

using GroupId = uint32_t;
using FileId = uint32_t;
inline constexpr FileId kNoFile = 0xffffffffu;
inline constexpr GroupId kNoGroup = 0xffffffffu;
inline constexpr int64_t kUnknownChangeTime = INT64_MIN;

// A group of the tree, as the walk and the rows see it. A handle: cheap to
// copy, valid until the tree is cleared.
class TreeNode {
  public:
    TreeNode() = default;
    TreeNode(const BinBaum* tree, GroupId id) : m_pTree(tree), m_id(id) {}

    const BinBaum* Tree() const { return m_pTree; }
    GroupId Id() const { return m_id; }
    std::string_view Name() const;
    // Counts along the group's files; HasTwins() answers "two or more" at once.
    size_t FileCount() const;
    bool HasTwins() const;
    // Files in join order: FirstFile(), then NextFile() until kNoFile.
    FileId FirstFile() const;
    FileId LastFile() const;
    FileId NextFile(FileId file) const;
    // The full 64-bit size of file i in join order (walks i links).
    uint64_t GetSize(size_t i) const;
    // False for a group made of an entry that is no regular file.
    bool IsCandidate() const;
    // True when `candidate` would join this group (names, then size and
    // time as the tree's flags choose).
    bool IsTwin(const TwinKey& candidate) const;

    bool operator==(const TreeNode& other) const = default;

  private:
    const BinBaum* m_pTree = nullptr;
    GroupId m_id = 0;
};

class BinBaum {
  public:
    BinBaum();
    virtual ~BinBaum();
    BinBaum(const BinBaum&) = delete;
    BinBaum& operator=(const BinBaum&) = delete;

    // Where "BinBaum:: new TreeNode - exception" goes (stderr when empty).
    void SetUserMessagePresenter(UserMessagePresenter presenter);

    enum class InsertResult { Joined, Created, LeftOut };
    // What became of an inserted file: joined a group (the group's IsTwin
    // said so), made a new one, or was left out (memory exhausted; the user
    // was told). `extraLink`: a joined file is an inode the group holds
    // already, no copy.
    struct Inserted {
        InsertResult result = InsertResult::LeftOut;
        GroupId group = 0;
        FileId file = kNoFile;
        bool extraLink = false;
    };

    // Inserts the first file of `candidate` (entry m_files[0], path
    // m_paths[0] or, without a path, just its name). The tree's compare flags
    // are the candidate's at the first insertion after construction or
    // Clear(); they hold for the whole scan.
    Inserted Insert(const TwinGroup& candidate);
    // The same for a file at `folderPrefix` + its name (the prefix ends in a
    // separator), without building the path. `reference`: the file lies in a
    // reference folder.
    Inserted Insert(std::string_view folderPrefix, const FileEntry& entry, uint8_t compare,
                    bool reference = false);

    // Frees every group, file and folder; m_nNodes keeps its value.
    void Clear();

    // Groups created since construction; never lowered.
    uint64_t m_nNodes = 0;

    // In-order cursor. A cursor is invalidated by any insertion or Clear().
    class Cursor {
      public:
        bool AtEnd() const { return m_pTree == nullptr || m_pos >= m_size; }
        TreeNode Node() const;
        bool operator==(const Cursor& other) const;

      private:
        friend class BinBaum;
        const BinBaum* m_pTree = nullptr;
        size_t m_pos = 0;
        size_t m_size = 0;
    };
    Cursor First() const;
    void Next(Cursor& cursor) const;

    // --- What the rows and the walkers read --------------------------------
    size_t GroupCount() const { return m_groupCount; }
    std::string_view GroupName(GroupId group) const;
    size_t GroupFileCount(GroupId group) const;
    bool GroupHasTwins(GroupId group) const;
    FileId GroupFirstFile(GroupId group) const;
    FileId GroupLastFile(GroupId group) const;
    FileId NextFileInGroup(GroupId group, FileId file) const;
    uint64_t FileSize(FileId file) const;
    uint64_t FileLastWriteTime(FileId file) const;  // FILETIME, as listed
    // The time as the file system keeps it (to 100 ns), also beyond FILETIME.
    ExactTime FileExactTime(FileId file) const;
    // The device and inode the listing reported; a device of 0 means unknown.
    uint64_t FileDevice(FileId file) const;
    uint64_t FileInode(FileId file) const;
    // True when an earlier file of its group is the same inode (a hard link
    // to it): the group holds that file once, and this one is no copy.
    bool FileIsExtraLink(FileId file) const;
    // True when both are known to be the same (device, inode).
    bool SameInode(FileId a, FileId b) const;
    // Joins since the last Clear() that were extra links (no copies).
    uint64_t ExtraLinkJoins() const { return m_extraLinkJoins; }
    // The stored path: the interned folder prefix plus the file's name.
    std::string FilePath(GroupId group, FileId file) const;
    // The file's name: the group's, except in a content index, where every
    // file keeps its own.
    std::string_view FileName(GroupId group, FileId file) const;
    // The file lies in a reference folder (inserted so).
    bool FileIsReference(FileId file) const;
    // A regular file of no bytes.
    bool FileIsEmptyRegular(FileId file) const;
    // The inode's last change as the walk saw it, in nanoseconds since 1970;
    // kept in a content index only (else kUnknownChangeTime).
    int64_t FileChangeTime(FileId file) const;
    // Not a file but a whole folder (AddFolderGroup).
    bool FileIsFolder(FileId file) const;
    // The interned folder prefix of a file (ending in a separator); empty
    // for an entry stored with its whole path.
    std::string FileFolder(FileId file) const;
    // The index groups by size for a content search (kCompareContent).
    bool IsContentIndex() const;
    size_t FolderCount() const { return m_folderCount; }
    // File records made since the last Clear() (ids 0 .. FileCount() - 1, in
    // insertion order), those taken out of their groups included.
    size_t FileCount() const;

    // Bytes the index holds (its records, names, folders and tables), for
    // benchmarks that weigh its cost per file.
    size_t MemoryBytes() const;

    // Takes a file out of its group (its file was trashed). The group stays
    // even when it is left empty; walkers skip empty groups. An extra link of
    // the removed file becomes the group's copy of that inode. Returns false
    // when the file is not in the group.
    bool RemoveFile(GroupId group, FileId file);

    // --- What a content search makes of the groups ---------------------------
    // Moves `files` (all of `group`, in that order) into a new group, named
    // after the first of them in a content index; hard-link marks move with
    // the files. Returns the new group; throws std::bad_alloc when memory is
    // exhausted (nothing moved then). Invalidates cursors; no insertion may
    // follow until Clear().
    GroupId SplitOff(GroupId group, const std::vector<FileId>& files);
    // A group of whole folders (twin folders): each member is stored with
    // its whole path and its folder's bytes as its size; it is no twin
    // candidate and no insertion may follow until Clear(). Throws
    // std::bad_alloc when memory is exhausted.
    struct FolderMember {
        std::string path;
        std::string name;
        uint64_t bytes = 0;
        uint64_t lastWriteTime = 0;  // FILETIME
        uint64_t device = 0;
        uint64_t inode = 0;
    };
    GroupId AddFolderGroup(const std::vector<FolderMember>& members);
    // The group stays, but is no group of twins any more (what a content
    // search left of a size group: changed, unread or unique files).
    void RetireGroup(GroupId group);
    // `file` was replaced by a hard link to `to` (of the same group, earlier
    // in it or not): it takes `to`'s device, inode and time and is an extra
    // link from now on. Needs that no other thread reads at the same time.
    void RelinkFile(FileId file, FileId to);

  protected:
    // Makes room for one more group; throws std::bad_alloc when memory is
    // exhausted. Overridden by tests to simulate that.
    virtual void ReserveGroup();

  private:
    friend class TreeNode;
    struct Impl;

    Inserted InsertEntry(const FileEntry& entry, std::string_view folderPrefix, bool prefixIsPath,
                         uint8_t compare, bool reference = false);
    void BuildOrder() const;

    std::unique_ptr<Impl> m_impl;
    UserMessagePresenter m_presenter;
    size_t m_groupCount = 0;
    size_t m_folderCount = 0;
    uint64_t m_extraLinkJoins = 0;
};

}  // namespace quarn

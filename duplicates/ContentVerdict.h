#pragma once
// What a content verification found out about one file of a twin group.

#include <cstdint>
#include <string_view>

namespace quarn {

enum class Content : uint8_t {
    NotVerified,  // no verification has looked at it (yet)
    Identical,    // the same bytes as another file of its group
    Unique,       // differs from every other file of its group
    HardLink,     // another file of its group is the same inode
    Changed,      // not what the scan saw any more (size, time, inode or type)
    Unread,       // could not be read; the verdict store keeps the reason
    Folder,       // a whole folder whose contents another folder holds too
};

// The text of the Content column: "" for NotVerified, else "identical",
// "unique", "hard link", "changed", "unread" or "folder".
std::string_view ContentText(Content content);

// A file's verdict. Every distinct inode that was compared forms or joins a
// set of files with the same bytes (a set of one for a unique file); a hard
// link carries the set of the file it links to. Sets are numbered from 1
// across one verification; 0 = no set (not verified, changed, unread).
struct FileVerdict {
    Content content = Content::NotVerified;
    uint32_t set = 0;

    bool operator==(const FileVerdict&) const = default;
};

}  // namespace quarn

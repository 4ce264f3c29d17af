#pragma once
// Lists one folder through a handle, in the order the OS returns entries.
//
// A folder is opened relative to its parent's handle (openat), so no path is
// ever resolved again and paths longer than PATH_MAX work. Every entry is
// stat'ed relative to the folder without following links: a symbolic link is
// reported as a link, with its own size.

#include <sys/stat.h>
#include <sys/types.h>

#include <memory>
#include <string>

#include "platform/FileEntry.h"

namespace quarn {

// Fills `entry` from an lstat-style result.
void FillEntryStatus(const struct ::stat& status, EntryStatus& entry);

// An entry of a listing before its stat.
struct ListedName {
    const char* name = nullptr;  // NUL-terminated
    unsigned char type = 0;      // a DT_ value; DT_UNKNOWN where the file system gives none
    uint64_t inode = 0;
};

class DirectoryListing {
  public:
    DirectoryListing() = default;
    ~DirectoryListing();
    DirectoryListing(DirectoryListing&& other) noexcept;
    DirectoryListing& operator=(DirectoryListing&& other) noexcept;
    DirectoryListing(const DirectoryListing&) = delete;
    DirectoryListing& operator=(const DirectoryListing&) = delete;

    // Opens the folder `name` below the folder handle `parentHandle`
    // (AT_FDCWD for a path relative to the working folder, or an absolute
    // path). The final component is never followed when it is a link.
    static DirectoryListing OpenAt(int parentHandle, const char* name);
    // Opens a folder by path; a link given as the path itself is followed,
    // as a user naming a linked folder expects.
    static DirectoryListing Open(const std::string& path);
    // Takes over an already open folder handle.
    static DirectoryListing Adopt(int handle);
    // Lists through a handle that stays the caller's, reading into the
    // caller's buffer (no allocation per folder in a walk).
    static DirectoryListing Borrow(int handle, char* buffer, long bufferSize);

    bool IsOpen() const { return m_handle >= 0; }
    int Handle() const { return m_handle; }
    // errno of the failed open, 0 when open.
    int OpenError() const { return m_openError; }

    // The next entry as the OS listed it, without a stat. Its name stays
    // valid until the next call. Returns false at the end of the listing or
    // on a read error.
    bool NextName(ListedName& entry);
    // errno of a failed read of the listing; 0 while reading and after a
    // clean end.
    int ReadError() const { return m_readError; }
    // True when every name the OS has handed over so far has been returned:
    // the handle's position then lies just past the last name returned, so a
    // listing may stop here and go on later through the same handle.
    bool AtReadBoundary() const { return m_bufferPos >= m_bufferFilled; }
    // From now on NextName passes over "." and ".." (a walk has no use for
    // them, and a stat per folder twice adds up).
    void SkipDotEntries() { m_skipDotEntries = true; }

    // Stats the entry `name` of the folder `handle` without following a link
    // and fills `status`. With `skipFolderStatus`, an entry the OS listed as
    // a folder is not stat'ed: its status has the folder type, size 0, time 0
    // and the listed inode (a walk opens and fstat's every folder anyway).
    // Returns 0 or the errno of the failed stat (ENOENT: it vanished since it
    // was listed).
    static int StatEntry(int handle, const ListedName& entry, bool skipFolderStatus,
                         EntryStatus& status);

    // Gives up ownership of the handle (the caller closes it).
    int Release();

    // A size for borrowed buffers: large reads keep getdents64 calls few.
    static constexpr long kBufferSize = 64 * 1024;

  private:
    explicit DirectoryListing(int handle, int error) : m_handle(handle), m_openError(error) {}
    bool Refill();

    int m_handle = -1;
    int m_openError = 0;
    int m_readError = 0;
    bool m_ownsHandle = true;
    bool m_skipDotEntries = false;
    std::unique_ptr<char[]> m_ownBuffer;
    char* m_buffer = nullptr;
    long m_bufferSize = 0;
    long m_bufferFilled = 0;
    long m_bufferPos = 0;
};

}  // namespace quarn

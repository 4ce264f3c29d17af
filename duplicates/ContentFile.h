#pragma once
// Reading a twin's bytes for a content comparison without ever following a
// link or opening anything that is not a regular file.
//
// The path is first opened as a plain handle (O_PATH, no link followed) and
// its status compared with what the scan saw (device, inode, size, time);
// only a regular file that is still that file is then opened for reading,
// through that handle, so nothing can be swapped in between. A file that is
// not what the scan saw is "changed"; one that cannot be looked at or read is
// "unread", with the system's reason.
//
// Holes of a sparse file are hashed as the zeros they read as without
// reading them. One object reads one file at a time; any thread.

#include <sys/stat.h>
#include <xxhash.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "duplicates/TwinGroup.h"

namespace quarn {

// What the scan saw of a file.
struct ExpectedFile {
    uint64_t device = 0;
    uint64_t inode = 0;
    uint64_t size = 0;
    ExactTime time;
};

class ContentFile {
  public:
    enum class Opened { Yes, Changed, Unread };
    enum class Read { Done, Changed, Unread, Cancelled };

    ContentFile() = default;
    ~ContentFile();
    ContentFile(const ContentFile&) = delete;
    ContentFile& operator=(const ContentFile&) = delete;

    // Opens `path` for reading when it still is the regular file `expected`
    // describes. On Changed or Unread, Reason() says why.
    Opened Open(const std::string& path, const ExpectedFile& expected);
    // Only looks: Yes when `path` still is `expected` (nothing is opened for
    // reading); then `seen`, when given, gets the status it looked at.
    static Opened Check(const std::string& path, const ExpectedFile& expected, std::string& reason,
                        struct ::stat* seen = nullptr);
    // After Open: the status of the file opened, as checked.
    const struct ::stat& Status() const { return m_status; }
    // Files from which this many bytes were read have their pages dropped
    // from the page cache when closed.
    static constexpr uint64_t kDropPagesFrom = 8 * 1024 * 1024;

    // The plain handle that Check and Open start from: `name` in the folder
    // `folder` (AT_FDCWD: `name` is a path), not followed when a link, kept
    // only when it still is `expected`, with its status. Otherwise -1, with
    // the outcome and why.
    static int OpenHandle(int folder, const std::string& name, const ExpectedFile& expected,
                          struct ::stat& status, Opened& outcome, std::string& reason);
    // A descriptor reading the inode behind such a handle (`status` is what
    // the handle showed); otherwise -1, with the outcome and why.
    static int OpenForReading(int handle, int folder, const std::string& name,
                              const struct ::stat& status, Opened& outcome, std::string& reason);
    // Why `status` is not the file `expected` describes; empty when it is.
    static std::string Difference(const struct ::stat& status, const ExpectedFile& expected);

    // Feeds bytes [from, to) of the open file to `state`, reading through
    // `buffer` (its size is the largest read). `cancelled` is asked between
    // reads. A file that ends early changed while it was read.
    Read Hash(XXH3_state_t* state, uint64_t from, uint64_t to, std::vector<char>& buffer,
              const std::function<bool()>& cancelled);
    // After reading: the open file still has the expected size and time.
    bool StillAsExpected(const ExpectedFile& expected);
    // True when the open file's first bytes are in the page cache: a read of
    // them would not wait for the device (nothing is read from the disk).
    bool FirstBytesCached();

    void Close();
    const std::string& Reason() const { return m_reason; }
    // Bytes read from the disk by this object (holes not counted).
    uint64_t BytesRead() const { return m_bytesRead; }

  private:
    int m_fd = -1;
    bool m_mayHaveHoles = false;
    struct ::stat m_status {};
    std::string m_reason;
    uint64_t m_bytesRead = 0;
};

// The XXH3 128-bit state, freed with its owner.
struct Xxh3StateDeleter {
    void operator()(XXH3_state_t* state) const { XXH3_freeState(state); }
};
using Xxh3State = std::unique_ptr<XXH3_state_t, Xxh3StateDeleter>;
// A fresh state, reset for a new 128-bit hash; throws std::bad_alloc.
Xxh3State NewXxh3State();

}  // namespace quarn

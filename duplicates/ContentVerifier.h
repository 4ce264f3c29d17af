#pragma once
// Splits a twin group into sets of files with identical bytes.
//
// Files are compared in stages, cheapest first: by size, then by a hash of
// their first 4 KiB, of their last 4 KiB, then of the whole file (XXH3, 128
// bits). Each file is read at most once, in large sequential reads, the whole
// file's hash going on from where the first block stopped (only the last
// block is read twice); a file whose size or blocks match no other file's is
// never read further, and a file alone in its group is never read at all.
// Hashes already known for a file (KnownHashes: the hash cache) stand in for
// reading it; what is read is handed back to be kept. Files of one inode are read once: the
// others are hard links. Nothing is opened that is not a regular file, and
// no link is followed (ContentFile.h).
//
// Threads: one verifier is used by one thread; its progress counters may
// be read from any thread.

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "duplicates/BinBaum.h"
#include "duplicates/ContentFile.h"
#include "duplicates/ContentVerdict.h"

namespace quarn {

// The stage hashes of one file, each known or not.
struct StageHashes {
    std::optional<XXH128_hash_t> head;   // of the first block
    std::optional<XXH128_hash_t> tail;   // of the last block
    std::optional<XXH128_hash_t> whole;  // of every byte
};

// Hashes kept from earlier searches, found by the file's status (device,
// inode, size, times). Several verifiers on their own threads may share one.
class KnownHashes {
  public:
    virtual ~KnownHashes() = default;
    virtual std::optional<StageHashes> Find(const struct ::stat& status) = 0;
    // True when Find cannot find anything: the verifier then does not look
    // at a file only to ask.
    virtual bool KnowsNothing() const { return false; }
    // What was learnt of the file whose status (taken before reading) is
    // `status`; it did not change while it was read.
    virtual void Learn(const struct ::stat& status, const StageHashes& hashes) = 0;
};

// The status a walk saw of a file, as KnownHashes::Find wants it; nothing
// when the change time is unknown.
std::optional<struct ::stat> StatusSeenByWalk(const ExpectedFile& expected, int64_t changeTime);

// A file of a group as the scan saw it.
struct VerifyMember {
    FileId file = kNoFile;
    std::string path;
    ExpectedFile expected;
    // The inode's change time as the walk saw it (nanoseconds): with it the
    // known hashes are asked without looking at the file again.
    int64_t changeTime = kUnknownChangeTime;
};

struct MemberVerdict {
    FileVerdict verdict;
    std::string reason;  // why a file is changed or unread
};

class ContentVerifier {
  public:
    // Bytes hashed in the first stage.
    static constexpr uint64_t kFirstBlock = 4096;
    // The largest single read.
    static constexpr size_t kReadSize = 1024 * 1024;

    // `cancelled` is asked between reads; once it says yes, VerifyGroup
    // returns soon with nothing. `known`, when given, is asked before a file
    // is read and told what was read; it must outlive the verifier.
    explicit ContentVerifier(std::function<bool()> cancelled, KnownHashes* known = nullptr);

    // The verdicts of `members` (one group, in join order), in the same
    // order; nothing when cancelled before the group was done. Set numbers
    // go on from one call to the next.
    std::optional<std::vector<MemberVerdict>> VerifyGroup(const std::vector<VerifyMember>& members);

    uint64_t FilesDone() const { return m_filesDone.load(std::memory_order_relaxed); }
    uint64_t BytesRead() const { return m_bytesRead.load(std::memory_order_relaxed); }
    // Files whose contents were opened for reading (not taken from `known`).
    uint64_t FilesRead() const { return m_filesRead.load(std::memory_order_relaxed); }

  private:
    struct Work;

    std::function<bool()> m_cancelled;
    KnownHashes* m_known = nullptr;
    std::vector<char> m_buffer;
    uint32_t m_nextSet = 1;
    std::atomic<uint64_t> m_filesDone{0};
    std::atomic<uint64_t> m_bytesRead{0};
    std::atomic<uint64_t> m_filesRead{0};
};

}  // namespace quarn

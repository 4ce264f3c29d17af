#include "duplicates/ContentVerifier.h"

#include <algorithm>
#include <map>
#include <tuple>
#include <unordered_map>

namespace quarn {

namespace {

// Where the stages left a file: files with equal keys have equal bytes as
// far as the stages went; a file that went through fewer stages than a
// file of its size had no partner from that stage on.
using ContentKey =
    std::tuple<uint64_t, int, uint64_t, uint64_t, uint64_t, uint64_t, uint64_t, uint64_t>;
using HashPair = std::pair<uint64_t, uint64_t>;

HashPair PairOf(const XXH128_hash_t& hash) {
    return {hash.high64, hash.low64};
}

struct InodeOf {
    uint64_t device;
    uint64_t inode;
    bool operator==(const InodeOf&) const = default;
};
struct InodeOfHash {
    size_t operator()(const InodeOf& key) const {
        return std::hash<uint64_t>()(key.device * 0x9e3779b97f4a7c15ULL ^ key.inode);
    }
};

}  // namespace

std::optional<struct ::stat> StatusSeenByWalk(const ExpectedFile& expected, int64_t changeTime) {
    if (changeTime == kUnknownChangeTime) {
        return std::nullopt;
    }
    struct ::stat status {};
    status.st_dev = dev_t(expected.device);
    status.st_ino = ino_t(expected.inode);
    status.st_size = off_t(expected.size);
    status.st_mtim.tv_sec = time_t(expected.time.seconds);
    status.st_mtim.tv_nsec = long(expected.time.ticks) * 100;
    int64_t seconds = changeTime / 1'000'000'000;
    int64_t nanoseconds = changeTime % 1'000'000'000;
    if (nanoseconds < 0) {
        nanoseconds += 1'000'000'000;
        --seconds;
    }
    status.st_ctim.tv_sec = time_t(seconds);
    status.st_ctim.tv_nsec = long(nanoseconds);
    return status;
}

// The state of one file of the group being verified.
struct ContentVerifier::Work {
    size_t primary = 0;  // the first member of the same inode (itself for most)
    bool failed = false;
    int depth = 0;  // 0: size only, 1: first block, 2: last block, 3: whole file
    XXH128_hash_t head{};
    XXH128_hash_t tail{};
    XXH128_hash_t full{};
    // The whole file's hash, fed from offset 0 up to `streamed`; kept
    // between the stages for files beyond the first block.
    Xxh3State state;
    uint64_t streamed = 0;
    // What is known without reading, and the status it was found by.
    std::optional<StageHashes> known;
    bool seen = false;
    struct ::stat status {};
    bool learnt = false;  // something was read that is worth keeping
};

ContentVerifier::ContentVerifier(std::function<bool()> cancelled, KnownHashes* known)
    : m_cancelled(std::move(cancelled)), m_known(known), m_buffer(kReadSize) {}

std::optional<std::vector<MemberVerdict>> ContentVerifier::VerifyGroup(
    const std::vector<VerifyMember>& members) {
    const size_t count = members.size();
    std::vector<MemberVerdict> out(count);
    std::vector<Work> work(count);

    auto fail = [&](size_t i, ContentFile::Opened outcome, const std::string& reason) {
        work[i].failed = true;
        out[i].verdict.content =
            outcome == ContentFile::Opened::Changed ? Content::Changed : Content::Unread;
        out[i].reason = reason;
    };
    auto failRead = [&](size_t i, ContentFile::Read result, const std::string& reason) {
        fail(i,
             result == ContentFile::Read::Changed ? ContentFile::Opened::Changed
                                                  : ContentFile::Opened::Unread,
             reason);
    };

    // Files of one inode: the first stands for all of them.
    std::unordered_map<InodeOf, size_t, InodeOfHash> firstOfInode;
    // Primaries by size, sizes in the order first met.
    std::vector<uint64_t> sizes;
    std::unordered_map<uint64_t, std::vector<size_t>> bySize;
    for (size_t i = 0; i < count; ++i) {
        const ExpectedFile& expected = members[i].expected;
        work[i].primary = i;
        if (expected.inode != 0) {
            auto [it, added] =
                firstOfInode.try_emplace(InodeOf{expected.device, expected.inode}, i);
            if (!added) {
                work[i].primary = it->second;
                continue;
            }
        }
        auto [it, added] = bySize.try_emplace(expected.size);
        if (added) {
            sizes.push_back(expected.size);
        }
        it->second.push_back(i);
    }

    // Files beyond the first block stay open between the stages when their
    // size is shared by few files: the later stages go on reading without
    // opening and checking them again.
    constexpr size_t kKeptOpen = 64;
    std::vector<std::unique_ptr<ContentFile>> open(count);
    bool cancelled = false;
    auto close = [&](size_t i) {
        if (open[i]) {
            m_bytesRead.fetch_add(open[i]->BytesRead(), std::memory_order_relaxed);
            open[i].reset();
        }
    };
    // Feeds bytes [from, to) of member i to `state`.
    auto read = [&](size_t i, XXH3_state_t* state, uint64_t from, uint64_t to, bool keep) {
        const VerifyMember& member = members[i];
        if (!open[i]) {
            open[i] = std::make_unique<ContentFile>();
            ContentFile::Opened opened = open[i]->Open(member.path, member.expected);
            if (opened != ContentFile::Opened::Yes) {
                fail(i, opened, open[i]->Reason());
                open[i].reset();
                return;
            }
            m_filesRead.fetch_add(1, std::memory_order_relaxed);
            if (!work[i].seen) {
                work[i].seen = true;
                work[i].status = open[i]->Status();
            }
        }
        ContentFile& file = *open[i];
        ContentFile::Read result = file.Hash(state, from, to, m_buffer, m_cancelled);
        if (result == ContentFile::Read::Cancelled) {
            cancelled = true;
        } else if (result != ContentFile::Read::Done) {
            failRead(i, result, file.Reason());
        } else if (to > kFirstBlock && to == member.expected.size &&
                   !file.StillAsExpected(member.expected)) {
            // Read in several pieces: it must not have changed meanwhile.
            fail(i, ContentFile::Opened::Changed, file.Reason());
        } else {
            work[i].learnt = true;
        }
        if (!keep || cancelled || work[i].failed) {
            close(i);
        }
    };
    // Looks the file up among the known hashes (only looking at the file).
    auto lookUp = [&](size_t i) {
        if (m_known == nullptr || m_known->KnowsNothing()) {
            return;
        }
        if (const std::optional<struct ::stat> seen =
                StatusSeenByWalk(members[i].expected, members[i].changeTime)) {
            // What the walk saw moments ago: no need to look again.
            work[i].status = *seen;
            work[i].seen = true;
            work[i].known = m_known->Find(work[i].status);
            return;
        }
        std::string reason;
        ContentFile::Opened outcome =
            ContentFile::Check(members[i].path, members[i].expected, reason, &work[i].status);
        if (outcome != ContentFile::Opened::Yes) {
            fail(i, outcome, reason);
            return;
        }
        work[i].seen = true;
        work[i].known = m_known->Find(work[i].status);
    };
    // The members of `from` whose key is shared by another one of them.
    auto shared = [&](const std::vector<size_t>& from, auto keyOf) {
        std::map<decltype(keyOf(size_t(0))), int> holders;
        for (size_t i : from) {
            if (!work[i].failed) {
                ++holders[keyOf(i)];
            }
        }
        std::vector<size_t> kept;
        for (size_t i : from) {
            if (!work[i].failed && holders[keyOf(i)] >= 2) {
                kept.push_back(i);
            } else {
                close(i);
                work[i].state.reset();
            }
        }
        return kept;
    };

    for (uint64_t size : sizes) {
        const std::vector<size_t>& bucket = bySize[size];
        if (bucket.size() == 1) {
            // Nothing of its size to compare with: only look that it is
            // still what the scan saw.
            std::string reason;
            ContentFile::Opened outcome =
                ContentFile::Check(members[bucket[0]].path, members[bucket[0]].expected, reason);
            if (outcome != ContentFile::Opened::Yes) {
                fail(bucket[0], outcome, reason);
            }
            continue;
        }
        const uint64_t headEnd = std::min(size, kFirstBlock);
        const bool wholeInHead = size <= kFirstBlock;
        // Below two blocks the last block is mostly the first one again.
        const bool tailStage = size > 2 * kFirstBlock;
        const bool keep = !wholeInHead && bucket.size() <= kKeptOpen;

        // Stage 1: the first block.
        for (size_t i : bucket) {
            if (m_cancelled && m_cancelled()) {
                return std::nullopt;
            }
            lookUp(i);
            if (work[i].failed) {
                continue;
            }
            if (work[i].known && work[i].known->head) {
                work[i].head = *work[i].known->head;
                work[i].depth = 1;
                continue;
            }
            work[i].state = NewXxh3State();
            read(i, work[i].state.get(), 0, headEnd, keep);
            if (cancelled) {
                return std::nullopt;
            }
            if (!work[i].failed) {
                work[i].depth = 1;
                work[i].head = XXH3_128bits_digest(work[i].state.get());
                work[i].streamed = headEnd;
            }
        }
        if (wholeInHead) {
            for (size_t i : bucket) {
                work[i].state.reset();
            }
            continue;
        }
        std::vector<size_t> alive = shared(bucket, [&](size_t i) { return PairOf(work[i].head); });

        // Stage 2: the last block, hashed by itself.
        if (tailStage) {
            for (size_t i : alive) {
                if (work[i].known && work[i].known->tail) {
                    work[i].tail = *work[i].known->tail;
                    work[i].depth = 2;
                    continue;
                }
                Xxh3State tail = NewXxh3State();
                read(i, tail.get(), size - kFirstBlock, size, keep);
                if (cancelled) {
                    return std::nullopt;
                }
                if (!work[i].failed) {
                    work[i].depth = 2;
                    work[i].tail = XXH3_128bits_digest(tail.get());
                }
            }
            alive = shared(alive, [&](size_t i) {
                return std::pair(PairOf(work[i].head), PairOf(work[i].tail));
            });
        }

        // Stage 3: the whole file, going on from the first block.
        for (size_t i : alive) {
            if (work[i].known && work[i].known->whole) {
                work[i].full = *work[i].known->whole;
                work[i].depth = 3;
                close(i);
                work[i].state.reset();
                continue;
            }
            if (!work[i].state || work[i].streamed != headEnd) {
                work[i].state = NewXxh3State();
                work[i].streamed = 0;
            }
            read(i, work[i].state.get(), work[i].streamed, size, false);
            if (cancelled) {
                return std::nullopt;
            }
            if (!work[i].failed) {
                work[i].depth = 3;
                work[i].full = XXH3_128bits_digest(work[i].state.get());
            }
            work[i].state.reset();
        }
        for (size_t i : bucket) {
            close(i);
            work[i].state.reset();
        }
    }

    // What was read is kept for the next search.
    if (m_known != nullptr) {
        for (size_t i = 0; i < count; ++i) {
            const Work& w = work[i];
            if (w.primary != i || w.failed || !w.learnt || !w.seen) {
                continue;
            }
            const uint64_t size = members[i].expected.size;
            StageHashes hashes;
            if (w.depth >= 1) {
                hashes.head = w.head;
                if (size <= kFirstBlock) {
                    hashes.whole = w.head;  // the first block is the whole file
                }
            }
            if (w.depth >= 2 && size > 2 * kFirstBlock) {
                hashes.tail = w.tail;
            }
            if (w.depth >= 3) {
                hashes.whole = w.full;
            }
            m_known->Learn(w.status, hashes);
        }
    }

    // Equal keys are equal bytes: a key held by two inodes or more is an
    // identical set, a key of one inode a unique file.
    auto keyOf = [&](size_t i) {
        const Work& w = work[i];
        return ContentKey{members[i].expected.size,
                          w.depth,
                          w.head.high64,
                          w.head.low64,
                          w.depth >= 2 ? w.tail.high64 : 0,
                          w.depth >= 2 ? w.tail.low64 : 0,
                          w.full.high64,
                          w.full.low64};
    };
    std::map<ContentKey, int> holders;
    for (size_t i = 0; i < count; ++i) {
        if (work[i].primary == i && !work[i].failed) {
            ++holders[keyOf(i)];
        }
    }
    std::map<ContentKey, uint32_t> setOfKey;
    for (size_t i = 0; i < count; ++i) {
        if (work[i].primary != i || work[i].failed) {
            continue;
        }
        ContentKey key = keyOf(i);
        if (holders[key] >= 2) {
            auto [it, added] = setOfKey.try_emplace(key, m_nextSet);
            if (added) {
                ++m_nextSet;
            }
            out[i].verdict = FileVerdict{Content::Identical, it->second};
        } else {
            out[i].verdict = FileVerdict{Content::Unique, m_nextSet++};
        }
    }
    // The other links of an inode: not read, only looked at.
    for (size_t i = 0; i < count; ++i) {
        size_t primary = work[i].primary;
        if (primary == i) {
            continue;
        }
        std::string reason;
        ContentFile::Opened outcome =
            ContentFile::Check(members[i].path, members[i].expected, reason);
        if (outcome != ContentFile::Opened::Yes) {
            fail(i, outcome, reason);
            continue;
        }
        out[i].verdict = FileVerdict{Content::HardLink, out[primary].verdict.set};
    }
    m_filesDone.fetch_add(count, std::memory_order_relaxed);
    return out;
}

}  // namespace quarn

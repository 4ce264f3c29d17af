// The hash cache: stages kept and merged, keys that must miss, files that do
// not read back exactly as written, atomic saves, the bound on entries, and
// where the cache lives.

#include "duplicates/HashCache.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <xxhash.h>

#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/PrivateHome.h"
#include "tests/support/TempTree.h"
#include "tests/support/TestFiles.h"

namespace quarn {
namespace {

// Record n of the file; the header takes 24 bytes.
constexpr size_t kHeader = 24;
constexpr size_t kRecord = HashCache::kRecordBytes;

HashCacheKey KeyNumber(uint64_t n) {
    return HashCacheKey{2049,      1000 + n,   4096 + n,   1600000000 + int64_t(n),
                        123456789, 1700000000, uint32_t(n)};
}

Hash128 HashNumber(uint64_t n) {
    return Hash128{n, ~n};
}

CachedHashes AllStages(uint64_t n) {
    return CachedHashes{HashNumber(n), HashNumber(n + 1), HashNumber(n + 2)};
}

void Patch32(std::string& bytes, size_t at, uint32_t value) {
    for (size_t i = 0; i < 4; ++i) {
        bytes[at + i] = char(value >> (8 * i));
    }
}

void Patch64(std::string& bytes, size_t at, uint64_t value) {
    for (size_t i = 0; i < 8; ++i) {
        bytes[at + i] = char(value >> (8 * i));
    }
}

// Writes a valid checksum, so that what follows it is checked on its own.
std::string Resealed(std::string bytes) {
    Patch64(bytes, bytes.size() - 8, XXH3_64bits(bytes.data(), bytes.size() - 8));
    return bytes;
}

class HashCacheTest : public ::testing::Test {
  protected:
    // Saves `cache` to the usual place and returns the path.
    std::string SaveOf(const HashCache& cache) {
        std::string path = tree.Path("cache/hashes");
        std::string error;
        EXPECT_TRUE(cache.Save(path, error)) << error;
        return path;
    }

    test::TempTree tree;
};

TEST_F(HashCacheTest, StagesAreMergedKeptAndReplacedWhenTheyDisagree) {
    HashCache cache;
    cache.Store(KeyNumber(1), CachedHashes{HashNumber(10), std::nullopt, std::nullopt});
    EXPECT_EQ(cache.Find(KeyNumber(1)), (CachedHashes{HashNumber(10), std::nullopt, std::nullopt}));
    cache.Store(KeyNumber(1), CachedHashes{std::nullopt, std::nullopt, HashNumber(12)});
    cache.Store(KeyNumber(1), CachedHashes{});  // knows nothing: changes nothing
    EXPECT_EQ(cache.Find(KeyNumber(1)),
              (CachedHashes{HashNumber(10), std::nullopt, HashNumber(12)}));
    EXPECT_FALSE(cache.Find(KeyNumber(2)));

    // A first stage that differs: the whole hash kept belongs to other bytes.
    cache.Store(KeyNumber(2), AllStages(20));
    cache.Store(KeyNumber(2), CachedHashes{HashNumber(99), HashNumber(98), std::nullopt});
    EXPECT_EQ(cache.Find(KeyNumber(2)),
              (CachedHashes{HashNumber(99), HashNumber(98), std::nullopt}));

    // Times before 1970 and numbers using their top bits survive the file.
    HashCacheKey odd{
        ~uint64_t(0), uint64_t(1) << 63, uint64_t(1) << 62, -86400 * 365, 999999999, -1, 1};
    cache.Store(odd, AllStages(30));
    // Enough entries for the index to grow twice.
    constexpr uint64_t kMany = 2000;
    for (uint64_t n = 100; n < 100 + kMany; ++n) {
        cache.Store(KeyNumber(n), AllStages(n));
    }
    EXPECT_EQ(cache.Size(), 3 + kMany);

    HashCache loaded;
    EXPECT_EQ(loaded.Load(SaveOf(cache)), "");
    EXPECT_EQ(loaded.Size(), 3 + kMany);
    for (uint64_t n = 100; n < 100 + kMany; ++n) {
        ASSERT_EQ(cache.Find(KeyNumber(n)), AllStages(n)) << n;
        ASSERT_EQ(loaded.Find(KeyNumber(n)), AllStages(n)) << n;
    }
    EXPECT_EQ(loaded.Find(KeyNumber(1)),
              (CachedHashes{HashNumber(10), std::nullopt, HashNumber(12)}));
    EXPECT_EQ(loaded.Find(KeyNumber(2)),
              (CachedHashes{HashNumber(99), HashNumber(98), std::nullopt}));
    EXPECT_EQ(loaded.Find(odd), AllStages(30));
}

TEST_F(HashCacheTest, AnyDifferenceInTheKeyMisses) {
    const HashCacheKey stored{uint64_t(1) << 40, 77, 5000, 1600000000, 0, 1700000000, 5};
    std::vector<std::pair<const char*, HashCacheKey>> others;
    auto add = [&](const char* what, auto change) {
        HashCacheKey key = stored;
        change(key);
        others.emplace_back(what, key);
    };
    add("device", [](HashCacheKey& k) { k.device ^= uint64_t(1) << 63; });
    add("inode", [](HashCacheKey& k) { k.inode += 1; });
    add("size", [](HashCacheKey& k) { k.size += 1; });
    add("mtime seconds", [](HashCacheKey& k) { k.mtimeSeconds -= 1; });
    add("mtime nanoseconds", [](HashCacheKey& k) { k.mtimeNanoseconds += 1; });
    add("ctime seconds", [](HashCacheKey& k) { k.ctimeSeconds += 1; });
    add("ctime nanoseconds", [](HashCacheKey& k) { k.ctimeNanoseconds -= 1; });
    // The same instant written with a second of nanoseconds is no valid time.
    add("carried nanoseconds", [](HashCacheKey& k) {
        k.mtimeSeconds -= 1;
        k.mtimeNanoseconds = 1'000'000'000;
    });
    add("swapped times", [](HashCacheKey& k) {
        std::swap(k.mtimeSeconds, k.ctimeSeconds);
        std::swap(k.mtimeNanoseconds, k.ctimeNanoseconds);
    });

    HashCache cache;
    cache.Store(stored, AllStages(1));
    for (const auto& [what, key] : others) {
        cache.Store(key, AllStages(50));  // kept apart, or not kept at all
    }
    HashCache loaded;
    ASSERT_EQ(loaded.Load(SaveOf(cache)), "");
    for (const HashCache* each : {&cache, &loaded}) {
        EXPECT_EQ(each->Find(stored), AllStages(1));
        for (const auto& [what, key] : others) {
            std::optional<CachedHashes> found = each->Find(key);
            EXPECT_TRUE(!found || *found == AllStages(50)) << what;
        }
    }

    // A time 64-bit nanoseconds cannot hold is never kept.
    HashCacheKey far = stored;
    far.mtimeSeconds = std::numeric_limits<int64_t>::max() / 1'000'000'000 + 1;
    cache.Store(far, AllStages(60));
    EXPECT_FALSE(cache.Find(far));
    EXPECT_EQ(cache.Size(), others.size());  // the invalid time was not kept either
}

TEST_F(HashCacheTest, DamagedFilesAreDiscardedWithOneMessage) {
    HashCache original;
    for (uint64_t n = 1; n <= 3; ++n) {
        original.Store(KeyNumber(n), AllStages(n));
    }
    const std::string path = SaveOf(original);
    const std::string good = test::ReadText(path);
    ASSERT_EQ(good.size(), kHeader + 3 * kRecord + 8);
    ASSERT_EQ(Resealed(good), good);  // else the resealed cases prove nothing

    std::vector<std::pair<std::string, std::string>> damaged;
    for (size_t length : {size_t(0), size_t(1), size_t(23), kHeader, kHeader + 50, good.size() - 8,
                          good.size() - 1}) {
        damaged.emplace_back("cut at " + std::to_string(length), good.substr(0, length));
    }
    damaged.emplace_back("one byte more", good + "x");
    for (size_t at : {size_t(0), size_t(9), size_t(17), kHeader + 3, kHeader + kRecord + 60,
                      kHeader + 90, good.size() - 1}) {
        std::string bytes = good;
        bytes[at] = char(bytes[at] ^ 0x10);
        damaged.emplace_back("flipped at " + std::to_string(at), bytes);
    }
    auto resealed = [&](const std::string& what, size_t at, uint64_t value, bool wide) {
        std::string bytes = good;
        wide ? Patch64(bytes, at, value) : Patch32(bytes, at, uint32_t(value));
        damaged.emplace_back(what, Resealed(bytes));
    };
    resealed("magic", 0, 0x2020202020202020, true);
    resealed("version", 8, 2, false);
    resealed("entry size", 12, kRecord + 1, false);
    resealed("huge count", 16, uint64_t(1) << 60, true);
    resealed("count below the entries", 16, 2, true);
    resealed("no stage known", kHeader + 92, 0, false);
    resealed("unknown stage", kHeader + kRecord + 92, 8, false);
    resealed("stamp beyond any save", kHeader + 88, UINT32_MAX, false);
    // Records no save writes: a hash beside a stage said to be unknown, and a
    // time that no key packs to (found by no lookup, kept for ever).
    {
        std::string bytes = good;
        Patch32(bytes, kHeader + 92, 1);  // only the first stage known
        damaged.emplace_back("a hash of an unknown stage", Resealed(bytes));
    }
    resealed("a time before any key's", kHeader + 24, uint64_t(INT64_MIN), true);
    resealed("a change time before any key's", kHeader + kRecord + 32,
             uint64_t(-9'223'372'036'000'000'001), true);
    std::string twice = good;
    twice.replace(kHeader + kRecord, kRecord, good.substr(kHeader, kRecord));
    damaged.emplace_back("a key twice", Resealed(twice));

    // Random damage: a changed byte or a cut anywhere.
    std::mt19937 random(7);
    for (int i = 0; i < 200; ++i) {
        std::string bytes = good;
        size_t at = random() % bytes.size();
        if (i % 4 == 0) {
            bytes.resize(at);
        } else {
            bytes[at] = char(bytes[at] ^ (1 + random() % 255));
        }
        damaged.emplace_back("random " + std::to_string(i), bytes);
    }

    for (const auto& [what, bytes] : damaged) {
        SCOPED_TRACE(what);
        test::WriteText(path, good);
        HashCache cache;
        ASSERT_EQ(cache.Load(path), "");
        ASSERT_EQ(cache.Size(), 3u);
        test::WriteText(path, bytes);
        std::string message = cache.Load(path);
        EXPECT_EQ(message, "The hash cache " + path + " was damaged and has been discarded.");
        EXPECT_EQ(cache.Size(), 0u);
        EXPECT_FALSE(cache.Find(KeyNumber(1)));
    }
}

TEST_F(HashCacheTest, MissingFileIsEmptyAndAnUnreadableOneSaysSo) {
    HashCache cache;
    cache.Store(KeyNumber(1), AllStages(1));
    EXPECT_EQ(cache.Load(tree.Path("none/hashes")), "");
    EXPECT_EQ(cache.Size(), 0u);

    cache.Store(KeyNumber(1), AllStages(1));
    tree.MakeFolder("folder");
    std::string message = cache.Load(tree.Path("folder"));
    EXPECT_NE(message.find(tree.Path("folder")), std::string::npos) << message;
    EXPECT_EQ(cache.Size(), 0u);

    // A pipe in its place neither hangs the load nor counts as a cache.
    ASSERT_EQ(::mkfifo(tree.Path("pipe").c_str(), 0600), 0);
    EXPECT_NE(cache.Load(tree.Path("pipe")), "");
    EXPECT_EQ(cache.Size(), 0u);
}

TEST_F(HashCacheTest, SaveReplacesTheFileWholeOrNotAtAll) {
    HashCache cache;
    cache.Store(KeyNumber(1), AllStages(1));
    std::string path = tree.Path("deep/er/hashes");
    std::string error;
    ASSERT_TRUE(cache.Save(path, error)) << error;
    EXPECT_EQ(test::SortedEntryNames(tree.Path("deep/er")), std::vector<std::string>{"hashes"});
    struct ::stat status;
    ASSERT_EQ(::stat(tree.Path("deep/er").c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 077, 0u);  // it names the user's files
    const std::string before = test::ReadText(path);

    cache.Store(KeyNumber(2), AllStages(2));
    if (!test::RunningAsRoot()) {
        ASSERT_EQ(::chmod(tree.Path("deep/er").c_str(), 0500), 0);
        EXPECT_FALSE(cache.Save(path, error));
        EXPECT_NE(error.find(path), std::string::npos) << error;
        ::chmod(tree.Path("deep/er").c_str(), 0700);
        EXPECT_EQ(test::ReadText(path), before);
        EXPECT_EQ(test::SortedEntryNames(tree.Path("deep/er")), std::vector<std::string>{"hashes"});
    }

    test::WriteText(tree.Path("file"), "not a folder");
    error.clear();
    EXPECT_FALSE(cache.Save(tree.Path("file/hashes"), error));
    EXPECT_NE(error, "");
    EXPECT_EQ(test::ReadText(tree.Path("file")), "not a folder");

    // Written in full, then not renamed over a folder: nothing is left.
    tree.MakeFolder("taken/hashes");
    error.clear();
    EXPECT_FALSE(cache.Save(tree.Path("taken/hashes"), error));
    EXPECT_NE(error, "");
    EXPECT_EQ(test::SortedEntryNames(tree.Path("taken")), std::vector<std::string>{"hashes"});

    ASSERT_TRUE(cache.Save(path, error)) << error;
    HashCache loaded;
    EXPECT_EQ(loaded.Load(path), "");
    EXPECT_EQ(loaded.Size(), 2u);
}

TEST_F(HashCacheTest, BoundKeepsTheEntriesUsedMostRecentlyAcrossRuns) {
    HashCache first;
    for (uint64_t n = 1; n <= 5; ++n) {
        first.Store(KeyNumber(n), AllStages(n));
    }
    first.Find(KeyNumber(1));  // used after 4 and 5 were stored
    first.Find(KeyNumber(9));  // a miss uses nothing
    first.SetMaxEntries(3);
    std::string path = SaveOf(first);

    HashCache second;
    EXPECT_EQ(second.Load(path), "");
    EXPECT_EQ(second.Size(), 3u);
    for (uint64_t n : {2, 3}) {
        EXPECT_FALSE(second.Find(KeyNumber(n))) << n;
    }
    // Loaded order, oldest first: 4, 5, 1. This run's uses are newer still.
    second.Find(KeyNumber(4));
    second.Store(KeyNumber(6), AllStages(6));
    second.SetMaxEntries(2);
    ASSERT_EQ(SaveOf(second), path);

    HashCache third;
    EXPECT_EQ(third.Load(path), "");
    EXPECT_EQ(third.Size(), 2u);
    EXPECT_EQ(third.Find(KeyNumber(4)), AllStages(4));
    EXPECT_EQ(third.Find(KeyNumber(6)), AllStages(6));
}

TEST_F(HashCacheTest, DefaultPathFollowsXdgCacheHomeOnlyWhenAbsolute) {
    test::PrivateHome home;
    home.Point("HOME", "user");
    home.Set("XDG_CACHE_HOME", "/var/cache-of-user");
    EXPECT_EQ(HashCache::DefaultPath(), "/var/cache-of-user/quarn/hashes");
    home.Set("XDG_CACHE_HOME", "relative/cache");
    EXPECT_EQ(HashCache::DefaultPath(), home.Path("user") + "/.cache/quarn/hashes");
    home.Set("XDG_CACHE_HOME", "");
    EXPECT_EQ(HashCache::DefaultPath(), home.Path("user") + "/.cache/quarn/hashes");
}

}  // namespace
}  // namespace quarn

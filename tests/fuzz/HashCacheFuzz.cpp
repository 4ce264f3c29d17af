// The hash cache's reader on arbitrary files. Input: one byte of flags, then
// the file. With bit 0 set the harness frames the bytes as the cache's
// records (header with the right count, trailer with the right checksum), so
// that the fuzzer reaches the records' checks instead of stopping at the
// checksum; otherwise the bytes are the file as they are.
//
// Checked: a cache that is refused is empty; one that loads holds exactly
// its records, finds each with the stages it names, and saves what it read:
// the same records, which load and save again byte for byte.

#include <stdlib.h>
#include <unistd.h>
#include <xxhash.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "duplicates/HashCache.h"
#include "tests/fuzz/FuzzCheck.h"

namespace {

using namespace quarn;

constexpr size_t kHeaderBytes = 24;
constexpr size_t kTrailerBytes = 8;
constexpr size_t kRecordBytes = HashCache::kRecordBytes;
constexpr size_t kStampAt = 88;

std::string g_folder;

uint64_t Get64(const unsigned char* p) {
    uint64_t value = 0;
    for (int i = 7; i >= 0; --i) {
        value = value << 8 | p[i];
    }
    return value;
}

void Put64(std::string& text, uint64_t value) {
    for (int i = 0; i < 8; ++i) {
        text += char(value >> (8 * i));
    }
}

void Put32(std::string& text, uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        text += char(value >> (8 * i));
    }
}

std::string Framed(const unsigned char* records, size_t count) {
    std::string file("QuarnHsh", 8);
    Put32(file, 1);
    Put32(file, uint32_t(kRecordBytes));
    Put64(file, count);
    file.append(reinterpret_cast<const char*>(records), count * kRecordBytes);
    Put64(file, XXH3_64bits(file.data(), file.size()));
    return file;
}

void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), std::streamsize(bytes.size()));
    FUZZ_CHECK(out.good());
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// The records of a whole cache file, each without its stamp (saving
// renumbers stamps), sorted.
std::vector<std::string> RecordsWithoutStamps(const std::string& file) {
    std::vector<std::string> records;
    for (size_t at = kHeaderBytes; at + kRecordBytes + kTrailerBytes <= file.size();
         at += kRecordBytes) {
        std::string record = file.substr(at, kRecordBytes);
        std::memset(record.data() + kStampAt, 0, 4);
        records.push_back(std::move(record));
    }
    std::sort(records.begin(), records.end());
    return records;
}

// Nanoseconds since 1970 as seconds and nanoseconds, false when no key has it.
bool SplitTime(int64_t total, int64_t& seconds, uint32_t& nanoseconds) {
    seconds = total / 1'000'000'000;
    int64_t rest = total % 1'000'000'000;
    if (rest < 0) {
        seconds -= 1;
        rest += 1'000'000'000;
    }
    nanoseconds = uint32_t(rest);
    int64_t check = 0;
    return !__builtin_mul_overflow(seconds, 1'000'000'000, &check);
}

void CheckFinds(const HashCache& cache, const unsigned char* record) {
    HashCacheKey key;
    key.device = Get64(record);
    key.inode = Get64(record + 8);
    key.size = Get64(record + 16);
    FUZZ_CHECK(SplitTime(int64_t(Get64(record + 24)), key.mtimeSeconds, key.mtimeNanoseconds));
    FUZZ_CHECK(SplitTime(int64_t(Get64(record + 32)), key.ctimeSeconds, key.ctimeNanoseconds));
    std::optional<CachedHashes> found = cache.Find(key);
    FUZZ_CHECK(found);
    const uint32_t stages = uint32_t(Get64(record + 88) >> 32);
    const std::optional<Hash128>* kept[3] = {&found->first, &found->last, &found->whole};
    for (unsigned stage = 0; stage < 3; ++stage) {
        const bool known = (stages & (1u << stage)) != 0;
        FUZZ_CHECK(kept[stage]->has_value() == known);
        if (known) {
            FUZZ_CHECK(**kept[stage] ==
                       (Hash128{Get64(record + 40 + 16 * stage), Get64(record + 48 + 16 * stage)}));
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    const char* base = getenv("TMPDIR");
    std::string pattern = std::string(base != nullptr && *base == '/' ? base : "/tmp") +
                          "/quarn-hash-cache-fuzz.XXXXXX";
    FUZZ_CHECK(mkdtemp(pattern.data()) != nullptr);
    g_folder = pattern;
    std::atexit([] {
        std::error_code ignored;
        std::filesystem::remove_all(g_folder, ignored);
    });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) {
        return 0;
    }
    const bool frame = (data[0] & 1) != 0;
    const std::string given = frame
                                  ? Framed(data + 1, (size - 1) / kRecordBytes)
                                  : std::string(reinterpret_cast<const char*>(data) + 1, size - 1);
    const std::string path = g_folder + "/given", saved = g_folder + "/saved",
                      again = g_folder + "/again";
    WriteFile(path, given);

    HashCache cache;
    const std::string message = cache.Load(path);
    if (!message.empty()) {
        FUZZ_CHECK(cache.Size() == 0);
        return 0;
    }
    FUZZ_CHECK(given.size() >= kHeaderBytes + kTrailerBytes);
    const size_t count = (given.size() - kHeaderBytes - kTrailerBytes) / kRecordBytes;
    FUZZ_CHECK(cache.Size() == count);

    std::string error;
    FUZZ_CHECK(cache.Save(saved, error));
    const std::string savedBytes = ReadFile(saved);
    FUZZ_CHECK(RecordsWithoutStamps(savedBytes) == RecordsWithoutStamps(given));
    HashCache reloaded;
    FUZZ_CHECK(reloaded.Load(saved).empty());
    FUZZ_CHECK(reloaded.Size() == count);
    FUZZ_CHECK(reloaded.Save(again, error));
    FUZZ_CHECK(ReadFile(again) == savedBytes);

    for (size_t r = 0; r < count; ++r) {
        CheckFinds(cache, reinterpret_cast<const unsigned char*>(given.data()) + kHeaderBytes +
                              r * kRecordBytes);
    }
    return 0;
}

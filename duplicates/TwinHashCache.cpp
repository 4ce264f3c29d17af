#include <atomic>

#include "duplicates/HashCache.h"
#include "duplicates/TwinScanner.h"

// The content search's hashes kept between runs: the hash cache file, read
// before a search and written after it.

namespace quarn {

namespace {

// The walk keeps times to 100 ns: keys are cut to that, so that a key made
// from the walk's status finds what one from the file's own status stored.
HashCacheKey KeyOf(const struct ::stat& status) {
    HashCacheKey key = HashCacheKeyOf(status);
    key.mtimeNanoseconds -= key.mtimeNanoseconds % 100;
    key.ctimeNanoseconds -= key.ctimeNanoseconds % 100;
    return key;
}

Hash128 CacheHashOf(const XXH128_hash_t& hash) {
    return Hash128{hash.low64, hash.high64};
}

XXH128_hash_t XxhOf(const Hash128& hash) {
    return XXH128_hash_t{hash.low, hash.high};
}

std::optional<XXH128_hash_t> XxhOf(const std::optional<Hash128>& hash) {
    return hash ? std::optional(XxhOf(*hash)) : std::nullopt;
}

std::optional<Hash128> CacheHashOf(const std::optional<XXH128_hash_t>& hash) {
    return hash ? std::optional(CacheHashOf(*hash)) : std::nullopt;
}

}  // namespace

class TwinScanner::KnownHashesFile final : public KnownHashes {
  public:
    explicit KnownHashesFile(std::string path) : m_path(std::move(path)) {}

    // One message when the file was damaged (it is then not used).
    std::string Load() {
        std::string message = m_cache.Load(m_path);
        m_knowsNothing = m_cache.Size() == 0;
        return message;
    }
    bool KnowsNothing() const override { return m_knowsNothing; }

    std::optional<StageHashes> Find(const struct ::stat& status) override {
        std::optional<CachedHashes> found = m_cache.Find(KeyOf(status));
        if (!found) {
            return std::nullopt;
        }
        return StageHashes{XxhOf(found->first), XxhOf(found->last), XxhOf(found->whole)};
    }
    void Learn(const struct ::stat& status, const StageHashes& hashes) override {
        m_cache.Store(KeyOf(status),
                      CachedHashes{CacheHashOf(hashes.head), CacheHashOf(hashes.tail),
                                   CacheHashOf(hashes.whole)});
        m_learnt.store(true, std::memory_order_relaxed);
    }

    bool Save(std::string& error) const { return !m_learnt || m_cache.Save(m_path, error); }

  private:
    std::string m_path;
    HashCache m_cache;
    std::atomic<bool> m_learnt{false};
    bool m_knowsNothing = true;  // as loaded: what this search learns is not asked again
};

std::unique_ptr<KnownHashes> TwinScanner::OpenHashCache() {
    auto cache = std::make_unique<KnownHashesFile>(HashCacheFile());
    if (std::string message = cache->Load(); !message.empty()) {
        ShowUserMessage(m_presenter, message);
    }
    return cache;
}

void TwinScanner::SaveHashCache(KnownHashes& known) {
    std::string error;
    if (!static_cast<KnownHashesFile&>(known).Save(error)) {
        ShowUserMessage(m_presenter, "The hash cache could not be written: " + error);
    }
}

std::string TwinScanner::HashCacheFile() const {
    std::lock_guard lock(m_mutex);
    return m_hashCacheFile.empty() ? HashCache::DefaultPath() : m_hashCacheFile;
}

void TwinScanner::SetHashCacheFile(std::string path) {
    std::lock_guard lock(m_mutex);
    m_hashCacheFile = std::move(path);
}

}  // namespace quarn

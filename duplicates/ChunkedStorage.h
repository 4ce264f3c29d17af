#pragma once
// Append-only storage whose elements never move: the twin index keeps its
// files, groups, folders and names in it, so that other threads can read
// what is stored while the worker appends. Neither class is thread-safe by
// itself; the index publishes ids only after their elements are written.

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string_view>
#include <utility>
#include <vector>

namespace quarn {

// Elements live in fixed-size chunks whose directory is reserved up front:
// nothing ever moves, so other threads can read stored elements while the
// worker appends. Untouched directory pages cost no memory.
template <class T, unsigned kChunkBits>
class ChunkedArray {
  public:
    static constexpr size_t kChunkSize = size_t(1) << kChunkBits;
    static constexpr size_t kMaxChunks = (size_t(1) << 32) >> kChunkBits;

    ChunkedArray() { m_chunks.reserve(kMaxChunks); }

    size_t size() const { return m_size; }
    T& operator[](size_t i) { return m_chunks[i >> kChunkBits][i & (kChunkSize - 1)]; }
    const T& operator[](size_t i) const { return m_chunks[i >> kChunkBits][i & (kChunkSize - 1)]; }

    // Makes room for one more element; may throw std::bad_alloc.
    void Reserve() {
        if (m_size == m_chunks.size() * kChunkSize) {
            if (m_chunks.size() == kMaxChunks) {
                throw std::bad_alloc();
            }
            m_chunks.push_back(std::make_unique<T[]>(kChunkSize));
        }
    }
    // After Reserve(): does not throw for trivially copyable T.
    size_t Append(T value) {
        (*this)[m_size] = std::move(value);
        return m_size++;
    }
    void Clear() {
        m_chunks.clear();  // keeps the reserved directory
        m_size = 0;
    }
    // Memory held by the elements' chunks.
    size_t Bytes() const { return m_chunks.size() * kChunkSize * sizeof(T); }

  private:
    std::vector<std::unique_ptr<T[]>> m_chunks;
    size_t m_size = 0;
};

// Names as [length byte][bytes]; a name never straddles a chunk.
class NameArena {
  public:
    static constexpr uint32_t kChunkBits = 16;
    static constexpr uint32_t kChunkSize = 1u << kChunkBits;

    NameArena() { m_chunks.reserve(size_t(1) << (32 - kChunkBits)); }

    std::string_view At(uint32_t offset) const {
        const unsigned char* p = m_chunks[offset >> kChunkBits].get() + (offset & (kChunkSize - 1));
        return std::string_view(reinterpret_cast<const char*>(p + 1), p[0]);
    }
    // Makes room for `name`; may throw std::bad_alloc.
    void Reserve(std::string_view name) {
        if (m_chunks.empty() || m_used + 1 + name.size() > kChunkSize) {
            if (m_chunks.size() == m_chunks.capacity()) {
                throw std::bad_alloc();
            }
            m_chunks.push_back(std::make_unique<unsigned char[]>(kChunkSize));
            m_used = 0;
        }
    }
    uint32_t Append(std::string_view name) {
        uint32_t offset = uint32_t((m_chunks.size() - 1) << kChunkBits) + m_used;
        unsigned char* p = m_chunks.back().get() + m_used;
        p[0] = static_cast<unsigned char>(name.size());
        if (!name.empty()) {  // an empty view may have no data at all
            std::memcpy(p + 1, name.data(), name.size());
        }
        m_used += uint32_t(1 + name.size());
        return offset;
    }
    void Clear() {
        m_chunks.clear();
        m_used = 0;
    }
    size_t Bytes() const { return m_chunks.size() * size_t(kChunkSize); }

  private:
    std::vector<std::unique_ptr<unsigned char[]>> m_chunks;
    uint32_t m_used = 0;
};

// Paths of any length as [4-byte length][bytes], addressed like NameArena;
// a path never straddles a chunk, and one longer than a chunk gets a chunk
// of its own.
class PathArena {
  public:
    static constexpr uint32_t kChunkBits = 16;
    static constexpr size_t kChunkSize = size_t(1) << kChunkBits;

    PathArena() { m_chunks.reserve(size_t(1) << (32 - kChunkBits)); }

    std::string_view At(uint32_t offset) const {
        const char* p = m_chunks[offset >> kChunkBits].get() + (offset & (kChunkSize - 1));
        uint32_t length;
        std::memcpy(&length, p, sizeof length);
        return std::string_view(p + sizeof length, length);
    }
    // May throw std::bad_alloc (nothing stored then).
    uint32_t Append(std::string_view path) {
        if (path.size() > UINT32_MAX - sizeof(uint32_t)) {
            throw std::bad_alloc();
        }
        const size_t needed = sizeof(uint32_t) + path.size();
        if (m_chunks.empty() || m_used + needed > kChunkSize) {
            if (m_chunks.size() == m_chunks.capacity()) {
                throw std::bad_alloc();
            }
            const size_t size = std::max(needed, kChunkSize);
            m_chunks.push_back(std::make_unique_for_overwrite<char[]>(size));
            m_bytes += size;
            m_used = 0;
        }
        const uint32_t offset = uint32_t(((m_chunks.size() - 1) << kChunkBits) + m_used);
        char* p = m_chunks.back().get() + m_used;
        const uint32_t length = uint32_t(path.size());
        std::memcpy(p, &length, sizeof length);
        if (!path.empty()) {  // an empty view may have no data at all
            std::memcpy(p + sizeof length, path.data(), path.size());
        }
        m_used += needed;  // past a chunk of its own: the next path opens another
        return offset;
    }
    void Clear() {
        m_chunks.clear();
        m_used = 0;
        m_bytes = 0;
    }
    size_t Bytes() const { return m_bytes; }

  private:
    std::vector<std::unique_ptr<char[]>> m_chunks;
    size_t m_used = 0;
    size_t m_bytes = 0;
};

// 32-bit values that are nearly always 0 (the upper halves of file sizes and
// inode numbers, the twin index's ring links): a chunk is made only where
// some value needs it, and reads as 0 elsewhere. Other threads may read values of published ids
// while the owner sets others.
class SparseWords {
  public:
    static constexpr unsigned kChunkBits = 14;
    static constexpr size_t kChunkSize = size_t(1) << kChunkBits;
    static constexpr size_t kMaxChunks = (size_t(1) << 32) >> kChunkBits;

    // calloc: the untouched part of the directory costs no memory.
    SparseWords() : m_directory(static_cast<uint32_t**>(std::calloc(kMaxChunks, sizeof(void*)))) {
        if (m_directory == nullptr) {
            throw std::bad_alloc();
        }
    }
    ~SparseWords() {
        Clear();
        std::free(m_directory);
    }
    SparseWords(const SparseWords&) = delete;
    SparseWords& operator=(const SparseWords&) = delete;

    uint32_t Get(size_t i) const {
        const uint32_t* chunk = Chunk(i >> kChunkBits).load(std::memory_order_acquire);
        return chunk == nullptr ? 0 : chunk[i & (kChunkSize - 1)];
    }
    // May throw std::bad_alloc for a value other than 0 (nothing set then).
    void Set(size_t i, uint32_t value) {
        if (value != 0) {
            MakeRoom(i);
        }
        uint32_t* chunk = Chunk(i >> kChunkBits).load(std::memory_order_relaxed);
        if (chunk != nullptr) {
            chunk[i & (kChunkSize - 1)] = value;
        }
    }
    // Makes sure Set(i, ...) cannot throw; may throw std::bad_alloc.
    void MakeRoom(size_t i) {
        const size_t index = i >> kChunkBits;
        uint32_t* chunk = Chunk(index).load(std::memory_order_relaxed);
        if (chunk == nullptr) {
            chunk = static_cast<uint32_t*>(std::calloc(kChunkSize, sizeof(uint32_t)));
            if (chunk == nullptr) {
                throw std::bad_alloc();
            }
            Chunk(index).store(chunk, std::memory_order_release);
            m_chunkCount = std::max(m_chunkCount, index + 1);
            m_bytes += kChunkSize * sizeof(uint32_t);
        }
    }
    void Clear() {
        for (size_t i = 0; i < m_chunkCount; ++i) {
            std::free(Chunk(i).exchange(nullptr));
        }
        m_chunkCount = 0;
        m_bytes = 0;
    }
    size_t Bytes() const { return m_bytes; }

  private:
    std::atomic_ref<uint32_t*> Chunk(size_t index) const {
        return std::atomic_ref<uint32_t*>(m_directory[index]);
    }

    uint32_t** m_directory;
    size_t m_chunkCount = 0;  // below it, the chunks that may exist
    size_t m_bytes = 0;
};

}  // namespace quarn

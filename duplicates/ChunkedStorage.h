#pragma once
// Append-only storage whose elements never move: the twin index keeps its
// files, groups, folders and names in it, so that other threads can read
// what is stored while the worker appends. Neither class is thread-safe by
// itself; the index publishes ids only after their elements are written.

#include <cstddef>
#include <cstdint>
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
        std::memcpy(p + 1, name.data(), name.size());
        m_used += uint32_t(1 + name.size());
        return offset;
    }
    void Clear() {
        m_chunks.clear();
        m_used = 0;
    }

  private:
    std::vector<std::unique_ptr<unsigned char[]>> m_chunks;
    uint32_t m_used = 0;
};

}  // namespace quarn

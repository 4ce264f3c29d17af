#pragma once
// A text of 16 bytes: up to 15 bytes are kept inside the object, longer
// ones in one allocation of exactly their size. Item stores hold one per
// item; a std::string would take twice the room.
//
// Not thread-safe by itself.

#include <cstdint>
#include <string>
#include <string_view>

namespace quarn {

class CompactText {
  public:
    CompactText() { m_inline[kInlineCapacity] = 0; }
    CompactText(std::string_view text) : CompactText() { assign(text); }
    CompactText(const CompactText& other) : CompactText() { assign(other.view()); }
    CompactText& operator=(const CompactText& other) {
        if (this != &other) {
            assign(other.view());
        }
        return *this;
    }
    CompactText(CompactText&& other) noexcept;
    CompactText& operator=(CompactText&& other) noexcept;
    ~CompactText() { clear(); }

    void assign(std::string_view text);
    void clear();

    std::string_view view() const;
    std::string str() const { return std::string(view()); }
    operator std::string() const { return str(); }
    size_t size() const { return view().size(); }
    bool empty() const { return size() == 0; }

    friend bool operator==(const CompactText& a, std::string_view b) { return a.view() == b; }
    friend bool operator==(const CompactText& a, const CompactText& b) {
        return a.view() == b.view();
    }

  private:
    static constexpr size_t kInlineCapacity = 15;
    // Inline: the bytes, and in the last byte the length (0..15).
    // On the heap: the last byte is kOnHeap and the first bytes point at a block that
    // starts with the length (4 bytes) and holds the bytes after it.
    static constexpr unsigned char kOnHeap = 0xff;
    bool OnHeap() const { return static_cast<unsigned char>(m_inline[kInlineCapacity]) == kOnHeap; }

    char* Heap() const;
    void SetHeap(char* block);

    alignas(8) char m_inline[kInlineCapacity + 1];
};

static_assert(sizeof(CompactText) == 16);

}  // namespace quarn

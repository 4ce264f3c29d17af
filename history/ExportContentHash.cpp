#include "history/ExportContentHash.h"

#include <cstring>
#include <new>

namespace quarn {

ExportContentHash::ExportContentHash() : m_state(XXH3_createState()) {
    if (m_state == nullptr) {
        throw std::bad_alloc();
    }
    XXH3_64bits_reset(m_state);
}

ExportContentHash::~ExportContentHash() {
    XXH3_freeState(m_state);
}

void ExportContentHash::Add(const char* bytes, size_t size) {
    if (!m_pastMetadata) {
        // A name in the export never holds a raw line end (it is escaped), so
        // the first one ends the metadata line.
        const auto* end = static_cast<const char*>(std::memchr(bytes, '\n', size));
        if (end == nullptr) {
            return;
        }
        m_pastMetadata = true;
        size -= size_t(end + 1 - bytes);
        bytes = end + 1;
    }
    XXH3_64bits_update(m_state, bytes, size);
}

uint64_t ExportContentHash::Digest() const {
    return XXH3_64bits_digest(m_state);
}

}  // namespace quarn

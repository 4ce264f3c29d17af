#include "history/TreeContentHash.h"

#include <xxhash.h>

namespace quarn {

namespace {

void AppendNumber(std::string& buffer, uint64_t value) {
    buffer.append(reinterpret_cast<const char*>(&value), sizeof value);
}

}  // namespace

void TreeContentHash::Entry(char tag, std::string_view folder, std::string_view name,
                            const EntryStatus* status, uint64_t extra) {
    m_buffer.clear();
    m_buffer += tag;
    // Lengths first: "ab"+"c" and "a"+"bc" must not hash alike.
    AppendNumber(m_buffer, folder.size());
    m_buffer.append(folder);
    AppendNumber(m_buffer, name.size());
    m_buffer.append(name);
    if (status != nullptr) {
        AppendNumber(m_buffer, status->size);
        AppendNumber(m_buffer, status->allocatedSize);
        AppendNumber(m_buffer, status->device);
        AppendNumber(m_buffer, status->inode);
        AppendNumber(m_buffer, uint64_t(status->mtimeSeconds));
        AppendNumber(m_buffer, status->mtimeNanoseconds);
        AppendNumber(m_buffer, status->linkCount);
        AppendNumber(m_buffer, status->mode);
    }
    AppendNumber(m_buffer, extra);
    m_sum += XXH3_64bits(m_buffer.data(), m_buffer.size());
}

bool TreeContentHash::EnterFolder(const std::string& path, const FileEntry* entry) {
    Entry('D', path, {}, entry, 0);
    return true;
}

void TreeContentHash::AddFile(const std::string& folderPath, const FileEntry& file) {
    Entry('F', folderPath, file.name, &file, 0);
}

void TreeContentHash::FolderUnreadable(const std::string& path, int errorNumber) {
    Entry('U', path, {}, nullptr, uint64_t(errorNumber));
}

void TreeContentHash::EntryExcluded(const std::string& folderPath, const FileEntry& entry,
                                    ExclusionReason reason) {
    Entry('X', folderPath, entry.name, nullptr, uint64_t(reason));
}

void TreeContentHash::EntrySkipped(const std::string& folderPath, std::string_view name,
                                   int errorNumber) {
    Entry('S', folderPath, name, nullptr, uint64_t(errorNumber));
}

}  // namespace quarn

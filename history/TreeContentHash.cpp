#include "history/TreeContentHash.h"

#include <xxhash.h>

namespace quarn {

void TreeContentHash::Entry(char tag, std::string_view folder, std::string_view name,
                            const EntryStatus* status, uint64_t extra) {
    // A folder's files come one after another: its path is hashed once and
    // seeds the hash of each entry's name, which seeds the hash of its numbers.
    if (!m_folderKnown || folder != m_folder) {
        m_folder.assign(folder);
        m_folderSeed = XXH3_64bits(folder.data(), folder.size());
        m_folderKnown = true;
    }
    const uint64_t nameHash =
        XXH3_64bits_withSeed(name.data(), name.size(), m_folderSeed + uint64_t(uint8_t(tag)));
    uint64_t numbers[9] = {};
    if (status != nullptr) {
        numbers[0] = status->size;
        numbers[1] = status->allocatedSize;
        numbers[2] = status->device;
        numbers[3] = status->inode;
        numbers[4] = uint64_t(status->mtimeSeconds);
        numbers[5] = status->mtimeNanoseconds;
        numbers[6] = status->linkCount;
        numbers[7] = status->mode;
    }
    numbers[8] = extra;
    m_sum += XXH3_64bits_withSeed(numbers, sizeof numbers, nameHash);
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

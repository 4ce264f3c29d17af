#include "platform/ExportWriter.h"

#include <sys/stat.h>

#include <cerrno>
#include <charconv>
#include <ctime>

#include "platform/DirectoryListing.h"
#include "platform/FileWrite.h"

namespace quarn {

namespace {

// Written out whenever this much is buffered: few system calls, little memory.
constexpr size_t kFlushAt = size_t(1) << 20;

}  // namespace

ExportWriter::ExportWriter(int fd, std::string progver, std::function<bool()> keepGoing)
    : m_fd(fd), m_progver(std::move(progver)), m_keepGoing(std::move(keepGoing)) {
    m_buffer.reserve(kFlushAt + 4096);
}

bool ExportWriter::EnterFolder(const std::string& path, const FileEntry* entry) {
    if (m_writeError != 0 || (m_keepGoing && !m_keepGoing())) {
        return false;
    }
    ClosePendingInfo();
    FileEntry rootEntry;
    if (entry == nullptr) {
        m_buffer += "[1,2,{\"progname\":\"quarn\",\"progver\":";
        Name(m_progver);
        Number("timestamp", uint64_t(std::time(nullptr)));
        m_buffer += "},\n";
        // The walk hands the root on without an entry: one stat of our own.
        struct ::stat status;
        if (::stat(path.c_str(), &status) == 0) {
            FillEntryStatus(status, rootEntry);
        } else {
            rootEntry.hasTime = false;
        }
        rootEntry.name = path;  // the root goes by its path
        entry = &rootEntry;
    } else {
        m_buffer += ",\n";
    }
    m_buffer += '[';
    OpenInfo(entry->name, *entry);
    // A folder that could only be listed, not opened, has no device of its
    // own: it counts as its parent's.
    uint64_t device = entry->device != 0 || m_devices.empty() ? entry->device : m_devices.back();
    if (m_devices.empty() || device != m_devices.back()) {
        Number("dev", device);
    }
    m_devices.push_back(device);
    // Only a folder that was opened has a time: one the walk could only list
    // (or an import that gave none) is written without, never as 1970.
    if (entry->hasTime && entry->mtimeSeconds >= 0) {
        Number("mtime", uint64_t(entry->mtimeSeconds));
    }
    m_infoPending = true;
    ++m_folders;
    if (m_buffer.size() >= kFlushAt) {
        Flush();
    }
    return m_writeError == 0;
}

void ExportWriter::AddFile(const std::string&, const FileEntry& file) {
    ClosePendingInfo();
    m_buffer += ",\n";
    OpenInfo(file.name, file);
    if (file.linkCount > 1) {
        Number("ino", file.inode);
        m_buffer += ",\"hlnkc\":true";
        Number("nlink", file.linkCount);
    }
    if (!file.IsRegularFile()) {
        m_buffer += ",\"notreg\":true";
    }
    if (file.hasTime && file.mtimeSeconds >= 0) {
        Number("mtime", uint64_t(file.mtimeSeconds));
    }
    m_buffer += '}';
    ++m_files;
    if (m_buffer.size() >= kFlushAt) {
        Flush();
    }
}

void ExportWriter::FolderUnreadable(const std::string&, int) {
    // Known before its first entry when the folder could not be opened, the
    // usual case; a listing that broke off later has its entries written
    // already, and the format has no place for the error after them.
    m_pendingUnreadable = m_infoPending;
}

void ExportWriter::EntryExcluded(const std::string&, const FileEntry& entry,
                                 ExclusionReason reason) {
    ClosePendingInfo();
    m_buffer += ",\n";
    if (reason == ExclusionReason::Pattern) {
        m_buffer += "{\"name\":";
        Name(entry.name);
        m_buffer += ",\"excluded\":\"pattern\"}";
        return;
    }
    // Another file system: a folder of its own device, not entered. Readers
    // of the format know it as "otherfs" ("othfs", which some writers use,
    // reads back as a pattern there; ImportReader takes both).
    m_buffer += "[{\"name\":";
    Name(entry.name);
    Number("dev", entry.device);
    m_buffer += ",\"excluded\":\"otherfs\"}]";
}

void ExportWriter::LeaveFolder(const std::string&) {
    ClosePendingInfo();
    m_buffer += ']';
    m_devices.pop_back();
    if (m_devices.empty()) {
        m_buffer += "]\n";
        m_rootClosed = true;
    }
}

bool ExportWriter::Finish() {
    Flush();
    return m_writeError == 0 && m_rootClosed;
}

void ExportWriter::OpenInfo(std::string_view name, const EntryStatus& status) {
    m_buffer += "{\"name\":";
    Name(name);
    Number("asize", status.size);
    Number("dsize", status.allocatedSize);
}

void ExportWriter::ClosePendingInfo() {
    if (!m_infoPending) {
        return;
    }
    if (m_pendingUnreadable) {
        m_buffer += ",\"read_error\":true";
        m_pendingUnreadable = false;
    }
    m_buffer += '}';
    m_infoPending = false;
}

void ExportWriter::Name(std::string_view name) {
    static const char kHex[] = "0123456789abcdef";
    m_buffer += '"';
    for (char c : name) {
        auto byte = static_cast<unsigned char>(c);
        if (byte == '"' || byte == '\\') {
            m_buffer += '\\';
            m_buffer += c;
        } else if (byte < 0x20 || byte == 0x7f) {
            // DEL too: the format's own writer escapes it, and its reader
            // stops at a raw one.
            m_buffer += "\\u00";
            m_buffer += kHex[byte >> 4];
            m_buffer += kHex[byte & 15];
        } else {
            m_buffer += c;  // bytes of 0x80 and above as they are
        }
    }
    m_buffer += '"';
}

void ExportWriter::Number(const char* key, uint64_t value) {
    m_buffer += ",\"";
    m_buffer += key;
    m_buffer += "\":";
    char digits[24];
    auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
    m_buffer.append(digits, end);
}

void ExportWriter::Flush() {
    if (m_buffer.empty() || m_writeError != 0) {
        return;
    }
    if (!WriteAll(m_fd, m_buffer)) {
        m_writeError = errno != 0 ? errno : EIO;
    }
    m_buffer.clear();
}

}  // namespace quarn

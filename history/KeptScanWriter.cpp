#include "history/KeptScanWriter.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "history/ZstdOutput.h"
#include "platform/ByteSum.h"

namespace quarn {

KeptScanWriter::KeptScanWriter(ScanStore store, std::string folder, size_t keep,
                               bool allocatedSizes, std::string progver,
                               std::function<void(const KeepOutcome&)> told)
    : m_store(std::move(store)),
      m_folder(std::move(folder)),
      m_keep(keep),
      m_allocated(allocatedSizes),
      m_told(std::move(told)) {
    m_tempFd = m_store.CreateTemporary(m_tempPath, m_openError);
    if (m_tempFd < 0) {
        return;
    }
    m_writer = std::make_unique<ExportWriter>(
        [this](std::string& bytes) {
            m_handoff.Give(bytes);
            return 0;  // the compressing thread's failure is told at the end
        },
        std::move(progver));
    m_compressor = std::thread([this] { Compress(); });
}

KeptScanWriter::~KeptScanWriter() {
    if (!m_ended) {
        WalkEnded(false);
    }
}

void KeptScanWriter::Compress() {
    ZstdOutput out(m_tempFd);
    std::string piece;
    while (m_handoff.Take(piece)) {
        m_hash.Add(piece.data(), piece.size());
        // After a failed write the buffers are still taken, so the walk goes on.
        out.Write(piece.data(), piece.size());
        m_handoff.GiveBack(piece);
    }
    out.Finish();
    m_compressError = out.Error();
    if (m_compressError == 0 && ::fdatasync(m_tempFd) != 0) {
        m_compressError = errno;
    }
}

void KeptScanWriter::StopCompressing() {
    m_handoff.Close();
    if (m_compressor.joinable()) {
        m_compressor.join();
    }
    if (m_tempFd >= 0 && ::close(m_tempFd) != 0 && m_compressError == 0) {
        m_compressError = errno;
    }
    m_tempFd = -1;
}

bool KeptScanWriter::EnterFolder(const std::string& path, const FileEntry* entry) {
    if (m_writer != nullptr) {
        m_writer->EnterFolder(path, entry);
    }
    return true;
}

void KeptScanWriter::AddFile(const std::string& folderPath, const FileEntry& file) {
    if (m_writer == nullptr) {
        return;
    }
    m_writer->AddFile(folderPath, file);
    ++m_files;
    const bool counted =
        file.linkCount <= 1 || m_linkedSeen.insert(file.device * 1000003u ^ file.inode).second;
    if (counted) {
        AddBytes(m_total, m_allocated ? file.allocatedSize : file.size);
    }
}

void KeptScanWriter::LeaveFolder(const std::string& path) {
    if (m_writer != nullptr) {
        m_writer->LeaveFolder(path);
    }
}

void KeptScanWriter::FolderUnreadable(const std::string& path, int errorNumber) {
    if (m_writer != nullptr) {
        m_writer->FolderUnreadable(path, errorNumber);
    }
}

void KeptScanWriter::EntryExcluded(const std::string& folderPath, const FileEntry& entry,
                                   ExclusionReason reason) {
    if (m_writer != nullptr) {
        m_writer->EntryExcluded(folderPath, entry, reason);
    }
}

void KeptScanWriter::EntrySkipped(const std::string& folderPath, std::string_view name,
                                  int errorNumber) {
    if (m_writer != nullptr) {
        m_writer->EntrySkipped(folderPath, name, errorNumber);
    }
}

void KeptScanWriter::Tell(ScanStore::Kept kind, std::string file, std::string error) {
    if (m_told) {
        m_told(KeepOutcome{kind, std::move(file), std::move(error)});
    }
}

void KeptScanWriter::WalkEnded(bool complete) {
    if (m_ended) {
        return;
    }
    m_ended = true;
    if (m_writer == nullptr) {
        Tell(ScanStore::Kept::Failed, {},
             "the scan was not kept: " + m_store.Directory() + ": " + std::strerror(m_openError));
        return;
    }
    const bool whole = m_writer->Finish();
    StopCompressing();
    const int error = m_compressError;
    if (!complete || !whole || error != 0) {
        ::unlink(m_tempPath.c_str());
        if (error != 0) {
            Tell(ScanStore::Kept::Failed, {},
                 "the scan was not kept: " + m_store.Directory() + ": " + std::strerror(error));
        }
        return;  // a cancelled walk is no scan to keep, and nobody needs telling
    }
    KeptScan facts;
    facts.contentHash = m_hash.Digest();
    facts.total = m_total;
    facts.files = m_files;
    std::string keptFile;
    int renameError = 0;
    const ScanStore::Kept kept =
        m_store.Commit(m_tempPath, m_folder, facts, m_keep, keptFile, renameError);
    Tell(kept, keptFile,
         kept == ScanStore::Kept::Failed
             ? "the scan was not kept: " + m_store.Directory() + ": " + std::strerror(renameError)
             : std::string());
}

ScanCopyMaker KeptScanMaker(std::string progver, std::function<void(const KeepOutcome&)> told) {
    return [progver = std::move(progver),
            told = std::move(told)](const ScanRequest& request) -> std::unique_ptr<ScanCopySink> {
        const size_t keep = KeepScansSetting();
        if (keep == 0 || request.IsImport()) {
            return nullptr;
        }
        return std::make_unique<KeptScanWriter>(ScanStore(), request.root, keep,
                                                request.allocatedSizes, progver, told);
    };
}

}  // namespace quarn

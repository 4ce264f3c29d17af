#include "platform/ExportJob.h"

#include <cstring>

#include "platform/ExportTarget.h"
#include "platform/ExportWriter.h"
#include "platform/FolderWalker.h"

namespace quarn {

ExportJob::ExportJob(std::string folder, std::string file, WalkOptions options, std::string progver)
    : m_folder(std::move(folder)),
      m_file(std::move(file)),
      m_options(std::move(options)),
      m_progver(std::move(progver)),
      m_thread([this] { Run(); }) {}

ExportJob::~ExportJob() {
    Cancel();
    // m_thread joins as it goes, before the members it reads.
}

void ExportJob::Wait() {
    if (m_thread.joinable()) {
        m_thread.join();
    }
}

std::string ExportJob::Error() const {
    std::lock_guard lock(m_errorMutex);
    return m_error;
}

void ExportJob::Run() {
    std::string error;
    {
        ExportTarget target(m_file);
        if (target.Fd() < 0) {
            error = std::strerror(target.OpenError());
        } else {
            ExportWriter* self = nullptr;
            ExportWriter writer(target.Fd(), m_progver, [this, &self] {
                m_folders.store(self->Folders(), std::memory_order_relaxed);
                m_files.store(self->Files(), std::memory_order_relaxed);
                return !m_cancel.load();
            });
            self = &writer;
            WalkFolderTree(m_folder, writer, m_options);
            bool whole = writer.Finish();
            m_folders.store(writer.Folders());
            m_files.store(writer.Files());
            if (writer.WriteError() != 0) {
                error = std::strerror(writer.WriteError());
            } else if (!whole) {
                error = "cancelled";
            } else if (int commitError = target.Commit()) {
                error = std::strerror(commitError);
            }
        }
    }
    {
        std::lock_guard lock(m_errorMutex);
        m_error = error;
    }
    m_done.store(true);
}

}  // namespace quarn

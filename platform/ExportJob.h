#pragma once
// One export of a folder's tree to a file, on a thread of its own: the walk
// with the scope the caller gives, written as it goes (ExportWriter) to a
// temporary file that becomes the file only when whole (ExportTarget).
//
// Threads: made, asked and destroyed on one thread (the window's); the
// worker only writes the atomics and, before it ends, the result. Cancel
// stops the walk at its next folder. Destroying the job cancels and joins.

#include <atomic>
#include <mutex>
#include <string>
#include <thread>

#include "platform/WalkOptions.h"

namespace quarn {

class ExportJob {
  public:
    ExportJob(std::string folder, std::string file, WalkOptions options, std::string progver);
    ~ExportJob();
    ExportJob(const ExportJob&) = delete;
    ExportJob& operator=(const ExportJob&) = delete;

    void Cancel() { m_cancel.store(true); }
    bool Done() const { return m_done.load(); }
    // Blocks until the export has ended (Done).
    void Wait();
    // Progress: folders and files written so far.
    int64_t Folders() const { return m_folders.load(std::memory_order_relaxed); }
    int64_t Files() const { return m_files.load(std::memory_order_relaxed); }
    // Once Done: empty when the file is in place, else why not ("cancelled",
    // or the reason of the failed write).
    std::string Error() const;

  private:
    void Run();

    std::string m_folder;
    std::string m_file;
    WalkOptions m_options;
    std::string m_progver;
    std::atomic<bool> m_cancel{false};
    std::atomic<bool> m_done{false};
    std::atomic<int64_t> m_folders{0};
    std::atomic<int64_t> m_files{0};
    mutable std::mutex m_errorMutex;
    std::string m_error;
    std::jthread m_thread;  // last: starts after every member it reads
};

}  // namespace quarn

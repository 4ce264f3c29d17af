// Times the walk alone: a sink that only counts, so that the listing's own
// speed shows apart from the stores the scans fill.
//
// usage: quarn_walk_bench [--threads N] FOLDER
// Prints one line: threads (without --threads, the most the walk grew to),
// seconds, folders, files, bytes, unreadable folders and skipped entries.

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "platform/FolderWalker.h"

namespace {

class CountingSink : public quarn::WalkSink {
  public:
    bool EnterFolder(const std::string&, const quarn::FileEntry*) override {
        ++folders;
        return true;
    }
    void AddFile(const std::string&, const quarn::FileEntry& file) override {
        ++files;
        bytes += file.size;
    }
    void LeaveFolder(const std::string&) override {}
    void FolderUnreadable(const std::string&, int) override { ++unreadable; }
    void EntrySkipped(const std::string&, std::string_view, int) override { ++skipped; }

    unsigned long long folders = 0, files = 0, bytes = 0, unreadable = 0, skipped = 0;
};

}  // namespace

int main(int argc, char** argv) {
    quarn::WalkOptions options;
    const char* folder = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--threads") == 0 && i + 1 < argc) {
            options.threads = unsigned(std::atoi(argv[++i]));
        } else {
            folder = argv[i];
        }
    }
    if (folder == nullptr) {
        std::fprintf(stderr, "usage: quarn_walk_bench [--threads N] FOLDER\n");
        return 2;
    }
    options.threadsUsed = std::make_shared<std::atomic<unsigned>>(0);
    CountingSink sink;
    auto start = std::chrono::steady_clock::now();
    quarn::WalkFolderTree(folder, sink, options);
    std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - start;
    std::printf(
        "threads %u  %.3f s  folders %llu  files %llu  bytes %llu  unreadable %llu  "
        "skipped %llu\n",
        options.threadsUsed->load(), seconds.count(), sink.folders, sink.files, sink.bytes,
        sink.unreadable, sink.skipped);
    return 0;
}

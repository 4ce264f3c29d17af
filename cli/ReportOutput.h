#pragma once
// Whether a report reached its reader. A full disk, /dev/full or a dropped
// network file system fail writes that the C library buffers and would let
// pass unseen, and by the time the stream's error flag is looked at the
// reason is gone. The report must say why and not exit as if all was printed.

#include <cstdio>

namespace quarn::cli {

// The exit code of a report that could not be written whole.
inline constexpr int kWriteErrorExit = 1;

// While it lives, `stdout` is a stream over descriptor 1 that remembers why
// its first write failed (the GNU C library lets a program replace stdout);
// the reports print to stdout as ever. Owned by the report command on its
// main thread; nothing else may replace stdout meanwhile.
class CheckedStandardOutput {
  public:
    CheckedStandardOutput();
    // Puts the original stdout back; without Finish, what is still buffered
    // is flushed quietly.
    ~CheckedStandardOutput();
    CheckedStandardOutput(const CheckedStandardOutput&) = delete;
    CheckedStandardOutput& operator=(const CheckedStandardOutput&) = delete;

    // Flushes and closes the stream and descriptor 1 (some file systems
    // report a failed write only at the close). When any write or the close
    // failed, prints "quarn: write error: <reason>" on stderr and returns
    // false. Nothing can be printed on standard output afterwards.
    bool Finish();

  private:
    struct Sink {
        int fd = 1;
        int error = 0;  // errno of the first failure, 0 while all went well
    };
    static ssize_t WriteToSink(void* sink, const char* data, size_t size);
    static int CloseSink(void* sink);

    Sink m_sink;
    std::FILE* m_original = nullptr;
    std::FILE* m_checked = nullptr;  // null when it could not be made
    bool m_finished = false;
};

}  // namespace quarn::cli

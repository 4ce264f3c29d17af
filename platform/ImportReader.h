#pragma once
// Reads a tree in the interchange format of disk-usage tools (major version
// 1, as ExportWriter writes it and other tools do) and hands it to a walk
// sink as if the tree had been walked: EnterFolder, AddFile, LeaveFolder,
// FolderUnreadable and EntryExcluded, in the file's order. Every engine that
// consumes a walk (folder sizes, twins, reports) thus consumes an import.
//
// The input is read as a stream in pieces; memory is one piece and one
// entry per open folder, however large the file. Names are bytes; a name
// that is empty, ".", "..", holds a "/" or a NUL, or is longer than a file
// system allows is refused as damage, so that no imported path can point
// outside its folder. So are a size ("asize", "dsize") above 2^63-1 and a
// link count or "mode" above 2^32-1, which no file system gives; a time
// ("mtime") beyond 2^63-1 seconds reads as the latest one. A folder's own
// sizes are not counted, as in a walk. Whether an entry is a folder is told
// by its form (an array) alone: a file whose "mode" says folder is a file of
// no known kind.
//
// Calling thread only; the sink is called on it.

#include <cstdint>
#include <string>

#include "platform/FolderWalker.h"

namespace quarn {

struct ImportOutcome {
    enum class Kind { Completed, Abandoned, Damaged, ReadFailed } kind = Kind::Completed;
    // Damaged: what was wrong ("truncated", "expected ','", ...); ReadFailed:
    // the reason of the failed read.
    std::string error;
    // Damaged, ReadFailed: the byte offset where reading stopped.
    uint64_t offset = 0;
    // "zstd" or "gzip" when the file was compressed, "" when plain.
    std::string encoding;
    // The offset counts the decompressed bytes (damage of the JSON inside
    // a compressed file), not the file's.
    bool offsetIsDecoded = false;

    bool Ok() const { return kind == Kind::Completed; }
    // "malformed at byte 123: expected ','", "truncated at byte 40", ...
    std::string Describe() const;
};

// Reads the stream `fd` (not closed) to its end: plain JSON, or JSON
// compressed with zstd or gzip (told by its first bytes). On damage the sink has
// seen the events of what came before it (LeaveFolder is not called for
// the folders then open).
ImportOutcome ReadImport(int fd, WalkSink& sink);

// Reads the export file `file` ("-": standard input) to its end. `error` is
// what the user is told when it could not be read whole: why it could not be
// opened, or Describe(); empty when it was read whole or abandoned.
ImportOutcome ReadImportFile(const std::string& file, WalkSink& sink, std::string& error);

}  // namespace quarn

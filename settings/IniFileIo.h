#pragma once
// Reading and safely rewriting an INI file.
//
// Reads take no lock: a write never changes the file in place but renames a
// complete new file over it, so a reader sees either the old or the new text,
// never half of one. Every change runs as one locked read-modify-write
// (flock on "<file>.lock" beside it), so writers in several threads and
// processes never lose each other's changes. Each call opens its own
// descriptors; any thread may call these functions.

#include <functional>
#include <optional>
#include <string>

#include "settings/IniDocument.h"

namespace quarn {

// Past this size a file is not read at all (it counts as unreadable).
inline constexpr long long kMaxIniFileSize = 16LL * 1024 * 1024;

// The file as a document; a missing, unreadable or empty path reads as an
// empty document. Only a regular file up to kMaxIniFileSize is read; anything
// else (a FIFO, a device, a folder, a larger file) reads as empty at once,
// without waiting for a writer or reading without end.
IniDocument LoadIniDocument(const std::string& path);

// Why the file at `path` cannot be read as settings ("not a regular file",
// "larger than 16 MB", or the system's reason such as "Permission denied");
// nothing when it is readable or missing. Checks the way LoadIniDocument
// reads, so it never blocks either.
std::optional<std::string> IniFileReadProblem(const std::string& path);

// Under the file's lock: loads the document, lets `change` edit it, and when
// the text changed writes it to a temporary file in the same folder (synced,
// with the old file's permissions) and renames that over the file. The file
// and its folder are created when missing. Returns false, leaving the file as
// it was, when `change` returns false, the path is empty, or anything fails
// (folder not writable, file unreadable as LoadIniDocument reads, disk
// full): settings that could not be read are never replaced by a write.
bool UpdateIniDocument(const std::string& path, const std::function<bool(IniDocument&)>& change);

}  // namespace quarn

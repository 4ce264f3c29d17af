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
#include <string>

#include "settings/IniDocument.h"

namespace quarn {

// The file as a document; a missing, unreadable or empty path reads as an
// empty document.
IniDocument LoadIniDocument(const std::string& path);

// Under the file's lock: loads the document, lets `change` edit it, and when
// the text changed writes it to a temporary file in the same folder (synced,
// with the old file's permissions) and renames that over the file. The file
// and its folder are created when missing. Returns false, leaving the file as
// it was, when `change` returns false, the path is empty, or anything fails
// (folder not writable, file unreadable, disk full).
bool UpdateIniDocument(const std::string& path, const std::function<bool(IniDocument&)>& change);

}  // namespace quarn

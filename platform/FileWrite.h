#pragma once
// Writing whole files so that readers never see half of one.

#include <functional>
#include <string>
#include <string_view>

namespace quarn {

// Writes all of `text` to `fd`, retrying short writes and EINTR. False on
// any other failure (the descriptor's position is then unspecified).
bool WriteAll(int fd, std::string_view text);

// Runs on the temporary file's descriptor once the text is written, before it
// is synced: sets mode or owner. Returning false abandons the replacement.
using PrepareReplacement = std::function<bool(int fd)>;

// Replaces the file at `path` by one holding `text`: a temporary file beside
// it (created with mode 0666 less the umask) is written, prepared, synced and
// renamed over `path`. Readers see the old file or the new one, never a part;
// on failure the temporary is removed, the old file is untouched and false is
// returned. `path` itself is replaced: a symbolic link there becomes a file.
bool ReplaceFileAtomically(const std::string& path, std::string_view text,
                           const PrepareReplacement& prepare = nullptr);

}  // namespace quarn

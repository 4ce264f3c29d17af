#pragma once
// The scan requests tests ask for, built as the window and the report build
// theirs: with the settings in force (the test's own INI file).

#include <string>

#include "pipeline/ScanRequest.h"

namespace quarn::test {

inline ScanRequest FolderRequest(const std::string& path, const WalkOptions& walk = {}) {
    ScanAdditions additions;
    additions.walk = walk;
    return ScanRequestFromSettings(ScanRequest::Source::Folder, path, additions);
}

// A read of the export file `file`.
inline ScanRequest ImportRequest(const std::string& file) {
    return ScanRequestFromSettings(ScanRequest::Source::ImportFile, file);
}

// A scan that also feeds the twin engine its scanner was given.
inline ScanRequest CombinedRequest(const std::string& path) {
    ScanRequest request = FolderRequest(path);
    request.feedTwins = true;
    return request;
}

}  // namespace quarn::test

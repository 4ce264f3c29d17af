#include "duplicates/TwinStatusText.h"

#include <cstdio>

#include "foldersize/SizeText.h"

namespace quarn {

namespace {

std::string Format(const char* format, auto... values) {
    char text[512];
    std::snprintf(text, sizeof text, format, values...);
    return text;
}

}  // namespace

std::string TwinSummaryStatus(int copies, uint64_t copyBytes, int files, int exceptions) {
    return Format("Twin Files: %d [%s] of Files %d, Exceptions: %d", copies,
                  FormatSize(copyBytes).c_str(), files, exceptions);
}

std::string FileFindStatus(int rows, bool ready) {
    return Format(ready ? "FileFind - Objects found %d - ready" : "FileFind - Objects found %d",
                  rows);
}

std::string VerifyProgressStatus(uint64_t filesDone, uint64_t filesTotal, uint64_t bytesRead) {
    return Format("Verifying contents: %llu of %llu files, %s read",
                  static_cast<unsigned long long>(filesDone),
                  static_cast<unsigned long long>(filesTotal), FormatSize(bytesRead).c_str());
}

std::string ContentSearchStatus(int sets, int copies, uint64_t copyBytes, int hardLinks,
                                int changed, int unread, bool cancelled) {
    return Format(
        "%s: %d %s, %d %s [%s] beyond the first of each set, %d hard links, %d changed, "
        "%d unread",
        cancelled ? "Content search cancelled" : "Same content", sets, sets == 1 ? "set" : "sets",
        copies, copies == 1 ? "copy" : "copies", FormatSize(copyBytes).c_str(), hardLinks, changed,
        unread);
}

std::string TwinFoldersStatus(int sets, uint64_t copyBytes) {
    return Format("; %d %s of twin folders [%s in copies]", sets, sets == 1 ? "set" : "sets",
                  FormatSize(copyBytes).c_str());
}

std::string VerifyStatus(int identicalCopies, uint64_t identicalBytes, int unique, int hardLinks,
                         int changed, int unread, int notVerified, bool cancelled) {
    std::string text = Format(
        "%s: %d identical copies [%s] beyond the first of each set, %d unique, %d hard links, "
        "%d changed, %d unread",
        cancelled ? "Verification cancelled" : "Verified", identicalCopies,
        FormatSize(identicalBytes).c_str(), unique, hardLinks, changed, unread);
    if (notVerified > 0) {
        text += Format(", %d not verified", notVerified);
    }
    return text;
}

}  // namespace quarn

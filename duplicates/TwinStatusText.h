#pragma once
// The status texts of the twin list: the summary of a scan, a search's
// count and a verification's findings. Pure functions; any thread.

#include <cstdint>
#include <string>

namespace quarn {

// "Twin Files: %d [%s] of Files %d, Exceptions: %d": the copies beyond the
// first of each group, their bytes, the files met and the walks abandoned.
std::string TwinSummaryStatus(int copies, uint64_t copyBytes, int files, int exceptions);

// "FileFind - Objects found %d", with " - ready" once the search has ended.
std::string FileFindStatus(int rows, bool ready);

// "Verifying contents: D of T files, S read" while a verification runs.
std::string VerifyProgressStatus(uint64_t filesDone, uint64_t filesTotal, uint64_t bytesRead);

// "Verified: N identical copies [S] beyond the first of each set, U unique,
// H hard links, C changed, R unread" ("Verification cancelled: ..." after a
// cancel), and ", N not verified" when some were not.
// "Same content: N sets, C copies [S] beyond the first of each set, H hard
// links, X changed, R unread" after a content search ("Content search
// cancelled: ..." after a cancel).
std::string ContentSearchStatus(int sets, int copies, uint64_t copyBytes, int hardLinks,
                                int changed, int unread, bool cancelled);

// "; 2 sets of twin folders [S in copies]", added to the content
// search's status when it found whole folders.
std::string TwinFoldersStatus(int sets, uint64_t copyBytes);

std::string VerifyStatus(int identicalCopies, uint64_t identicalBytes, int unique, int hardLinks,
                         int changed, int unread, int notVerified, bool cancelled);

}  // namespace quarn

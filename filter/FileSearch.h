#pragma once
// The File Filter search: refills the twin list from the last scan's index
// with the files whose name contains a text (any case), whose size lies
// strictly between two bounds, and optionally only groups of two or more.
//
// Threads: RunSearch runs as a job of the twin engine (StartFileSearch) or
// on the caller's thread; it reads the criteria once at its start. It walks
// the index, so nothing else may change it meanwhile (the engine refuses or
// ends other jobs, see TwinScanner.h). A stop request ends it at the next
// group, without the "ready" status.

#include <cstdint>
#include <stop_token>
#include <string>
#include <string_view>

#include "duplicates/TwinScanner.h"
#include "filter/FilterCriteria.h"

namespace quarn {

// Starts RunSearch as a job of the engine; false (and "App is busy..") while
// a scan, a verification or a feed works on the index.
bool StartFileSearch(TwinScanner& twins, const FilterCriteria& criteria);

void RunSearch(TwinScanner& twins, const FilterCriteria& criteria, std::stop_token stop = {});

// A bound in bytes: the text read as atol does (leading blanks, digits up to
// the first other character, 0 when there are none) times 1024. 0 = open;
// negative numbers count as 0, overflow as the largest size.
uint64_t SizeBoundBytes(const std::string& kilobytes);

// Lower case per character in the current LC_CTYPE locale; bytes that do not
// form a character there are kept as they are.
std::string LowerCaseInLocale(std::string_view text);

}  // namespace quarn

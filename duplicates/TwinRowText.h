#pragma once
// The texts of a twin row's cells, as the list shows them and the report
// prints them. Pure functions; any thread.

#include <cstdint>
#include <string>

namespace quarn {

// The Size cell: "1536 Bytes", the full 64-bit size.
std::string FormatSizeText(uint64_t bytes);
// The Modified cell: the local time of a FILETIME, "%d.%m.%y  %H:%M:%S "
// (one trailing blank). A time before 1900 in local time shows the start of
// 1970 (UTC) instead; one that cannot be shown reads empty.
std::string FormatModifiedText(uint64_t fileTime);

}  // namespace quarn

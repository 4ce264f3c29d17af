#pragma once
// The text of a folder's change as the report and the window show it:
// "+1.50 MB (+12%)", "-300 KB (-3%)", "0", or "new"; the share is of the
// earlier size and left out when that was 0.

#include <string>

#include "history/FolderComparison.h"

namespace quarn {

std::string ChangeText(const FolderChange& change);
// A signed size: "+1.50 MB", "-300 KB", "0".
std::string SignedSizeText(int64_t change);

}  // namespace quarn

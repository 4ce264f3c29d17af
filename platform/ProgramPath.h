#pragma once
// Where this program lives, for the settings file beside it and for the
// desktop entry that starts it on a folder.

#include <string>

namespace quarn {

// The real path of the running executable (links resolved), empty when the
// system cannot tell.
std::string ExecutableRealPath();

}  // namespace quarn

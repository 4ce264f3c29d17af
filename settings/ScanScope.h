#pragma once
// What the settings leave out of every scan (Exclude, OneFileSystem), added
// to the walk options a caller already chose (the report's --exclude and
// -x). The scans ask for it when they start, so a change in the Settings
// dialog counts from the next scan on. Any thread.

#include "platform/WalkOptions.h"

namespace quarn {

WalkOptions WithScopeSettings(const WalkOptions& options);

}  // namespace quarn

#pragma once
// `quarn --treemap FILE.png [--size WxH] [--allocated] [--threads N] FOLDER`:
// scans FOLDER with the settings the window uses and writes its treemap as a
// PNG picture, without a display (the offscreen platform).

#include "cli/ProgramArguments.h"

namespace quarn {

// The whole command, before any application object exists (it makes its
// own, on the offscreen platform, named `program`). Returns the exit code:
// 0 written, 1 the picture could not be written, 2 a folder it cannot scan,
// 130 interrupted (nothing written).
int RunTreemapCommand(const cli::TreemapCommandOptions& options, char* program);

}  // namespace quarn

#pragma once
// How a headless command waits for an engine's jobs: the progress line on a
// terminal's stderr meanwhile, and Ctrl+C cancels (the walk stops at its next
// folder and the engine still finishes what it found).

#include <chrono>

#include "cli/Interrupt.h"
#include "cli/ProgressLine.h"
#include "pipeline/ScanProgress.h"

namespace quarn::cli {

// Returns true when Ctrl+C came, before or while the jobs ran. `Engine` is a
// FolderScanner or a TwinScanner.
template <typename Engine>
bool WaitForEngine(Engine& engine) {
    constexpr auto kPollInterval = std::chrono::milliseconds(50);
    ProgressLine progress;
    bool interrupted = false;
    while (!engine.WaitFor(kPollInterval)) {
        if (!interrupted && InterruptRequested()) {
            interrupted = true;
            engine.Cancel();
        }
        if (progress.Enabled()) {
            const ScanProgress now = engine.Progress();
            progress.Update(now.folders, now.files, now.status);
        }
    }
    progress.Clear();
    return interrupted || InterruptRequested();
}

}  // namespace quarn::cli

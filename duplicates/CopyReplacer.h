#pragma once
// Replacing a duplicate copy by a hard link to the file that is kept, or by a
// clone of it that shares its extents, without ever losing the copy's bytes
// unless they are proven equal to the kept file's.
//
// Both files are first re-checked against what the scan saw (device, inode,
// size, time, a regular file, no link followed); anything else is skipped.
//
// HardLink: a link to the kept inode is made under a hidden temporary name in
// the copy's folder, the two files are compared byte by byte, both are
// checked once more, and the link is renamed over the copy. Where the file
// system can, the rename swaps the two names and the old copy is checked
// again after the swap (and swapped back when it changed), so a file put in
// the copy's place at the last moment is never lost. Whatever stops the
// replacement removes the temporary link and leaves the copy as it was. The
// copy's name then shows the kept file's owner, mode and time.
//
// Clone: the kernel is asked to share the kept file's extents with the copy
// in place (FIDEDUPERANGE); it compares the bytes itself and only shares
// equal ranges, so the copy keeps its inode, owner, mode, time and bytes
// whatever happens. A cancelled or refused clone may leave the ranges done
// so far shared, which changes nothing the copy reads.
//
// Dry run: every check that changes nothing, the byte comparison included,
// and for a clone whether the file system takes clones at all (an empty
// request, which can still miss a file system that refuses them later).
//
// bytesFreed is what the disk gets back: for a hard link, the copy's
// allocated bytes when the copy's name was its only link (otherwise its data
// stays with its other links) and 0 otherwise; for a clone, the copy's
// allocated bytes before, since all of its extents become shared (an upper
// bound when some of them were shared already).
//
// Any thread; blocks for the comparison.

#include <cstdint>
#include <functional>
#include <string>

#include "duplicates/ContentFile.h"

namespace quarn {

enum class ReplaceMethod { HardLink, Clone };

struct ReplaceOutcome {
    enum class Kind { Replaced, Skipped, Failed };
    Kind kind = Kind::Failed;
    std::string reason;       // why skipped or failed; empty when replaced
    uint64_t bytesFreed = 0;  // what the disk gets back, see above
};

struct ReplaceHooks {
    // Asked just before a hard link is renamed over the copy (after the last
    // check); false stops there as if the program were interrupted.
    std::function<bool()> beforeRename;
};

// Replaces `copy` (at `copyPath`, as the scan saw it) by a hard link to, or a
// clone of, `kept` (at `keptPath`). With `dryRun` nothing on disk changes and
// Replaced says the replacement would be made. `cancelled` (may be empty) is
// asked between reads; a cancelled replacement is skipped.
ReplaceOutcome ReplaceCopy(ReplaceMethod method, const std::string& keptPath,
                           const ExpectedFile& kept, const std::string& copyPath,
                           const ExpectedFile& copy, bool dryRun,
                           const std::function<bool()>& cancelled, const ReplaceHooks& hooks = {});

}  // namespace quarn

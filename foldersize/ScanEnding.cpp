#include "foldersize/ScanEnding.h"

#include <optional>

#include "foldersize/SizeText.h"
#include "platform/FileSystems.h"
#include "platform/PathRules.h"

namespace quarn {

ScanEnding ComposeEnding(const ScanFacts& facts) {
    ScanEnding ending;
    ending.denominator = facts.total;
    if (!facts.importFile.empty()) {
        // The drive of an imported tree is not this machine's.
        ending.status = facts.importError.empty() ? std::string(kReadyStatus)
                                                  : "Import failed: " + facts.importError;
        ending.status += " [imported " + facts.importFile + "]";
        return ending;
    }
    if (IsNetworkStylePath(facts.path) ||
        FileSystemKindOfPath(facts.path) == FileSystemKind::Network) {
        ending.status = NetworkReadyStatus(facts.path, facts.total, facts.files, facts.folders,
                                           facts.exceptions);
        return ending;
    }
    const std::optional<DiskSpace> space = DiskSpaceOf(facts.path);
    const std::optional<std::string> mountPoint = MountPointOf(facts.path);
    if (!space || !mountPoint) {
        ending.status = kReadyStatus;
        return ending;
    }
    if (facts.relativeToDrive) {
        ending.denominator = space->total;
        ending.ofTotal = false;
    }
    ending.status = FreeSpaceStatus(*mountPoint, space->freeToCaller);
    ending.renameRoot = NormalisedPath(facts.path) == *mountPoint;
    return ending;
}

}  // namespace quarn

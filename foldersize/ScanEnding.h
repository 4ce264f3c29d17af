#pragma once
// How a folder scan ends: the status text the pane and the report show, and
// what the percentages are shares of. Composed when the walk ends and again
// after every change of the tree (the free space and the counts follow).
// Any thread; it asks the file system for the drive's space.

#include <cstdint>
#include <string>

namespace quarn {

struct ScanEnding {
    std::string status;
    uint64_t denominator = 0;  // what every percentage is a share of; 0: none
    bool ofTotal = true;       // the denominator is the scan's total
    bool renameRoot = false;   // a mount point was scanned: its node reads the status
};

struct ScanFacts {
    std::string path;  // the folder walked (or the file imported)
    uint64_t total = 0;
    int64_t files = 0;
    int64_t folders = 0;
    int64_t exceptions = 0;
    // An imported tree: the file it came from, and why it could not be read.
    std::string importFile;
    std::string importError;
    bool relativeToDrive = false;  // RelativToDriveSpace, as read when the scan ended
};

// A network location reports its counts; a local folder the free space of
// its drive (and, with `relativeToDrive`, percentages of the drive's size);
// an import names its file; "Ready" when the drive cannot be read.
ScanEnding ComposeEnding(const ScanFacts& facts);

}  // namespace quarn

#pragma once
// What the window takes from its command line: the mode and the folder to
// scan at once.

#include <optional>
#include <string>
#include <vector>

namespace quarn {

struct StartOptions {
    int scanMode = 0;                   // ScanMode to start in
    std::optional<std::string> folder;  // added to the path box and scanned
    // --import FILE: the Dirmass pane shows the tree read from FILE ("-":
    // standard input) instead of scanning a folder.
    std::optional<std::string> importFile;
};

// `arguments` holds the program name first, then the arguments as given.
// Switches are the exact words "/Dirmass" and "/dupmatch" and every
// argument that begins with "-"; every other argument is a path here, since
// every absolute path begins with "/".
// The mode comes from the switches alone: one that contains "/Dirmass"
// (letter case kept) gives Dirmass, else one that contains "/dupmatch" gives
// Dupmatch, else Dirmass. A folder such as /data/dupmatch_old sets nothing.
// The folder: the first argument that is not a switch, resolved as
// ResolveFolderArgument does (a relative one by the kernel's rules, no
// trailing separator).
StartOptions ParseCommandLine(const std::vector<std::string>& arguments);

}  // namespace quarn

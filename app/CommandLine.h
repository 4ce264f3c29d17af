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
};

// `arguments` holds the program name first, then the arguments as given.
// The mode: "/Dirmass" anywhere in the whole command line (letter case
// kept, also inside other text) gives Dirmass; else "/dupmatch" gives
// Dupmatch; else Dirmass. The folder: the first argument after the program
// name that does not begin with "-" and is not exactly one of the two
// switches; an argument beginning with "/" is a path here.
StartOptions ParseCommandLine(const std::vector<std::string>& arguments);

}  // namespace quarn

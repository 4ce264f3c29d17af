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
    // Every --import when several were given (each a tree of its own under
    // one root); the first is importFile too.
    std::vector<std::string> importSet;
};

// `arguments` holds the program name first, then the arguments as given,
// read as ParseProgramArguments (cli/ProgramArguments.h) reads them.
// "/Dirmass" wins over "/dupmatch"; a folder such as /data/dupmatch_old sets
// no mode. The folder is resolved as ResolveFolderArgument does (a relative
// one by the kernel's rules, no trailing separator); an empty one is none.
// A command line that is not the window's gives the defaults: main() has
// refused it before any window exists.
StartOptions ParseCommandLine(const std::vector<std::string>& arguments);

}  // namespace quarn

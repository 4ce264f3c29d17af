#pragma once
// `quarn --report [--dupmatch] [--json] [--allocated] [--largest N] [search options] FOLDER`: runs
// the scan engines without a display and prints what the pane would show.

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "platform/WalkOptions.h"

namespace quarn::cli {

struct ReportOptions {
    std::string folder;
    bool json = false;
    bool dupmatch = false;
    // Sizes are the space files take on the disk, whatever AllocatedSize says.
    bool allocated = false;
    // Any of --filter, --min-kb, --max-kb, --twins-only: a filter search
    // over the scan's tree replaces the scan's own list.
    bool search = false;
    std::string filterText;
    bool sizeRange = false;  // either bound given
    std::string minKB;
    std::string maxKB;
    bool twinsOnly = false;
    // --threads N: threads the walk lists with; 0 for the walk's default.
    unsigned threads = 0;
    bool verify = false;  // --verify: compare the twins' contents after the scan
    // --exclude PATTERN (repeatable) and -x/--one-file-system, added to what
    // the settings leave out.
    std::vector<std::string> exclude;
    bool oneFileSystem = false;
    // --export FILE: write the tree of FOLDER to FILE ("-": stdout) instead
    // of a report.
    bool exportTree = false;
    std::string exportFile;
    // --import FILE: report the tree read from FILE ("-": stdin); no FOLDER.
    bool importTree = false;
    std::string importFile;
    // Every --import, in order, when more than one was given (the first is
    // importFile too).
    std::vector<std::string> importSet;
    // --since FILE: the folder report adds each item's change since FILE.
    std::string sinceFile;
    bool sortByChange = false;  // --sort change
    bool save = false;          // --save: the scan is kept
    // --largest N: the folder report adds the N largest files and the file
    // types; 0 leaves both out (and the scan does not keep them).
    size_t largest = 0;
    // --max-depth N: the folder report lists items down to depth N (the root
    // is 0); deeper folders count in their ancestors only. None: every item.
    std::optional<size_t> maxDepth;
    // --content: twins are files of identical content whatever their names.
    bool content = false;
    // --reference DIR (repeatable): files there are never selected or replaced.
    std::vector<std::string> references;
    // --no-cache: the content search neither uses nor writes the hash cache.
    bool noCache = false;
    // --dedupe hardlink|clone: each copy is replaced; --dry-run: only said.
    enum class Dedupe { None, HardLink, Clone } dedupe = Dedupe::None;
    bool dryRun = false;
};

// The walk options the report's scans run with; the engines add the
// settings' scope when they start.
WalkOptions ReportWalkOptions(const ReportOptions& options);

// The whole report or export of parsed options (cli/ProgramArguments.h):
// check the folder, run, print, close standard output. Returns the exit
// code: 0 done, 1 the report could not be written whole ("quarn: write
// error: ..." on stderr), 2 a folder it cannot scan, 130 interrupted (after
// printing what was found until then). A relative folder is resolved by the
// kernel's rules (ResolveFolderArgument).
int RunReportCommand(const ReportOptions& options);

// 0 when `folder` can be listed; otherwise says why on stderr and returns 2.
// Below the root an unreadable folder is an empty one, but the root itself
// is what the user asked for.
int CheckReadableFolder(const std::string& folder);

// The two reports (cli/FolderReport.cpp, cli/TwinReport.cpp); `folder` has
// been checked to be an existing folder. Each resolves it, prints to
// standard output and flushes it; the exit codes are those above, and a
// failed write gives 1 whether or not the scan was interrupted.
// With --import the folder report reads the tree from the file; a file that
// cannot be read or is damaged gives 2 and prints nothing on stdout.
int RunFolderReport(const ReportOptions& options);
int RunTwinReport(const ReportOptions& options);

}  // namespace quarn::cli

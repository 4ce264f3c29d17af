// The table of the program's options: every row with its spellings, its
// value, the modes that take it and its help text (cli/ProgramArguments.h).

#include "cli/ProgramArguments.h"

namespace quarn::cli {

namespace {

constexpr unsigned kEveryMode =
    kWindowMode | kReportMode | kExportMode | kTreemapMode | kUiBenchMode | kDedupeMode;
constexpr unsigned kScanModes = kReportMode | kExportMode | kDedupeMode;
// The bench opens the window, so it takes Qt's options as the window does.
constexpr unsigned kToolkitModes = kWindowMode | kUiBenchMode;

constexpr const char* kWindowSection = "Window";
constexpr const char* kReportSection = "Headless report (no display needed)";
constexpr const char* kTreemapSection = "Treemap picture (no display needed)";
constexpr const char* kDedupeSection = "Space back from copies (no display needed)";
constexpr const char* kEverySection = "Every mode";
constexpr const char* kInformationSection = "Information";

using enum OptionId;

// In the help's order; a row without a section stays out of the help.
constexpr ProgramOption kOptions[] = {
    {StartInDirmass, "/Dirmass", nullptr, nullptr, kWindowMode, 0, kWindowSection,
     "start in Dirmass, the folder sizes (the default; wins over /dupmatch)"},
    {StartInDupmatch, "/dupmatch", nullptr, nullptr, kWindowMode, 0, kWindowSection,
     "start in Dupmatch, the twin files"},
    {Folder, "FOLDER", nullptr, nullptr, kEveryMode, 0, kWindowSection,
     "add FOLDER to the path box and scan it at once"},
    {Import, "--import", nullptr, "FILE", kWindowMode, 0, kWindowSection,
     "show the tree and the twins of an export FILE (- for standard input;\n"
     "plain, .zst or .gz); repeatable: each FILE is a tree of its own under\n"
     "one root \"imported\""},

    {Report, "--report", nullptr, nullptr, kReportMode, kReportMode, kReportSection,
     "scan FOLDER and print what the pane would show when the scan ends"},
    {TwinList, "--dupmatch", nullptr, nullptr, kReportMode, 0, kReportSection,
     "the twin-file list instead of the folder sizes"},
    {Json, "--json", nullptr, nullptr, kReportMode, 0, kReportSection,
     "print one JSON object instead of text"},
    {Allocated, "--allocated", nullptr, nullptr, kReportMode, 0, kReportSection,
     "folder sizes: the space files take on the disk, not their lengths"},
    {Threads, "--threads", nullptr, "N", kScanModes, 0, kReportSection,
     "list folders on N threads, 1 to 64; the output is the same for any N"},
    {Largest, "--largest", nullptr, "N", kReportMode, 0, kReportSection,
     "folder sizes: add the N largest files and the files and bytes per type"},
    {MaxDepth, "--max-depth", nullptr, "N", kReportMode, 0, kReportSection,
     "folder sizes: list folders down to N levels below FOLDER (0: FOLDER\n"
     "alone); deeper ones count in their parents' sizes only"},
    {Since, "--since", nullptr, "FILE", kReportMode, 0, kReportSection,
     "folder sizes: add each folder's change since the earlier scan or export\n"
     "FILE, the new folders and the removed ones (FOLDER or --import FILE)"},
    {SortBy, "--sort", nullptr, "change", kReportMode, 0, kReportSection,
     "folder sizes with --since: order each folder's items by change"},
    {Save, "--save", nullptr, nullptr, kReportMode, 0, kReportSection,
     "folder sizes: keep the scan among the kept scans (setting KeepScans)"},
    {Verify, "--verify", nullptr, nullptr, kReportMode, 0, kReportSection,
     "twin files: compare the contents of every group after the scan"},
    {Exclude, "--exclude", nullptr, "PATTERN", kScanModes, 0, kReportSection,
     "leave out entries whose name matches PATTERN (*, ?, [...]);\n"
     "a PATTERN with a / matches the path below FOLDER, a trailing /\n"
     "only folders; repeatable, added to the setting Exclude"},
    {OneFileSystem, "--one-file-system", "-x", nullptr, kScanModes, 0, kReportSection,
     "do not enter folders on another file system than FOLDER's (shown, size 0)"},
    {Filter, "--filter", nullptr, "TEXT", kReportMode, 0, kReportSection,
     "twin files: only names that contain TEXT, in any case"},
    {MinKB, "--min-kb", nullptr, "N", kReportMode, 0, kReportSection,
     "twin files: only files larger than N KB (0: no lower bound)"},
    {MaxKB, "--max-kb", nullptr, "N", kReportMode, 0, kReportSection,
     "twin files: only files smaller than N KB (0: no upper bound)"},
    {TwinsOnly, "--twins-only", nullptr, nullptr, kReportMode, 0, kReportSection,
     "twin files: only files that have a twin"},
    {Content, "--content", nullptr, nullptr, kReportMode, 0, kReportSection,
     "twin files: files of identical content, whatever their names;\n"
     "--min-kb and --max-kb then bound the files compared"},
    {Reference, "--reference", nullptr, "DIR", kReportMode | kDedupeMode, 0, kReportSection,
     "twin files: files in DIR are never selected, trashed or replaced;\n"
     "DIR is scanned too; repeatable, added to the setting ReferenceFolders"},
    {NoCache, "--no-cache", nullptr, nullptr, kReportMode | kDedupeMode, 0, kReportSection,
     "content search: neither use nor write the hash cache"},
    {Export, "--export", nullptr, "FILE", kExportMode, kExportMode, kReportSection,
     "write the tree of FOLDER to FILE (- for standard output) as it is\n"
     "walked, in ncdu's JSON export format 1.2, instead of a report;\n"
     "the scan is kept too (setting KeepScans)"},
    {Import, "--import", nullptr, "FILE", kReportMode, 0, kReportSection,
     "report the tree of an export FILE (- for standard input; plain, .zst\n"
     "or .gz); repeatable: each FILE is a tree of its own under one root\n"
     "\"imported\""},

    {Dedupe, "--dedupe", nullptr, "METHOD", kDedupeMode, kDedupeMode, kDedupeSection,
     "find the files of FOLDER with identical content and replace each copy\n"
     "by a hard link to (METHOD hardlink) or a clone of (METHOD clone) the\n"
     "file kept: a reference file, else the oldest, else the first path"},
    {DryRun, "--dry-run", nullptr, nullptr, kDedupeMode, 0, kDedupeSection,
     "print each replacement that would be made, and change nothing"},
    {Json, "--json", nullptr, nullptr, kDedupeMode, 0, kDedupeSection,
     "print one JSON object instead of text"},
    {Reference, "--reference", nullptr, "DIR", kDedupeMode, 0, kDedupeSection,
     "files in DIR are kept, never replaced; DIR is scanned too"},

    {Treemap, "--treemap", nullptr, "FILE.png", kTreemapMode, kTreemapMode, kTreemapSection,
     "scan FOLDER and write its treemap to FILE.png"},
    {Size, "--size", nullptr, "WxH", kTreemapMode, 0, kTreemapSection,
     "the picture's width and height in pixels (default 1600x1000)"},
    {Allocated, "--allocated", nullptr, nullptr, kTreemapMode, 0, kTreemapSection,
     "sizes: the space files take on the disk, not their lengths"},
    {Threads, "--threads", nullptr, "N", kTreemapMode, 0, kTreemapSection,
     "list folders on N threads, 1 to 64"},

    {EndOfOptions, "--", nullptr, nullptr, kEveryMode, 0, kEverySection,
     "every argument after it is the folder, even one beginning with -"},

    {Help, "--help", "-h", nullptr, kEveryMode, 0, kInformationSection, "print this help and exit"},
    {Version, "--version", nullptr, nullptr, kEveryMode, 0, kInformationSection,
     "print the version and exit"},

    {UiBench, "--bench-ui", nullptr, nullptr, kUiBenchMode, kUiBenchMode, nullptr,
     "measure how the window keeps up with a scan of FOLDER"},
    // Qt's documented options (QGuiApplication, QApplication, X11): Qt's to
    // explain, ours only to pass on.
    {Toolkit, "-platform", nullptr, "NAME", kToolkitModes, 0, nullptr, nullptr},
    {Toolkit, "-platformpluginpath", nullptr, "PATH", kToolkitModes, 0, nullptr, nullptr},
    {Toolkit, "-platformtheme", nullptr, "NAME", kToolkitModes, 0, nullptr, nullptr},
    {Toolkit, "-plugin", nullptr, "NAME", kToolkitModes, 0, nullptr, nullptr},
    {Toolkit, "-qmljsdebugger=", nullptr, nullptr, kToolkitModes, 0, nullptr, nullptr},
    {Toolkit, "-qwindowgeometry", nullptr, "GEOMETRY", kToolkitModes, 0, nullptr, nullptr},
    {Toolkit, "-qwindowicon", nullptr, "ICON", kToolkitModes, 0, nullptr, nullptr},
    {Toolkit, "-qwindowtitle", nullptr, "TITLE", kToolkitModes, 0, nullptr, nullptr},
    {Toolkit, "-reverse", nullptr, nullptr, kToolkitModes, 0, nullptr, nullptr},
    {Toolkit, "-session", nullptr, "SESSION", kToolkitModes, 0, nullptr, nullptr},
    {Toolkit, "-display", nullptr, "DISPLAY", kToolkitModes, 0, nullptr, nullptr},
    {Toolkit, "-geometry", nullptr, "GEOMETRY", kToolkitModes, 0, nullptr, nullptr},
    {Toolkit, "-style", nullptr, "STYLE", kToolkitModes, 0, nullptr, nullptr},
    {Toolkit, "-style=", nullptr, nullptr, kToolkitModes, 0, nullptr, nullptr},
    {Toolkit, "-stylesheet", nullptr, "FILE", kToolkitModes, 0, nullptr, nullptr},
    {Toolkit, "-stylesheet=", nullptr, nullptr, kToolkitModes, 0, nullptr, nullptr},
    {Toolkit, "-widgetcount", nullptr, nullptr, kToolkitModes, 0, nullptr, nullptr},
};

}  // namespace

std::span<const ProgramOption> ProgramOptions() {
    return kOptions;
}

}  // namespace quarn::cli

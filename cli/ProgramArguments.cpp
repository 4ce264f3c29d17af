#include "cli/ProgramArguments.h"

#include <string_view>

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
     "show the tree and the twins of an export FILE (- for standard input)"},

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
     "walked, in ncdu's JSON export format 1.2, instead of a report"},
    {Import, "--import", nullptr, "FILE", kReportMode, 0, kReportSection,
     "report the tree of an export FILE (- for standard input)"},

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

// More threads than this only wait for each other.
constexpr unsigned long kMaxThreads = 64;
// Every kept file holds its path; a million of them is already a lot of memory.
constexpr unsigned long kMaxLargest = 1000000;
// Deeper than any tree a listing can be held of; more digits are a typo.
constexpr unsigned long kMaxDepth = 999999999;
constexpr int kMinimumSide = 16;
constexpr int kMaximumSide = 16384;

bool Spells(const ProgramOption& option, const std::string& argument) {
    if (option.id == Folder) {
        return false;
    }
    if (argument == option.name || (option.shortName && argument == option.shortName)) {
        return true;
    }
    if (option.id != Toolkit) {
        return false;
    }
    // Qt reads "--platform" as "-platform", and "-style=fusion" as it is.
    const std::string_view name = option.name;
    std::string_view typed = argument;
    if (typed.starts_with("--")) {
        typed.remove_prefix(1);
    }
    return name.ends_with('=') ? typed.starts_with(name) : typed == name;
}

const ProgramOption* FindOption(const std::string& argument) {
    for (const ProgramOption& option : kOptions) {
        if (Spells(option, argument)) {
            return &option;
        }
    }
    return nullptr;
}

// "the window", "the window and --report", "--report, --export and --treemap".
std::string ModeNames(unsigned modes) {
    std::vector<std::string> names;
    // The bench is for measurements and never named.
    for (unsigned mode : {kWindowMode, kReportMode, kExportMode, kTreemapMode, kDedupeMode}) {
        if (modes & mode) {
            names.push_back(ModeName(mode));
        }
    }
    std::string text;
    for (size_t i = 0; i < names.size(); ++i) {
        text += i == 0 ? "" : i + 1 == names.size() ? " and " : ", ";
        text += names[i];
    }
    return text;
}

bool IsDigits(const std::string& text) {
    return !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
}

std::optional<unsigned> ThreadCount(const std::string& text, std::string& error) {
    if (!IsDigits(text) || text.size() > 3 || std::stoul(text) == 0 ||
        std::stoul(text) > kMaxThreads) {
        error = "--threads takes a number from 1 to " + std::to_string(kMaxThreads) + ", not '" +
                text + "'";
        return std::nullopt;
    }
    return unsigned(std::stoul(text));
}

std::optional<int> PictureSide(const std::string& text) {
    if (!IsDigits(text) || text.size() > 5) {
        return std::nullopt;
    }
    const int side = std::stoi(text);
    if (side < kMinimumSide || side > kMaximumSide) {
        return std::nullopt;
    }
    return side;
}

// One option as given, with its value when it takes one.
struct GivenOption {
    const ProgramOption* option;
    std::string typed;
    std::string value;
};

struct Reading {
    std::vector<GivenOption> options;
    std::vector<std::string> folders;
};

std::optional<std::string> TooManyFolders(const Reading& reading) {
    if (reading.folders.size() > 1) {
        return "only one folder can be scanned, got also " + reading.folders[1];
    }
    return std::nullopt;
}

ProgramCommand ReadReport(const Reading& reading, unsigned mode) {
    ReportOptions options;
    std::string error;
    for (const GivenOption& given : reading.options) {
        const std::string& value = given.value;
        switch (given.option->id) {
            case TwinList:
                options.dupmatch = true;
                break;
            case Json:
                options.json = true;
                break;
            case Allocated:
                options.allocated = true;
                break;
            case Verify:
                options.verify = true;
                break;
            case TwinsOnly:
                options.search = options.twinsOnly = true;
                break;
            case Content:
                options.content = true;
                break;
            case Reference:
                options.references.push_back(value);
                break;
            case NoCache:
                options.noCache = true;
                break;
            case Dedupe:
                if (value == "hardlink") {
                    options.dedupe = ReportOptions::Dedupe::HardLink;
                } else if (value == "clone") {
                    options.dedupe = ReportOptions::Dedupe::Clone;
                } else {
                    return UsageError{"--dedupe takes hardlink or clone, not '" + value + "'"};
                }
                break;
            case DryRun:
                options.dryRun = true;
                break;
            case Filter:
                options.search = true;
                options.filterText = value;
                break;
            case MinKB:
            case MaxKB:
                if (!IsDigits(value)) {
                    return UsageError{given.typed + " takes a whole number of KB, not '" + value +
                                      "'"};
                }
                options.sizeRange = true;
                (given.option->id == MinKB ? options.minKB : options.maxKB) = value;
                break;
            case Export:
                options.exportTree = true;
                options.exportFile = value;
                break;
            case Import:
                options.importTree = true;
                options.importFile = value;
                break;
            case Exclude:
                options.exclude.push_back(value);
                break;
            case OneFileSystem:
                options.oneFileSystem = true;
                break;
            case Threads:
                if (std::optional<unsigned> threads = ThreadCount(value, error)) {
                    options.threads = *threads;
                } else {
                    return UsageError{error};
                }
                break;
            case Largest:
                if (!IsDigits(value) || value.size() > 7 || std::stoul(value) == 0 ||
                    std::stoul(value) > kMaxLargest) {
                    return UsageError{"--largest takes a number from 1 to " +
                                      std::to_string(kMaxLargest) + ", not '" + value + "'"};
                }
                options.largest = size_t(std::stoul(value));
                break;
            case MaxDepth:
                if (!IsDigits(value) || value.size() > 9) {
                    return UsageError{"--max-depth takes a number of levels from 0 to " +
                                      std::to_string(kMaxDepth) + ", not '" + value + "'"};
                }
                options.maxDepth = size_t(std::stoul(value));
                break;
            default:
                break;
        }
    }
    if (std::optional<std::string> tooMany = TooManyFolders(reading)) {
        return UsageError{*tooMany};
    }
    const bool haveFolder = !reading.folders.empty();
    if (haveFolder) {
        options.folder = reading.folders.front();
    }
    if (options.importTree) {
        if (haveFolder) {
            return UsageError{"--import takes the tree from its file, not from " + options.folder};
        }
        if (options.threads != 0 || !options.exclude.empty() || options.oneFileSystem) {
            return UsageError{"--threads, --exclude and -x do not apply to --import"};
        }
    } else if (!haveFolder) {
        return UsageError{"no folder given"};
    }
    if (options.allocated && options.dupmatch) {
        return UsageError{"--allocated is for the folder report, not --dupmatch"};
    }
    // With --content the size bounds choose the files compared; otherwise
    // they are a filter search's.
    options.search = options.search || (options.sizeRange && !options.content);
    if ((options.search || options.sizeRange) && !options.dupmatch) {
        return UsageError{"--filter, --min-kb, --max-kb and --twins-only need --dupmatch"};
    }
    if ((options.content || !options.references.empty()) && !options.dupmatch &&
        mode == kReportMode) {
        return UsageError{"--content and --reference need --dupmatch"};
    }
    if (options.content && options.importTree) {
        return UsageError{"--content reads the files: it needs a folder, not --import"};
    }
    if (options.largest > 0 && options.dupmatch) {
        return UsageError{"--largest belongs to the folder report, not to --dupmatch"};
    }
    if (options.maxDepth && options.dupmatch) {
        return UsageError{"--max-depth belongs to the folder report, not to --dupmatch"};
    }
    if (options.verify && !options.dupmatch) {
        return UsageError{"--verify needs --dupmatch"};
    }
    if (mode == kExportMode) {
        return ExportArguments{std::move(options)};
    }
    if (mode == kDedupeMode) {
        return DedupeArguments{std::move(options)};
    }
    return ReportArguments{std::move(options)};
}

ProgramCommand ReadTreemap(const Reading& reading) {
    TreemapCommandOptions options;
    std::string error;
    for (const GivenOption& given : reading.options) {
        const std::string& value = given.value;
        switch (given.option->id) {
            case Treemap:
                if (value.empty()) {
                    return UsageError{"--treemap needs a file name"};
                }
                options.pictureFile = value;
                break;
            case Size: {
                const size_t x = value.find('x');
                std::optional<int> width, height;
                if (x != std::string::npos) {
                    width = PictureSide(value.substr(0, x));
                    height = PictureSide(value.substr(x + 1));
                }
                if (!width || !height) {
                    return UsageError{"--size wants WIDTHxHEIGHT, each " +
                                      std::to_string(kMinimumSide) + " to " +
                                      std::to_string(kMaximumSide) + ", not '" + value + "'"};
                }
                options.width = *width;
                options.height = *height;
                break;
            }
            case Allocated:
                options.allocated = true;
                break;
            case Threads:
                if (std::optional<unsigned> threads = ThreadCount(value, error)) {
                    options.threads = *threads;
                } else {
                    return UsageError{error};
                }
                break;
            default:
                break;
        }
    }
    if (std::optional<std::string> tooMany = TooManyFolders(reading)) {
        return UsageError{*tooMany};
    }
    if (reading.folders.empty()) {
        return UsageError{"--treemap needs a folder"};
    }
    options.folder = reading.folders.front();
    return TreemapArguments{std::move(options)};
}

std::vector<std::string> ToolkitArguments(const Reading& reading) {
    std::vector<std::string> arguments;
    for (const GivenOption& given : reading.options) {
        if (given.option->id == Toolkit) {
            arguments.push_back(given.typed);
            if (given.option->valueName) {
                arguments.push_back(given.value);
            }
        }
    }
    return arguments;
}

ProgramCommand ReadWindow(const Reading& reading) {
    WindowArguments window;
    bool dirmass = false;
    for (const GivenOption& given : reading.options) {
        switch (given.option->id) {
            case StartInDirmass:
                dirmass = true;
                break;
            case StartInDupmatch:
                window.dupmatch = true;
                break;
            case Import:
                window.importFile = given.value;
                break;
            default:
                break;
        }
    }
    window.dupmatch = window.dupmatch && !dirmass;
    if (std::optional<std::string> tooMany = TooManyFolders(reading)) {
        return UsageError{*tooMany};
    }
    if (!reading.folders.empty()) {
        window.folder = reading.folders.front();
        if (window.importFile) {
            return UsageError{"--import takes the tree from its file, not from " + *window.folder};
        }
    }
    window.toolkitArguments = ToolkitArguments(reading);
    return window;
}

ProgramCommand ReadUiBench(const Reading& reading) {
    if (std::optional<std::string> tooMany = TooManyFolders(reading)) {
        return UsageError{*tooMany};
    }
    if (reading.folders.empty()) {
        return UsageError{"no folder given"};
    }
    return UiBenchArguments{reading.folders.front(), ToolkitArguments(reading)};
}

}  // namespace

std::span<const ProgramOption> ProgramOptions() {
    return kOptions;
}

unsigned ModesAccepting(const std::string& name) {
    unsigned modes = 0;
    for (const ProgramOption& option : kOptions) {
        if (Spells(option, name)) {
            modes |= option.modes;
        }
    }
    return modes;
}

const char* ModeName(unsigned mode) {
    switch (mode) {
        case kWindowMode:
            return "the window";
        case kReportMode:
            return "--report";
        case kExportMode:
            return "--export";
        case kTreemapMode:
            return "--treemap";
        case kDedupeMode:
            return "--dedupe";
        default:
            return "--bench-ui";
    }
}

ProgramCommand ParseProgramArguments(const std::vector<std::string>& arguments) {
    Reading reading;
    std::optional<ProgramCommand> information;  // --help or --version, the first one given
    std::optional<std::string> error;           // the first one; help still wins over it
    const ProgramOption* modeOption = nullptr;
    bool onlyFolders = false;
    for (size_t i = 1; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        const ProgramOption* option = onlyFolders ? nullptr : FindOption(argument);
        if (option == nullptr) {
            // A lone "-" is a name like any other.
            if (!onlyFolders && argument.size() > 1 && argument.starts_with('-')) {
                error = error.value_or("unknown option " + argument);
            } else {
                reading.folders.push_back(argument);
            }
            continue;
        }
        GivenOption given{option, argument, {}};
        if (option->valueName) {
            if (i + 1 == arguments.size()) {
                error = error.value_or(argument + " needs a value");
                break;
            }
            given.value = arguments[++i];
        }
        if (option->id == EndOfOptions) {
            onlyFolders = true;
            continue;
        }
        if (option->id == Help || option->id == Version) {
            if (!information) {
                information = option->id == Help ? ProgramCommand(HelpRequest{})
                                                 : ProgramCommand(VersionRequest{});
            }
            continue;
        }
        if (option->selects != 0) {
            if (modeOption == nullptr) {
                modeOption = option;
            } else if (modeOption->selects != option->selects) {
                error = error.value_or(std::string(modeOption->name) + " and " + option->name +
                                       " cannot be combined");
            }
        }
        reading.options.push_back(std::move(given));
    }
    if (information) {
        return *information;
    }
    if (error) {
        return UsageError{*error};
    }
    const unsigned mode = modeOption != nullptr ? modeOption->selects : kWindowMode;
    for (const GivenOption& given : reading.options) {
        const unsigned modes = ModesAccepting(given.typed);
        if ((modes & mode) == 0) {
            return UsageError{given.typed + " is for " + ModeNames(modes) + ", not for " +
                              ModeName(mode)};
        }
    }
    switch (mode) {
        case kReportMode:
        case kExportMode:
        case kDedupeMode:
            return ReadReport(reading, mode);
        case kTreemapMode:
            return ReadTreemap(reading);
        case kUiBenchMode:
            return ReadUiBench(reading);
        default:
            return ReadWindow(reading);
    }
}

}  // namespace quarn::cli

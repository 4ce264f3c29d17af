#include "cli/ProgramArguments.h"

#include <string_view>

#include "cli/HistoryArguments.h"

namespace quarn::cli {

namespace {

using enum OptionId;

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
    for (const ProgramOption& option : ProgramOptions()) {
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
                // More than one: a tree of each under one root.
                options.importSet.push_back(value);
                options.importFile = options.importTree ? options.importFile : value;
                options.importTree = true;
                break;
            case Since:
            case SortBy:
            case Save:
                if (!ReadHistoryOption(given.option->id, value, options, error)) {
                    return UsageError{error};
                }
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
    if (options.importSet.size() == 1) {
        options.importSet.clear();  // one file is read as it is
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
    if (std::optional<std::string> refused = RefusedHistoryOptions(options)) {
        return UsageError{*refused};
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
                window.importSet.push_back(given.value);
                window.importFile = window.importFile.value_or(given.value);
                break;
            default:
                break;
        }
    }
    window.dupmatch = window.dupmatch && !dirmass;
    if (window.importSet.size() == 1) {
        window.importSet.clear();
    }
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

unsigned ModesAccepting(const std::string& name) {
    unsigned modes = 0;
    for (const ProgramOption& option : ProgramOptions()) {
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

#pragma once
// The one reading of the command line, for every mode: the window, the
// headless report, the export, the treemap picture, the help and the
// version. Every option is a row of one table (ProgramOptions) that says
// which modes take it; the help (cli/ProgramHelp.h) is printed from the same
// rows, so the two cannot drift apart.
//
// The rules are the same everywhere: an option's value is always the next
// argument; after "--" every argument is a folder; "--help", "-h" and
// "--version" win wherever they stand before a "--"; an unknown option, an
// option of another mode and two modes at once are refused.

#include <optional>
#include <span>
#include <string>
#include <variant>
#include <vector>

#include "cli/ReportCommand.h"

namespace quarn::cli {

// The modes, as bits so that a row can name several.
enum ProgramMode : unsigned {
    kWindowMode = 1,
    kReportMode = 2,
    kExportMode = 4,
    kTreemapMode = 8,
    kUiBenchMode = 16,  // measurements only; not in the help
    kDedupeMode = 32,
};

enum class OptionId {
    Folder,        // the help's FOLDER row; never matched as an option
    EndOfOptions,  // --
    Help,
    Version,
    StartInDirmass,
    StartInDupmatch,
    Import,
    Report,
    Since,
    SortBy,
    Save,
    TwinList,  // the report's --dupmatch
    Json,
    Allocated,
    Threads,
    Largest,
    MaxDepth,
    Verify,
    Exclude,
    OneFileSystem,
    Filter,
    MinKB,
    MaxKB,
    TwinsOnly,
    Content,
    Reference,
    NoCache,
    Dedupe,
    DryRun,
    Export,
    Treemap,
    Size,
    UiBench,
    Toolkit,  // one of Qt's own options, handed to it untouched
};

struct ProgramOption {
    OptionId id;
    const char* name;       // "--threads", "/Dirmass"; a name ending in "=" takes its value within
    const char* shortName;  // "-x", or nullptr
    const char* valueName;  // "N" when the option takes the next argument, else nullptr
    unsigned modes;         // the modes that accept it
    unsigned selects;       // the mode it selects, or 0
    const char* section;    // its section in the help; nullptr keeps it out
    const char* help;
};

// Every row, in the help's order. An option may have a row in several
// sections (--allocated for the report and for the picture); it is accepted
// in the modes of all its rows.
std::span<const ProgramOption> ProgramOptions();

// The modes in which `name` (a long or short spelling) is accepted; 0 for
// an unknown name.
unsigned ModesAccepting(const std::string& name);

// How messages name a mode: "the window", "--report", ...
const char* ModeName(unsigned mode);

// `quarn --treemap FILE.png [--size WxH] [--allocated] [--threads N] FOLDER`.
struct TreemapCommandOptions {
    std::string pictureFile;
    std::string folder;
    int width = 1600;
    int height = 1000;
    bool allocated = false;
    unsigned threads = 0;  // 0: the walk's default
};

struct WindowArguments {
    bool dupmatch = false;              // start in Dupmatch (/dupmatch without /Dirmass)
    std::optional<std::string> folder;  // as given; the window resolves it
    std::optional<std::string> importFile;
    // Every --import, in order, when more than one was given.
    std::vector<std::string> importSet;
    // Qt's own options with their values, in their order: all that the
    // application object is given besides the program's name.
    std::vector<std::string> toolkitArguments;
};

struct ReportArguments {
    ReportOptions options;
};

struct ExportArguments {
    ReportOptions options;  // exportTree is set
};

// `quarn --dedupe hardlink|clone ... FOLDER`: options.dedupe is set.
struct DedupeArguments {
    ReportOptions options;
};

struct TreemapArguments {
    TreemapCommandOptions options;
};

struct UiBenchArguments {
    std::string folder;
    std::vector<std::string> toolkitArguments;
};

struct HelpRequest {};
struct VersionRequest {};

// What is wrong, for "quarn: <message> (see quarn --help)"; exit code 2.
struct UsageError {
    std::string message;
};

using ProgramCommand =
    std::variant<WindowArguments, ReportArguments, ExportArguments, DedupeArguments,
                 TreemapArguments, UiBenchArguments, HelpRequest, VersionRequest, UsageError>;

// `arguments` holds the program's name first, then the arguments as given.
ProgramCommand ParseProgramArguments(const std::vector<std::string>& arguments);

}  // namespace quarn::cli

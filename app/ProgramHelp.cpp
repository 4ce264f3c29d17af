#include "app/ProgramHelp.h"

#include <algorithm>

#include "settings/Settings.h"

#ifndef QUARN_VERSION
#error "QUARN_VERSION must name the program's version"
#endif

namespace quarn {

namespace {

struct HelpedOption {
    const char* typed;  // the option as the user types it, value included
    const char* text;   // what it does
};

struct HelpSection {
    const char* title;
    std::vector<HelpedOption> options;
};

const char* const kUsageLines[] = {
    "quarn [/Dirmass | /dupmatch] [FOLDER]",
    "quarn [/Dirmass | /dupmatch] --import FILE",
    "quarn --report [--json] [--allocated] [--threads N] [--largest N]\n"
    "               [--exclude PATTERN]... [-x] FOLDER",
    "quarn --report [--dupmatch] [--json] --import FILE",
    "quarn --export FILE [--threads N] [--exclude PATTERN]... [-x] FOLDER",
    "quarn --report --dupmatch [--json] [--threads N] [--exclude PATTERN]... [-x]\n"
    "                          [--verify] [--filter TEXT] [--min-kb N] [--max-kb N]\n"
    "                          [--twins-only] FOLDER",
    "quarn --treemap FILE.png [--size WxH] [--allocated] [--threads N] FOLDER",
    "quarn --help | --version",
};

constexpr const char* kReportTitle = "Headless report (no display needed)";

// Every option of the program, by where it applies. Keep in step with the
// window's and the report's parsers.
const std::vector<HelpSection>& Sections() {
    static const std::vector<HelpSection> sections = {
        {"Window",
         {
             {"/Dirmass", "start in Dirmass, the folder sizes (the default; wins over /dupmatch)"},
             {"/dupmatch", "start in Dupmatch, the twin files"},
             {"FOLDER", "add FOLDER to the path box and scan it at once"},
             {"--import FILE",
              "show the tree and the twins of an export FILE (- for standard input)"},
         }},
        {kReportTitle,
         {
             {"--report", "scan FOLDER and print what the pane would show when the scan ends"},
             {"--dupmatch", "the twin-file list instead of the folder sizes"},
             {"--json", "print one JSON object instead of text"},
             {"--allocated", "folder sizes: the space files take on the disk, not their lengths"},
             {"--threads N",
              "list folders on N threads, 1 to 64; the output is the same for any N"},
             {"--largest N",
              "folder sizes: add the N largest files and the files and bytes per type"},
             {"--verify", "twin files: compare the contents of every group after the scan"},
             {"--exclude PATTERN",
              "leave out entries whose name matches PATTERN (*, ?, [...]);\n"
              "a PATTERN with a / matches the path below FOLDER, a trailing /\n"
              "only folders; repeatable, added to the setting Exclude"},
             {"-x, --one-file-system",
              "do not enter folders on another file system than FOLDER's (shown, size 0)"},
             {"--filter TEXT", "twin files: only names that contain TEXT, in any case"},
             {"--min-kb N", "twin files: only files larger than N KB (0: no lower bound)"},
             {"--max-kb N", "twin files: only files smaller than N KB (0: no upper bound)"},
             {"--twins-only", "twin files: only files that have a twin"},
             {"--export FILE",
              "write the tree of FOLDER to FILE (- for standard output) as it is\n"
              "walked, in ncdu's JSON export format 1.2, instead of a report"},
             {"--import FILE", "report the tree of an export FILE (- for standard input)"},
             {"--", "every argument after it is the folder, even one beginning with -"},
         }},
        {"Treemap picture (no display needed)",
         {
             {"--treemap FILE.png", "scan FOLDER and write its treemap to FILE.png"},
             {"--size WxH", "the picture's width and height in pixels (default 1600x1000)"},
             {"--allocated", "sizes: the space files take on the disk, not their lengths"},
             {"--threads N", "list folders on N threads, 1 to 64"},
         }},
        {"Information",
         {
             {"-h, --help", "print this help and exit"},
             {"--version", "print the version and exit"},
         }},
    };
    return sections;
}

}  // namespace

ProgramInfo RequestedProgramInfo(const std::vector<std::string>& arguments) {
    for (size_t i = 1; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (argument == "--") {
            break;
        }
        if (argument == "--help" || argument == "-h") {
            return ProgramInfo::Help;
        }
        if (argument == "--version") {
            return ProgramInfo::Version;
        }
    }
    return ProgramInfo::None;
}

std::string ProgramHelpText() {
    std::string text =
        "Quarn shows where the space on a disk went and which files exist twice.\n\n";
    const char* lead = "usage: ";
    for (const char* line : kUsageLines) {
        text += lead;
        text += line;
        text += '\n';
        lead = "       ";
    }
    size_t width = 0;
    for (const HelpSection& section : Sections()) {
        for (const HelpedOption& option : section.options) {
            width = std::max(width, std::string(option.typed).size());
        }
    }
    for (const HelpSection& section : Sections()) {
        text += '\n';
        text += section.title;
        text += ":\n";
        for (const HelpedOption& option : section.options) {
            std::string typed = option.typed;
            typed.resize(width, ' ');
            // A long text goes on below, under its first line.
            std::string explained = option.text;
            for (size_t at = explained.find('\n'); at != std::string::npos;
                 at = explained.find('\n', at + 1)) {
                explained.insert(at + 1, width + 4, ' ');
            }
            text += "  " + typed + "  " + explained + "\n";
        }
    }
    text +=
        "\nThe report exits with 0 when done, 2 on bad arguments or a folder it cannot\n"
        "scan, 130 when interrupted (after printing what it found so far).\n";
    text += "\nSettings: " + SettingsFilePath() + " (the variable QUARN_INI names another file)\n";
    return text;
}

std::string ProgramVersionText() {
    return std::string("Quarn ") + QUARN_VERSION + "\n";
}

}  // namespace quarn

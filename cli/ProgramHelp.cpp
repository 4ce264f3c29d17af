#include "cli/ProgramHelp.h"

#include <algorithm>
#include <vector>

#include "cli/ProgramArguments.h"
#include "settings/Settings.h"

#ifndef QUARN_VERSION
#error "QUARN_VERSION must name the program's version"
#endif

namespace quarn::cli {

namespace {

const char* const kUsageLines[] = {
    "quarn [/Dirmass | /dupmatch] [FOLDER]",
    "quarn [/Dirmass | /dupmatch] --import FILE [--import FILE]...",
    "quarn --report [--json] [--allocated] [--threads N] [--largest N]\n"
    "               [--exclude PATTERN]... [-x] [--save] FOLDER",
    "quarn --report [--json] --since FILE [--sort change] FOLDER",
    "quarn --report [--dupmatch] [--json] --import FILE [--import FILE]...",
    "quarn --export FILE [--threads N] [--exclude PATTERN]... [-x] FOLDER",
    "quarn --report --dupmatch [--json] [--threads N] [--exclude PATTERN]... [-x]\n"
    "                          [--verify] [--filter TEXT] [--min-kb N] [--max-kb N]\n"
    "                          [--twins-only] FOLDER",
    "quarn --report --dupmatch --content [--json] [--reference DIR]... [--no-cache]\n"
    "                          [--min-kb N] [--max-kb N] FOLDER",
    "quarn --dedupe METHOD [--dry-run] [--json] [--reference DIR]... [--no-cache]\n"
    "               [--threads N] [--exclude PATTERN]... [-x] FOLDER",
    "quarn --treemap FILE.png [--size WxH] [--allocated] [--threads N] FOLDER",
    "quarn --help | --version",
};

// The option as the user types it, value included: "-x, --one-file-system",
// "--threads N".
std::string Typed(const ProgramOption& option) {
    std::string typed;
    if (option.shortName) {
        typed = std::string(option.shortName) + ", ";
    }
    typed += option.name;
    if (option.valueName) {
        typed += std::string(" ") + option.valueName;
    }
    return typed;
}

}  // namespace

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
    std::vector<std::string> sections;  // in the order the table first names them
    for (const ProgramOption& option : ProgramOptions()) {
        if (option.section == nullptr) {
            continue;
        }
        width = std::max(width, Typed(option).size());
        if (std::find(sections.begin(), sections.end(), option.section) == sections.end()) {
            sections.push_back(option.section);
        }
    }
    for (const std::string& section : sections) {
        text += '\n' + section + ":\n";
        for (const ProgramOption& option : ProgramOptions()) {
            if (option.section == nullptr || section != option.section) {
                continue;
            }
            std::string typed = Typed(option);
            typed.resize(width, ' ');
            // A long text goes on below, under its first line.
            std::string explained = option.help;
            for (size_t at = explained.find('\n'); at != std::string::npos;
                 at = explained.find('\n', at + 1)) {
                explained.insert(at + 1, width + 4, ' ');
            }
            text += "  " + typed + "  " + explained + "\n";
        }
    }
    text +=
        "\nThe window also takes Qt's own options, such as -platform NAME, -style NAME\n"
        "and -reverse.\n";
    text +=
        "\nThe report exits with 0 when done, 2 on bad arguments or a folder it cannot\n"
        "scan, 130 when interrupted (after printing what it found so far). Every mode\n"
        "refuses an unknown option, or one of another mode, with 2.\n";
    text += "\nSettings: " + SettingsFilePath() + " (the variable QUARN_INI names another file)\n";
    return text;
}

std::string ProgramVersionText() {
    return std::string("Quarn ") + QUARN_VERSION + "\n";
}

}  // namespace quarn::cli

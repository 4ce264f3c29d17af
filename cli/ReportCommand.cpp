#include "cli/ReportCommand.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "cli/ExportCommand.h"
#include "cli/Interrupt.h"
#include "cli/ReportOutput.h"
#include "settings/Settings.h"

namespace quarn::cli {

namespace {

// More threads than this only wait for each other.
constexpr unsigned long kMaxThreads = 64;
// Every kept file holds its path; a million of them is already a lot of memory.
constexpr unsigned long kMaxLargest = 1000000;

bool IsDigits(const std::string& text) {
    return !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
}

}  // namespace

std::optional<unsigned> ParseThreadCount(const std::string& text, std::string& error) {
    if (!IsDigits(text) || text.size() > 3 || std::stoul(text) == 0 ||
        std::stoul(text) > kMaxThreads) {
        error = "--threads takes a number from 1 to " + std::to_string(kMaxThreads) + ", not '" +
                text + "'";
        return std::nullopt;
    }
    return unsigned(std::stoul(text));
}

bool IsReportInvocation(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--report") == 0 || std::strcmp(argv[i], "--export") == 0) {
            return true;
        }
    }
    return false;
}

std::optional<ReportOptions> ParseReportArguments(const std::vector<std::string>& args,
                                                  std::string& error) {
    ReportOptions options;
    bool haveFolder = false;
    bool onlyOperands = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        auto value = [&](const char* name) -> std::optional<std::string> {
            if (i + 1 >= args.size()) {
                error = std::string(name) + " needs a value";
                return std::nullopt;
            }
            return args[++i];
        };
        if (!onlyOperands && arg == "--") {
            onlyOperands = true;
        } else if (!onlyOperands && arg == "--report") {
        } else if (!onlyOperands && arg == "--json") {
            options.json = true;
        } else if (!onlyOperands && arg == "--dupmatch") {
            options.dupmatch = true;
        } else if (!onlyOperands && arg == "--verify") {
            options.verify = true;
        } else if (!onlyOperands && arg == "--allocated") {
            options.allocated = true;
        } else if (!onlyOperands && arg == "--twins-only") {
            options.search = options.twinsOnly = true;
        } else if (!onlyOperands && arg == "--filter") {
            auto text = value("--filter");
            if (!text) {
                return std::nullopt;
            }
            options.search = true;
            options.filterText = *text;
        } else if (!onlyOperands && (arg == "--min-kb" || arg == "--max-kb")) {
            auto number = value(arg.c_str());
            if (!number) {
                return std::nullopt;
            }
            if (!IsDigits(*number)) {
                error = arg + " takes a whole number of KB, not '" + *number + "'";
                return std::nullopt;
            }
            options.search = options.sizeRange = true;
            (arg == "--min-kb" ? options.minKB : options.maxKB) = *number;
        } else if (!onlyOperands && (arg == "--export" || arg == "--import")) {
            auto file = value(arg.c_str());
            if (!file) {
                return std::nullopt;
            }
            if (arg == "--export") {
                options.exportTree = true;
                options.exportFile = *file;
            } else {
                options.importTree = true;
                options.importFile = *file;
            }
        } else if (!onlyOperands && arg == "--exclude") {
            auto pattern = value("--exclude");
            if (!pattern) {
                return std::nullopt;
            }
            options.exclude.push_back(*pattern);
        } else if (!onlyOperands && (arg == "-x" || arg == "--one-file-system")) {
            options.oneFileSystem = true;
        } else if (!onlyOperands && arg == "--threads") {
            auto number = value("--threads");
            if (!number) {
                return std::nullopt;
            }
            std::optional<unsigned> threads = ParseThreadCount(*number, error);
            if (!threads) {
                return std::nullopt;
            }
            options.threads = *threads;
        } else if (!onlyOperands && arg == "--largest") {
            auto number = value("--largest");
            if (!number) {
                return std::nullopt;
            }
            if (!IsDigits(*number) || number->size() > 7 || std::stoul(*number) == 0 ||
                std::stoul(*number) > kMaxLargest) {
                error = "--largest takes a number from 1 to " + std::to_string(kMaxLargest) +
                        ", not '" + *number + "'";
                return std::nullopt;
            }
            options.largest = size_t(std::stoul(*number));
        } else if (!onlyOperands && arg.size() > 1 && arg[0] == '-') {
            error = "unknown option " + arg;
            return std::nullopt;
        } else if (!haveFolder) {
            options.folder = arg;
            haveFolder = true;
        } else {
            error = "only one folder can be scanned, got also " + arg;
            return std::nullopt;
        }
    }
    if (options.exportTree && options.importTree) {
        error = "--export and --import cannot be combined";
        return std::nullopt;
    }
    if (options.importTree) {
        if (haveFolder) {
            error = "--import takes the tree from its file, not from " + options.folder;
            return std::nullopt;
        }
        if (options.threads != 0 || !options.exclude.empty() || options.oneFileSystem) {
            error = "--threads, --exclude and -x do not apply to --import";
            return std::nullopt;
        }
    } else if (!haveFolder) {
        error = "no folder given";
        return std::nullopt;
    }
    if (options.allocated && options.dupmatch) {
        error = "--allocated is for the folder report, not --dupmatch";
        return std::nullopt;
    }
    if (options.exportTree && (options.dupmatch || options.json || options.search)) {
        error = "--export writes the tree only; --dupmatch, --json and searches need --report";
        return std::nullopt;
    }
    if (options.search && !options.dupmatch) {
        error = "--filter, --min-kb, --max-kb and --twins-only need --dupmatch";
        return std::nullopt;
    }
    if (options.largest > 0 && options.dupmatch) {
        error = "--largest belongs to the folder report, not to --dupmatch";
        return std::nullopt;
    }
    if (options.verify && !options.dupmatch) {
        error = "--verify needs --dupmatch";
        return std::nullopt;
    }
    return options;
}

WalkOptions ReportWalkOptions(const ReportOptions& options) {
    WalkOptions walk(options.threads);
    walk.exclude = ExcludeRules(options.exclude);
    walk.oneFileSystem = options.oneFileSystem;
    return walk;
}

int CheckReadableFolder(const std::string& folder) {
    int handle = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (handle < 0) {
        std::fprintf(stderr, "quarn: %s: %s\n", folder.c_str(), std::strerror(errno));
        return 2;
    }
    ::close(handle);
    return 0;
}

int RunReportCommand(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    std::string error;
    std::optional<ReportOptions> options = ParseReportArguments(args, error);
    if (!options) {
        // The usage of every option lives in one place, the help.
        std::fprintf(stderr, "quarn: %s (see quarn --help)\n", error.c_str());
        return 2;
    }
    struct ::stat status;
    if (options->importTree) {
        // The tree comes from the file; there is no folder to check.
    } else if (::stat(options->folder.c_str(), &status) != 0) {
        std::fprintf(stderr, "quarn: %s: %s\n", options->folder.c_str(), std::strerror(errno));
        return 2;
    }
    if (!options->importTree && !S_ISDIR(status.st_mode)) {
        std::fprintf(stderr, "quarn: %s: not a folder\n", options->folder.c_str());
        return 2;
    }
    // Once, before the scan: the engines read the settings again and again,
    // and each time quietly takes the defaults.
    if (const std::optional<std::string> warning = UnreadableSettingsWarning()) {
        std::fprintf(stderr, "quarn: %s\n", warning->c_str());
    }
    if (options->exportTree) {
        int code = RunExportCommand(*options);
        ReportWritten();
        return code;
    }
    CheckedStandardOutput output;
    int code = options->dupmatch ? RunTwinReport(*options) : RunFolderReport(*options);
    if (!output.Finish()) {
        code = kWriteErrorExit;
    }
    ReportWritten();
    return code;
}

}  // namespace quarn::cli

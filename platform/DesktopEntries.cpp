#include "platform/DesktopEntries.h"

#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>

namespace quarn {

namespace {

std::string EnvValue(const char* name) {
    const char* value = std::getenv(name);
    return value ? std::string(value) : std::string();
}

std::string HomeFolder() {
    std::string home = EnvValue("HOME");
    if (!home.empty()) {
        return home;
    }
    if (const passwd* entry = ::getpwuid(::getuid()); entry && entry->pw_dir) {
        return entry->pw_dir;
    }
    return "/";
}

bool IsReservedInExec(char c) {
    static const std::string reserved = " \t\n\"'\\><~|&;$*?#()`";
    return reserved.find(c) != std::string::npos;
}

}  // namespace

std::string XdgDataHome() {
    std::string value = EnvValue("XDG_DATA_HOME");
    if (!value.empty() && value.front() == '/') {
        return value;
    }
    return HomeFolder() + "/.local/share";
}

std::string XdgConfigHome() {
    std::string value = EnvValue("XDG_CONFIG_HOME");
    if (!value.empty() && value.front() == '/') {
        return value;
    }
    return HomeFolder() + "/.config";
}

std::string XdgCacheHome() {
    std::string value = EnvValue("XDG_CACHE_HOME");
    if (!value.empty() && value.front() == '/') {
        return value;
    }
    return HomeFolder() + "/.cache";
}

std::vector<std::string> SplitExec(const std::string& exec) {
    std::vector<std::string> args;
    std::string current;
    bool inWord = false;
    for (size_t i = 0; i < exec.size(); ++i) {
        char c = exec[i];
        if (c == ' ' || c == '\t' || c == '\n') {
            if (inWord) {
                args.push_back(current);
                current.clear();
                inWord = false;
            }
        } else if (c == '"') {
            inWord = true;
            for (++i; i < exec.size() && exec[i] != '"'; ++i) {
                if (exec[i] == '\\' && i + 1 < exec.size() &&
                    std::string("\"`$\\").find(exec[i + 1]) != std::string::npos) {
                    ++i;
                }
                current += exec[i];
            }
        } else if (c == '\'') {
            inWord = true;
            for (++i; i < exec.size() && exec[i] != '\''; ++i) {
                current += exec[i];
            }
        } else if (c == '\\' && i + 1 < exec.size()) {
            inWord = true;
            current += exec[++i];
        } else {
            inWord = true;
            current += c;
        }
    }
    if (inWord) {
        args.push_back(current);
    }
    return args;
}

std::vector<std::string> ExpandExec(const std::string& exec,
                                    const std::vector<std::string>& files) {
    std::vector<std::string> command;
    bool tookFiles = false;
    for (const std::string& arg : SplitExec(exec)) {
        if (arg == "%F" || arg == "%U") {
            command.insert(command.end(), files.begin(), files.end());
            tookFiles = true;
            continue;
        }
        if (arg == "%f" || arg == "%u") {
            if (!files.empty()) {
                command.push_back(files.front());
            }
            tookFiles = true;
            continue;
        }
        if (arg == "%i" || arg == "%c" || arg == "%k") {
            continue;  // we know no icon, name or entry path for a bare Exec value
        }
        std::string expanded;
        for (size_t i = 0; i < arg.size(); ++i) {
            if (arg[i] != '%' || i + 1 == arg.size()) {
                expanded += arg[i];
                continue;
            }
            char code = arg[++i];
            if (code == '%') {
                expanded += '%';
            } else if (code == 'f' || code == 'u' || code == 'F' || code == 'U') {
                if (!files.empty()) {
                    expanded += files.front();
                }
                tookFiles = true;
            }
            // Every other code is dropped, as the deprecated ones must be.
        }
        command.push_back(expanded);
    }
    if (!tookFiles) {
        command.insert(command.end(), files.begin(), files.end());
    }
    return command;
}

std::string QuoteExecArgument(const std::string& arg) {
    bool needsQuotes = arg.empty() || std::any_of(arg.begin(), arg.end(), IsReservedInExec);
    std::string out;
    if (needsQuotes) {
        out += '"';
    }
    for (char c : arg) {
        if (c == '%') {
            out += "%%";
            continue;
        }
        if (needsQuotes && (c == '"' || c == '`' || c == '$' || c == '\\')) {
            out += '\\';
        }
        out += c;
    }
    if (needsQuotes) {
        out += '"';
    }
    return out;
}

std::string EscapeDesktopValue(const std::string& value) {
    std::string out;
    bool leading = true;
    for (char c : value) {
        if (leading && c == ' ') {
            out += "\\s";
            continue;
        }
        leading = false;
        switch (c) {
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\t':
                out += "\\t";
                break;
            case '\r':
                out += "\\r";
                break;
            default:
                out += c;
                break;
        }
    }
    return out;
}

}  // namespace quarn

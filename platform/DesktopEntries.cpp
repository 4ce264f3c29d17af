#include "platform/DesktopEntries.h"

#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>

namespace quarn {

namespace {

namespace fs = std::filesystem;

using KeyGroup = std::map<std::string, std::string>;
using KeyFile = std::map<std::string, KeyGroup>;

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

// Relative entries in the XDG variables are invalid and must be ignored.
std::vector<std::string> SplitSearchPath(const std::string& list, std::vector<std::string> into) {
    size_t start = 0;
    while (start <= list.size()) {
        size_t end = list.find(':', start);
        if (end == std::string::npos) {
            end = list.size();
        }
        std::string entry = list.substr(start, end - start);
        while (entry.size() > 1 && entry.back() == '/') {
            entry.pop_back();
        }
        if (!entry.empty() && entry.front() == '/' &&
            std::find(into.begin(), into.end(), entry) == into.end()) {
            into.push_back(entry);
        }
        start = end + 1;
    }
    return into;
}

std::string UnescapeDesktopValue(const std::string& raw) {
    std::string out;
    out.reserve(raw.size());
    for (size_t i = 0; i < raw.size(); ++i) {
        if (raw[i] != '\\' || i + 1 == raw.size()) {
            out += raw[i];
            continue;
        }
        char next = raw[i + 1];
        switch (next) {
            case 's':
                out += ' ';
                break;
            case 'n':
                out += '\n';
                break;
            case 't':
                out += '\t';
                break;
            case 'r':
                out += '\r';
                break;
            case '\\':
                out += '\\';
                break;
            default:
                // Unknown escapes (like "\;" in lists) are left for the caller.
                out += '\\';
                out += next;
                break;
        }
        ++i;
    }
    return out;
}

std::optional<KeyFile> ReadKeyFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return std::nullopt;
    }
    KeyFile file;
    KeyGroup* group = nullptr;
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        size_t first = line.find_first_not_of(" \t");
        if (first == std::string::npos || line[first] == '#') {
            continue;
        }
        if (line[first] == '[') {
            size_t close = line.find(']', first);
            group = close == std::string::npos ? nullptr
                                               : &file[line.substr(first + 1, close - first - 1)];
            continue;
        }
        size_t equals = line.find('=');
        if (!group || equals == std::string::npos) {
            continue;
        }
        std::string key = line.substr(first, equals - first);
        while (!key.empty() && (key.back() == ' ' || key.back() == '\t')) {
            key.pop_back();
        }
        size_t valueStart = line.find_first_not_of(" \t", equals + 1);
        std::string value = valueStart == std::string::npos ? "" : line.substr(valueStart);
        // The first occurrence of a key counts, as in every other reader.
        group->emplace(key, value);
    }
    return file;
}

std::string GroupValue(const KeyGroup& group, const std::string& key) {
    auto it = group.find(key);
    return it == group.end() ? std::string() : it->second;
}

std::vector<std::string> SplitList(const std::string& value) {
    std::vector<std::string> items;
    std::string item;
    for (size_t i = 0; i < value.size(); ++i) {
        if (value[i] == '\\' && i + 1 < value.size() && value[i + 1] == ';') {
            item += ';';
            ++i;
        } else if (value[i] == ';') {
            if (!item.empty()) {
                items.push_back(item);
            }
            item.clear();
        } else {
            item += value[i];
        }
    }
    if (!item.empty()) {
        items.push_back(item);
    }
    return items;
}

bool IsRegularFile(const std::string& path) {
    std::error_code error;
    return fs::is_regular_file(path, error);
}

bool IsFolder(const std::string& path) {
    std::error_code error;
    return fs::is_directory(path, error);
}

// A desktop id "a-b-c.desktop" may live in a/b-c.desktop, a/b/c.desktop, ...
std::optional<std::string> FindIdBelow(const std::string& folder, const std::string& rest) {
    std::string direct = folder + "/" + rest;
    if (IsRegularFile(direct)) {
        return direct;
    }
    for (size_t dash = rest.find('-'); dash != std::string::npos; dash = rest.find('-', dash + 1)) {
        std::string sub = folder + "/" + rest.substr(0, dash);
        if (dash > 0 && IsFolder(sub)) {
            if (auto found = FindIdBelow(sub, rest.substr(dash + 1))) {
                return found;
            }
        }
    }
    return std::nullopt;
}

// TryExec names a program that must be installed for the entry to count.
bool ProgramInstalled(const std::string& program) {
    if (program.find('/') != std::string::npos) {
        return ::access(program.c_str(), X_OK) == 0 && !IsFolder(program);
    }
    std::string path = EnvValue("PATH");
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find(':', start);
        if (end == std::string::npos) {
            end = path.size();
        }
        std::string dir = end > start ? path.substr(start, end - start) : ".";
        std::string candidate = dir + "/" + program;
        if (::access(candidate.c_str(), X_OK) == 0 && !IsFolder(candidate)) {
            return true;
        }
        start = end + 1;
    }
    return false;
}

struct ParsedEntry {
    DesktopApplication app;
    std::vector<std::string> mimeTypes;
    bool usable = false;  // an application that can be started
};

ParsedEntry ParseEntry(const std::string& id, const std::string& path) {
    ParsedEntry entry;
    auto file = ReadKeyFile(path);
    if (!file) {
        return entry;
    }
    auto groupIt = file->find("Desktop Entry");
    if (groupIt == file->end()) {
        return entry;
    }
    const KeyGroup& group = groupIt->second;
    entry.app.id = id;
    entry.app.filePath = path;
    entry.app.name = UnescapeDesktopValue(GroupValue(group, "Name"));
    entry.app.exec = UnescapeDesktopValue(GroupValue(group, "Exec"));
    entry.app.terminal = GroupValue(group, "Terminal") == "true";
    entry.app.noDisplay = GroupValue(group, "NoDisplay") == "true";
    entry.mimeTypes = SplitList(GroupValue(group, "MimeType"));
    std::string tryExec = UnescapeDesktopValue(GroupValue(group, "TryExec"));
    entry.usable = GroupValue(group, "Type") == "Application" &&
                   GroupValue(group, "Hidden") != "true" && !entry.app.exec.empty() &&
                   (tryExec.empty() || ProgramInstalled(tryExec));
    return entry;
}

std::vector<std::string> CurrentDesktopNames() {
    std::vector<std::string> names;
    std::string list = EnvValue("XDG_CURRENT_DESKTOP");
    std::string name;
    for (size_t i = 0; i <= list.size(); ++i) {
        if (i == list.size() || list[i] == ':') {
            if (!name.empty()) {
                names.push_back(name);
            }
            name.clear();
        } else {
            name += char(std::tolower(static_cast<unsigned char>(list[i])));
        }
    }
    return names;
}

// The mimeapps.list files in precedence order, the ones that exist.
std::vector<KeyFile> MimeAppsLists() {
    std::vector<std::string> folders = XdgConfigDirs();
    for (const std::string& dir : XdgDataDirs()) {
        folders.push_back(dir + "/applications");
    }
    std::vector<std::string> desktops = CurrentDesktopNames();
    std::vector<KeyFile> lists;
    for (const std::string& folder : folders) {
        for (const std::string& desktop : desktops) {
            if (auto file = ReadKeyFile(folder + "/" + desktop + "-mimeapps.list")) {
                lists.push_back(std::move(*file));
            }
        }
        if (auto file = ReadKeyFile(folder + "/mimeapps.list")) {
            lists.push_back(std::move(*file));
        }
    }
    return lists;
}

std::vector<std::string> ListedIds(const KeyFile& file, const char* group,
                                   const std::string& mimeType) {
    auto it = file.find(group);
    if (it == file.end()) {
        return {};
    }
    return SplitList(GroupValue(it->second, mimeType));
}

std::optional<DesktopApplication> DefaultFromLists(const std::vector<KeyFile>& lists,
                                                   const std::string& mimeType) {
    for (const KeyFile& file : lists) {
        for (const std::string& id : ListedIds(file, "Default Applications", mimeType)) {
            if (auto app = LoadDesktopApplication(id)) {
                return app;
            }
        }
    }
    return std::nullopt;
}

// Every desktop id below one applications folder with its file, in id order.
std::map<std::string, std::string> EntriesBelow(const std::string& folder) {
    std::map<std::string, std::string> entries;
    std::error_code error;
    fs::recursive_directory_iterator it(folder, error), end;
    while (!error && it != end) {
        const fs::path& path = it->path();
        std::error_code typeError;
        if (path.extension() == ".desktop" && it->is_regular_file(typeError)) {
            std::string id = fs::relative(path, folder, typeError).string();
            std::replace(id.begin(), id.end(), '/', '-');
            entries.emplace(id, path.string());
        }
        it.increment(error);
    }
    return entries;
}

// Added associations and the entries that list the type, minus removals.
std::vector<std::string> AssociatedIds(const std::vector<KeyFile>& lists,
                                       const std::string& mimeType) {
    std::vector<std::string> ids;
    std::set<std::string> removed;
    for (const KeyFile& file : lists) {
        for (const std::string& id : ListedIds(file, "Added Associations", mimeType)) {
            if (!removed.count(id)) {
                ids.push_back(id);
            }
        }
        for (const std::string& id : ListedIds(file, "Removed Associations", mimeType)) {
            removed.insert(id);
        }
    }

    // An id is defined by the first data folder that holds it; a shadowed file
    // further down does not speak for it.
    std::set<std::string> seen;
    for (const std::string& dir : XdgDataDirs()) {
        std::string folder = dir + "/applications";
        if (auto cache = ReadKeyFile(folder + "/mimeinfo.cache")) {
            for (const std::string& id : ListedIds(*cache, "MIME Cache", mimeType)) {
                if (!removed.count(id)) {
                    ids.push_back(id);
                }
            }
        }
        for (const auto& [id, path] : EntriesBelow(folder)) {
            if (!seen.insert(id).second) {
                continue;
            }
            ParsedEntry entry = ParseEntry(id, path);
            if (entry.usable && !removed.count(id) &&
                std::find(entry.mimeTypes.begin(), entry.mimeTypes.end(), mimeType) !=
                    entry.mimeTypes.end()) {
                ids.push_back(id);
            }
        }
    }
    return ids;
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

std::vector<std::string> XdgDataDirs() {
    std::string dirs = EnvValue("XDG_DATA_DIRS");
    if (dirs.empty()) {
        dirs = "/usr/local/share:/usr/share";
    }
    return SplitSearchPath(dirs, {XdgDataHome()});
}

std::string XdgConfigHome() {
    std::string value = EnvValue("XDG_CONFIG_HOME");
    if (!value.empty() && value.front() == '/') {
        return value;
    }
    return HomeFolder() + "/.config";
}

std::vector<std::string> XdgConfigDirs() {
    std::string dirs = EnvValue("XDG_CONFIG_DIRS");
    if (dirs.empty()) {
        dirs = "/etc/xdg";
    }
    return SplitSearchPath(dirs, {XdgConfigHome()});
}

std::optional<DesktopApplication> LoadDesktopApplication(const std::string& desktopId) {
    if (desktopId.empty() || desktopId.find('/') != std::string::npos) {
        return std::nullopt;
    }
    for (const std::string& dir : XdgDataDirs()) {
        if (auto path = FindIdBelow(dir + "/applications", desktopId)) {
            ParsedEntry entry = ParseEntry(desktopId, *path);
            if (!entry.usable) {
                return std::nullopt;
            }
            return entry.app;
        }
    }
    return std::nullopt;
}

std::optional<DesktopApplication> DefaultApplicationFor(const std::string& mimeType) {
    std::vector<KeyFile> lists = MimeAppsLists();
    if (auto app = DefaultFromLists(lists, mimeType)) {
        return app;
    }
    for (const std::string& id : AssociatedIds(lists, mimeType)) {
        if (auto app = LoadDesktopApplication(id)) {
            return app;
        }
    }
    return std::nullopt;
}

std::vector<DesktopApplication> ApplicationsFor(const std::string& mimeType) {
    std::vector<KeyFile> lists = MimeAppsLists();
    std::vector<DesktopApplication> apps;
    std::set<std::string> taken;
    if (auto app = DefaultFromLists(lists, mimeType)) {
        taken.insert(app->id);
        apps.push_back(std::move(*app));
    }
    for (const std::string& id : AssociatedIds(lists, mimeType)) {
        if (taken.count(id)) {
            continue;
        }
        taken.insert(id);
        if (auto app = LoadDesktopApplication(id)) {
            apps.push_back(std::move(*app));
        }
    }
    return apps;
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

bool ExecTakesFileList(const std::string& exec) {
    for (const std::string& arg : SplitExec(exec)) {
        if (arg == "%F" || arg == "%U") {
            return true;
        }
    }
    return false;
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

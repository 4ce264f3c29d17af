#include "platform/PathRules.h"

#include <limits.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>

namespace quarn {

std::string CollapseDoubledSeparators(std::string_view path) {
    if (IsNetworkStylePath(path)) {
        return std::string(path);
    }
    std::string out;
    out.reserve(path.size());
    for (size_t i = 0; i < path.size(); ++i) {
        out.push_back(path[i]);
        // Non-overlapping pairs: "///" becomes "//", as a single left-to-right replace does.
        if (path[i] == kPathSeparator && i + 1 < path.size() && path[i + 1] == kPathSeparator) {
            ++i;
        }
    }
    return out;
}

void AppendPathComponent(std::string& folder, std::string_view name) {
    bool endsWithSeparator = !folder.empty() && folder.back() == kPathSeparator;
    if (!endsWithSeparator || IsNetworkStylePath(folder)) {
        folder.push_back(kPathSeparator);
    }
    folder.append(name);
}

std::string_view FolderOfPath(std::string_view path) {
    size_t last = path.rfind(kPathSeparator);
    return last == std::string_view::npos ? std::string_view() : path.substr(0, last);
}

std::string_view NameOfPath(std::string_view path) {
    size_t last = path.rfind(kPathSeparator);
    return last == std::string_view::npos ? path : path.substr(last + 1);
}

std::string AbsolutePath(std::string_view path) {
    std::string joined(path);
    if (path.empty() || path.front() != kPathSeparator) {
        char buffer[PATH_MAX];
        if (::getcwd(buffer, sizeof buffer) != nullptr) {
            joined = buffer;
            AppendPathComponent(joined, path);
        }
    }
    std::string out;
    out.reserve(joined.size());
    for (char c : joined) {
        if (c == kPathSeparator && !out.empty() && out.back() == kPathSeparator) {
            continue;
        }
        out.push_back(c);
    }
    while (out.size() > 1 && out.back() == kPathSeparator) {
        out.pop_back();
    }
    return out;
}

std::string ResolveFolderArgument(std::string_view folder) {
    if (IsNetworkStylePath(folder)) {
        std::string path(folder);
        while (path.size() > 2 && path.back() == kPathSeparator) {
            path.pop_back();
        }
        return path;
    }
    if (!folder.empty() && folder.front() == kPathSeparator) {
        return AbsolutePath(folder);
    }
    // Text cannot resolve "..": after a link it leads back from the link's
    // target, not from the folder the link is in.
    std::string relative(folder.empty() ? "." : folder);
    std::unique_ptr<char, decltype(&std::free)> resolved(::realpath(relative.c_str(), nullptr),
                                                         &std::free);
    return resolved ? std::string(resolved.get()) : AbsolutePath(folder);
}

}  // namespace quarn

#include "platform/PathRules.h"

#include <limits.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>

namespace quarn {

namespace {

std::string WithoutRepeatedSeparators(std::string_view path) {
    std::string out;
    out.reserve(path.size());
    for (char c : path) {
        if (c == kPathSeparator && !out.empty() && out.back() == kPathSeparator) {
            continue;
        }
        out.push_back(c);
    }
    return out;
}

}  // namespace

std::string NormalisedPath(std::string_view path) {
    std::string out =
        IsNetworkStylePath(path) ? std::string(path) : WithoutRepeatedSeparators(path);
    const size_t keep = IsNetworkStylePath(out) ? 3 : 1;
    while (out.size() > keep && out.back() == kPathSeparator) {
        out.pop_back();
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
    if (last == std::string_view::npos) {
        return {};
    }
    return last == 0 ? path.substr(0, 1) : path.substr(0, last);
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
    // Linux reads a leading "//" as "/": no network location here.
    return NormalisedPath(WithoutRepeatedSeparators(joined));
}

std::string ResolveFolderArgument(std::string_view folder) {
    if (!folder.empty() && folder.front() == kPathSeparator) {
        return NormalisedPath(folder);
    }
    // Text cannot resolve "..": after a link it leads back from the link's
    // target, not from the folder the link is in.
    std::string relative(folder.empty() ? "." : folder);
    std::unique_ptr<char, decltype(&std::free)> resolved(::realpath(relative.c_str(), nullptr),
                                                         &std::free);
    return resolved ? std::string(resolved.get()) : AbsolutePath(folder);
}

}  // namespace quarn

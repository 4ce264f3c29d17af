#include "pipeline/ReferenceFolders.h"

#include <algorithm>

#include "platform/PathRules.h"

namespace quarn {

namespace {

std::string_view Trimmed(std::string_view text) {
    const size_t first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) {
        return {};
    }
    const size_t last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

}  // namespace

std::vector<std::string> ReferenceFoldersFromText(std::string_view text) {
    std::vector<std::string> folders;
    while (!text.empty()) {
        const size_t end = text.find(';');
        AddReferenceFolder(folders, text.substr(0, end));
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    }
    return folders;
}

void AddReferenceFolder(std::vector<std::string>& folders, std::string_view folder) {
    folder = Trimmed(folder);
    if (folder.empty()) {
        return;
    }
    std::string resolved = ResolveFolderArgument(folder);
    if (std::find(folders.begin(), folders.end(), resolved) == folders.end()) {
        folders.push_back(std::move(resolved));
    }
}

std::string ReferenceFoldersText(const std::vector<std::string>& folders) {
    std::string text;
    for (const std::string& folder : folders) {
        if (!text.empty()) {
            text += ';';
        }
        text += folder;
    }
    return text;
}

bool IsInsideFolder(std::string_view path, std::string_view folder) {
    if (folder.empty() || !path.starts_with(folder)) {
        return false;
    }
    return path.size() == folder.size() || folder.back() == '/' || path[folder.size()] == '/';
}

bool IsInsideAnyFolder(std::string_view path, const std::vector<std::string>& folders) {
    return std::any_of(folders.begin(), folders.end(),
                       [path](const std::string& folder) { return IsInsideFolder(path, folder); });
}

std::vector<std::string> FoldersOutside(const std::string& root,
                                        const std::vector<std::string>& folders) {
    std::vector<std::string> outside;
    for (const std::string& folder : folders) {
        // Inside the root it is walked anyway; around the root, the whole
        // root is reference and nothing beyond it was asked for.
        if (IsInsideFolder(folder, root) || IsInsideFolder(root, folder)) {
            continue;
        }
        const bool nested = std::any_of(folders.begin(), folders.end(), [&](const std::string& o) {
            return &o != &folder && o != folder && IsInsideFolder(folder, o);
        });
        if (!nested) {
            outside.push_back(folder);
        }
    }
    return outside;
}

}  // namespace quarn

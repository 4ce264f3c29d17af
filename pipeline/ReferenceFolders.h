#pragma once
// Reference folders: their files take part in a twin search but are never
// selected, trashed or replaced. Kept as absolute, normalised paths.

#include <string>
#include <string_view>
#include <vector>

namespace quarn {

// The folders of the ReferenceFolders setting (";"-separated; blanks around
// a folder and empty entries are dropped), each in the form scans show it.
std::vector<std::string> ReferenceFoldersFromText(std::string_view text);
// Adds `folder` (resolved like a folder argument) unless it is there already.
void AddReferenceFolder(std::vector<std::string>& folders, std::string_view folder);
// The setting's text for `folders`.
std::string ReferenceFoldersText(const std::vector<std::string>& folders);

// True when `path` is `folder` or lies below it (whole components only:
// "/a/bc" is not below "/a/b").
bool IsInsideFolder(std::string_view path, std::string_view folder);
// True when `path` lies in one of `folders`.
bool IsInsideAnyFolder(std::string_view path, const std::vector<std::string>& folders);

// The folders of `folders` that are neither inside `root`, nor around it,
// nor inside another folder of the list: the ones a scan of `root` must walk
// as well.
std::vector<std::string> FoldersOutside(const std::string& root,
                                        const std::vector<std::string>& folders);

}  // namespace quarn

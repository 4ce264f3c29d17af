#pragma once
// The folder-size report's output: the finished tree of a folder scan in
// display order, as text or as one JSON object.

#include <cstddef>
#include <cstdio>
#include <optional>
#include <string>

#include "foldersize/FolderScanner.h"
#include "history/FolderComparison.h"

namespace quarn::cli {

// Text: one line per item, indented two blanks per level, with the item's
// text, its size text and its percentage ("-" for none) separated by tabs;
// then the status text. Past 32 levels the indentation stays that of 32 and
// the item's text begins with its depth: "(depth 40) name". JSON: {"status", "total", "files",
// "folders", "exceptions", "hardlinks", "items": [{"parent", "name", "path", "size", "percent",
// "files_item"}]} with the items flat in pre-order. With `withFileStats` and when the scan kept
// them, the largest files and the file types follow: in JSON as "largest": [{"path", "size"}]
// (largest first) and "types": [{"ext", "files", "bytes"}] (most bytes first, "" for no extension);
// in text as two sections after the status, "Largest files" (size text, tab, path) and "File types"
// (extension, files, size text). With `maxDepth`, items deeper than it (the root is depth 0) are
// not written; every written item keeps its size and percentage, and the totals stay the tree's.
// With a comparison (--since), each item has its change: in text a column
// after the percentage (ChangeText), in JSON "change" (bytes, now minus then)
// and "new": true for a folder the earlier scan did not have; the JSON has
// "total_change" and "removed": [{"path", "size"}] (the topmost gone
// folders), the text ends with "Total change" and "Removed folders";
// `sortByChange` orders each folder's items by change, grown most first.
// The scan must have ended.
struct ReportChanges {
    const FolderComparison* comparison = nullptr;
    bool sortByChange = false;
};
void WriteFolderReport(const FolderScanner& scanner, bool json, std::FILE* out,
                       bool withFileStats = false, std::optional<size_t> maxDepth = std::nullopt,
                       const ReportChanges& changes = {});

}  // namespace quarn::cli

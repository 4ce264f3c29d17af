#include "cli/FolderReport.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>
#include <optional>
#include <vector>

#include "cli/Interrupt.h"
#include "cli/JsonWriter.h"
#include "cli/ReportCommand.h"
#include "cli/WaitForEngine.h"
#include "foldersize/SizeText.h"
#include "history/ChangeText.h"
#include "history/EarlierTree.h"
#include "history/KeptScanWriter.h"
#include "platform/PathRules.h"

namespace quarn::cli {

namespace {

// One item of the report, as the walk over the finished tree meets it.
struct ReportItem {
    NodeHandle item;
    int64_t parentIndex;  // -1 for a top-level item
    size_t depth;
    std::string text;
    const std::string& path;
    std::optional<uint64_t> size;  // none for a folder a cancel left unfinished
    bool filesItem;
};

// The item's own text as the pane shows it.
std::string NodeText(const FolderSizeTree& view, NodeHandle item) {
    return view.IsFilesItem(item) ? FilesItemText(view.GetItemFileCount(item))
                                  : view.GetItemName(item);
}

// Visits the items in display order (pre-order, children after their
// parent) with an explicit stack: a tree may be 100,000 levels deep. Each
// item's path is built on the one path string of the walk. Items deeper than
// `maxDepth` (the root is 0) are passed over, so a deep tree costs nothing
// below it.
// A folder's children, ordered by change (grown most first) when `byChange`
// is given, else as the tree holds them (empty: read from the tree).
std::vector<NodeHandle> ChildOrder(const FolderSizeTree& view, NodeHandle item, int count,
                                   const FolderComparison* byChange) {
    std::vector<NodeHandle> order;
    if (byChange == nullptr || count == 0) {
        return order;
    }
    order.reserve(size_t(count));
    for (int row = 0; row < count; ++row) {
        order.push_back(view.GetChildItem(item, row));
    }
    const auto change = [&](NodeHandle node) {
        const std::optional<FolderChange> found = byChange->ChangeOf(node);
        return found ? found->change : 0;
    };
    std::stable_sort(order.begin(), order.end(),
                     [&](NodeHandle a, NodeHandle b) { return change(a) > change(b); });
    return order;
}

template <typename Visit>
void VisitItems(const FolderSizeTree& view, size_t maxDepth, const FolderComparison* byChange,
                Visit visit) {
    struct Frame {
        NodeHandle item;
        int64_t index;
        size_t pathLength;
        int next;
        int count;
        std::vector<NodeHandle> order;
    };
    std::string path;
    std::vector<Frame> stack;
    int64_t counter = 0;
    std::string rootPath = view.GetRootPath();
    int topLevel = view.GetChildCount(kTopLevel);
    for (int row = 0; row < topLevel; ++row) {
        NodeHandle top = view.GetChildItem(kTopLevel, row);
        path = rootPath;
        visit(ReportItem{top, -1, 0, NodeText(view, top), path, view.GetItemSize(top),
                         view.IsFilesItem(top)});
        const int topCount = maxDepth > 0 ? view.GetChildCount(top) : 0;
        stack.push_back(Frame{top, counter++, path.size(), 0, topCount,
                              ChildOrder(view, top, topCount, byChange)});
        while (!stack.empty()) {
            Frame& frame = stack.back();
            if (frame.next >= frame.count) {
                stack.pop_back();
                continue;
            }
            const int row = frame.next++;
            NodeHandle child =
                frame.order.empty() ? view.GetChildItem(frame.item, row) : frame.order[size_t(row)];
            int64_t parentIndex = frame.index;
            path.resize(frame.pathLength);
            std::string text = NodeText(view, child);
            bool filesItem = view.IsFilesItem(child);
            if (!filesItem) {
                AppendPathComponent(path, text);
            }
            size_t depth = stack.size();
            visit(ReportItem{child, parentIndex, depth, std::move(text), path,
                             view.GetItemSize(child), filesItem});
            int64_t index = counter++;
            if (!filesItem) {
                const int count = depth < maxDepth ? view.GetChildCount(child) : 0;
                stack.push_back(Frame{child, index, path.size(), 0, count,
                                      ChildOrder(view, child, count, byChange)});
            }
        }
    }
}

// The empty extension as a reader of the text sees it.
constexpr const char* kNoExtensionText = "(no extension)";

void WriteTextFileStats(const ScanFileStats& stats, std::FILE* out) {
    std::string text = "\nLargest files\n";
    for (const LargestFiles::Entry& entry : stats.Largest().Sorted()) {
        text += FormatSize(entry.bytes) + "\t" + entry.path + "\n";
    }
    text += "\nFile types\n";
    for (const FileTypeTally::Row& row : stats.Types().Rows()) {
        text += (row.ext.empty() ? std::string(kNoExtensionText) : row.ext) + "\t" +
                std::to_string(row.files) + "\t" + FormatSize(row.bytes) + "\n";
    }
    std::fwrite(text.data(), 1, text.size(), out);
}

void WriteJsonFileStats(const ScanFileStats& stats, JsonWriter& json) {
    json.Key("largest");
    json.BeginArray();
    for (const LargestFiles::Entry& entry : stats.Largest().Sorted()) {
        json.BeginObject();
        json.Key("path");
        json.String(entry.path);
        json.Key("size");
        json.Unsigned(entry.bytes);
        json.EndObject();
    }
    json.EndArray();
    json.Key("types");
    json.BeginArray();
    for (const FileTypeTally::Row& row : stats.Types().Rows()) {
        json.BeginObject();
        json.Key("ext");
        json.String(row.ext);
        json.Key("files");
        json.Number(row.files);
        json.Key("bytes");
        json.Unsigned(row.bytes);
        json.EndObject();
    }
    json.EndArray();
}

// The text's indentation stops growing here, so that a line of a tree
// 100,000 levels deep stays a line; deeper items say their depth instead.
constexpr size_t kDeepestIndent = 32;

void WriteTextRemoved(const FolderComparison& comparison, std::FILE* out) {
    std::string text = "\nTotal change\t" + SignedSizeText(comparison.TotalChange()) + "\n";
    if (!comparison.Removed().empty()) {
        text += "\nRemoved folders\n";
        for (const RemovedFolder& removed : comparison.Removed()) {
            text += FormatSize(removed.size) + "\t" + removed.path + "\n";
        }
    }
    std::fwrite(text.data(), 1, text.size(), out);
}

void WriteText(const FolderScanner& scanner, size_t maxDepth, const ReportChanges& changes,
               std::FILE* out) {
    const FolderSizeTree& view = scanner.Tree();
    const FolderComparison* comparison = changes.comparison;
    std::string line;
    VisitItems(view, maxDepth, changes.sortByChange ? comparison : nullptr,
               [&](const ReportItem& item) {
                   line.assign(2 * std::min(item.depth, kDeepestIndent), ' ');
                   if (item.depth > kDeepestIndent) {
                       line += "(depth " + std::to_string(item.depth) + ") ";
                   }
                   line += item.text;
                   line += '\t';
                   line += item.size ? FormatSize(*item.size) : std::string("-");
                   line += '\t';
                   int percent = view.GetItemPercent(item.item);
                   line += percent < 0 ? std::string("-") : PercentText(percent);
                   if (comparison != nullptr) {
                       const std::optional<FolderChange> change = comparison->ChangeOf(item.item);
                       line += '\t';
                       line += change ? ChangeText(*change) : std::string("-");
                   }
                   line += '\n';
                   std::fwrite(line.data(), 1, line.size(), out);
               });
    std::string status = scanner.GetStatus() + "\n";
    std::fwrite(status.data(), 1, status.size(), out);
}

void WriteJsonRemoved(const FolderComparison& comparison, JsonWriter& json) {
    json.Key("total_change");
    json.Number(comparison.TotalChange());
    json.Key("removed");
    json.BeginArray();
    for (const RemovedFolder& removed : comparison.Removed()) {
        json.BeginObject();
        json.Key("path");
        json.String(removed.path);
        json.Key("size");
        json.Unsigned(removed.size);
        json.EndObject();
    }
    json.EndArray();
}

void WriteJson(const FolderScanner& scanner, const ScanFileStats* stats, size_t maxDepth,
               const ReportChanges& changes, std::FILE* out) {
    const FolderComparison* comparison = changes.comparison;
    const FolderSizeTree& view = scanner.Tree();
    const FolderSizeTree::Figures figures = view.GetFigures();
    JsonWriter json(out);
    json.BeginObject();
    json.Key("status");
    json.String(scanner.GetStatus());
    json.Key("total");
    json.Unsigned(figures.total);
    json.Key("files");
    json.Number(figures.files);
    json.Key("folders");
    json.Number(figures.folders);
    json.Key("exceptions");
    json.Number(scanner.GetExceptionCount());
    json.Key("hardlinks");
    json.Number(figures.hardLinks);
    // Folders that could not be opened or listed, and entries that vanished
    // before they could be counted.
    json.Key("unreadable");
    json.Number(figures.unreadableFolders + figures.skippedEntries);
    if (comparison != nullptr) {
        WriteJsonRemoved(*comparison, json);
    }
    json.Key("items");
    json.BeginArray();
    VisitItems(
        view, maxDepth, changes.sortByChange ? comparison : nullptr, [&](const ReportItem& item) {
            json.BeginObject();
            json.Key("parent");
            if (item.parentIndex < 0) {
                json.Null();
            } else {
                json.Number(item.parentIndex);
            }
            json.Key("name");
            json.String(item.text);
            json.Key("path");
            json.String(item.path);
            // A folder the walk did not finish (a cancel) has no size.
            json.Key("size");
            if (item.size) {
                json.Unsigned(*item.size);
            } else {
                json.Null();
            }
            json.Key("percent");
            int percent = view.GetItemPercent(item.item);
            if (percent < 0) {
                json.Null();
            } else {
                json.Number(percent);
            }
            json.Key("files_item");
            json.Bool(item.filesItem);
            if (comparison != nullptr) {
                if (const std::optional<FolderChange> change = comparison->ChangeOf(item.item)) {
                    json.Key("change");
                    json.Number(change->change);
                    if (change->isNew) {
                        json.Key("new");
                        json.Bool(true);
                    }
                }
            }
            // Only the few folders not read whole carry these.
            if (std::optional<FolderReadProblems::Problem> problem =
                    view.GetReadProblem(item.item)) {
                if (problem->error != 0) {
                    json.Key("error");
                    json.String(std::strerror(problem->error));
                }
                if (problem->skipped > 0) {
                    json.Key("skipped");
                    json.Number(problem->skipped);
                }
            }
            json.EndObject();
        });
    json.EndArray();
    if (stats != nullptr) {
        WriteJsonFileStats(*stats, json);
    }
    json.EndObject();
    json.Finish();
}

}  // namespace

void WriteFolderReport(const FolderScanner& scanner, bool json, std::FILE* out, bool withFileStats,
                       std::optional<size_t> maxDepth, const ReportChanges& changes) {
    std::shared_ptr<const ScanFileStats> stats;
    if (withFileStats) {
        stats = scanner.Tree().FileStats().Stats();
    }
    const size_t depth = maxDepth.value_or(SIZE_MAX);
    if (json) {
        WriteJson(scanner, stats.get(), depth, changes, out);
    } else {
        WriteText(scanner, depth, changes, out);
        if (stats != nullptr) {
            WriteTextFileStats(*stats, out);
        }
        if (changes.comparison != nullptr) {
            WriteTextRemoved(*changes.comparison, out);
        }
    }
    std::fflush(out);
}

namespace {

// Says once on stderr what became of a kept scan.
void TellKept(const KeepOutcome& outcome) {
    switch (outcome.kind) {
        case ScanStore::Kept::Kept:
            std::fprintf(stderr, "quarn: the scan is kept as %s\n", outcome.file.c_str());
            break;
        case ScanStore::Kept::Unchanged:
            std::fprintf(stderr,
                         "quarn: the scan is the same as the newest kept one; not kept again\n");
            break;
        case ScanStore::Kept::Failed:
            std::fprintf(stderr, "quarn: %s\n", outcome.error.c_str());
            break;
    }
}

}  // namespace

int RunFolderReport(const ReportOptions& options) {
    std::string folder =
        options.importTree ? options.importFile : ResolveFolderArgument(options.folder);
    if (!options.importTree) {
        if (int error = CheckReadableFolder(folder)) {
            return error;
        }
    }
    InstallInterruptHandler();
    ScanAdditions additions;
    additions.walk = ReportWalkOptions(options);
    additions.allocated = options.allocated;
    ScanRequest request = ScanRequestFromSettings(
        options.importTree ? ScanRequest::Source::ImportFile : ScanRequest::Source::Folder, folder,
        additions);
    request.importSet = options.importSet;
    request.largestFiles = options.largest;
    // The earlier scan is read first, in the same measure: a damaged one
    // spares the scan.
    EarlierTree earlier;
    if (!options.sinceFile.empty()) {
        std::string error;
        if (!earlier.Read(options.sinceFile, request.allocatedSizes, error)) {
            std::fprintf(stderr, "quarn: %s: %s\n", options.sinceFile.c_str(), error.c_str());
            return 2;
        }
    }
    FolderScanner scanner;
    if (options.save) {
        scanner.SetScanKeeper(KeptScanMaker(QUARN_VERSION, TellKept));
    }
    scanner.StartScan(request);
    const bool interrupted = WaitForEngine(scanner);
    if (const std::string error = scanner.GetImportError(); !error.empty()) {
        if (options.importSet.empty()) {
            std::fprintf(stderr, "quarn: %s: %s\n", options.importFile.c_str(), error.c_str());
        } else {
            std::fprintf(stderr, "quarn: %s\n", error.c_str());
        }
        return 2;
    }
    std::optional<FolderComparison> comparison;
    if (!options.sinceFile.empty()) {
        comparison.emplace(scanner.Tree(), earlier);
    }
    // Large writes: a big tree prints tens of megabytes.
    std::setvbuf(stdout, nullptr, _IOFBF, 256 * 1024);
    WriteFolderReport(scanner, options.json, stdout, options.largest > 0, options.maxDepth,
                      ReportChanges{comparison ? &*comparison : nullptr, options.sortByChange});
    return interrupted ? 130 : 0;
}

}  // namespace quarn::cli

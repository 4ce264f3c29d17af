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
template <typename Visit>
void VisitItems(const FolderSizeTree& view, size_t maxDepth, Visit visit) {
    struct Frame {
        NodeHandle item;
        int64_t index;
        size_t pathLength;
        int next;
        int count;
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
        stack.push_back(
            Frame{top, counter++, path.size(), 0, maxDepth > 0 ? view.GetChildCount(top) : 0});
        while (!stack.empty()) {
            Frame& frame = stack.back();
            if (frame.next >= frame.count) {
                stack.pop_back();
                continue;
            }
            NodeHandle child = view.GetChildItem(frame.item, frame.next++);
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
                stack.push_back(Frame{child, index, path.size(), 0,
                                      depth < maxDepth ? view.GetChildCount(child) : 0});
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

void WriteText(const FolderScanner& scanner, size_t maxDepth, std::FILE* out) {
    const FolderSizeTree& view = scanner.Tree();
    std::string line;
    VisitItems(view, maxDepth, [&](const ReportItem& item) {
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
        line += '\n';
        std::fwrite(line.data(), 1, line.size(), out);
    });
    std::string status = scanner.GetStatus() + "\n";
    std::fwrite(status.data(), 1, status.size(), out);
}

void WriteJson(const FolderScanner& scanner, const ScanFileStats* stats, size_t maxDepth,
               std::FILE* out) {
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
    json.Key("items");
    json.BeginArray();
    VisitItems(view, maxDepth, [&](const ReportItem& item) {
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
        // Only the few folders not read whole carry these.
        if (std::optional<FolderReadProblems::Problem> problem = view.GetReadProblem(item.item)) {
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
                       std::optional<size_t> maxDepth) {
    std::shared_ptr<const ScanFileStats> stats;
    if (withFileStats) {
        stats = scanner.Tree().FileStats().Stats();
    }
    const size_t depth = maxDepth.value_or(SIZE_MAX);
    if (json) {
        WriteJson(scanner, stats.get(), depth, out);
    } else {
        WriteText(scanner, depth, out);
        if (stats != nullptr) {
            WriteTextFileStats(*stats, out);
        }
    }
    std::fflush(out);
}

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
    request.largestFiles = options.largest;
    FolderScanner scanner;
    scanner.StartScan(request);
    const bool interrupted = WaitForEngine(scanner);
    if (const std::string error = scanner.GetImportError(); !error.empty()) {
        std::fprintf(stderr, "quarn: %s: %s\n", options.importFile.c_str(), error.c_str());
        return 2;
    }
    // Large writes: a big tree prints tens of megabytes.
    std::setvbuf(stdout, nullptr, _IOFBF, 256 * 1024);
    WriteFolderReport(scanner, options.json, stdout, options.largest > 0, options.maxDepth);
    return interrupted ? 130 : 0;
}

}  // namespace quarn::cli

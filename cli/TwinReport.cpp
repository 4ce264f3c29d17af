// The headless twin-file report: the duplicate scan with the current
// settings, then the rebuilt list (or a filter search's list), printed.

#include <chrono>
#include <clocale>
#include <cstdio>
#include <string>
#include <thread>

#include "cli/Interrupt.h"
#include "cli/JsonWriter.h"
#include "cli/ProgressLine.h"
#include "cli/ReportCommand.h"
#include "duplicates/TwinListView.h"
#include "filter/FileSearch.h"
#include "platform/PathRules.h"

namespace quarn::cli {

namespace {

constexpr auto kPollInterval = std::chrono::milliseconds(50);

void PrintRowsAsText(const CTwinListView& list, const std::string& status) {
    std::string line;
    int rows = list.GetItemCount();
    for (int row = 0; row < rows; ++row) {
        line.clear();
        // The list's four columns: Content is for a verification.
        for (int column = 0; column < CFileListCtrl::kContentColumn; ++column) {
            if (column > 0) {
                line.push_back('\t');
            }
            line.append(list.GetRowText(row, column));
        }
        line.push_back('\n');
        std::fwrite(line.data(), 1, line.size(), stdout);
    }
    std::printf("%s\n", status.c_str());
}

// The rows grouped as they stand in the list: consecutive rows of one group
// form one entry.
void PrintRowsAsJson(const CTwinListView& list, const std::string& status) {
    JsonWriter json(stdout);
    json.BeginObject();
    json.Key("status");
    json.String(status);
    json.Key("files");
    json.Number(list.m_nFiles.load());
    json.Key("twin_rows_during_scan");
    json.Number(list.m_nScanTwinRows.load());
    json.Key("twin_bytes");
    json.Unsigned(list.m_nScanTwinBytes.load());
    json.Key("exceptions");
    json.Number(list.m_nExceptions.load());
    json.Key("groups");
    json.BeginArray();
    const BinBaum& tree = list.m_tree;
    bool open = false;
    GroupId current = 0;
    int rows = list.GetItemCount();
    for (int row = 0; row < rows; ++row) {
        std::optional<RowSource> source = list.GetRowSource(row);
        if (!source) {
            continue;
        }
        if (!open || source->group != current) {
            if (open) {
                json.EndArray();
                json.EndObject();
            }
            json.BeginObject();
            json.Key("name");
            json.String(tree.GroupName(source->group));
            json.Key("files");
            json.BeginArray();
            open = true;
            current = source->group;
        }
        uint64_t time = tree.FileLastWriteTime(source->file);
        json.BeginObject();
        json.Key("path");
        json.String(tree.FilePath(source->group, source->file));
        json.Key("size");
        json.Unsigned(tree.FileSize(source->file));
        json.Key("mtime");
        json.Unsigned(time);
        json.Key("modified");
        json.String(CFileListCtrl::FormatModifiedText(time));
        json.EndObject();
    }
    if (open) {
        json.EndArray();
        json.EndObject();
    }
    json.EndArray();
    json.EndObject();
    json.Finish();
}

}  // namespace

int RunTwinReport(const ReportOptions& options) {
    // Lower-casing for the filter follows the user's locale; numbers and
    // times in our texts do not depend on it.
    std::setlocale(LC_CTYPE, "");
    InstallInterruptHandler();

    // The rows name files to act on: absolute, as the folder report's paths.
    std::string folder = ResolveFolderArgument(options.folder);
    if (int error = CheckReadableFolder(folder)) {
        return error;
    }
    CTwinListView list;
    list.m_newFile.SetCompareFlags();
    list.m_walkOptions.threads = options.threads;
    list.StartScan(folder);
    {
        ProgressLine progress;
        while (list.IsScanRunning()) {
            if (InterruptRequested()) {
                list.CancelScan();
            }
            progress.Update(list.FoldersEntered(), list.m_nFiles.load(), list.GetStatus());
            std::this_thread::sleep_for(kPollInterval);
        }
        progress.Clear();
    }
    list.WaitForWorkers();
    bool interrupted = InterruptRequested();

    if (options.search && !interrupted) {
        FilterCriteria criteria;
        criteria.m_strSearch = options.filterText;
        criteria.m_bSizeRange = options.sizeRange;
        criteria.m_bTwinsOnly = options.twinsOnly;
        criteria.m_strMinKB = options.minKB;
        criteria.m_strMaxKB = options.maxKB;
        RunSearch(list, criteria);
    }

    std::string status = list.GetStatus();
    if (options.json) {
        PrintRowsAsJson(list, status);
    } else {
        PrintRowsAsText(list, status);
    }
    std::fflush(stdout);
    return interrupted ? 130 : 0;
}

}  // namespace quarn::cli

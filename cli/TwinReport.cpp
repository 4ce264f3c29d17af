// The headless twin-file report: the duplicate scan with the current
// settings, then the rebuilt list (or a filter search's list), printed;
// with --verify (or the setting VerifyContents) the contents are compared
// first and every row says what was found.

#include <chrono>
#include <clocale>
#include <cstdio>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

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
    // The four columns of the list; Content too once it has verdicts.
    const int columns =
        list.ShowsVerdicts() ? CFileListCtrl::kColumnCount : CFileListCtrl::kContentColumn;
    std::string line;
    int rows = list.GetItemCount();
    for (int row = 0; row < rows; ++row) {
        line.clear();
        for (int column = 0; column < columns; ++column) {
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

// A group's identical sets as indices into its printed files: every set of
// two files or more that hold the same bytes (their hard links with them).
void PrintSets(JsonWriter& json, const std::vector<FileVerdict>& verdicts) {
    std::map<uint32_t, std::vector<size_t>> sets;
    std::set<uint32_t> identical;
    for (size_t i = 0; i < verdicts.size(); ++i) {
        if (verdicts[i].set != 0) {
            sets[verdicts[i].set].push_back(i);
        }
        if (verdicts[i].content == Content::Identical) {
            identical.insert(verdicts[i].set);
        }
    }
    json.Key("sets");
    json.BeginArray();
    for (const auto& [set, members] : sets) {
        if (identical.count(set) == 0) {
            continue;
        }
        json.BeginArray();
        for (size_t index : members) {
            json.Unsigned(index);
        }
        json.EndArray();
    }
    json.EndArray();
}

// The rows grouped as they stand in the list: consecutive rows of one group
// form one entry.
void PrintRowsAsJson(const CTwinListView& list, const std::string& status) {
    const bool verified = list.ShowsVerdicts();
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
    if (verified) {
        json.Key("identical_bytes");
        json.Unsigned(list.CountTwins().identicalBytes);
    }
    json.Key("groups");
    json.BeginArray();
    const BinBaum& tree = list.m_tree;
    bool open = false;
    GroupId current = 0;
    std::vector<FileVerdict> verdicts;  // of the group's files printed so far
    auto closeGroup = [&] {
        json.EndArray();
        if (verified) {
            PrintSets(json, verdicts);
        }
        json.EndObject();
        verdicts.clear();
    };
    int rows = list.GetItemCount();
    for (int row = 0; row < rows; ++row) {
        std::optional<RowSource> source = list.GetRowSource(row);
        if (!source) {
            continue;
        }
        if (!open || source->group != current) {
            if (open) {
                closeGroup();
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
        if (verified) {
            FileVerdict verdict = list.VerdictOf(source->file);
            json.Key("content");
            if (verdict.content == Content::NotVerified) {
                json.Null();  // a cancel came first
            } else {
                json.String(ContentText(verdict.content));
            }
            std::string reason = list.VerdictReason(source->file);
            if (!reason.empty()) {
                json.Key("reason");
                json.String(reason);
            }
            verdicts.push_back(verdict);
        }
        json.EndObject();
    }
    if (open) {
        closeGroup();
    }
    json.EndArray();
    json.EndObject();
    json.Finish();
}

// Until the list's jobs have ended; an interrupt cancels them.
void WaitShowingProgress(CTwinListView& list) {
    ProgressLine progress;
    while (list.IsWorking()) {
        if (InterruptRequested()) {
            list.CancelScan();
        }
        progress.Update(list.FoldersEntered(), list.m_nFiles.load(), list.GetStatus());
        std::this_thread::sleep_for(kPollInterval);
    }
    progress.Clear();
    list.WaitForWorkers();
}

}  // namespace

int RunTwinReport(const ReportOptions& options) {
    // Lower-casing for the filter follows the user's locale; numbers and
    // times in our texts do not depend on it.
    std::setlocale(LC_CTYPE, "");
    InstallInterruptHandler();

    // The rows name files to act on: absolute, as the folder report's paths.
    std::string folder =
        options.importTree ? options.importFile : ResolveFolderArgument(options.folder);
    if (!options.importTree) {
        if (int error = CheckReadableFolder(folder)) {
            return error;
        }
    }
    CTwinListView list;
    list.m_newFile.SetCompareFlags();
    list.m_walkOptions = ReportWalkOptions(options);
    list.m_importFile = options.importTree ? options.importFile : std::string();
    list.StartScan(folder);
    WaitShowingProgress(list);
    if (const std::string error = list.GetImportError(); !error.empty()) {
        std::fprintf(stderr, "quarn: %s: %s\n", options.importFile.c_str(), error.c_str());
        return 2;
    }
    bool interrupted = InterruptRequested();
    if (options.verify && !interrupted && !list.ShowsVerdicts()) {
        list.StartVerify();
        WaitShowingProgress(list);
        interrupted = InterruptRequested();
    }

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

// The headless twin-file report: the duplicate scan with the current
// settings, then the rebuilt list (or a filter search's list), printed;
// with --verify (or the setting VerifyContents) the contents are compared
// first and every row says what was found.

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "cli/Interrupt.h"
#include "cli/JsonWriter.h"
#include "cli/ReportCommand.h"
#include "cli/WaitForEngine.h"
#include "duplicates/TwinRowText.h"
#include "duplicates/TwinScanner.h"
#include "filter/FileSearch.h"
#include "platform/PathRules.h"

namespace quarn::cli {

namespace {

void PrintRowsAsText(const TwinScanner& twins, const std::string& status) {
    // The list's columns File, Path, Size, Modified; Content too once it
    // has verdicts.
    const bool verified = twins.ShowsVerdicts();
    std::string line;
    const int rows = twins.Rows().GetItemCount();
    for (int row = 0; row < rows; ++row) {
        const std::optional<TwinRow> shown = twins.RowAt(row);
        if (!shown) {
            continue;
        }
        line = shown->name;
        line += '\t';
        line += shown->path;
        line += '\t';
        line += FormatSizeText(shown->size);
        line += '\t';
        line += FormatModifiedText(shown->lastWriteTime);
        if (verified) {
            line += '\t';
            line += ContentText(shown->content);
        }
        if (shown->content == Content::Folder) {
            line += '\t';
            line += std::to_string(shown->files);
            line += shown->files == 1 ? " file" : " files";
        }
        if (shown->reference) {
            line += "\treference";
        }
        line += '\n';
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
void PrintRowsAsJson(const TwinScanner& twins, const std::string& status) {
    const bool verified = twins.ShowsVerdicts();
    JsonWriter json(stdout);
    json.BeginObject();
    json.Key("status");
    json.String(status);
    json.Key("files");
    json.Number(twins.FileCount());
    json.Key("twin_rows_during_scan");
    json.Number(twins.ScanTwinRows());
    json.Key("twin_bytes");
    json.Unsigned(twins.ScanTwinBytes());
    json.Key("exceptions");
    json.Number(twins.ExceptionCount());
    if (verified) {
        json.Key("identical_bytes");
        json.Unsigned(twins.CountTwins().identicalBytes);
    }
    json.Key("groups");
    json.BeginArray();
    const BinBaum& tree = twins.Index();
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
    const int rows = twins.Rows().GetItemCount();
    for (int row = 0; row < rows; ++row) {
        std::optional<RowSource> source = twins.Rows().GetRowSource(row);
        if (!source || tree.FileIsFolder(source->file)) {
            continue;  // twin folders have a list of their own
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
        json.String(FormatModifiedText(time));
        if (verified) {
            FileVerdict verdict = twins.VerdictOf(source->file);
            json.Key("content");
            if (verdict.content == Content::NotVerified) {
                json.Null();  // a cancel came first
            } else {
                json.String(ContentText(verdict.content));
            }
            std::string reason = twins.VerdictReason(source->file);
            if (!reason.empty()) {
                json.Key("reason");
                json.String(reason);
            }
            verdicts.push_back(verdict);
        }
        if (tree.FileIsReference(source->file)) {
            json.Key("reference");
            json.Bool(true);
        }
        json.EndObject();
    }
    if (open) {
        closeGroup();
    }
    json.EndArray();
    if (twins.ByContent()) {
        // How long the search took, and its twin-folder step (benchmarks).
        const TwinScanner::ContentCounts counts = twins.LastContentCounts();
        json.Key("content_search_us");
        json.Unsigned(uint64_t(counts.seconds * 1e6));
        json.Key("twin_folder_us");
        json.Unsigned(uint64_t(counts.twinFolderSeconds * 1e6));
        json.Key("files_read");  // opened for reading, to hash or to sample the page cache
        json.Unsigned(counts.filesRead + counts.filesSampled);
        json.Key("twin_folders");
        json.BeginArray();
        for (const TwinFolderSet& set : twins.TwinFolders()) {
            json.BeginObject();
            json.Key("bytes");
            json.Unsigned(set.bytes);
            json.Key("files");
            json.Unsigned(set.files);
            json.Key("folders");
            json.BeginArray();
            for (const std::string& folder : set.folders) {
                json.String(folder);
            }
            json.EndArray();
            json.EndObject();
        }
        json.EndArray();
    }
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
    std::string folder =
        options.importTree ? options.importFile : ResolveFolderArgument(options.folder);
    if (!options.importTree) {
        if (int error = CheckReadableFolder(folder)) {
            return error;
        }
    }
    ScanAdditions additions;
    additions.walk = ReportWalkOptions(options);
    additions.verify = options.verify;
    additions.content = options.content;
    additions.references = options.references;
    additions.noCache = options.noCache;
    ScanRequest request = ScanRequestFromSettings(
        options.importTree ? ScanRequest::Source::ImportFile : ScanRequest::Source::Folder, folder,
        additions);
    request.importSet = options.importSet;
    if (request.contentTwins && options.sizeRange) {
        request.minContentSize = SizeBoundBytes(options.minKB);
        request.maxContentSize = SizeBoundBytes(options.maxKB);
    }
    TwinScanner twins;
    twins.StartScan(request);
    bool interrupted = WaitForEngine(twins);
    if (const std::string error = twins.GetImportError(); !error.empty()) {
        if (options.importSet.empty()) {
            std::fprintf(stderr, "quarn: %s: %s\n", options.importFile.c_str(), error.c_str());
        } else {
            std::fprintf(stderr, "quarn: %s\n", error.c_str());  // it names the file
        }
        return 2;
    }
    if ((options.verify || request.contentTwins) && !interrupted && !twins.ShowsVerdicts()) {
        twins.StartVerify();
        interrupted = WaitForEngine(twins);
    }

    if (options.search && !interrupted) {
        FilterCriteria criteria;
        criteria.m_strSearch = options.filterText;
        criteria.m_bSizeRange = options.sizeRange;
        criteria.m_bTwinsOnly = options.twinsOnly;
        criteria.m_strMinKB = options.minKB;
        criteria.m_strMaxKB = options.maxKB;
        RunSearch(twins, criteria);
    }

    const std::string status = twins.GetStatus();
    if (options.json) {
        PrintRowsAsJson(twins, status);
    } else {
        PrintRowsAsText(twins, status);
    }
    std::fflush(stdout);
    // For benchmarks (bench/walk_bench.sh), never part of the report: what
    // the twin index held.
    if (std::getenv("QUARN_BENCH_INDEX_BYTES") != nullptr) {
        const BinBaum& index = twins.Index();
        std::fprintf(stderr, "twin index: %zu files %zu bytes\n", index.FileCount(),
                     index.MemoryBytes());
    }
    return interrupted ? 130 : 0;
}

}  // namespace quarn::cli

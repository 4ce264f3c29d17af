#include "cli/DedupeCommand.h"

#include <cstdio>
#include <string>
#include <vector>

#include "cli/Interrupt.h"
#include "cli/JsonWriter.h"
#include "cli/WaitForEngine.h"
#include "duplicates/TwinScanner.h"
#include "foldersize/SizeText.h"
#include "platform/PathRules.h"

namespace quarn::cli {

namespace {

const char* OutcomeWord(ReplaceOutcome::Kind kind, bool dryRun) {
    switch (kind) {
        case ReplaceOutcome::Kind::Replaced:
            return dryRun ? "would replace" : "replaced";
        case ReplaceOutcome::Kind::Skipped:
            return "skipped";
        case ReplaceOutcome::Kind::Failed:
            return "failed";
    }
    return "";
}

void PrintText(const ReplacementSummary& summary) {
    std::string line;
    for (const ReplacementResult& result : summary.results) {
        line = OutcomeWord(result.outcome.kind, summary.dryRun);
        line += '\t';
        line += result.copyPath;
        if (result.outcome.kind == ReplaceOutcome::Kind::Replaced) {
            line += "\t=> ";
            line += result.keptPath;
            line += '\t';
            line += FormatSize(result.outcome.bytesFreed);
        } else {
            line += "\t";
            line += result.outcome.reason;
        }
        line += '\n';
        std::fwrite(line.data(), 1, line.size(), stdout);
    }
    std::printf("%s\n", ReplacementStatus(summary).c_str());
}

void PrintJson(const ReplacementSummary& summary, const TwinScanner& twins) {
    JsonWriter json(stdout);
    json.BeginObject();
    json.Key("status");
    json.String(ReplacementStatus(summary));
    json.Key("method");
    json.String(summary.method == ReplaceMethod::HardLink ? "hardlink" : "clone");
    json.Key("dry_run");
    json.Bool(summary.dryRun);
    json.Key("files");
    json.Number(twins.FileCount());
    json.Key("identical_bytes");
    json.Unsigned(twins.CountTwins().identicalBytes);
    json.Key("replacements");
    json.BeginArray();
    for (const ReplacementResult& result : summary.results) {
        json.BeginObject();
        json.Key("copy");
        json.String(result.copyPath);
        json.Key("kept");
        json.String(result.keptPath);
        json.Key("result");
        switch (result.outcome.kind) {
            case ReplaceOutcome::Kind::Replaced:
                json.String(summary.dryRun ? "would replace" : "replaced");
                break;
            case ReplaceOutcome::Kind::Skipped:
                json.String("skipped");
                break;
            case ReplaceOutcome::Kind::Failed:
                json.String("failed");
                break;
        }
        if (!result.outcome.reason.empty()) {
            json.Key("reason");
            json.String(result.outcome.reason);
        }
        json.Key("bytes_freed");
        json.Unsigned(result.outcome.bytesFreed);
        json.EndObject();
    }
    json.EndArray();
    json.Key("replaced");
    json.Number(summary.replaced);
    json.Key("skipped");
    json.Number(summary.skipped);
    json.Key("failed");
    json.Number(summary.failed);
    json.Key("bytes_freed");
    json.Unsigned(summary.bytesFreed);
    json.EndObject();
    json.Finish();
}

}  // namespace

int RunDedupeCommand(const ReportOptions& options) {
    InstallInterruptHandler();
    const std::string folder = ResolveFolderArgument(options.folder);
    if (int error = CheckReadableFolder(folder)) {
        return error;
    }
    ScanAdditions additions;
    additions.walk = ReportWalkOptions(options);
    additions.content = true;
    additions.references = options.references;
    additions.noCache = options.noCache;
    TwinScanner twins;
    twins.StartScan(ScanRequestFromSettings(ScanRequest::Source::Folder, folder, additions));
    if (WaitForEngine(twins) || !twins.ShowsVerdicts()) {
        std::fprintf(stderr, "quarn: interrupted; nothing was replaced\n");
        return 130;
    }
    const ReplaceMethod method = options.dedupe == ReportOptions::Dedupe::Clone
                                     ? ReplaceMethod::Clone
                                     : ReplaceMethod::HardLink;
    twins.StartReplace(method, twins.PlanAllReplacements(TwinScanner::KeepRule::Oldest),
                       options.dryRun);
    const bool interrupted = WaitForEngine(twins);
    const ReplacementSummary summary = twins.LastReplacement();
    if (options.json) {
        PrintJson(summary, twins);
    } else {
        PrintText(summary);
    }
    std::fflush(stdout);
    for (const ReplacementResult& result : summary.results) {
        if (result.outcome.kind == ReplaceOutcome::Kind::Failed) {
            std::fprintf(stderr, "quarn: %s: %s\n", result.copyPath.c_str(),
                         result.outcome.reason.c_str());
        }
    }
    if (interrupted) {
        return 130;
    }
    return summary.failed > 0 ? 1 : 0;
}

}  // namespace quarn::cli

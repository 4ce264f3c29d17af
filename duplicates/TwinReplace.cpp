#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <set>

#include "duplicates/TwinScanner.h"
#include "foldersize/SizeText.h"
#include "platform/ByteSum.h"

// The twin engine's replacement of copies by hard links or clones.

namespace quarn {

std::string ReplacementStatus(const ReplacementSummary& summary) {
    const char* how = summary.method == ReplaceMethod::HardLink ? "with hard links" : "with clones";
    char text[256];
    std::snprintf(text, sizeof text, "%s %d %s %s, %s %s; %d skipped, %d failed%s",
                  summary.dryRun ? "Would replace" : "Replaced", summary.replaced,
                  summary.replaced == 1 ? "copy" : "copies", how,
                  FormatSize(summary.bytesFreed).c_str(), summary.dryRun ? "to free" : "freed",
                  summary.skipped, summary.failed, summary.cancelled ? " (cancelled)" : "");
    return text;
}

std::string ReplacementProgressStatus(size_t done, size_t total, uint64_t bytesFreed) {
    char text[128];
    std::snprintf(text, sizeof text, "Replacing copies: %zu of %zu, %s freed", done, total,
                  FormatSize(bytesFreed).c_str());
    return text;
}

namespace {

// A file of an identical set, as a plan weighs it.
struct PlanMember {
    RowSource source;
    bool asked;
    bool reference;
    ExactTime time;
    std::string path;
};
using PlanSets = std::map<uint32_t, std::vector<PlanMember>>;

bool IsSetMember(const FileVerdict& verdict) {
    return verdict.content == Content::Identical ||
           (verdict.content == Content::HardLink && verdict.set != 0);
}

// The copies of `sets` to replace, and the file each set keeps.
std::vector<CopyReplacement> PlanFromSets(const BinBaum& tree, const PlanSets& sets,
                                          TwinScanner::KeepRule keep) {
    using KeepRule = TwinScanner::KeepRule;
    using Member = PlanMember;
    auto older = [](const ExactTime& x, const ExactTime& y) {
        return x.seconds != y.seconds ? x.seconds < y.seconds : x.ticks < y.ticks;
    };
    std::vector<CopyReplacement> plan;
    for (const auto& [set, members] : sets) {
        // Kept: a reference file, then one the rows leave alone, then by the rule.
        auto better = [&](const Member& a, const Member& b) {
            if (a.reference != b.reference) {
                return a.reference;
            }
            if (a.asked != b.asked) {
                return !a.asked;
            }
            // Equal times: the first path.
            if (keep != KeepRule::FirstPath && a.time != b.time) {
                return keep == KeepRule::Oldest ? older(a.time, b.time) : older(b.time, a.time);
            }
            return a.path < b.path;
        };
        size_t kept = 0;
        for (size_t i = 1; i < members.size(); ++i) {
            if (better(members[i], members[kept])) {
                kept = i;
            }
        }
        const FileId keptFile = members[kept].source.file;
        // The inodes asked to go: every one of their links goes with them.
        std::vector<FileId> goingInodes;
        for (const Member& member : members) {
            if (member.asked && !member.reference &&
                !tree.SameInode(member.source.file, keptFile) && member.source.file != keptFile) {
                goingInodes.push_back(member.source.file);
            }
        }
        for (const Member& member : members) {
            const FileId file = member.source.file;
            if (file == keptFile || member.reference || tree.SameInode(file, keptFile)) {
                continue;
            }
            const bool going = std::any_of(goingInodes.begin(), goingInodes.end(), [&](FileId f) {
                return f == file || tree.SameInode(f, file);
            });
            if (going) {
                plan.push_back(CopyReplacement{member.source, members[kept].source});
            }
        }
    }
    return plan;
}

}  // namespace

std::vector<CopyReplacement> TwinScanner::PlanReplacements(const std::vector<int>& rows,
                                                           KeepRule keep) const {
    // Every row of each identical set that `rows` touch, in row order.
    PlanSets sets;
    std::set<int> asked(rows.begin(), rows.end());
    std::set<uint32_t> touched;
    const int count = m_rows.GetItemCount();
    for (int row : rows) {
        if (std::optional<RowSource> source = m_rows.GetRowSource(row)) {
            if (const uint32_t set = VerdictOf(source->file).set; set != 0) {
                touched.insert(set);
            }
        }
    }
    for (int row = 0; row < count; ++row) {
        std::optional<RowSource> source = m_rows.GetRowSource(row);
        if (!source) {
            continue;
        }
        const FileVerdict verdict = VerdictOf(source->file);
        if (!IsSetMember(verdict) || touched.count(verdict.set) == 0) {
            continue;
        }
        sets[verdict.set].push_back(PlanMember{
            *source, asked.count(row) != 0, m_tree.FileIsReference(source->file),
            m_tree.FileExactTime(source->file), m_tree.FilePath(source->group, source->file)});
    }
    return PlanFromSets(m_tree, sets, keep);
}

std::vector<CopyReplacement> TwinScanner::PlanAllReplacements(KeepRule keep) const {
    // Every identical set of the index, the ones inside twin folders too,
    // which the list leaves out.
    PlanSets sets;
    for (GroupId group = 0; group < m_tree.GroupCount(); ++group) {
        for (FileId file = m_tree.GroupFirstFile(group); file != kNoFile;
             file = m_tree.NextFileInGroup(group, file)) {
            const FileVerdict verdict = VerdictOf(file);
            if (m_tree.FileIsFolder(file) || !IsSetMember(verdict)) {
                continue;
            }
            sets[verdict.set].push_back(
                PlanMember{RowSource{group, file}, true, m_tree.FileIsReference(file),
                           m_tree.FileExactTime(file), m_tree.FilePath(group, file)});
        }
    }
    for (auto& [set, members] : sets) {
        std::sort(members.begin(), members.end(),
                  [](const PlanMember& a, const PlanMember& b) { return a.path < b.path; });
    }
    return PlanFromSets(m_tree, sets, keep);
}

bool TwinScanner::StartReplace(ReplaceMethod method, std::vector<CopyReplacement> plan,
                               bool dryRun) {
    const bool started = m_runner.Start(
        JobKind::Replace,
        [this, method, plan = std::move(plan), dryRun](const JobRunner::Ticket& ticket) {
            ReplaceJob(ticket, method, plan, dryRun);
        },
        [this](JobKind current, bool busy, bool feeding) {
            return MayStartJob(current, busy, feeding);
        });
    if (!started) {
        ShowUserMessage(m_presenter, kAppIsBusyMessage);
    }
    return started;
}

ReplacementSummary TwinScanner::LastReplacement() const {
    std::lock_guard lock(m_mutex);
    return m_replacement;
}

void TwinScanner::ReplaceJob(const JobRunner::Ticket& ticket, ReplaceMethod method,
                             const std::vector<CopyReplacement>& plan, bool dryRun) {
    m_throttle = ProgressThrottle();
    ReplacementSummary summary;
    summary.method = method;
    summary.dryRun = dryRun;
    auto cancelled = [&ticket] { return ticket.Cancelled(); };
    for (size_t i = 0; i < plan.size(); ++i) {
        if (cancelled()) {
            summary.cancelled = true;
            break;
        }
        const CopyReplacement& step = plan[i];
        ReplacementResult result;
        result.copyPath = m_tree.FilePath(step.copy.group, step.copy.file);
        result.keptPath = m_tree.FilePath(step.kept.group, step.kept.file);
        if (m_tree.FileIsReference(step.copy.file)) {
            result.outcome =
                ReplaceOutcome{ReplaceOutcome::Kind::Skipped, "lies in a reference folder", 0};
        } else {
            result.outcome =
                ReplaceCopy(method, result.keptPath, ExpectedOf(step.kept.file), result.copyPath,
                            ExpectedOf(step.copy.file), dryRun, cancelled);
        }
        switch (result.outcome.kind) {
            case ReplaceOutcome::Kind::Replaced:
                ++summary.replaced;
                AddBytes(summary.bytesFreed, result.outcome.bytesFreed);
                if (!dryRun && method == ReplaceMethod::HardLink) {
                    RecordRelinked(step.copy.file, step.kept.file);
                }
                break;
            case ReplaceOutcome::Kind::Skipped:
                ++summary.skipped;
                break;
            case ReplaceOutcome::Kind::Failed:
                ++summary.failed;
                break;
        }
        summary.results.push_back(std::move(result));
        PublishStatusThrottled(ReplacementProgressStatus(i + 1, plan.size(), summary.bytesFreed));
    }
    summary.cancelled = summary.cancelled || summary.results.size() < plan.size();
    if (dryRun && method == ReplaceMethod::HardLink) {
        CountInodesThatWouldGo(plan, summary);
    }
    const std::string status = ReplacementStatus(summary);
    {
        std::lock_guard lock(m_mutex);
        m_replacement = std::move(summary);
    }
    SetStatusText(status);
}

void TwinScanner::CountInodesThatWouldGo(const std::vector<CopyReplacement>& plan,
                                         ReplacementSummary& summary) const {
    // A dry run unlinks nothing, so each name of a copy with several names
    // frees nothing by itself; when every name of an inode would be
    // replaced, its blocks would go with the last one.
    std::map<std::pair<uint64_t, uint64_t>, std::vector<size_t>> byInode;
    for (size_t i = 0; i < summary.results.size(); ++i) {
        if (summary.results[i].outcome.kind == ReplaceOutcome::Kind::Replaced) {
            const FileId copy = plan[i].copy.file;
            byInode[{m_tree.FileDevice(copy), m_tree.FileInode(copy)}].push_back(i);
        }
    }
    for (const auto& [inode, results] : byInode) {
        struct ::stat status {};
        const ReplacementResult& last = summary.results[results.back()];
        if (results.size() < 2 || ::lstat(last.copyPath.c_str(), &status) != 0 ||
            uint64_t(status.st_nlink) != results.size()) {
            continue;
        }
        const uint64_t bytes = uint64_t(status.st_blocks) * 512;
        summary.results[results.back()].outcome.bytesFreed = bytes;
        AddBytes(summary.bytesFreed, bytes);
    }
}

void TwinScanner::RecordRelinked(FileId copy, FileId kept) {
    std::lock_guard lock(m_rows.RowMutex());
    m_tree.RelinkFile(copy, kept);
    m_verdicts.Set(copy, FileVerdict{Content::HardLink, m_verdicts.Get(kept).set});
}

}  // namespace quarn

#include <algorithm>
#include <map>
#include <optional>
#include <unordered_map>

#include "duplicates/ContentVerifier.h"
#include "duplicates/TwinScanner.h"
#include "duplicates/TwinStatusText.h"
#include "foldersize/SizeText.h"
#include "platform/ByteSum.h"

// The twin engine's content verification, its counts, and Select Copies.

namespace quarn {

std::vector<TreeNode> TwinScanner::GroupsToCompare(uint64_t& files) const {
    std::vector<TreeNode> groups;
    files = 0;
    if (m_tree.m_nNodes != 0) {
        for (BinBaum::Cursor it = m_tree.First(); !it.AtEnd(); m_tree.Next(it)) {
            TreeNode node = it.Node();
            if (node.HasTwins() && node.IsCandidate()) {
                groups.push_back(node);
                files += node.FileCount();
            }
        }
    }
    return groups;
}

bool TwinScanner::StartVerify() {
    return StartVerifyJob(false);
}

bool TwinScanner::StartVerifyJob(bool fromFeed) {
    const bool started = m_runner.Start(
        JobKind::Verify, [this](const JobRunner::Ticket& ticket) { VerifyJob(ticket); },
        [this, fromFeed](JobKind current, bool busy, bool feeding) {
            // The feed that starts it is still counted; the job waits for it.
            return MayStartJob(current, busy, feeding && !fromFeed);
        });
    if (!started) {
        ShowUserMessage(m_presenter, kAppIsBusyMessage);
    }
    return started;
}

void TwinScanner::ShowVerifyProgress(uint64_t filesDone, uint64_t filesTotal, uint64_t bytesRead) {
    PublishStatusThrottled(VerifyProgressStatus(filesDone, filesTotal, bytesRead));
}

void TwinScanner::VerifyJob(const JobRunner::Ticket& ticket) {
    if (ByContent()) {
        ContentSearchJob(ticket);
        return;
    }
    m_throttle = ProgressThrottle();
    // The groups to verify, in list order; the tree does not change while
    // this job runs (scans supersede it, searches only read).
    uint64_t total = 0;
    const std::vector<TreeNode> groups = GroupsToCompare(total);
    auto cancelled = [&ticket] { return ticket.Cancelled(); };
    ContentVerifier verifier(cancelled);
    ShowVerifyProgress(0, total, 0);

    // Verdicts are kept apart until the end: the rows keep their order
    // while the user looks at them.
    ContentVerdicts found;
    size_t verifiedGroups = 0;
    std::vector<VerifyMember> members;
    for (const TreeNode& node : groups) {
        members.clear();
        for (FileId file = node.FirstFile(); file != kNoFile; file = node.NextFile(file)) {
            members.push_back(
                VerifyMember{file, m_tree.FilePath(node.Id(), file), ExpectedOf(file)});
        }
        std::optional<std::vector<MemberVerdict>> verdicts = verifier.VerifyGroup(members);
        if (!verdicts) {
            break;
        }
        for (size_t i = 0; i < members.size(); ++i) {
            found.Set(members[i].file, (*verdicts)[i].verdict, std::move((*verdicts)[i].reason));
        }
        ++verifiedGroups;
        ShowVerifyProgress(verifier.FilesDone(), total, verifier.BytesRead());
    }
    if (ticket.stop.stop_requested()) {
        return;  // a scan has started: the tree is about to go
    }
    const bool wasCancelled = verifiedGroups < groups.size();

    // Rows: group by group as before; within a group every set together in
    // the order its first file joined, changed and unread files last.
    std::vector<RowSource> rows;
    std::vector<std::pair<uint64_t, FileId>> order;  // (rank, file)
    std::unordered_map<uint32_t, uint64_t> firstOfSet;
    for (const TreeNode& node : groups) {
        order.clear();
        firstOfSet.clear();
        const uint64_t count = node.FileCount();
        uint64_t i = 0;
        for (FileId file = node.FirstFile(); file != kNoFile; file = node.NextFile(file), ++i) {
            FileVerdict verdict = found.Get(file);
            uint64_t rank = count + i;  // changed, unread, not verified
            if (verdict.set != 0) {
                rank = firstOfSet.try_emplace(verdict.set, i).first->second;
            }
            order.emplace_back((rank << 32) | i, file);
        }
        std::sort(order.begin(), order.end());
        for (const auto& entry : order) {
            rows.push_back(RowSource{node.Id(), entry.second});
        }
    }
    {
        std::lock_guard lock(m_rows.RowMutex());
        std::swap(m_verdicts, found);
    }
    m_rows.ReplaceRows(std::move(rows));
    m_shown = Shown::Verified;
    SetStatusText(VerifyStatus(CountTwins(), wasCancelled));
}

std::string TwinScanner::VerifyStatus(const TwinCounts& counts, bool cancelled) const {
    return quarn::VerifyStatus(counts.identicalCopies, counts.identicalBytes, counts.unique,
                               counts.hardLinks, counts.changed, counts.unread, counts.notVerified,
                               cancelled);
}

FileVerdict TwinScanner::VerdictOf(FileId file) const {
    std::lock_guard lock(m_rows.RowMutex());
    return m_verdicts.Get(file);
}

std::string TwinScanner::VerdictReason(FileId file) const {
    std::lock_guard lock(m_rows.RowMutex());
    return m_verdicts.Reason(file);
}

bool TwinScanner::HasVerdicts() const {
    std::lock_guard lock(m_rows.RowMutex());
    return !m_verdicts.Empty();
}

std::optional<TwinRow> TwinScanner::RowAt(int row) const {
    std::lock_guard lock(m_rows.RowMutex());
    const std::optional<RowSource> source = m_rows.GetRowSourceLocked(row);
    if (!source) {
        return std::nullopt;
    }
    TwinRow shown;
    shown.source = *source;
    shown.name = std::string(m_tree.FileName(source->group, source->file));
    shown.reference = m_tree.FileIsReference(source->file);
    shown.path = m_tree.FilePath(source->group, source->file);
    shown.size = m_tree.FileSize(source->file);
    shown.lastWriteTime = m_tree.FileLastWriteTime(source->file);
    shown.content = m_verdicts.Get(source->file).content;
    if (shown.content == Content::NotVerified && m_tree.FileIsExtraLink(source->file)) {
        shown.content = Content::HardLink;  // known from the scan, no reading needed
    }
    shown.reason = m_verdicts.Reason(source->file);
    if (shown.content == Content::Folder) {
        const auto files = m_twinFolderFiles.find(source->file);
        shown.files = files != m_twinFolderFiles.end() ? files->second : 0;
    }
    return shown;
}

TwinScanner::TwinCounts TwinScanner::CountTwins() const {
    TwinCounts counts;
    if (m_tree.m_nNodes == 0) {
        return counts;
    }
    std::lock_guard lock(m_rows.RowMutex());
    // Units per identical set, and the size they share.
    std::unordered_map<uint32_t, std::pair<int, uint64_t>> sets;
    for (BinBaum::Cursor it = m_tree.First(); !it.AtEnd(); m_tree.Next(it)) {
        TreeNode node = it.Node();
        if (!node.HasTwins() || !node.IsCandidate()) {
            continue;
        }
        bool first = true;
        for (FileId file = node.FirstFile(); file != kNoFile; file = node.NextFile(file)) {
            if (!m_tree.FileIsExtraLink(file)) {
                if (!first) {
                    ++counts.copies;
                    AddBytes(counts.copyBytes, m_tree.FileSize(file));
                }
                first = false;
            }
            FileVerdict verdict = m_verdicts.Get(file);
            switch (verdict.content) {
                case Content::Identical: {
                    auto& set = sets[verdict.set];
                    ++set.first;
                    set.second = m_tree.FileSize(file);
                    break;
                }
                case Content::Unique:
                    ++counts.unique;
                    break;
                case Content::HardLink:
                    ++counts.hardLinks;
                    break;
                case Content::Changed:
                    ++counts.changed;
                    break;
                case Content::Folder:
                    break;  // counted by the twin folders
                case Content::Unread:
                    ++counts.unread;
                    break;
                case Content::NotVerified:
                    ++counts.notVerified;
                    break;
            }
        }
    }
    for (const auto& [set, units] : sets) {
        counts.identicalSets += units.first >= 2 ? 1 : 0;
        counts.identicalCopies += units.first - 1;
        AddBytes(counts.identicalBytes,
                 SaturatingMultiply(uint64_t(units.first - 1), units.second));
    }
    return counts;
}

// --- Select Copies ------------------------------------------------------------

std::vector<int> TwinScanner::CopyRows(KeepRule keep) const {
    struct Member {
        int row;
        ExactTime time;
        std::string path;
        bool reference;
    };
    std::map<uint32_t, std::vector<Member>> sets;
    const int count = m_rows.GetItemCount();
    for (int row = 0; row < count; ++row) {
        std::optional<RowSource> source = m_rows.GetRowSource(row);
        if (!source) {
            continue;
        }
        FileVerdict verdict = VerdictOf(source->file);
        if (verdict.content != Content::Identical && verdict.content != Content::Folder) {
            continue;
        }
        sets[verdict.set].push_back(Member{row, m_tree.FileExactTime(source->file),
                                           keep == KeepRule::FirstPath
                                               ? m_tree.FilePath(source->group, source->file)
                                               : std::string(),
                                           m_tree.FileIsReference(source->file)});
    }
    std::vector<int> selected;
    for (const auto& [set, members] : sets) {
        if (members.size() < 2) {
            continue;  // its twin is not shown: nothing to choose between
        }
        auto better = [keep](const Member& a, const Member& b) {
            if (a.reference != b.reference) {
                return a.reference;  // a reference file is the one kept
            }
            auto older = [](const ExactTime& x, const ExactTime& y) {
                return x.seconds != y.seconds ? x.seconds < y.seconds : x.ticks < y.ticks;
            };
            switch (keep) {
                case KeepRule::Oldest:
                    return older(a.time, b.time);
                case KeepRule::Newest:
                    return older(b.time, a.time);
                case KeepRule::FirstPath:
                    return a.path < b.path;
            }
            return false;
        };
        // The first among equals is kept: the rows' order decides ties.
        size_t kept = 0;
        for (size_t i = 1; i < members.size(); ++i) {
            if (better(members[i], members[kept])) {
                kept = i;
            }
        }
        for (size_t i = 0; i < members.size(); ++i) {
            if (i != kept && !members[i].reference) {
                selected.push_back(members[i].row);
            }
        }
    }
    std::sort(selected.begin(), selected.end());
    return selected;
}

}  // namespace quarn

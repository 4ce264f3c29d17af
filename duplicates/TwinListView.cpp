#include "duplicates/TwinListView.h"

#include <algorithm>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <map>
#include <optional>
#include <unordered_map>
#include <unordered_set>

#include "duplicates/ContentFile.h"
#include "duplicates/ContentVerifier.h"
#include "foldersize/SizeText.h"
#include "platform/FolderWalker.h"
#include "platform/ImportReader.h"
#include "platform/PathRules.h"
#include "settings/ScanScope.h"
#include "settings/Settings.h"

namespace quarn {

namespace {

constexpr const char* kBusyMessage = "App is busy..";
// Workers show their progress no more often than this, like the folder scan.
constexpr auto kStatusInterval = std::chrono::milliseconds(40);

bool VerifyContentsSetting() {
    // Off unless the user turns it on: a scan stays as quick as it was.
    return ReadSetting(kVerifyContents, false);
}

std::string Format(const char* format, auto... values) {
    char text[512];
    std::snprintf(text, sizeof text, format, values...);
    return text;
}

}  // namespace

// Feeds the walk into the list. Keeps the current folder's path prefix so a
// file costs no path building.
class CTwinListView::ScanWalkSink : public WalkSink {
  public:
    ScanWalkSink(CTwinListView& list, std::stop_token stop) : m_list(list), m_stop(stop) {}

    bool EnterFolder(const std::string&, const FindRecord*) override {
        m_list.m_nFoldersEntered.fetch_add(1, std::memory_order_relaxed);
        // The one cancel test, once per folder.
        return m_list.m_bBusy.load(std::memory_order_relaxed) && !m_stop.stop_requested();
    }
    void AddFile(const std::string& folderPath, const FindRecord& file) override {
        if (folderPath != m_folder) {
            m_folder = folderPath;
            m_prefix = folderPath;
            AppendPathComponent(m_prefix, "");
        }
        m_list.AddFileAt(m_prefix, file);
    }
    void LeaveFolder(const std::string&) override {}

  private:
    CTwinListView& m_list;
    std::stop_token m_stop;
    std::string m_folder;
    std::string m_prefix;
};

CTwinListView::CTwinListView() {
    m_tree.SetOwner(this, &m_nTwinBytes);
}

CTwinListView::~CTwinListView() {
    m_bBusy.store(false);
    m_session.RequestStop();
    m_session.Wait();
}

void CTwinListView::SetUserMessagePresenter(UserMessagePresenter presenter) {
    m_presenter = presenter;
    m_tree.SetUserMessagePresenter(std::move(presenter));
}

void CTwinListView::ShowMessage(const std::string& text) const {
    ShowUserMessage(m_presenter, text);
}

// --- Status -----------------------------------------------------------------

void CTwinListView::SetStatusText(const std::string& text) {
    {
        std::lock_guard lock(m_statusMutex);
        m_strStatus.assign(text);
    }
    m_statusChanges.fetch_add(1, std::memory_order_release);
}

void CTwinListView::PublishStatusThrottled(const std::string& text) {
    auto now = std::chrono::steady_clock::now();
    if (now - m_lastStatus >= kStatusInterval) {
        m_lastStatus = now;
        SetStatusText(text);
    }
}

std::string CTwinListView::GetStatus() const {
    std::lock_guard lock(m_statusMutex);
    return m_strStatus;
}

std::string CTwinListView::ScanRoot() const {
    std::lock_guard lock(m_statusMutex);
    return m_strScanRoot;
}

std::string CTwinListView::FormatTwinBytes(uint64_t bytes) {
    m_strSizeText = FormatSize(bytes);
    return m_strSizeText;
}

// --- Jobs -------------------------------------------------------------------

bool CTwinListView::IsWorking() const {
    return m_bBusy.load() || m_session.JobRunning() || m_session.Feeding() ||
           m_bCombinedScan.load();
}

bool CTwinListView::MayStartJob(TwinSession::Job current, bool feeding) const {
    // Asked under the session's lock: nothing but a search may be at work.
    return !m_bBusy.load() && !m_bCombinedScan.load() && !feeding &&
           (current == TwinSession::Job::None || current == TwinSession::Job::Search);
}

void CTwinListView::StartScan(const std::string& folder) {
    {
        std::lock_guard lock(m_statusMutex);
        m_strScanRoot = folder;
        m_strImportedFrom = m_importFile;
    }
    const bool verify = VerifyContentsSetting();
    m_session.Start(
        TwinSession::Job::Scan,
        [this, folder, verify](const TwinSession::Ticket& ticket) {
            ScanJob(folder, ticket);
            if (verify && m_bBusy.load() && !ticket.stop.stop_requested()) {
                m_session.Retag(ticket, TwinSession::Job::Verify);
                VerifyJob(ticket);
            }
            m_session.ReleaseIfLatest(ticket, [this] { m_bBusy.store(false); });
        },
        [this](TwinSession::Job, bool) {
            // Claimed here, not on the thread, so that a cancel right after
            // the start is not lost.
            m_bBusy.store(true);
            m_bCombinedScan.store(false);  // a combined scan that never ended is over now
            return true;
        });
}

void CTwinListView::Scan(const std::string& root) {
    if (m_bBusy.load()) {
        ShowMessage(kBusyMessage);
        return;
    }
    StartScan(root);
    m_session.Wait();
}

void CTwinListView::EmptyTreeAndRows() {
    std::lock_guard lock(RowMutex());
    DeleteAllItemsLocked();
    m_verdicts.Clear();
    m_tree.Clear();
    m_shown = Shown::Scan;
}

void CTwinListView::ScanJob(const std::string& root, const TwinSession::Ticket& ticket) {
    m_nFiles.store(0);
    m_nFoldersEntered.store(0);
    m_nTwinBytes = 0;
    m_lastStatus = {};
    EmptyTreeAndRows();
    try {
        Walk(root, ticket.stop);
    } catch (...) {
        // A failure abandons the whole walk; what it inserted stays.
        m_nExceptions.fetch_add(1);
    }
    PublishScanSummary();
    if (ticket.stop.stop_requested()) {
        return;  // a newer job owns the tree now
    }
    RebuildRows(ticket.stop);
}

void CTwinListView::PublishScanSummary() {
    std::string sizeText = FormatTwinBytes(m_nTwinBytes);
    // Hard links of a file already in its group were shown but are no copies.
    int rows = GetItemCount() - int(m_tree.ExtraLinkJoins());
    m_nScanTwinRows.store(rows);
    m_nScanTwinBytes.store(m_nTwinBytes);
    std::string status = Format("Twin Files: %d [%s] of Files %d, Exceptions: %d", rows,
                                sizeText.c_str(), int(m_nFiles.load()), int(m_nExceptions.load()));
    SetStatusText(status + ImportedSuffix());
}

std::string CTwinListView::ImportedSuffix() const {
    std::lock_guard lock(m_statusMutex);
    return m_strImportedFrom.empty() ? std::string() : " [imported " + m_strImportedFrom + "]";
}

void CTwinListView::ImportInto(WalkSink& sink) {
    const bool standardInput = m_importFile == "-";
    int fd = standardInput ? 0 : ::open(m_importFile.c_str(), O_RDONLY | O_CLOEXEC);
    std::string error;
    if (fd < 0) {
        error = std::strerror(errno);
    } else {
        ImportOutcome outcome = ReadImport(fd, sink);
        if (!standardInput) {
            ::close(fd);
        }
        if (outcome.kind == ImportOutcome::Kind::Abandoned) {
            m_nExceptions.fetch_add(1);
        } else if (!outcome.Ok()) {
            error = outcome.Describe();
        }
    }
    if (!error.empty()) {
        m_nExceptions.fetch_add(1);
        std::lock_guard lock(m_importErrorMutex);
        m_strImportError = error;
    }
}

std::string CTwinListView::GetImportError() const {
    std::lock_guard lock(m_importErrorMutex);
    return m_strImportError;
}

void CTwinListView::Walk(const std::string& root, std::stop_token stop) {
    ScanWalkSink sink(*this, stop);
    if (!m_importFile.empty()) {
        ImportInto(sink);
        return;
    }
    if (WalkFolderTree(root, sink, WithScopeSettings(m_walkOptions)) == WalkResult::Abandoned) {
        m_nExceptions.fetch_add(1);
    }
}

void CTwinListView::AddFileAt(std::string_view folderPrefix, const FindRecord& record) {
    m_nFiles.fetch_add(1, std::memory_order_relaxed);
    m_tree.Insert(folderPrefix, record, m_newFile.m_nCompare);
    m_pathBuffer.assign(folderPrefix);
    m_pathBuffer.append(record.Name());
    PublishStatusThrottled(m_pathBuffer);
}

void CTwinListView::AddFile(const std::string& path, const FindRecord& record) {
    m_pathBuffer = NormalisedPath(path);
    m_newFile.Assign(record, m_pathBuffer);
    m_tree.Insert(m_newFile);
    m_nFiles.fetch_add(1, std::memory_order_relaxed);
    PublishStatusThrottled(m_pathBuffer);
}

void CTwinListView::AddFileInFolder(const std::string& folderPath, const FindRecord& record) {
    if (folderPath != m_feedFolder) {
        m_feedFolder = folderPath;
        m_feedPrefix = folderPath;
        AppendPathComponent(m_feedPrefix, "");
    }
    AddFileAt(m_feedPrefix, record);
}

void CTwinListView::RebuildList() {
    if (m_bBusy.exchange(true)) {
        ShowMessage(kBusyMessage);
        return;
    }
    if (m_bCombinedScan.load()) {
        // The end of a combined walk: the list gets the summary a duplicate
        // scan of the same folder writes, instead of its last file's path.
        if (m_feedDiscarded.empty()) {
            PublishScanSummary();
        } else {
            SetStatusText("Import failed: " + m_feedDiscarded + ImportedSuffix());
        }
    }
    RebuildRows(std::stop_token());
    m_bBusy.store(false);
    m_bCombinedScan.store(false);
}

void CTwinListView::RebuildRows(std::stop_token stop) {
    m_nTwinBytes = 0;
    DeleteAllItems();
    if (m_tree.m_nNodes == 0) {
        return;
    }
    for (BinBaum::Cursor it = m_tree.First(); !it.AtEnd() && !stop.stop_requested();
         m_tree.Next(it)) {
        TreeNode node = it.Node();
        if (!node.HasTwins()) {
            continue;
        }
        for (FileId file = node.FirstFile(); file != kNoFile; file = node.NextFile(file)) {
            AddRowForFile(node, file);
        }
    }
}

void CTwinListView::ResetForCombinedImport(const std::string& file) {
    ResetForCombinedScan(file);
    std::lock_guard lock(m_statusMutex);
    m_strImportedFrom = file;
}

void CTwinListView::DiscardFeed(const std::string& reason) {
    // The feeding thread owns the tree until its rebuild.
    EmptyTreeAndRows();
    m_nFiles.store(0);
    m_nTwinBytes = 0;
    m_feedDiscarded = reason.empty() ? std::string("damaged file") : reason;
}

void CTwinListView::ResetForCombinedScan(const std::string& folder) {
    {
        std::lock_guard lock(m_statusMutex);
        m_strScanRoot = folder;
        m_strImportedFrom.clear();
    }
    // A cancelled folder scan may still be adding files and rebuilding; its
    // end may start a verification, which is stopped below.
    m_session.WaitForFeeds();
    if (m_session.JobRunning()) {
        m_bBusy.store(false);
        m_session.RequestStop();
        m_session.Wait();
    }
    m_nFiles.store(0);
    m_nTwinBytes = 0;
    m_lastStatus = {};
    m_pathBuffer.clear();
    m_feedDiscarded.clear();
    EmptyTreeAndRows();
    m_bVerifyAfterFeed.store(VerifyContentsSetting());
    m_bCombinedScan.store(true);
}

void CTwinListView::BeginFeed() {
    m_session.BeginFeed();
}

void CTwinListView::EndFeed() {
    // Claimed while the feed still counts, so that a reset for the next
    // combined scan, which waits for the feed, finds the job and stops it.
    if (m_bVerifyAfterFeed.exchange(false)) {
        StartVerifyJob(true);
    }
    m_session.EndFeed();
}

// --- Search -----------------------------------------------------------------

bool CTwinListView::StartSearch(const FilterCriteria& criteria, SearchWorker worker) {
    bool started = m_session.Start(
        TwinSession::Job::Search,
        [this, criteria, worker = std::move(worker)](const TwinSession::Ticket& ticket) {
            m_shown = Shown::Search;
            worker(*this, criteria, ticket.stop);
        },
        [this](TwinSession::Job current, bool feeding) { return MayStartJob(current, feeding); });
    if (!started) {
        ShowMessage(kBusyMessage);
    }
    return started;
}

// --- Verification -----------------------------------------------------------

bool CTwinListView::StartVerify() {
    return StartVerifyJob(false);
}

bool CTwinListView::StartVerifyJob(bool fromFeed) {
    bool started = m_session.Start(
        TwinSession::Job::Verify,
        [this](const TwinSession::Ticket& ticket) {
            VerifyJob(ticket);
            m_session.ReleaseIfLatest(ticket, [this] { m_bBusy.store(false); });
        },
        [this, fromFeed](TwinSession::Job current, bool feeding) {
            // The feed that starts it is still counted; the job waits for it.
            if (!MayStartJob(current, feeding && !fromFeed)) {
                return false;
            }
            m_bBusy.store(true);
            return true;
        });
    if (!started) {
        ShowMessage(kBusyMessage);
    }
    return started;
}

ExpectedFile CTwinListView::ExpectedOf(FileId file) const {
    return ExpectedFile{m_tree.FileDevice(file), m_tree.FileInode(file), m_tree.FileSize(file),
                        m_tree.FileExactTime(file)};
}

void CTwinListView::ShowVerifyProgress(uint64_t filesDone, uint64_t filesTotal,
                                       uint64_t bytesRead) {
    PublishStatusThrottled(Format("Verifying contents: %llu of %llu files, %s read",
                                  static_cast<unsigned long long>(filesDone),
                                  static_cast<unsigned long long>(filesTotal),
                                  FormatSize(bytesRead).c_str()));
}

void CTwinListView::VerifyJob(const TwinSession::Ticket& ticket) {
    m_lastStatus = {};
    // The groups to verify, in list order; the tree does not change while
    // this job runs (scans supersede it, searches only read).
    std::vector<TreeNode> groups;
    uint64_t total = 0;
    if (m_tree.m_nNodes != 0) {
        for (BinBaum::Cursor it = m_tree.First(); !it.AtEnd(); m_tree.Next(it)) {
            TreeNode node = it.Node();
            if (node.HasTwins() && node.IsCandidate()) {
                groups.push_back(node);
                total += node.FileCount();
            }
        }
    }
    auto cancelled = [this, &ticket] {
        return !m_bBusy.load(std::memory_order_relaxed) || ticket.stop.stop_requested();
    };
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
        std::lock_guard lock(RowMutex());
        std::swap(m_verdicts, found);
    }
    ReplaceRows(rows, m_tree);
    m_shown = Shown::Verified;
    SetStatusText(VerifyStatus(CountTwins(), wasCancelled));
}

std::string CTwinListView::VerifyStatus(const TwinCounts& counts, bool cancelled) const {
    std::string text = Format(
        "%s: %d identical copies [%s] beyond the first of each set, %d unique, %d hard links, "
        "%d changed, %d unread",
        cancelled ? "Verification cancelled" : "Verified", counts.identicalCopies,
        FormatSize(counts.identicalBytes).c_str(), counts.unique, counts.hardLinks, counts.changed,
        counts.unread);
    if (counts.notVerified > 0) {
        text += Format(", %d not verified", counts.notVerified);
    }
    return text;
}

FileVerdict CTwinListView::VerdictOf(FileId file) const {
    std::lock_guard lock(RowMutex());
    return m_verdicts.Get(file);
}

std::string CTwinListView::VerdictReason(FileId file) const {
    std::lock_guard lock(RowMutex());
    return m_verdicts.Reason(file);
}

bool CTwinListView::HasVerdicts() const {
    std::lock_guard lock(RowMutex());
    return !m_verdicts.Empty();
}

std::string CTwinListView::ContentTextLocked(const RowSource& source) const {
    Content content = m_verdicts.Get(source.file).content;
    if (content == Content::NotVerified && m_tree.FileIsExtraLink(source.file)) {
        content = Content::HardLink;  // known from the scan, no reading needed
    }
    return std::string(ContentText(content));
}

CTwinListView::TwinCounts CTwinListView::CountTwins() const {
    TwinCounts counts;
    if (m_tree.m_nNodes == 0) {
        return counts;
    }
    std::lock_guard lock(RowMutex());
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
                    counts.copyBytes += m_tree.FileSize(file);
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
        counts.identicalCopies += units.first - 1;
        counts.identicalBytes += uint64_t(units.first - 1) * units.second;
    }
    return counts;
}

// --- Select Copies ------------------------------------------------------------

std::vector<int> CTwinListView::CopyRows(KeepRule keep) const {
    struct Member {
        int row;
        ExactTime time;
        std::string path;
    };
    std::map<uint32_t, std::vector<Member>> sets;
    const int count = GetItemCount();
    for (int row = 0; row < count; ++row) {
        std::optional<RowSource> source = GetRowSource(row);
        if (!source) {
            continue;
        }
        FileVerdict verdict = VerdictOf(source->file);
        if (verdict.content != Content::Identical) {
            continue;
        }
        sets[verdict.set].push_back(Member{row, m_tree.FileExactTime(source->file),
                                           keep == KeepRule::FirstPath
                                               ? m_tree.FilePath(source->group, source->file)
                                               : std::string()});
    }
    std::vector<int> selected;
    for (const auto& [set, members] : sets) {
        if (members.size() < 2) {
            continue;  // its twin is not shown: nothing to choose between
        }
        auto better = [keep](const Member& a, const Member& b) {
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
            if (i != kept) {
                selected.push_back(members[i].row);
            }
        }
    }
    std::sort(selected.begin(), selected.end());
    return selected;
}

// --- Move to Trash ------------------------------------------------------------

bool CTwinListView::InGroup(GroupId group, FileId file) const {
    if (group >= m_tree.GroupCount()) {
        return false;
    }
    for (FileId f = m_tree.GroupFirstFile(group); f != kNoFile;
         f = m_tree.NextFileInGroup(group, f)) {
        if (f == file) {
            return true;
        }
    }
    return false;
}

CTwinListView::TrashPlan CTwinListView::PlanTrash(const std::vector<RowSource>& files) const {
    TrashPlan plan;
    std::unordered_set<FileId> batch;
    for (const RowSource& source : files) {
        batch.insert(source.file);
    }
    for (const RowSource& source : files) {
        plan.freesNothing.push_back(false);
        if (!InGroup(source.group, source.file)) {
            continue;
        }
        ++plan.files;
        // Another link of the same inode stays: the data stays with it.
        bool linkStays = false;
        for (FileId f = m_tree.GroupFirstFile(source.group); f != kNoFile && !linkStays;
             f = m_tree.NextFileInGroup(source.group, f)) {
            linkStays = f != source.file && batch.count(f) == 0 && m_tree.SameInode(f, source.file);
        }
        if (linkStays) {
            ++plan.freeingNothing;
            plan.freesNothing.back() = true;
        } else {
            plan.bytes += m_tree.FileSize(source.file);
        }
    }
    return plan;
}

CTwinListView::TrashOutcome CTwinListView::CheckBeforeTrash(GroupId group, FileId file,
                                                            const std::string& path) {
    TrashOutcome outcome{path, TrashVerdict::Trashed, {}};
    std::string reason;
    ContentFile::Opened now = ContentFile::Check(path, ExpectedOf(file), reason);
    if (now != ContentFile::Opened::Yes) {
        outcome.verdict =
            now == ContentFile::Opened::Changed ? TrashVerdict::Changed : TrashVerdict::Unread;
        outcome.reason = reason;
        return outcome;
    }
    // The other files of the group that are still as the scan saw them.
    auto stillThere = [this, group](FileId other) {
        std::string ignored;
        return ContentFile::Check(m_tree.FilePath(group, other), ExpectedOf(other), ignored) ==
               ContentFile::Opened::Yes;
    };
    std::vector<FileId> others;
    for (FileId f = m_tree.GroupFirstFile(group); f != kNoFile;
         f = m_tree.NextFileInGroup(group, f)) {
        if (f != file) {
            others.push_back(f);
        }
    }
    for (FileId other : others) {
        if (m_tree.SameInode(other, file) && stillThere(other)) {
            return outcome;  // another link keeps the data
        }
    }
    const FileVerdict verdict = VerdictOf(file);
    switch (verdict.content) {
        case Content::Identical:
        case Content::HardLink: {
            bool setHasOther = false;
            for (FileId other : others) {
                if (VerdictOf(other).set == verdict.set && !m_tree.SameInode(other, file)) {
                    setHasOther = true;
                    if (stillThere(other)) {
                        return outcome;
                    }
                }
            }
            outcome.verdict = setHasOther ? TrashVerdict::LastOfSet : TrashVerdict::Differs;
            outcome.reason = setHasOther ? "no other file with the same content is left"
                                         : "its content differs from every twin";
            return outcome;
        }
        case Content::Unique:
            // Unique from the start, or the last of its set by now.
            outcome.verdict = TrashVerdict::LastOfSet;
            outcome.reason = "no other file with the same content is left";
            return outcome;
        case Content::Changed:
            outcome.verdict = TrashVerdict::Changed;
            outcome.reason = VerdictReason(file);
            return outcome;
        case Content::Unread:
            outcome.verdict = TrashVerdict::Unread;
            outcome.reason = "could not be read: " + VerdictReason(file);
            return outcome;
        case Content::NotVerified:
            break;
    }
    // Not verified: its bytes must be another file's.
    std::vector<VerifyMember> pair(2);
    pair[0] = VerifyMember{file, path, ExpectedOf(file)};
    bool comparedOne = false;
    for (FileId other : others) {
        if (m_tree.FileSize(other) != m_tree.FileSize(file) || m_tree.SameInode(other, file)) {
            continue;
        }
        pair[1] = VerifyMember{other, m_tree.FilePath(group, other), ExpectedOf(other)};
        ContentVerifier verifier({});
        std::optional<std::vector<MemberVerdict>> compared = verifier.VerifyGroup(pair);
        if (!compared) {
            continue;
        }
        const MemberVerdict& mine = (*compared)[0];
        const Content theirs = (*compared)[1].verdict.content;
        if (mine.verdict.content == Content::Identical) {
            return outcome;
        }
        if (mine.verdict.content == Content::Changed || mine.verdict.content == Content::Unread) {
            outcome.verdict = mine.verdict.content == Content::Changed ? TrashVerdict::Changed
                                                                       : TrashVerdict::Unread;
            outcome.reason = mine.reason;
            return outcome;
        }
        comparedOne = comparedOne || theirs == Content::Unique;
    }
    // Twins that changed or cannot be read prove nothing.
    outcome.verdict = comparedOne ? TrashVerdict::Differs : TrashVerdict::LastOfSet;
    outcome.reason = comparedOne ? "its content differs from every twin"
                                 : "no other file with the same content is left";
    return outcome;
}

void CTwinListView::ForgetTrashed(GroupId group, FileId file) {
    std::lock_guard lock(RowMutex());
    m_tree.RemoveFile(group, file);
    m_verdicts.Erase(file);
    RemoveRowsLocked([file](const RowSource& source) { return source.file == file; });

    // Distinct inodes left in the group, and in each identical set.
    int units = 0;
    std::unordered_map<uint32_t, std::vector<FileId>> sets;
    for (FileId f = m_tree.GroupFirstFile(group); f != kNoFile;
         f = m_tree.NextFileInGroup(group, f)) {
        if (!m_tree.FileIsExtraLink(f)) {
            ++units;
            FileVerdict verdict = m_verdicts.Get(f);
            if (verdict.content == Content::Identical) {
                sets[verdict.set].push_back(f);
            }
        }
    }
    // The last file of a set is no longer identical to anything.
    for (const auto& [set, files] : sets) {
        if (files.size() == 1) {
            m_verdicts.Set(files[0], FileVerdict{Content::Unique, set});
        }
    }
    if (units < 2) {
        // No twin left: the group leaves the list (it stays in the tree).
        RemoveRowsLocked([group](const RowSource& source) { return source.group == group; });
    }
}

std::vector<CTwinListView::TrashOutcome> CTwinListView::TrashFiles(
    const std::vector<RowSource>& files, const TrashMover& mover) {
    std::vector<TrashOutcome> outcomes;
    if (IsWorking()) {
        for (size_t i = 0; i < files.size(); ++i) {
            outcomes.push_back(TrashOutcome{
                {}, TrashVerdict::Busy, "a scan, search or verification is still at work"});
        }
        return outcomes;
    }
    int trashed = 0;
    for (const RowSource& source : files) {
        if (!InGroup(source.group, source.file)) {
            outcomes.push_back(TrashOutcome{{}, TrashVerdict::Changed, "is no longer listed"});
            continue;
        }
        const std::string path = m_tree.FilePath(source.group, source.file);
        TrashOutcome outcome = CheckBeforeTrash(source.group, source.file, path);
        if (outcome.verdict == TrashVerdict::Trashed) {
            // The trash checks once more, at the moment it moves the file.
            FileIdentity expected{m_tree.FileDevice(source.file), m_tree.FileInode(source.file),
                                  m_tree.FileSize(source.file),
                                  m_tree.FileLastWriteTime(source.file), false};
            TrashResult result = mover ? mover(path, expected) : MoveToTrash(path, expected);
            if (result.Ok()) {
                ForgetTrashed(source.group, source.file);
                ++trashed;
            } else {
                outcome.verdict = result.status == TrashStatus::IdentityChanged ||
                                          result.status == TrashStatus::Vanished
                                      ? TrashVerdict::Changed
                                      : TrashVerdict::Failed;
                outcome.reason = result.error;
            }
        }
        outcomes.push_back(std::move(outcome));
    }
    if (trashed > 0) {
        m_nFiles.fetch_sub(trashed);
        SetStatusText(StatusAfterChange());
    }
    return outcomes;
}

std::string CTwinListView::StatusAfterChange() const {
    switch (m_shown.load()) {
        case Shown::Search:
            return Format("FileFind - Objects found %d - ready", GetItemCount());
        case Shown::Verified:
            return VerifyStatus(CountTwins(), false);
        case Shown::Scan:
            break;
    }
    TwinCounts counts = CountTwins();
    return Format("Twin Files: %d [%s] of Files %d, Exceptions: %d", counts.copies,
                  FormatSize(counts.copyBytes).c_str(), int(m_nFiles.load()),
                  int(m_nExceptions.load()));
}

}  // namespace quarn

#include <algorithm>
#include <atomic>
#include <chrono>
#include <map>
#include <mutex>
#include <new>
#include <thread>

#include "duplicates/ContentVerifier.h"
#include "duplicates/TwinScanner.h"
#include "duplicates/TwinStatusText.h"
#include "platform/ByteSum.h"
#include "platform/FileSystems.h"

// The twin engine's search by content: every group of equal size is split
// into its sets of identical bytes, and each set becomes a group of its own.

namespace quarn {

namespace {

// A set found by the search, before it becomes a group.
struct FoundSet {
    GroupId from = 0;
    std::vector<FileId> files;  // in join order
    uint64_t size = 0;
    int inodes = 0;  // files that are not another's hard link
    bool onlyReference = true;
};

}  // namespace

void TwinScanner::ContentSearchJob(const JobRunner::Ticket& ticket) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point started = Clock::now();
    m_throttle = ProgressThrottle();
    const ScanRequest request = LastRequest();
    bool walkReferences = false;
    {
        std::lock_guard lock(m_mutex);
        std::swap(walkReferences, m_walkReferencesAfterFeed);
    }
    if (walkReferences) {
        // A combined scan walked the root only; the twins need the rest.
        WalkReferenceFolders(request, ticket.stop);
    }

    // The groups of equal size, in the order PlanReads gives them.
    uint64_t total = 0;
    std::vector<TreeNode> groups = GroupsToCompare(total);
    std::unique_ptr<KnownHashes> known;
    if (request.hashCache) {
        known = OpenHashCache();
    }
    uint64_t filesSampled = 0;
    const size_t readers = PlanReads(groups, request.contentReaders, known.get(), filesSampled);
    uint64_t filesRead = 0;
    auto cancelled = [&ticket] { return ticket.Cancelled(); };
    ShowVerifyProgress(0, total, 0);

    // Each reader takes the next group; what it found is merged under the
    // lock, with set numbers of its own made unique.
    ContentVerdicts found;
    std::vector<FoundSet> sets;
    std::mutex merging;
    uint32_t nextSet = 1;
    size_t verifiedGroups = 0;
    std::atomic<uint64_t> filesDone{0};
    std::atomic<uint64_t> bytesRead{0};
    std::atomic<size_t> nextGroup{0};
    auto merge = [&](const std::vector<VerifyMember>& members, std::vector<MemberVerdict>& verdicts,
                     GroupId group) {
        std::map<uint32_t, uint32_t> renumbered;  // the reader's set -> the search's
        std::map<uint32_t, size_t> setIndex;      // the search's set -> index in `sets`
        for (size_t i = 0; i < members.size(); ++i) {
            FileVerdict verdict = verdicts[i].verdict;
            if (verdict.set != 0) {
                auto [it, added] = renumbered.try_emplace(verdict.set, nextSet);
                nextSet += added ? 1 : 0;
                verdict.set = it->second;
            }
            found.Set(members[i].file, verdict, std::move(verdicts[i].reason));
            const bool member = verdict.content == Content::Identical ||
                                (verdict.content == Content::HardLink && verdict.set != 0);
            if (!member) {
                continue;
            }
            auto [it, added] = setIndex.try_emplace(verdict.set, sets.size());
            if (added) {
                sets.push_back(FoundSet{group, {}, m_tree.FileSize(members[i].file), 0, true});
            }
            FoundSet& set = sets[it->second];
            set.files.push_back(members[i].file);
            if (verdict.content == Content::Identical) {
                ++set.inodes;
            }
            if (!m_tree.FileIsReference(members[i].file)) {
                set.onlyReference = false;
            }
        }
    };
    auto read = [&] {
        ContentVerifier verifier(cancelled, known.get());
        std::vector<VerifyMember> members;
        uint64_t doneBefore = 0;
        uint64_t readBefore = 0;
        for (size_t g = nextGroup++; g < groups.size(); g = nextGroup++) {
            const TreeNode& node = groups[g];
            members.clear();
            for (FileId file = node.FirstFile(); file != kNoFile; file = node.NextFile(file)) {
                members.push_back(VerifyMember{file, m_tree.FilePath(node.Id(), file),
                                               ExpectedOf(file), m_tree.FileChangeTime(file)});
            }
            std::optional<std::vector<MemberVerdict>> verdicts;
            try {
                verdicts = verifier.VerifyGroup(members);
            } catch (const std::bad_alloc&) {
                m_runner.Cancel();  // no memory to go on with: what was found stays
            }
            if (!verdicts) {
                break;
            }
            filesDone += verifier.FilesDone() - doneBefore;
            bytesRead += verifier.BytesRead() - readBefore;
            doneBefore = verifier.FilesDone();
            readBefore = verifier.BytesRead();
            std::lock_guard lock(merging);
            merge(members, *verdicts, node.Id());
            ++verifiedGroups;
            ShowVerifyProgress(filesDone, total, bytesRead);
        }
        std::lock_guard lock(merging);
        filesRead += verifier.FilesRead();
    };
    {
        std::vector<std::jthread> others;
        for (size_t i = 1; i < readers; ++i) {
            others.emplace_back(read);
        }
        read();
    }
    if (ticket.stop.stop_requested()) {
        return;  // a scan has started: the tree is about to go
    }
    const bool wasCancelled = verifiedGroups < groups.size();
    if (known) {
        SaveHashCache(*known);
    }

    // A set of identical content needs two files or more that are not links
    // of one another; one made only of reference files offers nothing.
    std::erase_if(sets, [](const FoundSet& set) { return set.inodes < 2 || set.onlyReference; });
    // Within a set, by path: the same list whatever order the walk met them in.
    for (FoundSet& set : sets) {
        std::vector<std::pair<std::string, FileId>> byPath;
        for (FileId file : set.files) {
            byPath.emplace_back(m_tree.FilePath(set.from, file), file);
        }
        std::sort(byPath.begin(), byPath.end());
        for (size_t i = 0; i < byPath.size(); ++i) {
            set.files[i] = byPath[i].second;
        }
    }
    // Most space first; equal space by the first path.
    std::stable_sort(sets.begin(), sets.end(), [this](const FoundSet& a, const FoundSet& b) {
        const uint64_t spaceA = SaturatingMultiply(a.size, uint64_t(a.inodes - 1));
        const uint64_t spaceB = SaturatingMultiply(b.size, uint64_t(b.inodes - 1));
        if (spaceA != spaceB) {
            return spaceA > spaceB;
        }
        return m_tree.FilePath(a.from, a.files.front()) < m_tree.FilePath(b.from, b.files.front());
    });

    ContentCounts counts;
    counts.filesRead = filesRead;
    counts.filesSampled = filesSampled;
    counts.bytesRead = bytesRead;
    std::vector<RowSource> rows;
    {
        std::lock_guard lock(m_rows.RowMutex());
        // The rows still name the old groups until they are replaced below;
        // the files they name keep their ids.
        try {
            for (const FoundSet& set : sets) {
                const GroupId group = m_tree.SplitOff(set.from, set.files);
                for (FileId file : set.files) {
                    rows.push_back(RowSource{group, file});
                }
                ++counts.sets;
            }
        } catch (const std::bad_alloc&) {
            ShowUserMessage(m_presenter, "BinBaum:: new TreeNode - exception");
        }
        if (!wasCancelled) {
            // Found from the verdicts just made: they are swapped in below.
            std::swap(m_verdicts, found);
            const Clock::time_point folders = Clock::now();
            ListTwinFolders(request, rows, nextSet);
            counts.twinFolderSeconds =
                std::chrono::duration<double>(Clock::now() - folders).count();
            std::swap(m_verdicts, found);
        }
        // What stays of the size groups is no twin group any more, nor is a
        // group the search did not reach.
        for (const TreeNode& node : groups) {
            m_tree.RetireGroup(node.Id());
        }
        for (const TreeNode& node : groups) {
            for (FileId file = node.FirstFile(); file != kNoFile; file = node.NextFile(file)) {
                const Content content = found.Get(file).content;
                counts.changed += content == Content::Changed ? 1 : 0;
                counts.unread += content == Content::Unread ? 1 : 0;
            }
        }
        std::swap(m_verdicts, found);
    }
    counts.seconds = std::chrono::duration<double>(Clock::now() - started).count();
    {
        std::lock_guard lock(m_mutex);
        m_contentCounts = counts;
    }
    m_rows.ReplaceRows(std::move(rows));
    m_shown = Shown::Verified;
    SetStatusText(ContentStatus(wasCancelled));
}

size_t TwinScanner::PlanReads(std::vector<TreeNode>& groups, unsigned asked, KnownHashes* known,
                              uint64_t& opened) const {
    // Readers beyond the cores still help: most of their time is the wait for
    // the device, which a flash disk or a network answers in parallel.
    constexpr size_t kReadersOffRotatingDisks = 4;
    if (groups.empty()) {
        return 1;
    }
    const std::optional<bool> rotating = IsRotatingDisk(m_tree.FileDevice(groups[0].FirstFile()));
    if (asked > 1 || (asked == 0 && !rotating.value_or(false))) {
        // Largest first: most space is decided first.
        std::stable_sort(groups.begin(), groups.end(),
                         [this](const TreeNode& a, const TreeNode& b) {
                             return m_tree.FileSize(a.FirstFile()) > m_tree.FileSize(b.FirstFile());
                         });
        return asked != 0 ? asked : kReadersOffRotatingDisks;
    }
    // A rotating disk whose files are in the page cache already (a second
    // search, a tree just written) reads without seeking: several readers.
    if (asked == 0 && SampleIsCached(groups, known, opened)) {
        std::stable_sort(groups.begin(), groups.end(),
                         [this](const TreeNode& a, const TreeNode& b) {
                             return m_tree.FileSize(a.FirstFile()) > m_tree.FileSize(b.FirstFile());
                         });
        return kReadersOffRotatingDisks;
    }
    // Otherwise one reader, in inode order, which mostly follows where the
    // files lie, so the head sweeps instead of seeking to and fro.
    std::vector<std::pair<uint64_t, TreeNode>> byInode;
    for (const TreeNode& node : groups) {
        uint64_t lowest = UINT64_MAX;
        for (FileId file = node.FirstFile(); file != kNoFile; file = node.NextFile(file)) {
            lowest = std::min(lowest, m_tree.FileInode(file));
        }
        byInode.emplace_back(lowest, node);
    }
    std::stable_sort(byInode.begin(), byInode.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    for (size_t i = 0; i < groups.size(); ++i) {
        groups[i] = byInode[i].second;
    }
    return 1;
}

bool TwinScanner::SampleIsCached(const std::vector<TreeNode>& groups, KnownHashes* known,
                                 uint64_t& opened) const {
    // A few files spread over the groups; opening them reads nothing. A file
    // whose hashes are known will not be read at all: it is not opened.
    constexpr size_t kSamples = 8;
    const size_t step = std::max<size_t>(1, groups.size() / kSamples);
    size_t sampled = 0;
    for (size_t i = 0; i < groups.size() && sampled < kSamples; i += step, ++sampled) {
        const FileId file = groups[i].FirstFile();
        if (known != nullptr && !known->KnowsNothing()) {
            const std::optional<struct ::stat> status =
                StatusSeenByWalk(ExpectedOf(file), m_tree.FileChangeTime(file));
            const std::optional<StageHashes> hashes = status ? known->Find(*status) : std::nullopt;
            if (hashes && hashes->whole) {
                continue;
            }
        }
        ContentFile content;
        const ContentFile::Opened result =
            content.Open(m_tree.FilePath(groups[i].Id(), file), ExpectedOf(file));
        opened += result == ContentFile::Opened::Yes ? 1 : 0;
        if (result != ContentFile::Opened::Yes || !content.FirstBytesCached()) {
            return false;
        }
    }
    return sampled > 0;
}

std::string TwinScanner::ContentStatus(bool cancelled) const {
    const TwinCounts twins = CountTwins();
    const ContentCounts content = LastContentCounts();
    std::string status =
        ContentSearchStatus(twins.identicalSets, twins.identicalCopies, twins.identicalBytes,
                            twins.hardLinks, content.changed, content.unread, cancelled);
    const std::vector<TwinFolderSet> folders = TwinFolders();
    if (!folders.empty()) {
        status += TwinFoldersStatus(int(folders.size()), BytesInFolderCopies(folders));
    }
    return status;
}

}  // namespace quarn

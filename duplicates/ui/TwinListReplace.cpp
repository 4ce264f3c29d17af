// The twin list's replacement of copies by hard links or clones: the menu
// entries, the question, and what the pane does when the engine's job ends.

#include <QAction>
#include <QMenu>
#include <algorithm>
#include <set>
#include <utility>

#include "controls/FileNameText.h"
#include "duplicates/ui/TwinListModel.h"
#include "duplicates/ui/TwinListView.h"
#include "foldersize/SizeText.h"
#include "platform/ByteSum.h"
#include "platform/PathRules.h"

namespace quarn {

namespace {

// The ids of the row menu's replace entries, beyond the shell menu's own.
constexpr int kCmdReplaceHardLinks = 32830;
constexpr int kCmdReplaceClones = 32831;
// A longer list would not fit the screen.
constexpr qsizetype kProblemsListed = 20;

QString ReplaceTitle() {
    return QObject::tr("Replace Copies");
}

}  // namespace

std::vector<CopyReplacement> CTwinListView::ReplacementPlan(const std::vector<int>& rows) const {
    if (rows.empty() || m_twins.IsWorking() || !m_twins.ShowsVerdicts()) {
        return {};
    }
    return m_twins.PlanReplacements(rows, m_keep);
}

bool CTwinListView::ReplaceSelectedCopies(ReplaceMethod method) {
    // A replay that changes the rows clears the selection: never replace
    // the files of rows the user did not see selected.
    m_pModel->ApplyPendingChanges();
    return ReplaceCopies(method, SelectedRows());
}

bool CTwinListView::ReplaceCopies(ReplaceMethod method, const std::vector<int>& rows) {
    std::vector<CopyReplacement> plan = ReplacementPlan(rows);
    if (plan.empty()) {
        return false;
    }
    // A copy's space goes only with its inode's last link, and the plan
    // takes every link of an inode it touches: each inode counts once.
    const BinBaum& index = m_twins.Index();
    std::set<std::pair<uint64_t, uint64_t>> inodes;
    uint64_t bytes = 0;
    for (const CopyReplacement& step : plan) {
        const FileId file = step.copy.file;
        if (inodes.emplace(index.FileDevice(file), index.FileInode(file)).second) {
            AddBytes(bytes, index.FileSize(file));
        }
    }
    const bool links = method == ReplaceMethod::HardLink;
    const QString size = QString::fromStdString(FormatSize(bytes));
    QString question;
    if (plan.size() == 1) {
        question = links ? tr("Replace 1 copy with a hard link? This frees at most %1.").arg(size)
                         : tr("Replace 1 copy with a clone? This frees at most %1.").arg(size);
    } else {
        question = (links ? tr("Replace %1 copies with hard links? This frees at most %2.")
                          : tr("Replace %1 copies with clones? This frees at most %2."))
                       .arg(plan.size())
                       .arg(size);
    }
    question += QStringLiteral("\n\n");
    question += links ? tr("Hard links share one owner, permissions and modification time: those "
                           "of the file kept.")
                      : tr("Each copy keeps its name, owner and permissions; only file systems "
                           "that can clone (such as btrfs and XFS) take part.");
    question += QLatin1Char('\n') + tr("Files in reference folders are never replaced.");
    if (!Confirm(ReplaceTitle(), question)) {
        return false;
    }
    // Refused with "App is busy.." when a job started meanwhile.
    if (!m_twins.StartReplace(method, std::move(plan), false)) {
        return false;
    }
    m_replacing = true;
    return true;
}

void CTwinListView::OnReplaceEnded() {
    if (!m_replacing || m_twins.IsReplacing()) {
        return;
    }
    m_replacing = false;
    // Rows keep their places: a copy that became a hard link only reads so.
    m_pModel->ApplyPendingChanges();
    m_pModel->RepaintRows();

    const ReplacementSummary summary = m_twins.LastReplacement();
    // A hard link changes what folders count (an inode counts once per
    // folder); a clone keeps the copy's inode, size and blocks, so the
    // folder tree would read the same.
    if (!summary.dryRun && summary.method == ReplaceMethod::HardLink) {
        std::vector<std::string> folders;
        for (const ReplacementResult& result : summary.results) {
            if (result.outcome.kind != ReplaceOutcome::Kind::Replaced) {
                continue;
            }
            std::string folder(FolderOfPath(result.copyPath));
            if (std::find(folders.begin(), folders.end(), folder) == folders.end()) {
                folders.push_back(std::move(folder));
            }
        }
        for (const std::string& folder : folders) {
            m_diskChanges.AnnounceChanged(folder);
        }
    }

    QStringList problems;
    for (const ReplacementResult& result : summary.results) {
        if (result.outcome.kind != ReplaceOutcome::Kind::Replaced) {
            problems << tr("%1: %2").arg(FileNameText(result.copyPath),
                                         QString::fromStdString(result.outcome.reason));
        }
    }
    if (!problems.isEmpty()) {
        QString text = summary.results.size() == 1 ? tr("This copy was not replaced:")
                                                   : tr("%1 of %2 copies were not replaced:")
                                                         .arg(problems.size())
                                                         .arg(summary.results.size());
        const qsizetype shown = std::min(problems.size(), kProblemsListed);
        text += QLatin1Char('\n') + problems.mid(0, shown).join(QLatin1Char('\n'));
        if (problems.size() > shown) {
            text += QLatin1Char('\n') + tr("and %1 more").arg(problems.size() - shown);
        }
        ShowError(ReplaceTitle(), text);
    }
    Q_EMIT copiesReplaced();
}

void CTwinListView::AddRowCommands(QMenu* menu, QAction* after, const std::vector<int>& rows) {
    // Entries are inserted before the one that follows `after`.
    QAction* before = nullptr;
    const QList<QAction*> actions = menu->actions();
    const qsizetype at = actions.indexOf(after);
    if (at >= 0 && at + 1 < actions.size()) {
        before = actions[at + 1];
    }
    const bool offered = !ReplacementPlan(rows).empty();
    for (const auto& [text, command] :
         {std::pair{tr("Replace Copies with Hard Links..."), kCmdReplaceHardLinks},
          std::pair{tr("Replace Copies with Clones..."), kCmdReplaceClones}}) {
        auto* action = new QAction(text, menu);
        action->setData(command);
        action->setEnabled(offered);
        menu->insertAction(before, action);
    }
}

bool CTwinListView::CarryOutRowCommand(int command, const std::vector<int>& rows) {
    if (command != kCmdReplaceHardLinks && command != kCmdReplaceClones) {
        return false;
    }
    ReplaceCopies(command == kCmdReplaceHardLinks ? ReplaceMethod::HardLink : ReplaceMethod::Clone,
                  rows);
    return true;
}

}  // namespace quarn

#include "app/TwinCommands.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QMenu>
#include <QStyle>
#include <QToolBar>

#include "duplicates/ui/TwinListView.h"

namespace quarn {

TwinCommands::TwinCommands(CTwinListView& pane, QObject* parent) : QObject(parent), m_pane(pane) {
    m_verify = new QAction(QApplication::style()->standardIcon(QStyle::SP_DialogApplyButton),
                           tr("&Verify Contents"), this);
    m_verify->setIconVisibleInMenu(false);
    m_verify->setToolTip(tr("Verify Contents"));
    m_verify->setStatusTip(tr("Compare the contents of the twins"));
    connect(m_verify, &QAction::triggered, this, &TwinCommands::OnVerify);

    m_selectCopies = new QAction(tr("Select &Copies"), this);
    m_selectCopies->setStatusTip(tr("Select every identical copy but one of each set"));
    connect(m_selectCopies, &QAction::triggered, this, &TwinCommands::OnSelectCopies);

    m_keep = new QActionGroup(this);
    m_keep->setExclusive(true);
    for (const QString& text : {tr("&Oldest"), tr("&Newest"), tr("&First Path")}) {
        QAction* rule = new QAction(text, m_keep);
        rule->setCheckable(true);
    }
    m_keep->actions().front()->setChecked(true);
    // The list's own menu replaces copies too: both keep the same file.
    connect(m_keep, &QActionGroup::triggered, this, [this] { m_pane.SetKeepRule(Keep()); });
    m_pane.SetKeepRule(Keep());

    m_replaceLinks = new QAction(tr("Replace Copies with Hard Links..."), this);
    m_replaceLinks->setStatusTip(
        tr("Make the selected copies hard links of the file each set keeps"));
    connect(m_replaceLinks, &QAction::triggered, this,
            [this] { m_pane.ReplaceSelectedCopies(ReplaceMethod::HardLink); });
    m_replaceClones = new QAction(tr("Replace Copies with Clones..."), this);
    m_replaceClones->setStatusTip(
        tr("Make the selected copies share their blocks with the file each set keeps"));
    connect(m_replaceClones, &QAction::triggered, this,
            [this] { m_pane.ReplaceSelectedCopies(ReplaceMethod::Clone); });
}

void TwinCommands::AddToMenu(QMenu* menu) {
    menu->addSeparator();
    menu->addAction(m_verify);
    menu->addAction(m_selectCopies);
    m_keepMenu = menu->addMenu(tr("&Keep in Each Set"));
    m_keepMenu->addActions(m_keep->actions());
    menu->addSeparator();
    menu->addAction(m_replaceLinks);
    menu->addAction(m_replaceClones);
}

void TwinCommands::AddToToolBar(QToolBar* bar) {
    bar->addAction(m_verify);
}

void TwinCommands::Refresh(bool dupmatch) {
    m_verify->setEnabled(dupmatch);
    m_selectCopies->setEnabled(dupmatch);
    if (m_keepMenu != nullptr) {
        m_keepMenu->setEnabled(dupmatch);
    }
    const bool replace = dupmatch && m_pane.MayReplaceSelectedCopies();
    m_replaceLinks->setEnabled(replace);
    m_replaceClones->setEnabled(replace);
}

void TwinCommands::OnVerify() {
    // Refused with "App is busy.." while a scan or verification runs.
    m_pane.Twins().StartVerify();
}

TwinScanner::KeepRule TwinCommands::Keep() const {
    const QList<QAction*> rules = m_keep->actions();
    if (rules[1]->isChecked()) {
        return TwinScanner::KeepRule::Newest;
    }
    if (rules[2]->isChecked()) {
        return TwinScanner::KeepRule::FirstPath;
    }
    return TwinScanner::KeepRule::Oldest;
}

void TwinCommands::OnSelectCopies() {
    m_pane.SelectCopies(Keep());
    m_pane.setFocus(Qt::ShortcutFocusReason);
}

}  // namespace quarn

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
}

void TwinCommands::AddToMenu(QMenu* menu) {
    menu->addSeparator();
    menu->addAction(m_verify);
    menu->addAction(m_selectCopies);
    m_keepMenu = menu->addMenu(tr("&Keep in Each Set"));
    m_keepMenu->addActions(m_keep->actions());
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

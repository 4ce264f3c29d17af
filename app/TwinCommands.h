#pragma once
// The Dupmatch commands that act on the twin list's contents: "Verify
// Contents" (menu and tool bar), "Select Copies", which keeps, in every
// identical set, the file the "Keep in Each Set" choice names (the oldest
// unless the user picks the newest or the first path), and "Replace Copies
// with Hard Links..." and "... with Clones..." for the selected copies, which
// keep the same file of each set.
//
// The frame creates one, places its actions and refreshes their enabling
// with its own. Interface thread only; the pane must outlive the commands'
// use (both belong to the frame).

#include <QObject>

#include "duplicates/TwinScanner.h"

class QAction;
class QActionGroup;
class QMenu;
class QToolBar;

namespace quarn {

class CTwinListView;

class TwinCommands : public QObject {
    Q_OBJECT

  public:
    TwinCommands(CTwinListView& pane, QObject* parent);

    // A separator, Verify Contents, Select Copies, the Keep in Each Set
    // choice, a separator and the two Replace commands, appended to `menu`.
    void AddToMenu(QMenu* menu);
    // Verify Contents, appended to `bar`.
    void AddToToolBar(QToolBar* bar);
    // Enabled in the Dupmatch mode only; the Replace commands when the
    // selection holds a copy the list can replace now.
    void Refresh(bool dupmatch);

    void OnVerify();
    void OnSelectCopies();
    TwinScanner::KeepRule Keep() const;

    QAction* VerifyAction() const { return m_verify; }
    QAction* SelectCopiesAction() const { return m_selectCopies; }
    // Oldest, Newest, First Path, in this order.
    QActionGroup* KeepGroup() const { return m_keep; }
    QAction* ReplaceLinksAction() const { return m_replaceLinks; }
    QAction* ReplaceClonesAction() const { return m_replaceClones; }

  private:
    CTwinListView& m_pane;
    QAction* m_verify = nullptr;
    QAction* m_selectCopies = nullptr;
    QActionGroup* m_keep = nullptr;
    QMenu* m_keepMenu = nullptr;
    QAction* m_replaceLinks = nullptr;
    QAction* m_replaceClones = nullptr;
};

}  // namespace quarn

#pragma once
// The context menu of a file as the desktop would offer it, with our own
// "Open Folder" on top: "Open Folder", a separator, "Open", "Open With..."
// (the programs the desktop offers for the file's type, including those for
// the types it derives from), "Copy Path", "Move to Trash" and "Properties".
//
// One object serves one right click: SetPath, then ShowMenu once. Runs on
// the user-interface thread only.

#include <QPoint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/DesktopApplications.h"
#include "platform/Trash.h"

class QMenu;
class QWidget;

namespace quarn {

// What ShowMenu returns. kCmdOpenFolder is not carried out (the caller opens
// the folder that holds the file); every other id is returned only when its
// command was carried out. 0: dismissed, declined or failed.
inline constexpr int kCmdNone = 0;
inline constexpr int kCmdOpen = 1;
inline constexpr int kCmdCopyPath = 2;
inline constexpr int kCmdMoveToTrash = 3;  // every path really went to the trash
inline constexpr int kCmdProperties = 4;
inline constexpr int kCmdOpenWithFirst = 100;  // + index of the program in the submenu
inline constexpr int kCmdOpenWithLast = 10000;
inline constexpr int kCmdOpenFolder = 32822;

class CShellItemMenu {
  public:
    CShellItemMenu();
    virtual ~CShellItemMenu();
    CShellItemMenu(const CShellItemMenu&) = delete;
    CShellItemMenu& operator=(const CShellItemMenu&) = delete;

    // The file (raw bytes) the menu is for.
    void SetPath(const std::string& path);
    // Several files: the commands act on all of them; the first decides the
    // programs offered by "Open With...". Needs at least one path.
    void SetPaths(const std::vector<std::string>& paths);

    // Shows the menu at the screen point, carries out the chosen command and
    // returns its id (see the constants above). With no paths returns 0.
    int ShowMenu(QWidget* owner, QPoint globalPos);

    // The steps of ShowMenu, for callers and tests that pick the action
    // themselves. BuildMenu makes the menu afresh (owned by this object) and
    // takes each path's identity: Move to Trash later refuses a path that
    // has become another file since. Carry out returns as ShowMenu does.
    QMenu* BuildMenu(QWidget* owner = nullptr);
    int CarryOut(QWidget* owner, int commandId);

    // The programs listed under "Open With..." by the last BuildMenu; a
    // chosen one is started on every path of the menu.
    const std::vector<DesktopApplication>& Handlers() const { return m_handlers; }

  private:
    bool OpenWith(QWidget* owner, size_t handler);

    std::vector<std::string> m_paths;
    std::vector<std::optional<FileIdentity>> m_identities;
    std::vector<DesktopApplication> m_handlers;
    std::unique_ptr<QMenu> m_pMenu;
};

}  // namespace quarn

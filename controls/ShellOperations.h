#pragma once
// Our stand-ins for the desktop shell's file services, as the panes call
// them: open with the desktop's default handler, copy or move into a folder
// with progress, move to the trash after asking, show properties, browse for
// a folder.
//
// Every function runs on the user-interface thread and returns when the
// operation has ended (ShowProperties excepted: its dialog stays open on its
// own). A `false` result means "aborted": cancelled, declined or failed; the
// user has then already been told what failed, and the caller leaves its
// tree or list unchanged.
//
// Every question, progress dialog and error is a child of `parent`'s window
// (the main window), in front of it and modal to it.
//
// The interactive steps go through ShellHooks(): an empty member means the
// real dialog; tests set them so that nothing modal blocks and no program is
// started.

#include <QPoint>
#include <QString>
#include <QUrl>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/FileOperation.h"
#include "platform/Trash.h"

class QAction;
class QMenu;
class QWidget;

namespace quarn {

struct ShellOperationHooks {
    // A yes/no question; true = yes.
    std::function<bool(QWidget* parent, const QString& title, const QString& text)> confirm;
    // Asked before `target` would be overwritten by `source`.
    std::function<ConflictAnswer(QWidget* parent, const std::string& target,
                                 const std::string& source)>
        askOverwrite;
    // An error the user must see (after a failed operation).
    std::function<void(QWidget* parent, const QString& title, const QString& text)> showError;
    // The folder picker; empty = cancelled.
    std::function<std::string(QWidget* parent, const QString& title)> browse;
    // Hands a URL to the desktop; true when it was taken.
    std::function<bool(const QUrl& url)> openUrl;
    // Picks an action of a popup menu instead of showing it (null = dismissed).
    std::function<QAction*(QMenu* menu, const QPoint& globalPos)> pickMenuAction;
};

// The hooks in force (all empty unless a test set them).
ShellOperationHooks& ShellHooks();

// Shows `menu` at `globalPos` and returns the chosen action (a test's hook
// picks instead); null when it was dismissed or the action is disabled.
QAction* ExecMenu(QMenu* menu, const QPoint& globalPos);

// Shows an error the user must see (through the hooks in tests).
void ShowErrorMessage(QWidget* parent, const QString& title, const QString& text);

// Opens a file or folder with the desktop's default handler (for a folder the
// file manager). Failures are shown to the user; false then.
bool OpenWithDefaultHandler(const std::string& path);

// Copies or moves `source` (file or folder) into `destFolder` with a progress
// dialog that can be cancelled and a question before anything is overwritten.
// True only when the whole operation completed (a move: the source is gone).
bool CopyInto(QWidget* parent, const std::string& source, const std::string& destFolder);
bool MoveInto(QWidget* parent, const std::string& source, const std::string& destFolder);
// The same for several files at once (a folder's loose files): one progress,
// one answer for all. True only when every one of them completed.
bool CopyFilesInto(QWidget* parent, const std::vector<std::string>& sources,
                   const std::string& destFolder);
bool MoveFilesInto(QWidget* parent, const std::vector<std::string>& sources,
                   const std::string& destFolder);

// Asks "Do you really want to move ... to the trash?" and, on yes, moves it
// there. With `expected`, the path must still be that file at the moment of
// the move. True only when the entry really went to the trash; nothing is
// ever deleted permanently.
bool TrashWithConfirmation(QWidget* parent, const std::string& path,
                           const std::optional<FileIdentity>& expected = {});

// Asks "Move the 2 files in FOLDER to the trash?" and, on yes, moves each of
// `paths` there, each only while it is still the file `identities` names
// (same order). Returns how many went to the trash, -1 when the user
// declined. What could not go is shown in one message.
int TrashFilesWithConfirmation(QWidget* parent, const std::string& folder,
                               const std::vector<std::string>& paths,
                               const std::vector<FileIdentity>& identities);

// Shows our Properties dialog for the path (not modal; it deletes itself
// when closed and stops its folder count then).
void ShowProperties(QWidget* parent, const std::string& path);

// The folder picker; the chosen folder's path, or empty when cancelled.
std::string BrowseForFolder(QWidget* parent, const QString& title = "Select a directory...");

}  // namespace quarn

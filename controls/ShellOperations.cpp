#include "controls/ShellOperations.h"

#include <QAction>
#include <QMenu>

#include <sys/stat.h>

#include <QApplication>
#include <QDesktopServices>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QStringList>

#include "controls/FileNameText.h"
#include "controls/FileOperationDialog.h"
#include "controls/PropertiesDialog.h"

namespace quarn {

namespace {

// The window a question or an error belongs to: the caller's window (the
// main window for the panes), so that it shows in front of it.
QWidget* DialogParent(QWidget* parent) {
    return parent != nullptr ? parent->window() : QApplication::activeWindow();
}

void ShowError(QWidget* parent, const QString& title, const QString& text) {
    if (ShellHooks().showError) {
        ShellHooks().showError(parent, title, text);
    } else {
        QMessageBox::warning(DialogParent(parent), title, text);
    }
}

bool Confirm(QWidget* parent, const QString& title, const QString& text) {
    if (ShellHooks().confirm) {
        return ShellHooks().confirm(parent, title, text);
    }
    return QMessageBox::question(DialogParent(parent), title, text,
                                 QMessageBox::Yes | QMessageBox::No,
                                 QMessageBox::No) == QMessageBox::Yes;
}

bool Transfer(QWidget* parent, FileOperation::Kind kind, const std::vector<std::string>& sources,
              const std::string& destFolder) {
    FileOperationDialog::AskConflict ask;
    if (ShellHooks().askOverwrite) {
        ask = ShellHooks().askOverwrite;
    }
    FileOperationResult result =
        FileOperationDialog::Run(DialogParent(parent), kind, sources, destFolder, ask);
    const QString title =
        kind == FileOperation::Kind::Copy ? QObject::tr("Copy to...") : QObject::tr("Move to...");
    if (result.status == FileOperationStatus::Failed) {
        ShowError(parent, title, QString::fromStdString(result.error));
        return false;
    }
    if (!result.Completed()) {
        return false;
    }
    if (kind == FileOperation::Kind::Move) {
        // Entries skipped after a question keep the source in place: then
        // the move did not carry it all away.
        for (const std::string& source : sources) {
            struct stat st;
            if (::lstat(source.c_str(), &st) == 0) {
                return false;
            }
        }
    }
    return true;
}

}  // namespace

void ShowErrorMessage(QWidget* parent, const QString& title, const QString& text) {
    ShowError(parent, title, text);
}

QAction* ExecMenu(QMenu* menu, const QPoint& globalPos) {
    QAction* chosen = ShellHooks().pickMenuAction ? ShellHooks().pickMenuAction(menu, globalPos)
                                                  : menu->exec(globalPos);
    return chosen != nullptr && chosen->isEnabled() ? chosen : nullptr;
}

ShellOperationHooks& ShellHooks() {
    static ShellOperationHooks hooks;
    return hooks;
}

bool OpenWithDefaultHandler(const std::string& path) {
    QUrl url = QUrl::fromLocalFile(FileNameText(path));
    bool opened = ShellHooks().openUrl ? ShellHooks().openUrl(url) : QDesktopServices::openUrl(url);
    if (!opened) {
        ShowError(nullptr, QObject::tr("Open"),
                  QObject::tr("No application could open \"%1\".").arg(FileNameText(path)));
    }
    return opened;
}

bool CopyInto(QWidget* parent, const std::string& source, const std::string& destFolder) {
    return Transfer(parent, FileOperation::Kind::Copy, {source}, destFolder);
}

bool MoveInto(QWidget* parent, const std::string& source, const std::string& destFolder) {
    return Transfer(parent, FileOperation::Kind::Move, {source}, destFolder);
}

bool CopyFilesInto(QWidget* parent, const std::vector<std::string>& sources,
                   const std::string& destFolder) {
    return Transfer(parent, FileOperation::Kind::Copy, sources, destFolder);
}

bool MoveFilesInto(QWidget* parent, const std::vector<std::string>& sources,
                   const std::string& destFolder) {
    return Transfer(parent, FileOperation::Kind::Move, sources, destFolder);
}

int TrashFilesWithConfirmation(QWidget* parent, const std::string& folder,
                               const std::vector<std::string>& paths,
                               const std::vector<FileIdentity>& identities) {
    const QString title = QObject::tr("Move to Trash");
    const QString question =
        paths.size() == 1
            ? QObject::tr("Move the 1 file in %1 to the trash?").arg(FileNameText(folder))
            : QObject::tr("Move the %1 files in %2 to the trash?")
                  .arg(QString::number(qulonglong(paths.size())), FileNameText(folder));
    if (!Confirm(parent, title, question)) {
        return -1;
    }
    int trashed = 0;
    QStringList failures;
    for (size_t i = 0; i < paths.size(); ++i) {
        std::optional<FileIdentity> expected;
        if (i < identities.size()) {
            expected = identities[i];
        }
        TrashResult result = MoveToTrash(paths[i], expected);
        if (result.Ok()) {
            ++trashed;
        } else {
            failures << QStringLiteral("%1: %2").arg(QFileInfo(FileNameText(paths[i])).fileName(),
                                                     QString::fromStdString(result.error));
        }
    }
    if (!failures.isEmpty()) {
        ShowError(parent, title,
                  QObject::tr("Not moved to the trash:\n%1").arg(failures.join(QLatin1Char('\n'))));
    }
    return trashed;
}

bool TrashWithConfirmation(QWidget* parent, const std::string& path,
                           const std::optional<FileIdentity>& expected) {
    const QString title = QObject::tr("Move to Trash");
    QString name = QFileInfo(FileNameText(path)).fileName();
    if (name.isEmpty()) {
        name = FileNameText(path);
    }
    if (!IdentityOf(path)) {
        // Nothing to ask about: say so at once.
        ShowError(parent, title, QObject::tr("\"%1\" no longer exists.").arg(FileNameText(path)));
        return false;
    }
    if (!Confirm(parent, title,
                 QObject::tr("Do you really want to move \"%1\" to the trash?").arg(name))) {
        return false;
    }
    TrashResult result = MoveToTrash(path, expected);
    if (!result.Ok()) {
        ShowError(parent, title,
                  QObject::tr("\"%1\" was not moved to the trash:\n%2")
                      .arg(name, QString::fromStdString(result.error)));
        return false;
    }
    return true;
}

void ShowProperties(QWidget* parent, const std::string& path) {
    auto* dialog = new PropertiesDialog(path, parent);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->show();
}

std::string BrowseForFolder(QWidget* parent, const QString& title) {
    if (ShellHooks().browse) {
        return ShellHooks().browse(parent, title);
    }
    QString folder = QFileDialog::getExistingDirectory(DialogParent(parent), title);
    return folder.isEmpty() ? std::string() : FileNameBytes(folder);
}

}  // namespace quarn

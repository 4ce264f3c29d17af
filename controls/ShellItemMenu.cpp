#include "controls/ShellItemMenu.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QFile>
#include <QMenu>
#include <QMessageBox>

#include <sys/stat.h>

#include "controls/FileNameText.h"
#include "controls/ShellOperations.h"
#include "platform/PathRules.h"

namespace quarn {

CShellItemMenu::CShellItemMenu() = default;

CShellItemMenu::~CShellItemMenu() = default;

void CShellItemMenu::SetPath(const std::string& path) {
    SetPaths({path});
}

void CShellItemMenu::SetPaths(const std::vector<std::string>& paths) {
    m_paths = paths;
    m_identities.clear();
    m_handlers.clear();
    m_pMenu.reset();
}

QMenu* CShellItemMenu::BuildMenu(QWidget* owner) {
    m_pMenu = std::make_unique<QMenu>(owner);
    m_identities.clear();
    m_handlers.clear();
    bool allExist = !m_paths.empty();
    for (const std::string& path : m_paths) {
        m_identities.push_back(IdentityOf(path));
        allExist = allExist && m_identities.back().has_value();
    }
    auto add = [this](QMenu* menu, const QString& text, int id) {
        QAction* action = menu->addAction(text);
        action->setData(id);
        return action;
    };
    // A list read from another machine's scan names folders that may not
    // exist here; a file trashed since keeps a folder worth opening.
    const std::string folder(m_paths.empty() ? std::string_view() : FolderOfPath(m_paths.front()));
    struct ::stat folderStatus;
    const bool folderExists = folder.empty() || (::stat(folder.c_str(), &folderStatus) == 0 &&
                                                 S_ISDIR(folderStatus.st_mode));
    add(m_pMenu.get(), QObject::tr("Open Folder"), kCmdOpenFolder)->setEnabled(folderExists);
    m_pMenu->addSeparator();
    add(m_pMenu.get(), QObject::tr("Open"), kCmdOpen)->setEnabled(allExist);

    QMenu* openWith = m_pMenu->addMenu(QObject::tr("Open With..."));
    if (allExist) {
        // Read from the desktop's database at every right click: it is an
        // index GIO keeps current, not a walk over the disk.
        for (DesktopApplication& application : ApplicationsFor(ContentTypeOf(m_paths.front()))) {
            if (m_handlers.size() <= size_t(kCmdOpenWithLast - kCmdOpenWithFirst)) {
                m_handlers.push_back(std::move(application));
            }
        }
    }
    for (size_t i = 0; i < m_handlers.size(); ++i) {
        QString name = QString::fromStdString(m_handlers[i].name.empty() ? m_handlers[i].id
                                                                         : m_handlers[i].name);
        add(openWith, name.replace('&', QStringLiteral("&&")), kCmdOpenWithFirst + int(i));
    }
    if (m_handlers.empty()) {
        openWith->addAction(QObject::tr("No application found"))->setEnabled(false);
    }
    openWith->setEnabled(allExist);

    add(m_pMenu.get(), QObject::tr("Copy Path"), kCmdCopyPath)->setEnabled(!m_paths.empty());
    add(m_pMenu.get(), QObject::tr("Move to Trash"), kCmdMoveToTrash)->setEnabled(allExist);
    add(m_pMenu.get(), QObject::tr("Properties"), kCmdProperties)->setEnabled(allExist);
    return m_pMenu.get();
}

int CShellItemMenu::ShowMenu(QWidget* owner, QPoint globalPos) {
    if (m_paths.empty()) {
        return kCmdNone;
    }
    QMenu* menu = BuildMenu(owner);
    QAction* chosen = ExecMenu(menu, globalPos);
    if (chosen == nullptr) {
        return kCmdNone;
    }
    return CarryOut(owner, chosen->data().toInt());
}

int CShellItemMenu::CarryOut(QWidget* owner, int commandId) {
    if (m_paths.empty()) {
        return kCmdNone;
    }
    switch (commandId) {
        case kCmdOpenFolder:
            return kCmdOpenFolder;
        case kCmdOpen: {
            bool all = true;
            for (const std::string& path : m_paths) {
                all = OpenWithDefaultHandler(path) && all;
            }
            return all ? kCmdOpen : kCmdNone;
        }
        case kCmdCopyPath: {
            QStringList lines;
            for (const std::string& path : m_paths) {
                lines << FileNameText(path);
            }
            QApplication::clipboard()->setText(lines.join('\n'));
            return kCmdCopyPath;
        }
        case kCmdMoveToTrash: {
            bool all = true;
            for (size_t i = 0; i < m_paths.size(); ++i) {
                std::optional<FileIdentity> expected =
                    i < m_identities.size() ? m_identities[i] : IdentityOf(m_paths[i]);
                all = TrashWithConfirmation(owner, m_paths[i], expected) && all;
            }
            return all ? kCmdMoveToTrash : kCmdNone;
        }
        case kCmdProperties:
            ShowProperties(owner, m_paths.front());
            return kCmdProperties;
        default:
            break;
    }
    if (commandId >= kCmdOpenWithFirst && commandId <= kCmdOpenWithLast &&
        size_t(commandId - kCmdOpenWithFirst) < m_handlers.size()) {
        return OpenWith(owner, size_t(commandId - kCmdOpenWithFirst)) ? commandId : kCmdNone;
    }
    return kCmdNone;
}

bool CShellItemMenu::OpenWith(QWidget* owner, size_t handler) {
    const DesktopApplication& application = m_handlers[handler];
    const std::string failure = LaunchApplication(application, m_paths);
    if (failure.empty()) {
        return true;
    }
    const QString text =
        QObject::tr("\"%1\" could not be started:\n%2")
            .arg(QString::fromStdString(application.name), QString::fromStdString(failure));
    if (ShellHooks().showError) {
        ShellHooks().showError(owner, QObject::tr("Open With"), text);
    } else {
        QMessageBox::warning(owner != nullptr ? owner->window() : nullptr, QObject::tr("Open With"),
                             text);
    }
    return false;
}

}  // namespace quarn

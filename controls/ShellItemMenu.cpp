#include "controls/ShellItemMenu.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QFile>
#include <QMenu>
#include <QMessageBox>
#include <QMimeDatabase>
#include <QProcess>
#include <cerrno>
#include <cstdlib>

#include "controls/ShellOperations.h"

extern char** environ;

namespace quarn {

namespace {

QString Decode(const std::string& bytes) {
    return QFile::decodeName(QByteArray::fromStdString(bytes));
}

bool RoundTrips(const std::string& bytes) {
    return QFile::encodeName(Decode(bytes)).toStdString() == bytes;
}

// The program file for a command name, searched in PATH as a shell would.
std::string FindProgram(const std::string& name) {
    if (name.find('/') != std::string::npos) {
        return name;
    }
    const char* path = std::getenv("PATH");
    std::string folders = path != nullptr ? path : "/usr/local/bin:/usr/bin:/bin";
    size_t start = 0;
    while (start <= folders.size()) {
        size_t end = folders.find(':', start);
        if (end == std::string::npos) {
            end = folders.size();
        }
        std::string folder = folders.substr(start, end - start);
        std::string candidate = (folder.empty() ? "." : folder) + "/" + name;
        struct stat st;
        if (::stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
            ::access(candidate.c_str(), X_OK) == 0) {
            return candidate;
        }
        start = end + 1;
    }
    return std::string();
}

// Starts a program detached with exactly these argument bytes (QProcess
// would pass them through QString, which cannot carry bytes that are not
// valid in the locale's encoding). True when the program was executed.
bool StartDetachedRaw(const std::vector<std::string>& arguments) {
    std::string program = FindProgram(arguments.front());
    if (program.empty()) {
        return false;
    }
    std::vector<char*> argv;
    for (const std::string& argument : arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);
    int report[2];
    if (::pipe2(report, O_CLOEXEC) != 0) {
        return false;
    }
    pid_t child = ::fork();
    if (child == 0) {
        // Only async-signal-safe calls from here on.
        ::setsid();
        pid_t grandchild = ::fork();
        if (grandchild == 0) {
            ::execve(program.c_str(), argv.data(), environ);
            int error = errno;
            (void)::write(report[1], &error, sizeof error);
            ::_exit(127);
        }
        ::_exit(grandchild < 0 ? 1 : 0);
    }
    ::close(report[1]);
    bool started = false;
    if (child > 0) {
        int status = 0;
        while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
        }
        int error = 0;
        ssize_t n;
        while ((n = ::read(report[0], &error, sizeof error)) < 0 && errno == EINTR) {
        }
        // The pipe closes unread when the program was executed.
        started = WIFEXITED(status) && WEXITSTATUS(status) == 0 && n == 0;
    }
    ::close(report[0]);
    return started;
}

bool StartDetached(const std::vector<std::string>& arguments) {
    if (arguments.empty()) {
        return false;
    }
    QStringList rest;
    bool exact = true;
    for (const std::string& argument : arguments) {
        exact = exact && RoundTrips(argument);
        rest << Decode(argument);
    }
    QString program = rest.takeFirst();
    if (ShellHooks().startProcess) {
        return ShellHooks().startProcess(program, rest);
    }
    if (!exact) {
        return StartDetachedRaw(arguments);
    }
    return QProcess::startDetached(program, rest);
}

}  // namespace

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
    add(m_pMenu.get(), QObject::tr("Open Folder"), kCmdOpenFolder);
    m_pMenu->addSeparator();
    add(m_pMenu.get(), QObject::tr("Open"), kCmdOpen)->setEnabled(allExist);

    QMenu* openWith = m_pMenu->addMenu(QObject::tr("Open With..."));
    if (allExist) {
        struct stat st;
        bool folder = ::stat(m_paths.front().c_str(), &st) == 0 && S_ISDIR(st.st_mode);
        std::string type =
            folder ? std::string("inode/directory")
                   : QMimeDatabase().mimeTypeForFile(Decode(m_paths.front())).name().toStdString();
        for (DesktopApplication& application : ApplicationsFor(type)) {
            // A terminal program started without a terminal would show nothing.
            if (!application.terminal &&
                m_handlers.size() <= size_t(kCmdOpenWithLast - kCmdOpenWithFirst)) {
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
    QAction* chosen = ShellHooks().pickMenuAction ? ShellHooks().pickMenuAction(menu, globalPos)
                                                  : menu->exec(globalPos);
    if (chosen == nullptr || !chosen->isEnabled()) {
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
                lines << Decode(path);
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
    std::vector<std::vector<std::string>> commands;
    if (ExecTakesFileList(application.exec) || m_paths.size() == 1) {
        commands.push_back(ExpandExec(application.exec, m_paths));
    } else {
        for (const std::string& path : m_paths) {
            commands.push_back(ExpandExec(application.exec, {path}));
        }
    }
    for (const std::vector<std::string>& command : commands) {
        if (!StartDetached(command)) {
            const QString text = QObject::tr("\"%1\" could not be started.")
                                     .arg(QString::fromStdString(application.name));
            if (ShellHooks().showError) {
                ShellHooks().showError(owner, QObject::tr("Open With"), text);
            } else {
                QMessageBox::warning(owner, QObject::tr("Open With"), text);
            }
            return false;
        }
    }
    return true;
}

}  // namespace quarn

#include "controls/PathCombo.h"

#include <fcntl.h>
#include <unistd.h>

#include <QCompleter>
#include <QDir>
#include <QFile>
#include <QFileIconProvider>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QLineEdit>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "controls/FileNameText.h"
#include "controls/ShellOperations.h"
#include "platform/FileSystems.h"
#include "platform/PathRules.h"

namespace quarn {

namespace {

QIcon PathIcon(const std::string& path) {
    // One provider for the whole program: it caches icons per kind.
    static QFileIconProvider provider;
    const QFileInfo info(FileNameText(path));
    if (info.isRoot()) {
        return provider.icon(QFileIconProvider::Drive);
    }
    return provider.icon(info.exists() ? info : QFileInfo());
}

// The folder a typed text names: "~" is the home folder, a relative path
// starts in the working folder, as on the command line.
QString ExpandTypedFolder(const QString& text) {
    QString path = text;
    if (path == QStringLiteral("~") || path.startsWith(QStringLiteral("~/"))) {
        path.replace(0, 1, QDir::homePath());
    }
    return QDir::isAbsolutePath(path) ? path : QDir::current().absoluteFilePath(path);
}

}  // namespace

CPathCombo::CPathCombo(QWidget* parent) : QComboBox(parent) {
    setEditable(true);
    // A typed folder is added by the Scan command once it proved to be one,
    // never by the box itself on Enter.
    setInsertPolicy(QComboBox::NoInsert);
    setIconSize(QSize(16, 16));
    setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);

    m_folders = new QFileSystemModel(this);
    m_folders->setFilter(QDir::AllDirs | QDir::NoDotAndDotDot | QDir::Drives);
    m_folders->setRootPath(QString());
    auto* completer = new QCompleter(m_folders, this);
    completer->setCompletionMode(QCompleter::PopupCompletion);
    completer->setCaseSensitivity(Qt::CaseSensitive);
    setCompleter(completer);
    connect(lineEdit(), &QLineEdit::textEdited, this, &CPathCombo::ListTypedFolder);
    // With the completion list open, Enter reaches the field, not the window.
    connect(lineEdit(), &QLineEdit::returnPressed, this, [this] {
        if (HasTypedText()) {
            Q_EMIT enterPressed();
        }
    });
    FillDrives();
}

void CPathCombo::FillDrives() {
    for (const MountEntry& volume : ListUserVolumes()) {
        AddPath(volume.mountPoint);
    }
    const int index = count();
    insertItem(index, tr("Durchsuchen..."), kBrowseEntryData);
    setCurrentIndex(0);
}

int CPathCombo::AddPath(std::string path) {
    std::replace(path.begin(), path.end(), '"', kPathSeparator);
    return AppendPath(path);
}

int CPathCombo::AppendPath(const std::string& path) {
    const int index = count();
    insertItem(index, PathIcon(path), FileNameText(path), index);
    setItemData(index, QByteArray::fromStdString(path), kPathRole);
    setCurrentIndex(index);
    return currentIndex();
}

std::optional<std::string> CPathCombo::SelectedPath() const {
    const int index = currentIndex();
    if (index < 0 || IsBrowseEntry(index)) {
        return std::nullopt;
    }
    return itemData(index, kPathRole).toByteArray().toStdString();
}

bool CPathCombo::HasTypedText() const {
    const int index = currentIndex();
    return lineEdit() != nullptr &&
           lineEdit()->text() != (index >= 0 ? itemText(index) : QString());
}

std::optional<std::string> CPathCombo::AcceptTypedFolder(std::string& error) {
    const QString typed = lineEdit()->text();
    if (typed.isEmpty()) {
        error = tr("Type a folder, or choose one in the list").toStdString();
        return std::nullopt;
    }
    const std::string path = FileNameBytes(ExpandTypedFolder(typed));
    // Opened as the scan will open it: a folder that cannot be listed is
    // refused now, not after an empty scan.
    const int handle = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (handle < 0) {
        const char* reason = errno == ENOENT    ? "no such folder"
                             : errno == ENOTDIR ? "not a folder"
                             : errno == EACCES  ? "permission denied"
                                                : std::strerror(errno);
        error = tr("Cannot scan \"%1\": %2").arg(typed, QString::fromUtf8(reason)).toStdString();
        return std::nullopt;
    }
    ::close(handle);
    const QByteArray bytes = QByteArray::fromStdString(path);
    int index = -1;
    for (int i = 0; i < count() && index < 0; ++i) {
        if (itemData(i, kPathRole).toByteArray() == bytes) {
            index = i;
        }
    }
    if (index >= 0) {
        setCurrentIndex(index);
        ShowCurrentItem();
    } else {
        AppendPath(path);  // as typed: a quote in a typed name is part of it
    }
    return path;
}

void CPathCombo::ListTypedFolder(const QString& text) {
    // The completer looks only into folders the model has listed, and lists
    // only the last one of a path: a pasted path, or one typed faster than
    // the folders above it are read, would complete nothing. Asking the
    // model for the typed folder enters every folder above it at once.
    const qsizetype slash = text.lastIndexOf(QLatin1Char('/'));
    if (slash < 0) {
        return;
    }
    const QString folder = slash == 0 ? QStringLiteral("/") : text.left(slash);
    if (!QFileInfo(folder).isDir()) {
        return;
    }
    const QModelIndex index = m_folders->index(folder);
    if (m_folders->canFetchMore(index)) {
        m_folders->fetchMore(index);
    }
}

void CPathCombo::ShowCurrentItem() {
    const int index = currentIndex();
    lineEdit()->setText(index >= 0 ? itemText(index) : QString());
}

bool CPathCombo::IsBrowseEntry(int index) const {
    // The 124th path also carries 123 as its data: only the entry has no path.
    return itemData(index).toInt() == kBrowseEntryData && !itemData(index, kPathRole).isValid();
}

void CPathCombo::SetFolderPicker(FolderPicker picker) {
    m_picker = std::move(picker);
}

void CPathCombo::hidePopup() {
    QComboBox::hidePopup();
    // The list hides itself before the clicked item becomes current, so look
    // at the selection once this event has been handled.
    QTimer::singleShot(0, this, [this] {
        if (currentIndex() >= 0 && IsBrowseEntry(currentIndex())) {
            Browse();
        }
    });
}

void CPathCombo::Browse() {
    const std::string folder = PickFolder();
    if (folder.empty()) {
        setCurrentIndex(0);
    } else {
        AddPath(folder);
    }
    Q_EMIT browseFinished(!folder.empty());
}

std::string CPathCombo::PickFolder() {
    if (m_picker) {
        return m_picker(window());
    }
    return BrowseForFolder(window(), tr("Select a directory..."));
}

}  // namespace quarn

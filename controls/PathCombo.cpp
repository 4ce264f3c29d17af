#include "controls/PathCombo.h"

#include <QFile>
#include <QFileDialog>
#include <QFileIconProvider>
#include <QFileInfo>
#include <QTimer>

#include <algorithm>

#include "platform/FileSystems.h"
#include "platform/PathRules.h"

namespace quarn {

namespace {

QString DisplayText(const std::string& path) {
    return QFile::decodeName(QByteArray::fromStdString(path));
}

QIcon PathIcon(const std::string& path) {
    // One provider for the whole program: it caches icons per kind.
    static QFileIconProvider provider;
    const QFileInfo info(DisplayText(path));
    if (info.isRoot()) {
        return provider.icon(QFileIconProvider::Drive);
    }
    return provider.icon(info.exists() ? info : QFileInfo());
}

}  // namespace

CPathCombo::CPathCombo(QWidget* parent) : QComboBox(parent) {
    setEditable(false);
    setIconSize(QSize(16, 16));
    setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
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
    const int index = count();
    insertItem(index, PathIcon(path), DisplayText(path), index);
    setItemData(index, QByteArray::fromStdString(path), kPathRole);
    setCurrentIndex(index);
    return currentIndex();
}

std::optional<std::string> CPathCombo::SelectedPath() const {
    const int index = currentIndex();
    if (index < 0 || itemData(index).toInt() == kBrowseEntryData) {
        return std::nullopt;
    }
    return itemData(index, kPathRole).toByteArray().toStdString();
}

void CPathCombo::SetFolderPicker(FolderPicker picker) {
    m_picker = std::move(picker);
}

void CPathCombo::hidePopup() {
    QComboBox::hidePopup();
    // The list hides itself before the clicked item becomes current, so look
    // at the selection once this event has been handled.
    QTimer::singleShot(0, this, [this] {
        if (currentIndex() >= 0 && currentData().toInt() == kBrowseEntryData) {
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
    Q_EMIT browseFinished();
}

std::string CPathCombo::PickFolder() {
    if (m_picker) {
        return m_picker(window());
    }
    const QString folder = QFileDialog::getExistingDirectory(window(), tr("Select a directory..."));
    return QFile::encodeName(folder).toStdString();
}

}  // namespace quarn

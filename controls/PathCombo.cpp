#include "controls/PathCombo.h"

#include <QFile>
#include <QFileIconProvider>
#include <QFileInfo>
#include <QTimer>

#include <algorithm>

#include "controls/ShellOperations.h"
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
    if (index < 0 || IsBrowseEntry(index)) {
        return std::nullopt;
    }
    return itemData(index, kPathRole).toByteArray().toStdString();
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
    Q_EMIT browseFinished();
}

std::string CPathCombo::PickFolder() {
    if (m_picker) {
        return m_picker(window());
    }
    return BrowseForFolder(window(), tr("Select a directory..."));
}

}  // namespace quarn

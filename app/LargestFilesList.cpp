#include "app/LargestFilesList.h"

#include <QContextMenuEvent>
#include <QHeaderView>
#include <QMenu>
#include <QSortFilterProxyModel>

#include "app/LargestFilesModel.h"
#include "controls/DiskChanges.h"
#include "controls/ItemMenuPlace.h"
#include "controls/ShellItemMenu.h"
#include "controls/ShellOperations.h"
#include "foldersize/FileTypeTally.h"
#include "platform/PathRules.h"

namespace quarn {

LargestFilesList::LargestFilesList(DiskChanges& diskChanges, QWidget* parent)
    : QTreeView(parent),
      m_diskChanges(diskChanges),
      m_model(new LargestFilesModel(this)),
      m_proxy(new QSortFilterProxyModel(this)) {
    m_proxy->setSourceModel(m_model);
    m_proxy->setSortRole(LargestFilesModel::kSortRole);
    setModel(m_proxy);
    setRootIsDecorated(false);
    setUniformRowHeights(true);
    setAllColumnsShowFocus(true);
    setSortingEnabled(true);
    sortByColumn(LargestFilesModel::kSizeColumn, Qt::DescendingOrder);
    setSelectionMode(QAbstractItemView::SingleSelection);
    header()->setStretchLastSection(false);
    header()->setSectionResizeMode(LargestFilesModel::kFolderColumn, QHeaderView::Stretch);
    setColumnWidth(LargestFilesModel::kNameColumn, 220);
    setColumnWidth(LargestFilesModel::kSizeColumn, 110);
    setColumnWidth(LargestFilesModel::kModifiedColumn, 150);
    connect(this, &QTreeView::doubleClicked, this, [this](const QModelIndex& index) {
        const std::string path = PathAtViewRow(index.row());
        if (!path.empty()) {
            OpenWithDefaultHandler(path);
        }
    });
}

void LargestFilesList::SetFiles(const std::vector<LargestFiles::Entry>& files,
                                const std::optional<std::string>& extension) {
    std::vector<LargestFiles::Entry> shown;
    for (const LargestFiles::Entry& file : files) {
        if (!extension || FileTypeTally::ExtensionOf(NameOfPath(file.path)) == *extension) {
            shown.push_back(file);
        }
    }
    m_model->SetFiles(std::move(shown));
}

std::string LargestFilesList::PathAtViewRow(int viewRow) const {
    return m_model->PathAt(m_proxy->mapToSource(m_proxy->index(viewRow, 0)).row());
}

void LargestFilesList::contextMenuEvent(QContextMenuEvent* event) {
    if (const std::optional<ItemMenuPlace> place = PlaceItemMenu(*this, *event)) {
        OnContextMenu(place->viewportPos, place->globalPos);
    }
    event->accept();
}

void LargestFilesList::OnContextMenu(const QPoint& viewportPos, const QPoint& globalPos) {
    const QModelIndex hit = indexAt(viewportPos);
    if (!hit.isValid()) {
        return;
    }
    const int row = m_proxy->mapToSource(m_proxy->index(hit.row(), 0)).row();
    const std::string path = m_model->PathAt(row);
    if (path.empty()) {
        return;
    }
    CShellItemMenu menu;
    menu.SetPath(path);
    QMenu* popup = menu.BuildMenu(this);
    QAction* chosen = ExecMenu(popup, globalPos);
    if (chosen == nullptr) {
        return;
    }
    const int command = chosen->data().toInt();
    if (command == kCmdOpenFolder) {
        OpenWithDefaultHandler(std::string(FolderOfPath(path)));
        return;
    }
    // The menu re-checks the file's identity before it trashes it.
    if (menu.CarryOut(this, command) == kCmdMoveToTrash) {
        m_diskChanges.AnnounceRemoved({RemovedPath{path, false, m_model->BytesAt(row)}});
    }
}

}  // namespace quarn

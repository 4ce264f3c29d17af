#pragma once
// The list of a scan's largest files, sortable by any column (largest first
// to begin with). A right click offers the file's menu as the twin list
// does (Open Folder, Open, Open With..., Copy Path, Move to Trash,
// Properties); a file moved to the trash is announced (DiskChanges), and the
// window that shows the list fills it again without it. A double click opens
// the file.
//
// Interface thread only.

#include <QTreeView>
#include <optional>
#include <string>
#include <vector>

#include "foldersize/LargestFiles.h"

class QSortFilterProxyModel;

namespace quarn {

class DiskChanges;
class LargestFilesModel;

class LargestFilesList : public QTreeView {
    Q_OBJECT
  public:
    // A file moved to the trash is announced through `diskChanges`.
    explicit LargestFilesList(DiskChanges& diskChanges, QWidget* parent = nullptr);

    // Shows `files`; with `extension`, only those of that type (see
    // FileTypeTally::ExtensionOf; "" for names without one).
    void SetFiles(const std::vector<LargestFiles::Entry>& files,
                  const std::optional<std::string>& extension = std::nullopt);
    LargestFilesModel* Model() const { return m_model; }
    // The path of the row the view shows at `viewRow`.
    std::string PathAtViewRow(int viewRow) const;

  protected:
    void contextMenuEvent(QContextMenuEvent* event) override;

  private:
    void OnContextMenu(const QPoint& viewportPos, const QPoint& globalPos);

    DiskChanges& m_diskChanges;
    LargestFilesModel* m_model;
    QSortFilterProxyModel* m_proxy;
};

}  // namespace quarn

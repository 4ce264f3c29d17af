#pragma once
// The list of a scan's largest files, sortable by any column (largest first
// to begin with). A right click offers the file's menu as the twin list
// does (Open Folder, Open, Open With..., Copy Path, Move to Trash,
// Properties); a file moved to the trash leaves the list, and stays out of
// it when the list is filled again from the same scan. A double click opens
// the file.
//
// Interface thread only.

#include <QTreeView>
#include <optional>
#include <string>
#include <unordered_set>
#include <vector>

#include "foldersize/LargestFiles.h"

class QSortFilterProxyModel;

namespace quarn {

class LargestFilesModel;

class LargestFilesList : public QTreeView {
    Q_OBJECT
  public:
    explicit LargestFilesList(QWidget* parent = nullptr);

    // Shows `files`, less the forgotten ones; with `extension`, only those of
    // that type (see FileTypeTally::ExtensionOf; "" for names without one).
    void SetFiles(const std::vector<LargestFiles::Entry>& files,
                  const std::optional<std::string>& extension = std::nullopt);
    // A file that left the disk elsewhere: its row goes and it is not shown
    // again until ForgetNothing (a new scan's files).
    void ForgetFile(const std::string& path);
    void ForgetNothing() { m_forgotten.clear(); }
    LargestFilesModel* Model() const { return m_model; }
    // The path of the row the view shows at `viewRow`.
    std::string PathAtViewRow(int viewRow) const;

  Q_SIGNALS:
    // A file went to the trash (its full path, raw bytes).
    void fileTrashed(const std::string& path);

  protected:
    void contextMenuEvent(QContextMenuEvent* event) override;

  private:
    void OnContextMenu(const QPoint& viewportPos, const QPoint& globalPos);

    LargestFilesModel* m_model;
    QSortFilterProxyModel* m_proxy;
    std::unordered_set<std::string> m_forgotten;  // full paths, raw bytes
};

}  // namespace quarn

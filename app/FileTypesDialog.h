#pragma once
// "File Types": the files and bytes per extension of the last folder scan,
// most bytes first; choosing a type lists the largest files of that type
// (those among the scan's largest files) below. Not modal.
//
// Interface thread only; the parent owns it.

#include <QDialog>
#include <memory>

#include "foldersize/ScanFileStats.h"

class QLabel;
class QTreeView;
class QSortFilterProxyModel;

namespace quarn {

class FileTypesModel;
class LargestFilesList;

class FileTypesDialog : public QDialog {
    Q_OBJECT
  public:
    explicit FileTypesDialog(QWidget* parent);

    void SetStats(std::shared_ptr<const ScanFileStats> stats);
    // Lists the largest files of the type the view shows at `viewRow`.
    void ChooseType(int viewRow);

    QTreeView* Types() const { return m_types; }
    FileTypesModel* Model() const { return m_model; }
    LargestFilesList* Files() const { return m_files; }

  private:
    std::shared_ptr<const ScanFileStats> m_stats;
    FileTypesModel* m_model;
    QSortFilterProxyModel* m_proxy;
    QTreeView* m_types;
    QLabel* m_filesTitle;
    LargestFilesList* m_files;
};

}  // namespace quarn

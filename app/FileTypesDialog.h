#pragma once
// "File Types": the files and bytes per extension of the last folder scan,
// most bytes first; choosing a type lists the largest files of that type
// (those among the scan's largest files) below. Not modal.
//
// Interface thread only; the parent owns it.

#include <QDialog>
#include <memory>
#include <string>
#include <unordered_set>

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
    // A file of the scan went to the trash: its type counts it no more and
    // the list of that type's largest files forgets it.
    void ForgetTrashedFile(const std::string& path);
    // Lists the largest files of the type the view shows at `viewRow`.
    void ChooseType(int viewRow);

    QTreeView* Types() const { return m_types; }
    FileTypesModel* Model() const { return m_model; }
    LargestFilesList* Files() const { return m_files; }

  private:
    std::shared_ptr<const ScanFileStats> m_stats;
    std::unordered_set<std::string> m_trashed;  // counted out of the types already
    FileTypesModel* m_model;
    QSortFilterProxyModel* m_proxy;
    QTreeView* m_types;
    QLabel* m_filesTitle;
    LargestFilesList* m_files;
};

}  // namespace quarn

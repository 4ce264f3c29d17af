#pragma once
// "File Types": the files and bytes per extension of the last folder scan,
// with what is still on the disk, most bytes first; choosing a type lists the
// largest files of that type (those among the scan's largest files) below.
// Not modal.
//
// Interface thread only; the parent owns it.

#include <QDialog>

#include "foldersize/KeptFileStats.h"

class QLabel;
class QTreeView;
class QSortFilterProxyModel;

namespace quarn {

class DiskChanges;
class FileTypesModel;
class LargestFilesList;

class FileTypesDialog : public QDialog {
    Q_OBJECT
  public:
    // Files trashed from the list are announced through `diskChanges`.
    FileTypesDialog(DiskChanges& diskChanges, QWidget* parent);

    // Shows the types of `stats`; a chosen type stays chosen. `stats` must
    // outlive the dialog.
    void Show(const KeptFileStats& stats);
    // Lists the largest files of the type the view shows at `viewRow`.
    void ChooseType(int viewRow);

    QTreeView* Types() const { return m_types; }
    FileTypesModel* Model() const { return m_model; }
    LargestFilesList* Files() const { return m_files; }

  private:
    const KeptFileStats* m_stats = nullptr;
    std::string m_chosenType;  // whose files are listed; empty before a choice
    bool m_typeChosen = false;
    FileTypesModel* m_model;
    QSortFilterProxyModel* m_proxy;
    QTreeView* m_types;
    QLabel* m_filesTitle;
    LargestFilesList* m_files;
};

}  // namespace quarn

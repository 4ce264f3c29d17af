#pragma once
// "Largest Files": the largest files the last folder scan met and that are
// still on the disk, in a window of their own beside the main window (not
// modal).
//
// Interface thread only; the parent owns it.

#include <QDialog>

#include "foldersize/KeptFileStats.h"

class QLabel;

namespace quarn {

class DiskChanges;
class LargestFilesList;

class LargestFilesDialog : public QDialog {
    Q_OBJECT
  public:
    // Files trashed from the list are announced through `diskChanges`.
    LargestFilesDialog(DiskChanges& diskChanges, QWidget* parent);

    // Shows the largest files of `stats` still on the disk; a note when no
    // scan kept any.
    void Show(const KeptFileStats& stats);
    LargestFilesList* List() const { return m_list; }

  private:
    LargestFilesList* m_list;
    QLabel* m_note;
};

}  // namespace quarn

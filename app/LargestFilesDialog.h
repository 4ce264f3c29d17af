#pragma once
// "Largest Files": the largest files the last folder scan met, in a window
// of their own beside the main window (not modal).
//
// Interface thread only; the parent owns it.

#include <QDialog>
#include <memory>

#include "foldersize/ScanFileStats.h"

class QLabel;

namespace quarn {

class LargestFilesList;

class LargestFilesDialog : public QDialog {
    Q_OBJECT
  public:
    explicit LargestFilesDialog(QWidget* parent);

    // Shows the files of `stats` (all of them: the list forgets what it had
    // forgotten); null: no scan has kept any.
    void SetStats(std::shared_ptr<const ScanFileStats> stats);
    LargestFilesList* List() const { return m_list; }

  private:
    LargestFilesList* m_list;
    QLabel* m_note;
};

}  // namespace quarn

#pragma once
// A table over a list of the largest files of a scan: "Name", "Size",
// "Folder", "Modified". The rows keep the raw numbers; texts are made when a
// view asks. kSortRole gives each cell's raw value, for a sorting proxy.
//
// Interface thread only; the model owns its copy of the rows.

#include <QAbstractTableModel>
#include <string>
#include <vector>

#include "foldersize/LargestFiles.h"

namespace quarn {

class LargestFilesModel : public QAbstractTableModel {
    Q_OBJECT
  public:
    enum Column { kNameColumn, kSizeColumn, kFolderColumn, kModifiedColumn, kColumnCount };
    static constexpr int kSortRole = Qt::UserRole;

    using QAbstractTableModel::QAbstractTableModel;

    // Replaces every row (kept in the given order).
    void SetFiles(std::vector<LargestFiles::Entry> files);
    // The full path of a row (raw bytes), empty outside the rows.
    std::string PathAt(int row) const;
    // The size the scan counted the file of `row` with; 0 out of range.
    uint64_t BytesAt(int row) const;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

  private:
    std::vector<LargestFiles::Entry> m_files;
};

}  // namespace quarn

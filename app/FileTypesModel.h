#pragma once
// A table over the file types of a scan: "Type", "Files", "Size" and
// "Share" (of all the bytes counted). Raw numbers are kept; texts are made
// when a view asks. kSortRole gives each cell's raw value.
//
// Interface thread only; the model owns its copy of the rows.

#include <QAbstractTableModel>
#include <string>
#include <vector>

#include "foldersize/FileTypeTally.h"

namespace quarn {

class FileTypesModel : public QAbstractTableModel {
    Q_OBJECT
  public:
    enum Column { kTypeColumn, kFilesColumn, kSizeColumn, kShareColumn, kColumnCount };
    static constexpr int kSortRole = Qt::UserRole;

    using QAbstractTableModel::QAbstractTableModel;

    // Replaces every row; shares are of the rows' bytes together.
    void SetTypes(std::vector<FileTypeTally::Row> rows);
    // The extension of a row ("" for names without one).
    std::string ExtensionAt(int row) const;
    // How a type reads: ".jpg", or "no extension".
    static QString TypeText(const std::string& ext);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

  private:
    std::vector<FileTypeTally::Row> m_rows;
    uint64_t m_totalBytes = 0;
};

}  // namespace quarn

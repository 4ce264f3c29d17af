#include "app/FileTypesModel.h"

#include <QFile>
#include <algorithm>

#include "controls/FileNameText.h"
#include "foldersize/SizeText.h"
#include "platform/ByteSum.h"

namespace quarn {

void FileTypesModel::SetTypes(std::vector<FileTypeTally::Row> rows) {
    beginResetModel();
    m_rows = std::move(rows);
    m_totalBytes = 0;
    for (const FileTypeTally::Row& row : m_rows) {
        AddBytes(m_totalBytes, row.bytes);
    }
    endResetModel();
}

std::string FileTypesModel::ExtensionAt(int row) const {
    return row >= 0 && size_t(row) < m_rows.size() ? m_rows[size_t(row)].ext : std::string();
}

QString FileTypesModel::TypeText(const std::string& ext) {
    if (ext.empty()) {
        return tr("no extension");
    }
    return QStringLiteral(".") + FileNameText(ext);
}

int FileTypesModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(m_rows.size());
}

int FileTypesModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kColumnCount;
}

QVariant FileTypesModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || size_t(index.row()) >= m_rows.size()) {
        return {};
    }
    const FileTypeTally::Row& row = m_rows[size_t(index.row())];
    if (role == Qt::TextAlignmentRole && index.column() != kTypeColumn) {
        return QVariant(Qt::AlignRight | Qt::AlignVCenter);
    }
    const bool sort = role == kSortRole;
    if (role != Qt::DisplayRole && !sort) {
        return {};
    }
    // Without any byte (only empty files) every share is 0.
    const double share = m_totalBytes == 0 ? 0.0 : 100.0 * double(row.bytes) / double(m_totalBytes);
    switch (index.column()) {
        case kTypeColumn:
            return sort ? QVariant(QString::fromStdString(row.ext)) : QVariant(TypeText(row.ext));
        case kFilesColumn:
            return sort ? QVariant(qlonglong(row.files)) : QVariant(QString::number(row.files));
        case kSizeColumn:
            return sort ? QVariant(qulonglong(row.bytes))
                        : QVariant(QString::fromStdString(FormatSize(row.bytes)));
        case kShareColumn:
            return sort ? QVariant(share)
                        : QVariant(QString::number(share, 'f', 1) + QStringLiteral(" %"));
        default:
            return {};
    }
}

QVariant FileTypesModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) {
        return {};
    }
    switch (section) {
        case kTypeColumn:
            return tr("Type");
        case kFilesColumn:
            return tr("Files");
        case kSizeColumn:
            return tr("Size");
        case kShareColumn:
            return tr("Share");
        default:
            return {};
    }
}

}  // namespace quarn

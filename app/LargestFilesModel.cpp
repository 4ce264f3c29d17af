#include "app/LargestFilesModel.h"

#include <QFile>

#include "controls/FileNameText.h"
#include "duplicates/TwinRowText.h"
#include "foldersize/SizeText.h"
#include "platform/FileTime.h"
#include "platform/PathRules.h"

namespace quarn {

void LargestFilesModel::SetFiles(std::vector<LargestFiles::Entry> files) {
    beginResetModel();
    m_files = std::move(files);
    endResetModel();
}

std::string LargestFilesModel::PathAt(int row) const {
    return row >= 0 && size_t(row) < m_files.size() ? m_files[size_t(row)].path : std::string();
}

uint64_t LargestFilesModel::BytesAt(int row) const {
    return row >= 0 && size_t(row) < m_files.size() ? m_files[size_t(row)].bytes : 0;
}

int LargestFilesModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(m_files.size());
}

int LargestFilesModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kColumnCount;
}

QVariant LargestFilesModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || size_t(index.row()) >= m_files.size()) {
        return {};
    }
    const LargestFiles::Entry& file = m_files[size_t(index.row())];
    if (role == Qt::TextAlignmentRole && index.column() == kSizeColumn) {
        return QVariant(Qt::AlignRight | Qt::AlignVCenter);
    }
    if (role == Qt::ToolTipRole) {
        return FileNameText(file.path);
    }
    const bool sort = role == kSortRole;
    if (role != Qt::DisplayRole && !sort) {
        return {};
    }
    switch (index.column()) {
        case kNameColumn:
            return FileNameText(NameOfPath(file.path));
        case kSizeColumn:
            return sort ? QVariant(qulonglong(file.bytes))
                        : QVariant(QString::fromStdString(FormatSize(file.bytes)));
        case kFolderColumn:
            return FileNameText(FolderOfPath(file.path));
        case kModifiedColumn:
            return sort ? QVariant(qlonglong(file.mtimeSeconds))
                        : QVariant(QString::fromStdString(
                              FormatModifiedText(FileTimeFromUnix(file.mtimeSeconds, 0))));
        default:
            return {};
    }
}

QVariant LargestFilesModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) {
        return {};
    }
    switch (section) {
        case kNameColumn:
            return tr("Name");
        case kSizeColumn:
            return tr("Size");
        case kFolderColumn:
            return tr("Folder");
        case kModifiedColumn:
            return tr("Modified");
        default:
            return {};
    }
}

}  // namespace quarn

#include "app/FileTypesDialog.h"

#include <QHeaderView>
#include <QLabel>
#include <QSortFilterProxyModel>
#include <QSplitter>
#include <QTreeView>
#include <QVBoxLayout>

#include "app/FileTypesModel.h"
#include "app/LargestFilesList.h"
#include "platform/PathRules.h"

namespace quarn {

FileTypesDialog::FileTypesDialog(QWidget* parent)
    : QDialog(parent),
      m_model(new FileTypesModel(this)),
      m_proxy(new QSortFilterProxyModel(this)),
      m_types(new QTreeView(this)),
      m_filesTitle(new QLabel(this)),
      m_files(new LargestFilesList(this)) {
    setWindowTitle(tr("File Types"));
    setModal(false);
    m_proxy->setSourceModel(m_model);
    m_proxy->setSortRole(FileTypesModel::kSortRole);
    m_types->setModel(m_proxy);
    m_types->setRootIsDecorated(false);
    m_types->setUniformRowHeights(true);
    m_types->setAllColumnsShowFocus(true);
    m_types->setSortingEnabled(true);
    m_types->sortByColumn(FileTypesModel::kSizeColumn, Qt::DescendingOrder);
    m_types->setColumnWidth(FileTypesModel::kTypeColumn, 200);
    connect(m_types->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex& current) { ChooseType(current.row()); });

    auto* lower = new QWidget(this);
    auto* lowerLayout = new QVBoxLayout(lower);
    lowerLayout->setContentsMargins(0, 0, 0, 0);
    lowerLayout->addWidget(m_filesTitle);
    lowerLayout->addWidget(m_files);
    auto* splitter = new QSplitter(Qt::Vertical, this);
    splitter->addWidget(m_types);
    splitter->addWidget(lower);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(splitter);
    resize(760, 600);
}

void FileTypesDialog::SetStats(std::shared_ptr<const ScanFileStats> stats) {
    m_stats = std::move(stats);
    m_trashed.clear();
    m_files->ForgetNothing();
    m_model->SetTypes(m_stats ? m_stats->Types().Rows() : std::vector<FileTypeTally::Row>());
    m_files->SetFiles({});
    m_filesTitle->setText(m_stats ? tr("Choose a type to list its largest files.")
                                  : tr("Scan a folder in Dirmass to count its file types."));
}

void FileTypesDialog::ForgetTrashedFile(const std::string& path) {
    m_files->ForgetFile(path);
    if (m_stats == nullptr || !m_trashed.insert(path).second) {
        return;
    }
    // Only the largest files are known by path; a smaller one trashed
    // elsewhere is counted again by the next scan.
    for (const LargestFiles::Entry& file : m_stats->Largest().Sorted()) {
        if (file.path == path) {
            m_model->ForgetFile(FileTypeTally::ExtensionOf(NameOfPath(path)), file.bytes);
            return;
        }
    }
}

void FileTypesDialog::ChooseType(int viewRow) {
    if (m_stats == nullptr || viewRow < 0) {
        return;
    }
    const std::string ext =
        m_model->ExtensionAt(m_proxy->mapToSource(m_proxy->index(viewRow, 0)).row());
    m_files->SetFiles(m_stats->Largest().Sorted(), ext);
    m_filesTitle->setText(tr("Largest files of type %1 (among the %2 largest of the scan)")
                              .arg(FileTypesModel::TypeText(ext))
                              .arg(m_stats->Largest().Size()));
}

}  // namespace quarn

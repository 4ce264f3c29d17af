#include "app/FileTypesDialog.h"

#include <QHeaderView>
#include <QLabel>
#include <QSortFilterProxyModel>
#include <QSplitter>
#include <QTreeView>
#include <QVBoxLayout>

#include "app/FileTypesModel.h"
#include "app/LargestFilesList.h"

namespace quarn {

FileTypesDialog::FileTypesDialog(DiskChanges& diskChanges, QWidget* parent)
    : QDialog(parent),
      m_model(new FileTypesModel(this)),
      m_proxy(new QSortFilterProxyModel(this)),
      m_types(new QTreeView(this)),
      m_filesTitle(new QLabel(this)),
      m_files(new LargestFilesList(diskChanges, this)) {
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

void FileTypesDialog::Show(const KeptFileStats& stats) {
    m_stats = &stats;
    m_model->SetTypes(stats.Types());
    if (stats.Shown() == nullptr) {
        m_typeChosen = false;
        m_files->SetFiles({});
        m_filesTitle->setText(tr("Scan a folder in Dirmass to count its file types."));
        return;
    }
    // The chosen type stays chosen while its counts follow the trash.
    for (int row = 0; m_typeChosen && row < m_proxy->rowCount(); ++row) {
        if (m_model->ExtensionAt(m_proxy->mapToSource(m_proxy->index(row, 0)).row()) ==
            m_chosenType) {
            ChooseType(row);
            return;
        }
    }
    m_typeChosen = false;
    m_files->SetFiles({});
    m_filesTitle->setText(tr("Choose a type to list its largest files."));
}

void FileTypesDialog::ChooseType(int viewRow) {
    if (m_stats == nullptr || m_stats->Shown() == nullptr || viewRow < 0) {
        return;
    }
    m_chosenType = m_model->ExtensionAt(m_proxy->mapToSource(m_proxy->index(viewRow, 0)).row());
    m_typeChosen = true;
    m_files->SetFiles(m_stats->Largest(), m_chosenType);
    m_filesTitle->setText(tr("Largest files of type %1 (among the %2 largest of the scan)")
                              .arg(FileTypesModel::TypeText(m_chosenType))
                              .arg(m_stats->Shown()->Largest().Size()));
}

}  // namespace quarn

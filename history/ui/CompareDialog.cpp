#include "history/ui/CompareDialog.h"

#include <QDateTime>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "controls/FileNameText.h"
#include "foldersize/SizeText.h"

namespace quarn {

CompareDialog::CompareDialog(const std::string& folder, const ScanStore& store, QWidget* parent)
    : QDialog(parent), m_scans(store.List(folder)) {
    setWindowTitle(tr("Compare with Earlier Scan"));
    auto* layout = new QVBoxLayout(this);
    auto* intro =
        new QLabel(m_scans.empty() ? tr("No scan of %1 is kept yet. Choose an export file instead.")
                                         .arg(FileNameText(folder))
                                   : tr("Kept scans of %1:").arg(FileNameText(folder)),
                   this);
    intro->setTextFormat(Qt::PlainText);
    intro->setWordWrap(true);
    layout->addWidget(intro);

    m_list = new QTreeWidget(this);
    m_list->setRootIsDecorated(false);
    m_list->setHeaderLabels({tr("Date"), tr("Total"), tr("Files")});
    m_list->header()->setStretchLastSection(false);
    m_list->header()->setSectionResizeMode(0, QHeaderView::Stretch);
    for (const KeptScan& scan : m_scans) {
        auto* row = new QTreeWidgetItem(m_list);
        row->setText(0, DateText(scan.unixMillis));
        row->setText(1, QString::fromStdString(FormatSize(scan.total)));
        row->setText(2, QString::number(scan.files));
        row->setTextAlignment(1, Qt::AlignRight | Qt::AlignVCenter);
        row->setTextAlignment(2, Qt::AlignRight | Qt::AlignVCenter);
        row->setToolTip(0, FileNameText(scan.file));
    }
    m_list->setMinimumWidth(420);
    layout->addWidget(m_list);

    auto* buttons = new QDialogButtonBox(this);
    m_compare = buttons->addButton(tr("Compare"), QDialogButtonBox::AcceptRole);
    m_otherFile = buttons->addButton(tr("Other file..."), QDialogButtonBox::ActionRole);
    buttons->addButton(QDialogButtonBox::Cancel);
    layout->addWidget(buttons);

    m_compare->setEnabled(false);
    connect(m_list, &QTreeWidget::currentItemChanged, this,
            [this](QTreeWidgetItem* current) { m_compare->setEnabled(current != nullptr); });
    connect(m_list, &QTreeWidget::itemDoubleClicked, this, [this] { OnCompare(); });
    connect(m_compare, &QPushButton::clicked, this, &CompareDialog::OnCompare);
    connect(m_otherFile, &QPushButton::clicked, this, &CompareDialog::OnOtherFile);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    if (!m_scans.empty()) {
        m_list->setCurrentItem(m_list->topLevelItem(0));
    }
}

QString CompareDialog::DateText(int64_t unixMillis) {
    return QDateTime::fromMSecsSinceEpoch(unixMillis)
        .toLocalTime()
        .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

void CompareDialog::OnCompare() {
    const int row = m_list->indexOfTopLevelItem(m_list->currentItem());
    if (row < 0 || size_t(row) >= m_scans.size()) {
        return;
    }
    m_chosen = m_scans[size_t(row)].file;
    accept();
}

void CompareDialog::OnOtherFile() {
    const QString file = QFileDialog::getOpenFileName(
        this, tr("Compare with Export"), QString(),
        tr("Scan exports (*.json *.json.zst *.json.gz *.zst *.gz);;All files (*)"));
    if (file.isEmpty()) {
        return;
    }
    m_chosen = FileNameBytes(file);
    accept();
}

}  // namespace quarn

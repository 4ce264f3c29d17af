#include "app/LargestFilesDialog.h"

#include <QLabel>
#include <QVBoxLayout>

#include "app/LargestFilesList.h"

namespace quarn {

LargestFilesDialog::LargestFilesDialog(DiskChanges& diskChanges, QWidget* parent)
    : QDialog(parent), m_list(new LargestFilesList(diskChanges, this)), m_note(new QLabel(this)) {
    setWindowTitle(tr("Largest Files"));
    setModal(false);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_list);
    layout->addWidget(m_note);
    resize(760, 480);
}

void LargestFilesDialog::Show(const KeptFileStats& stats) {
    const std::shared_ptr<const ScanFileStats> scan = stats.Shown();
    if (scan == nullptr) {
        m_list->SetFiles({});
        m_note->setText(tr("Scan a folder in Dirmass to list its largest files."));
        return;
    }
    m_list->SetFiles(stats.Largest());
    m_note->setText(tr("The %1 largest files of the last scan").arg(scan->Largest().Size()));
}

}  // namespace quarn

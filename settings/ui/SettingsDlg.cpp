#include "settings/ui/SettingsDlg.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShowEvent>

#include "controls/DialogUnitScale.h"
#include "controls/FileNameText.h"
#include "controls/ShellOperations.h"
#include "settings/Settings.h"
#include "settings/ShellIntegration.h"

namespace quarn {

namespace {

struct BoxTemplate {
    int id;
    const char* caption;
    int x, y, width, height;
};

// In the order of the ids; "&&" shows as one ampersand.
constexpr BoxTemplate kBoxes[] = {
    {SettingsDlg::kIdCombinedScan, "Scan Mode: Dirmass && Dupmatch", 12, 18, 168, 11},
    {SettingsDlg::kIdShellRun, "Shell Integration", 12, 30, 114, 12},
    {SettingsDlg::kIdSortBySize, "Sort by Size", 12, 72, 54, 10},
    {SettingsDlg::kIdRelativToDriveSpace, "% Relativ to Drive Space", 12, 84, 121, 11},
    {SettingsDlg::kIdCmpName, "File Name", 12, 120, 114, 12},
    {SettingsDlg::kIdCmpSize, "File Size", 12, 132, 114, 12},
    {SettingsDlg::kIdCmpDate, "Modified Date", 12, 144, 114, 12},
};

void AddGroup(QWidget* dialog, const DialogUnitScale& du, const char* title, int x, int y,
              int width, int height) {
    auto* group = new QGroupBox(QString::fromLatin1(title), dialog);
    group->setGeometry(du.Rect(x, y, width, height));
}

}  // namespace

SettingsDlg::SettingsDlg(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Settings"));
    setModal(true);
    const DialogUnitScale du(font());
    setFixedSize(du.Size(220, 299));

    // Group boxes first, so that the check boxes lie above them.
    AddGroup(this, du, "General", 6, 6, 210, 49);
    AddGroup(this, du, "Dirmass", 6, 60, 210, 42);
    AddGroup(this, du, "Dupmatch: Properties of equal Files", 6, 108, 210, 54);
    AddGroup(this, du, "Scope", 6, 168, 210, 46);
    AddGroup(this, du, "Twins", 6, 220, 210, 58);

    for (int i = 0; i < 7; ++i) {
        const BoxTemplate& box = kBoxes[i];
        m_boxes[i] = new QCheckBox(QString::fromLatin1(box.caption), this);
        m_boxes[i]->setObjectName(QString::number(box.id));
        m_boxes[i]->setGeometry(du.Rect(box.x, box.y, box.width, box.height));
    }
    auto* excludeLabel = new QLabel(QStringLiteral("&Exclude:"), this);
    excludeLabel->setGeometry(du.Rect(12, 181, 34, 10));
    m_exclude = new QLineEdit(this);
    m_exclude->setObjectName(QString::number(kIdExclude));
    m_exclude->setGeometry(du.Rect(48, 179, 162, 13));
    m_exclude->setPlaceholderText(QStringLiteral("patterns separated by ;"));
    m_exclude->setToolTip(QStringLiteral(
        "Names such as build or *.tmp, or paths below the scanned folder such as src/cache"));
    excludeLabel->setBuddy(m_exclude);
    m_oneFileSystem = new QCheckBox(QStringLiteral("Stay on one file system"), this);
    m_oneFileSystem->setObjectName(QString::number(kIdOneFileSystem));
    m_oneFileSystem->setGeometry(du.Rect(12, 196, 150, 12));

    m_twinsByContent = new QCheckBox(QStringLiteral("Twins by content, whatever the names"), this);
    m_twinsByContent->setObjectName(QString::number(kIdTwinsByContent));
    m_twinsByContent->setGeometry(du.Rect(12, 232, 196, 12));
    m_hashCache = new QCheckBox(QStringLiteral("Keep content hashes between searches"), this);
    m_hashCache->setObjectName(QString::number(kIdHashCache));
    m_hashCache->setGeometry(du.Rect(12, 245, 196, 12));
    auto* referenceLabel = new QLabel(QStringLiteral("&Reference folders:"), this);
    referenceLabel->setGeometry(du.Rect(12, 262, 66, 10));
    m_references = new QLineEdit(this);
    m_references->setObjectName(QString::number(kIdReferenceFolders));
    m_references->setGeometry(du.Rect(80, 260, 96, 13));
    m_references->setPlaceholderText(QStringLiteral("folders separated by ;"));
    m_references->setToolTip(QStringLiteral(
        "Files in these folders are never selected, moved to the trash or replaced"));
    referenceLabel->setBuddy(m_references);
    auto* addReference = new QPushButton(QStringLiteral("&Add..."), this);
    addReference->setObjectName(QString::number(kIdAddReference));
    addReference->setAutoDefault(false);
    addReference->setGeometry(du.Rect(178, 259, 32, 15));
    connect(addReference, &QPushButton::clicked, this, &SettingsDlg::OnAddReference);

    // Names are always compared; the box only says so.
    CheckBox(kIdCmpName)->setChecked(true);
    CheckBox(kIdCmpName)->setEnabled(false);

    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(QString::number(kIdOk));
    ok->setDefault(true);
    ok->setGeometry(du.Rect(108, 282, 50, 14));
    connect(ok, &QPushButton::clicked, this, &SettingsDlg::accept);

    auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
    cancel->setObjectName(QString::number(kIdCancel));
    cancel->setGeometry(du.Rect(162, 282, 50, 14));
    connect(cancel, &QPushButton::clicked, this, &SettingsDlg::reject);
}

QCheckBox* SettingsDlg::CheckBox(int id) const {
    switch (id) {
        case kIdOneFileSystem:
            return m_oneFileSystem;
        case kIdTwinsByContent:
            return m_twinsByContent;
        case kIdHashCache:
            return m_hashCache;
        default:
            break;
    }
    if (id < kIdCombinedScan || id > kIdCmpDate) {
        return nullptr;
    }
    return m_boxes[id - kIdCombinedScan];
}

void SettingsDlg::LoadSettings() {
    m_bCombinedScan = ReadSetting(kTwinMode) ? 0 : 1;
    m_bSortBySize = ReadSetting(kSortBySize) ? 1 : 0;
    m_bRelativToDriveSpace = ReadSetting(kRelativToDriveSpace) ? 1 : 0;
    m_bCmpName = 1;
    m_bCmpDate = ReadSetting(kCmpDate) ? 1 : 0;
    m_bCmpSize = ReadSetting(kCmpSize) ? 1 : 0;
    m_bShellRun = ReadSetting(kShellRun) ? 1 : 0;
    ExchangeData(true);
    m_exclude->setText(QString::fromUtf8(ReadSettingText(kExclude)));
    m_oneFileSystem->setChecked(ReadSetting(kOneFileSystem, false));
    m_twinsByContent->setChecked(ReadSetting(kTwinsByContent, false));
    m_hashCache->setChecked(ReadSetting(kHashCache, true));
    // Folder names are bytes: undecodable ones come back unchanged.
    m_references->setText(FileNameText(ReadSettingText(kReferenceFolders)));
}

void SettingsDlg::OnAddReference() {
    const std::string chosen = BrowseForFolder(this, QStringLiteral("Add a reference folder"));
    if (chosen.empty()) {
        return;
    }
    const QString folder = FileNameText(chosen);
    QStringList folders;
    for (const QString& entry : m_references->text().split(QLatin1Char(';'))) {
        if (!entry.trimmed().isEmpty()) {
            folders << entry.trimmed();
        }
    }
    if (!folders.contains(folder)) {
        folders << folder;
    }
    m_references->setText(folders.join(QLatin1Char(';')));
}

void SettingsDlg::ExchangeData(bool toBoxes) {
    int* members[] = {&m_bCombinedScan, &m_bShellRun, &m_bSortBySize, &m_bRelativToDriveSpace,
                      &m_bCmpName,      &m_bCmpSize,  &m_bCmpDate};
    for (int i = 0; i < 7; ++i) {
        if (toBoxes) {
            m_boxes[i]->setChecked(*members[i] != 0);
        } else {
            *members[i] = m_boxes[i]->isChecked() ? 1 : 0;
        }
    }
}

void SettingsDlg::showEvent(QShowEvent* event) {
    // Spontaneous shows (the window coming back from the task bar) keep what
    // the user has ticked so far.
    if (!event->spontaneous()) {
        LoadSettings();
    }
    QDialog::showEvent(event);
}

void SettingsDlg::accept() {
    ExchangeData(false);
    // Failed writes are silent: the old values stay in force.
    WriteSetting(kTwinMode, m_bCombinedScan == 0);
    WriteSetting(kSortBySize, m_bSortBySize != 0);
    WriteSetting(kRelativToDriveSpace, m_bRelativToDriveSpace != 0);
    WriteSetting(kCmpName, true);
    WriteSetting(kCmpDate, m_bCmpDate != 0);
    WriteSetting(kCmpSize, m_bCmpSize != 0);
    WriteSetting(kShellRun, m_bShellRun != 0);
    WriteSettingText(kExclude, m_exclude->text().trimmed().toStdString());
    WriteSetting(kOneFileSystem, m_oneFileSystem->isChecked());
    WriteSetting(kTwinsByContent, m_twinsByContent->isChecked());
    WriteSetting(kHashCache, m_hashCache->isChecked());
    WriteSettingText(kReferenceFolders, FileNameBytes(m_references->text().trimmed()));
    ApplyShellIntegration();
    QDialog::accept();
}

}  // namespace quarn

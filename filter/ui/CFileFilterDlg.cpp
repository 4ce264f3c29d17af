#include "filter/ui/CFileFilterDlg.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QRegularExpressionValidator>
#include <QShowEvent>

#include "controls/DialogUnitScale.h"
#include "duplicates/TwinScanner.h"
#include "filter/FileSearch.h"

namespace quarn {

namespace {

QString IdName(int id) {
    return QString::number(id);
}

// Positions of the controls in dialog units: x, y, width, height.
struct DialogRect {
    int x, y, width, height;
};
constexpr DialogRect kSearchRect{18, 30, 246, 12};
constexpr DialogRect kSizeRangeRect{16, 84, 102, 12};
constexpr DialogRect kMinRect{130, 84, 50, 12};
constexpr DialogRect kMaxRect{214, 84, 50, 12};
constexpr DialogRect kExecuteRect{226, 107, 50, 14};
constexpr DialogRect kDefineGroupRect{6, 6, 270, 60};
constexpr DialogRect kSearchLabelRect{18, 18, 63, 12};
constexpr DialogRect kOptionsGroupRect{6, 72, 270, 30};
constexpr DialogRect kAndLabelRect{190, 84, 24, 12};
constexpr DialogRect kTwinsOnlyRect{18, 48, 252, 12};
constexpr DialogRect kExecuteStayRect{106, 107, 56, 14};
constexpr DialogRect kCancelRect{167, 107, 56, 14};

QLineEdit* MakeDigitsEdit(QWidget* parent, int id) {
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(IdName(id));
    // The bounds are whole KB; anything but digits would only be read as 0.
    edit->setValidator(
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), edit));
    edit->setEnabled(false);
    return edit;
}

}  // namespace

CFileFilterDlg::CFileFilterDlg(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("File Filter"));
    // Stays above the main window so that the list can be watched while it fills.
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint | Qt::WindowStaysOnTopHint);
    setModal(true);

    // Created in the dialog's control order, which is also the tab order.
    m_pSearchEdit = new QLineEdit(this);
    m_pSearchEdit->setObjectName(IdName(kIdSearch));

    m_pSizeRangeCheck = new QCheckBox(QStringLiteral("Size between (in KB) ..."), this);
    m_pSizeRangeCheck->setObjectName(IdName(kIdSizeRange));

    m_pMinEdit = MakeDigitsEdit(this, kIdMinKB);
    m_pMaxEdit = MakeDigitsEdit(this, kIdMaxKB);

    m_pExecuteButton = new QPushButton(QStringLiteral("Execute"), this);
    m_pExecuteButton->setObjectName(IdName(kIdExecute));
    m_pExecuteButton->setDefault(true);

    m_pDefineGroup = new QGroupBox(QStringLiteral("Define Filter"), this);
    m_pSearchLabel = new QLabel(QStringLiteral("String in Filename"), this);
    m_pSearchLabel->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    m_pOptionsGroup = new QGroupBox(QStringLiteral("Search options"), this);
    m_pAndLabel = new QLabel(QStringLiteral("and"), this);
    m_pAndLabel->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);

    m_pTwinsOnlyCheck = new QCheckBox(
        QStringLiteral("Only TwinFiles (see Definition for TwinFiles in Settings Dialog)"), this);
    m_pTwinsOnlyCheck->setObjectName(IdName(kIdTwinsOnly));

    m_pExecuteStayButton = new QPushButton(QStringLiteral("Execute"), this);
    m_pExecuteStayButton->setObjectName(IdName(kIdExecuteStay));
    m_pExecuteStayButton->setAutoDefault(false);
    m_pExecuteStayButton->hide();

    m_pCancelButton = new QPushButton(QStringLiteral("Cancel"), this);
    m_pCancelButton->setObjectName(IdName(kIdCancel));

    // The group boxes frame controls made before them; keep them underneath
    // so that they never take those controls' clicks.
    m_pDefineGroup->lower();
    m_pOptionsGroup->lower();

    QWidget* order[] = {m_pSearchEdit,    m_pSizeRangeCheck, m_pMinEdit,           m_pMaxEdit,
                        m_pExecuteButton, m_pTwinsOnlyCheck, m_pExecuteStayButton, m_pCancelButton};
    for (size_t i = 1; i < std::size(order); ++i) {
        setTabOrder(order[i - 1], order[i]);
    }

    connect(m_pSizeRangeCheck, &QCheckBox::clicked, this, &CFileFilterDlg::OnSizeRangeClicked);
    connect(m_pExecuteButton, &QPushButton::clicked, this, &CFileFilterDlg::OnExecute);
    connect(m_pExecuteStayButton, &QPushButton::clicked, this, &CFileFilterDlg::OnExecuteStay);
    connect(m_pCancelButton, &QPushButton::clicked, this, &QDialog::reject);

    LayOutControls();
    UpdateData(false);
    OnSizeRangeClicked();
}

QRect CFileFilterDlg::MapDialogRect(int x, int y, int width, int height) const {
    return DialogUnitScale(font()).Rect(x, y, width, height);
}

void CFileFilterDlg::LayOutControls() {
    auto place = [this](QWidget* widget, const DialogRect& r) {
        widget->setGeometry(MapDialogRect(r.x, r.y, r.width, r.height));
    };
    place(m_pSearchEdit, kSearchRect);
    place(m_pSizeRangeCheck, kSizeRangeRect);
    place(m_pMinEdit, kMinRect);
    place(m_pMaxEdit, kMaxRect);
    place(m_pExecuteButton, kExecuteRect);
    place(m_pDefineGroup, kDefineGroupRect);
    place(m_pSearchLabel, kSearchLabelRect);
    place(m_pOptionsGroup, kOptionsGroupRect);
    place(m_pAndLabel, kAndLabelRect);
    place(m_pTwinsOnlyCheck, kTwinsOnlyRect);
    place(m_pExecuteStayButton, kExecuteStayRect);
    place(m_pCancelButton, kCancelRect);
    const QRect client = MapDialogRect(0, 0, kWidthDU, kHeightDU);
    setFixedSize(client.size());
}

void CFileFilterDlg::showEvent(QShowEvent* event) {
    if (!event->spontaneous()) {
        UpdateData(false);
        OnSizeRangeClicked();
        m_pSearchEdit->setFocus(Qt::OtherFocusReason);
    }
    QDialog::showEvent(event);
}

void CFileFilterDlg::changeEvent(QEvent* event) {
    if (event->type() == QEvent::FontChange && m_pCancelButton != nullptr) {
        LayOutControls();
    }
    QDialog::changeEvent(event);
}

void CFileFilterDlg::UpdateData(bool saveAndValidate) {
    if (saveAndValidate) {
        m_criteria.m_strSearch = m_pSearchEdit->text().toStdString();
        m_criteria.m_bSizeRange = m_pSizeRangeCheck->isChecked();
        m_criteria.m_bTwinsOnly = m_pTwinsOnlyCheck->isChecked();
        m_criteria.m_strMinKB = m_pMinEdit->text().toStdString();
        m_criteria.m_strMaxKB = m_pMaxEdit->text().toStdString();
    } else {
        m_pSearchEdit->setText(QString::fromStdString(m_criteria.m_strSearch));
        m_pSizeRangeCheck->setChecked(m_criteria.m_bSizeRange);
        m_pTwinsOnlyCheck->setChecked(m_criteria.m_bTwinsOnly);
        m_pMinEdit->setText(QString::fromStdString(m_criteria.m_strMinKB));
        m_pMaxEdit->setText(QString::fromStdString(m_criteria.m_strMaxKB));
    }
}

void CFileFilterDlg::OnSizeRangeClicked() {
    const bool on = m_pSizeRangeCheck->checkState() == Qt::Checked;
    m_pMinEdit->setEnabled(on);
    m_pMaxEdit->setEnabled(on);
}

int CFileFilterDlg::OpenOn(TwinScanner& list) {
    m_pList = &list;
    return exec();
}

void CFileFilterDlg::StartSearch() {
    UpdateData(true);
    if (m_pList != nullptr) {
        // Refused with "App is busy.." while a scan holds the tree; a search
        // still running is ended first (the list's rule).
        StartFileSearch(*m_pList, m_criteria);
    }
}

void CFileFilterDlg::OnExecute() {
    StartSearch();
    accept();
}

void CFileFilterDlg::OnExecuteStay() {
    StartSearch();
}

}  // namespace quarn

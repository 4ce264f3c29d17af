#pragma once
// The File Filter dialog: rebuilds the twin list from the last scan with only
// the files whose name contains a text, whose size lies in a KB range, and
// optionally only files that have twins.
//
// Usage (UI thread):
//     CFileFilterDlg dlg(frame);      // one object for the frame's whole life
//     dlg.OpenOn(twins);              // modal; Execute starts the search and closes
//
// The fields (m_criteria) keep the values of the last Execute from one opening
// to the next; Cancel drops what was typed. The search itself runs as a job of
// the twin engine (TwinScanner::StartSearch), which also decides what happens
// when a scan or another search is still at work on the same index.

#include <QDialog>

#include "filter/FilterCriteria.h"

class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace quarn {

class TwinScanner;

class CFileFilterDlg : public QDialog {
    Q_OBJECT

  public:
    // Control ids of the dialog; each control carries its id as object name.
    static constexpr int kIdExecute = 1;  // the visible "Execute", the default button
    static constexpr int kIdCancel = 2;
    static constexpr int kIdTwinsOnly = 1000;
    static constexpr int kIdSearch = 1001;
    static constexpr int kIdSizeRange = 1007;
    static constexpr int kIdMinKB = 1008;
    static constexpr int kIdMaxKB = 1009;
    static constexpr int kIdExecuteStay = 1021;  // hidden "Execute" that keeps the dialog open

    // Size of the dialog in dialog units (a quarter of the font's average
    // character width across, an eighth of its height down).
    static constexpr int kWidthDU = 280;
    static constexpr int kHeightDU = 125;

    explicit CFileFilterDlg(QWidget* parent = nullptr);

    // Runs the dialog modally on `list`, the twin list that Execute searches
    // and fills (not owned; it must outlive the dialog's searches).
    int OpenOn(TwinScanner& list);
    // The list of the last opening; null before one (Execute then only keeps
    // the fields).
    TwinScanner* List() const { return m_pList; }

    // The fields behind the controls; they survive Cancel and reopening.
    FilterCriteria m_criteria;

    // Dialog units to pixels for the dialog's current font.
    QRect MapDialogRect(int x, int y, int width, int height) const;

  protected:
    // Every opening moves the fields into the controls first.
    void showEvent(QShowEvent* event) override;
    // The positions follow the font, as dialog units do.
    void changeEvent(QEvent* event) override;

  private Q_SLOTS:
    void OnSizeRangeClicked();
    void OnExecute();
    void OnExecuteStay();

  private:
    // true: controls -> fields; false: fields -> controls.
    void UpdateData(bool saveAndValidate);
    void StartSearch();
    void LayOutControls();

    QLineEdit* m_pSearchEdit = nullptr;
    QCheckBox* m_pSizeRangeCheck = nullptr;
    QLineEdit* m_pMinEdit = nullptr;
    QLineEdit* m_pMaxEdit = nullptr;
    QPushButton* m_pExecuteButton = nullptr;
    QGroupBox* m_pDefineGroup = nullptr;
    QLabel* m_pSearchLabel = nullptr;
    QGroupBox* m_pOptionsGroup = nullptr;
    QLabel* m_pAndLabel = nullptr;
    QCheckBox* m_pTwinsOnlyCheck = nullptr;
    QPushButton* m_pExecuteStayButton = nullptr;
    QPushButton* m_pCancelButton = nullptr;

    TwinScanner* m_pList = nullptr;  // the list of the last opening
};

}  // namespace quarn

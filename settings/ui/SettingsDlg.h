#pragma once
// The Settings dialog: the seven settings as check boxes; in the group
// "Scope" below them, the exclude patterns and "Stay on one file system"; in
// the group "Twins", twins by content, the hash cache and the reference
// folders. Read from the settings file each time the dialog is shown and
// written back on OK, after which the folder verb follows the new ShellRun.
// Cancel writes nothing.
//
// GUI thread only; run modally: `SettingsDlg dlg(parent); dlg.exec();`

#include <QDialog>

class QCheckBox;
class QLineEdit;
class QPushButton;

namespace quarn {

class SettingsDlg : public QDialog {
    Q_OBJECT

  public:
    // Ids of the check boxes; each box's objectName is its id ("1000"...).
    enum : int {
        kIdOk = 1,
        kIdCancel = 2,
        kIdCombinedScan = 1000,
        kIdShellRun = 1001,
        kIdSortBySize = 1002,
        kIdRelativToDriveSpace = 1003,
        kIdCmpName = 1004,
        kIdCmpSize = 1005,
        kIdCmpDate = 1006,
        kIdExclude = 1007,        // the edit field of the patterns
        kIdOneFileSystem = 1008,  // "Stay on one file system"
        kIdTwinsByContent = 1009,
        kIdHashCache = 1010,
        kIdReferenceFolders = 1011,  // the edit field of the folders
        kIdAddReference = 1012,      // "Add...": appends a chosen folder
    };

    explicit SettingsDlg(QWidget* parent = nullptr);

    // The check box with this id (the seven, kIdOneFileSystem,
    // kIdTwinsByContent and kIdHashCache), null for any other id. Owned by
    // the dialog.
    QCheckBox* CheckBox(int id) const;
    // The exclude patterns' edit field ("build;*.tmp"). Owned by the dialog.
    QLineEdit* ExcludeEdit() const { return m_exclude; }
    // The reference folders' edit field ("/a;/b"). Owned by the dialog.
    QLineEdit* ReferenceEdit() const { return m_references; }

    // Reads the settings into the members and the boxes (done on every show).
    void LoadSettings();

    // Check box states: 1 checked, 0 not.
    int m_bCombinedScan = 0;
    int m_bSortBySize = 0;
    int m_bRelativToDriveSpace = 0;
    int m_bCmpName = 0;
    int m_bCmpSize = 0;
    int m_bCmpDate = 0;
    int m_bShellRun = 0;

  public Q_SLOTS:
    // Writes the settings, applies the shell integration, closes.
    void accept() override;

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    // Moves the members into the boxes (toBoxes) or the boxes into the members.
    void ExchangeData(bool toBoxes);
    // "Add...": the folder chosen in the picker joins the list, once.
    void OnAddReference();

    QCheckBox* m_boxes[7] = {};  // 1000..1006
    QLineEdit* m_exclude = nullptr;
    QCheckBox* m_oneFileSystem = nullptr;
    QCheckBox* m_twinsByContent = nullptr;
    QCheckBox* m_hashCache = nullptr;
    QLineEdit* m_references = nullptr;
};

}  // namespace quarn

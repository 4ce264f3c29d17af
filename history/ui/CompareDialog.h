#pragma once
// File > Compare with Earlier Scan...: the kept scans of the shown folder,
// newest first, each with its date, total and file count, and "Other
// file..." for any export (plain, .zst or .gz). Accepted, it names the file
// to compare with.
//
// UI thread only.

#include <QDialog>

#include <string>
#include <vector>

#include "history/ScanStore.h"

class QPushButton;
class QTreeWidget;

namespace quarn {

class CompareDialog : public QDialog {
    Q_OBJECT
  public:
    // Lists the kept scans of `folder` found in `store`.
    CompareDialog(const std::string& folder, const ScanStore& store, QWidget* parent = nullptr);

    // The file chosen once accepted; empty before.
    const std::string& ChosenFile() const { return m_chosen; }
    QTreeWidget* ScanList() const { return m_list; }
    QPushButton* OtherFileButton() const { return m_otherFile; }
    QPushButton* CompareButton() const { return m_compare; }

    // A kept scan's date as the list shows it, in local time.
    static QString DateText(int64_t unixMillis);

  private:
    void OnCompare();
    void OnOtherFile();

    std::vector<KeptScan> m_scans;
    QTreeWidget* m_list = nullptr;
    QPushButton* m_compare = nullptr;
    QPushButton* m_otherFile = nullptr;
    std::string m_chosen;
};

}  // namespace quarn

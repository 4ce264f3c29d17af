#pragma once
// Our Properties dialog for a file, link or folder: path, type, sizes, times,
// owner and permissions. For a folder it counts what lies below it on a
// worker thread, updating the figures while it counts; the count stops and
// its thread is joined when the dialog closes or is destroyed.

#include <QDialog>
#include <atomic>
#include <cstdint>
#include <string>
#include <thread>

class QFormLayout;
class QLabel;
class QTimer;

namespace quarn {

class PropertiesDialog : public QDialog {
    Q_OBJECT
  public:
    // The path is raw bytes; nothing at the path shows an error text.
    explicit PropertiesDialog(const std::string& path, QWidget* parent = nullptr);
    ~PropertiesDialog() override;

    struct Figures {
        uint64_t files = 0;    // entries below that are not folders
        uint64_t folders = 0;  // folders below (not the folder itself)
        uint64_t apparentBytes = 0;
        uint64_t diskBytes = 0;  // allocated blocks; hard links once
        bool finished = false;
    };
    // The figures shown so far (final once `finished`).
    Figures CurrentFigures() const;

    // The shown text of a row by its field name ("path", "type", "size",
    // "disk", "contains", "modified", "accessed", "changed", "owner", "group",
    // "permissions", "target"); empty when the row is not shown.
    QString FieldText(const QString& field) const;

    void done(int result) override;

  private:
    void StopCounting();
    void ShowFigures();
    QLabel* AddRow(const QString& label, const QString& field, const QString& text);

    std::string m_path;
    QFormLayout* m_pForm = nullptr;
    QTimer* m_pTimer = nullptr;
    std::atomic<uint64_t> m_files{0};
    std::atomic<uint64_t> m_folders{0};
    std::atomic<uint64_t> m_apparentBytes{0};
    std::atomic<uint64_t> m_diskBytes{0};
    std::atomic<bool> m_finished{false};
    bool m_isFolder = false;
    std::jthread m_counter;  // last: stopped and joined before the figures go
};

}  // namespace quarn

#pragma once
// The second field of the status bar, beside the status text: short facts
// about what the pane shows, each set by its own owner and shown side by side
// in a fixed order. A new kind of fact is one more Part.
//
// UI thread only.

#include <QLabel>
#include <QString>

#include <array>

namespace quarn {

class StatusSummaryField : public QLabel {
    Q_OBJECT
  public:
    // In the order they are shown.
    enum Part {
        kScanCounts,  // "N files, M folders in 1.23 s" (ScanSummary.h)
        kUnreadable,  // "2 folders unreadable" (ScanSummary.h)
        kPartCount
    };

    explicit StatusSummaryField(QWidget* parent = nullptr);

    // An empty text takes the part out of the field.
    void SetPart(Part part, const QString& text);
    QString PartText(Part part) const { return m_parts[size_t(part)]; }

  private:
    std::array<QString, kPartCount> m_parts;
};

}  // namespace quarn

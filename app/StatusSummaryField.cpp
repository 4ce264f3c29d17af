#include "app/StatusSummaryField.h"

#include <QStringList>

namespace quarn {

StatusSummaryField::StatusSummaryField(QWidget* parent) : QLabel(parent) {
    setTextFormat(Qt::PlainText);
    setAlignment(Qt::AlignRight | Qt::AlignVCenter);
}

void StatusSummaryField::SetPart(Part part, const QString& text) {
    if (m_parts[size_t(part)] == text) {
        return;
    }
    m_parts[size_t(part)] = text;
    QStringList shown;
    for (const QString& each : m_parts) {
        if (!each.isEmpty()) {
            shown << each;
        }
    }
    setText(shown.join(QStringLiteral("  |  ")));
    setVisible(!shown.isEmpty());
}

}  // namespace quarn

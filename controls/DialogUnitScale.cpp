#include "controls/DialogUnitScale.h"

#include <QFontMetrics>

namespace quarn {

namespace {

// Rounded a * b / c, as the units are converted on the desktop they come from.
int ScaleRounded(int a, int b, int c) {
    return (a * b + (a >= 0 ? c / 2 : -c / 2)) / c;
}

}  // namespace

DialogUnitScale::DialogUnitScale(const QFont& font) {
    QFontMetrics metrics(font);
    // The average over the 52 letters, rounded, rather than the font's own
    // figure, which many fonts state far too wide or leave out.
    const QString letters = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    m_avgCharWidth = (metrics.horizontalAdvance(letters) / 26 + 1) / 2;
    m_charHeight = metrics.height();
    if (m_avgCharWidth < 1) {
        m_avgCharWidth = 1;
    }
    if (m_charHeight < 1) {
        m_charHeight = 1;
    }
}

int DialogUnitScale::X(int units) const {
    return ScaleRounded(units, m_avgCharWidth, 4);
}

int DialogUnitScale::Y(int units) const {
    return ScaleRounded(units, m_charHeight, 8);
}

QRect DialogUnitScale::Rect(int x, int y, int width, int height) const {
    return QRect(X(x), Y(y), X(width), Y(height));
}

QSize DialogUnitScale::Size(int width, int height) const {
    return QSize(X(width), Y(height));
}

}  // namespace quarn

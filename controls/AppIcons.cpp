#include "controls/AppIcons.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>
#include <QtMath>

#include <functional>

namespace quarn {

namespace {

using Painting = std::function<void(QPainter&)>;

// Paints `paint`, which draws in a box of `logical` x `logical` units, into a
// pixmap of `logical * ratio` device pixels.
QPixmap Render(int logical, qreal ratio, const Painting& paint) {
    const int device = qRound(logical * ratio);
    QPixmap pixmap(device, device);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(ratio, ratio);
    paint(painter);
    painter.end();
    pixmap.setDevicePixelRatio(ratio);
    return pixmap;
}

// An icon for the tool bar: the plain picture and a sharper one for
// high-density screens; QIcon greys it itself for the disabled state.
QIcon ToolBarIcon(const Painting& paint) {
    QIcon icon;
    icon.addPixmap(Render(kToolBarImageSize, 1.0, paint));
    icon.addPixmap(Render(kToolBarImageSize, 2.0, paint));
    return icon;
}

const QColor kOutline(40, 40, 40);
const QColor kPaper(255, 255, 255);
const QColor kFolderBack(214, 160, 36);
const QColor kFolderFront(250, 205, 80);

// The bar colour of a percentage, as the tree paints it.
QColor BarColour(int percent) {
    return QColor(255, (255 - 2 * percent) & 0xff, 0);
}

void PaintBars(QPainter& p) {
    const int percents[] = {100, 60, 30};
    const qreal lengths[] = {22, 15, 9};
    for (int i = 0; i < 3; ++i) {
        const QRectF frame(2.5, 3.5 + i * 7, 21, 5);
        p.setPen(QPen(kOutline, 1));
        p.setBrush(Qt::white);
        p.drawRect(frame);
        p.setPen(Qt::NoPen);
        p.setBrush(BarColour(percents[i]));
        p.drawRect(QRectF(3, 4 + i * 7, lengths[i] - 2, 4));
    }
}

void PaintSheet(QPainter& p, const QRectF& r, const QColor& fill) {
    const qreal fold = r.width() * 0.35;
    QPolygonF sheet;
    sheet << r.topLeft() << QPointF(r.right() - fold, r.top()) << QPointF(r.right(), r.top() + fold)
          << r.bottomRight() << r.bottomLeft();
    p.setPen(QPen(kOutline, 1));
    p.setBrush(fill);
    p.drawPolygon(sheet);
    QPolygonF corner;
    corner << QPointF(r.right() - fold, r.top()) << QPointF(r.right() - fold, r.top() + fold)
           << QPointF(r.right(), r.top() + fold);
    p.setBrush(fill.darker(115));
    p.drawPolygon(corner);
}

void PaintTwins(QPainter& p) {
    PaintSheet(p, QRectF(1.5, 2.5, 12, 16), kPaper);
    PaintSheet(p, QRectF(12.5, 7.5, 12, 16), kPaper);
    // The equals sign that joins them.
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0, 0, 99));
    p.drawRoundedRect(QRectF(7, 18, 12, 2.5), 1, 1);
    p.drawRoundedRect(QRectF(7, 22, 12, 2.5), 1, 1);
}

void PaintFunnel(QPainter& p) {
    QPolygonF funnel;
    funnel << QPointF(2.5, 4.5) << QPointF(23.5, 4.5) << QPointF(15.5, 14.5) << QPointF(15.5, 22.5)
           << QPointF(10.5, 24.5) << QPointF(10.5, 14.5);
    QLinearGradient shade(0, 4, 0, 24);
    shade.setColorAt(0, QColor(120, 170, 235));
    shade.setColorAt(1, QColor(30, 80, 170));
    p.setPen(QPen(kOutline, 1));
    p.setBrush(shade);
    p.drawPolygon(funnel);
    p.setPen(QPen(QColor(230, 240, 255), 1));
    p.drawLine(QPointF(5, 6.5), QPointF(21, 6.5));
}

void PaintGear(QPainter& p) {
    const QPointF centre(13, 13);
    const int teeth = 8;
    QPainterPath gear;
    for (int i = 0; i < teeth * 2; ++i) {
        // Alternating outer and inner radius, two points each, makes square teeth.
        const qreal radius = (i % 2 == 0) ? 11.5 : 8.5;
        const qreal a0 = (i - 0.5) * M_PI / teeth + 0.18;
        const qreal a1 = (i + 0.5) * M_PI / teeth - 0.18;
        const QPointF p0 = centre + radius * QPointF(qCos(a0), qSin(a0));
        const QPointF p1 = centre + radius * QPointF(qCos(a1), qSin(a1));
        if (i == 0) {
            gear.moveTo(p0);
        } else {
            gear.lineTo(p0);
        }
        gear.lineTo(p1);
    }
    gear.closeSubpath();
    gear.addEllipse(centre, 3.5, 3.5);
    gear.setFillRule(Qt::OddEvenFill);
    QLinearGradient shade(0, 2, 0, 24);
    shade.setColorAt(0, QColor(190, 190, 200));
    shade.setColorAt(1, QColor(100, 100, 115));
    p.setPen(QPen(kOutline, 1));
    p.setBrush(shade);
    p.drawPath(gear);
}

void PaintInfo(QPainter& p) {
    QRadialGradient shade(QPointF(10, 9), 14);
    shade.setColorAt(0, QColor(90, 150, 240));
    shade.setColorAt(1, QColor(20, 70, 170));
    p.setPen(QPen(QColor(15, 45, 110), 1));
    p.setBrush(shade);
    p.drawEllipse(QPointF(13, 13), 11.5, 11.5);
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawEllipse(QPointF(13, 7.5), 2, 2);
    p.drawRoundedRect(QRectF(11.2, 11, 3.6, 9.5), 1, 1);
}

// A closed folder in a box of `s` units.
void PaintFolder(QPainter& p, qreal s) {
    const qreal u = s / 16.0;
    QPainterPath back;
    back.moveTo(0.5 * u, 2.5 * u);
    back.lineTo(6 * u, 2.5 * u);
    back.lineTo(7.5 * u, 4 * u);
    back.lineTo(15.5 * u, 4 * u);
    back.lineTo(15.5 * u, 14.5 * u);
    back.lineTo(0.5 * u, 14.5 * u);
    back.closeSubpath();
    p.setPen(QPen(QColor(120, 85, 10), 1));
    p.setBrush(kFolderBack);
    p.drawPath(back);
    p.setBrush(kFolderFront);
    p.drawRect(QRectF(0.5 * u, 6 * u, 15 * u, 8.5 * u));
}

void PaintProgram(QPainter& p, qreal s) {
    PaintFolder(p, s);
    const qreal u = s / 16.0;
    const QRectF frame(2.5 * u, 8.5 * u, 11 * u, 4 * u);
    p.setPen(QPen(kOutline, qMax<qreal>(1.0, u * 0.6)));
    p.setBrush(Qt::white);
    p.drawRect(frame);
    p.setPen(Qt::NoPen);
    p.setBrush(BarColour(70));
    p.drawRect(QRectF(frame.left() + u * 0.6, frame.top() + u * 0.6, frame.width() * 0.7,
                      frame.height() - u * 1.2));
}

}  // namespace

QIcon DirmassModeIcon() {
    return ToolBarIcon(PaintBars);
}
QIcon DupmatchModeIcon() {
    return ToolBarIcon(PaintTwins);
}
QIcon FileFilterIcon() {
    return ToolBarIcon(PaintFunnel);
}
QIcon SettingsIcon() {
    return ToolBarIcon(PaintGear);
}
QIcon AboutIcon() {
    return ToolBarIcon(PaintInfo);
}

QIcon ProgramIcon() {
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64, 128, 256}) {
        icon.addPixmap(Render(size, 1.0, [size](QPainter& p) { PaintProgram(p, size); }));
    }
    return icon;
}

QPixmap FilesItemImage() {
    return Render(kTreeImageSize, 1.0, [](QPainter& p) {
        p.setRenderHint(QPainter::Antialiasing, false);
        PaintSheet(p, QRectF(2, 1, 11, 14), kPaper);
        p.setPen(QColor(150, 150, 160));
        for (int y = 6; y <= 12; y += 2) {
            p.drawLine(4, y, 10, y);
        }
    });
}

QPixmap FolderItemImage() {
    return Render(kTreeImageSize, 1.0, [](QPainter& p) {
        p.setRenderHint(QPainter::Antialiasing, false);
        PaintFolder(p, kTreeImageSize);
    });
}

QPixmap UnreadableFolderItemImage() {
    return Render(kTreeImageSize, 1.0, [](QPainter& p) {
        p.setRenderHint(QPainter::Antialiasing, false);
        PaintFolder(p, kTreeImageSize);
        // A red disc with a white bar in the lower right corner: no entry.
        p.setRenderHint(QPainter::Antialiasing, true);
        p.setPen(QPen(QColor(255, 255, 255), 1));
        p.setBrush(QColor(200, 30, 30));
        p.drawEllipse(QRectF(7.5, 6.5, 8.5, 8.5));
        p.setPen(Qt::NoPen);
        p.setBrush(Qt::white);
        p.drawRect(QRectF(9.5, 10, 4.5, 1.5));
    });
}

QPixmap OtherFileSystemItemImage() {
    return Render(kTreeImageSize, 1.0, [](QPainter& p) {
        p.setRenderHint(QPainter::Antialiasing, false);
        PaintFolder(p, kTreeImageSize);
        p.setRenderHint(QPainter::Antialiasing, true);
        p.setPen(QPen(Qt::white, 1.0));
        p.setBrush(QColor(110, 110, 120));
        p.drawEllipse(QRectF(8.5, 8.5, 7, 7));
        p.setPen(QPen(Qt::white, 1.5));
        p.drawLine(QPointF(10.5, 12), QPointF(13.5, 12));
    });
}

QPixmap TwinFolderItemImage() {
    return Render(kTreeImageSize, 1.0, [](QPainter& p) {
        p.setRenderHint(QPainter::Antialiasing, false);
        PaintFolder(p, kTreeImageSize);
        // Two stacked sheets in the lower right corner: a copy.
        p.setPen(QPen(QColor(20, 50, 120), 1));
        p.setBrush(QColor(175, 205, 250));
        p.drawRect(QRect(7, 6, 6, 6));
        p.setBrush(QColor(60, 120, 220));
        p.drawRect(QRect(9, 9, 6, 6));
    });
}

}  // namespace quarn

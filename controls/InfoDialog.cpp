#include "controls/InfoDialog.h"

#include <algorithm>

#include <QLabel>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QPushButton>

#include "controls/DialogUnitScale.h"
#include "controls/HyperLink.h"

namespace quarn {

namespace {

// One page of the twin pair: a sheet with a folded corner and a few lines.
void PaintSheet(QPainter& painter, const QRectF& sheet) {
    const qreal fold = sheet.width() * 0.3;
    QPainterPath outline;
    outline.moveTo(sheet.topLeft());
    outline.lineTo(sheet.right() - fold, sheet.top());
    outline.lineTo(sheet.right(), sheet.top() + fold);
    outline.lineTo(sheet.bottomRight());
    outline.lineTo(sheet.bottomLeft());
    outline.closeSubpath();
    painter.setPen(QPen(QColor(40, 52, 80), 1.0));
    painter.setBrush(QColor(250, 250, 246));
    painter.drawPath(outline);
    QPainterPath corner;
    corner.moveTo(sheet.right() - fold, sheet.top());
    corner.lineTo(sheet.right() - fold, sheet.top() + fold);
    corner.lineTo(sheet.right(), sheet.top() + fold);
    painter.setBrush(QColor(210, 214, 222));
    painter.drawPath(corner);
    painter.setPen(QPen(QColor(120, 130, 150), 1.0));
    for (int line = 0; line < 3; ++line) {
        qreal y = sheet.top() + fold + (line + 1) * (sheet.height() - fold) / 4.5;
        painter.drawLine(QPointF(sheet.left() + 3, y), QPointF(sheet.right() - 3, y));
    }
}

// The program's picture: a folder with its size bars above a pair of twin
// pages, the two things the tool looks for.
QPixmap PaintAboutPicture(const QSize& size, qreal pixelRatio) {
    QPixmap picture(size * pixelRatio);
    picture.setDevicePixelRatio(pixelRatio);
    picture.fill(Qt::transparent);
    QPainter painter(&picture);
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal w = size.width();
    const qreal h = size.height();

    QLinearGradient sky(0, 0, 0, h);
    sky.setColorAt(0.0, QColor(31, 59, 115));
    sky.setColorAt(1.0, QColor(42, 140, 140));
    painter.setPen(Qt::NoPen);
    painter.setBrush(sky);
    painter.drawRoundedRect(QRectF(0.5, 0.5, w - 1, h - 1), w * 0.12, w * 0.12);

    // Folder.
    QRectF body(w * 0.16, h * 0.09, w * 0.68, h * 0.17);
    QPainterPath folder;
    folder.moveTo(body.left(), body.top());
    folder.lineTo(body.left() + body.width() * 0.38, body.top());
    folder.lineTo(body.left() + body.width() * 0.48, body.top() + body.height() * 0.18);
    folder.lineTo(body.right(), body.top() + body.height() * 0.18);
    folder.lineTo(body.bottomRight());
    folder.lineTo(body.bottomLeft());
    folder.closeSubpath();
    painter.setPen(QPen(QColor(120, 84, 10), 1.0));
    painter.setBrush(QColor(242, 193, 78));
    painter.drawPath(folder);

    // Size bars, largest first.
    const qreal shares[] = {0.9, 0.58, 0.3};
    const QColor fills[] = {QColor(236, 112, 64), QColor(246, 170, 60), QColor(120, 200, 110)};
    for (int bar = 0; bar < 3; ++bar) {
        QRectF track(w * 0.12, h * (0.32 + bar * 0.075), w * 0.76, h * 0.05);
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(255, 255, 255, 60));
        painter.drawRect(track);
        painter.setBrush(fills[bar]);
        painter.drawRect(
            QRectF(track.topLeft(), QSizeF(track.width() * shares[bar], track.height())));
    }

    // Twin pages with an equals sign between them.
    PaintSheet(painter, QRectF(w * 0.1, h * 0.6, w * 0.36, h * 0.3));
    PaintSheet(painter, QRectF(w * 0.54, h * 0.6, w * 0.36, h * 0.3));
    painter.setPen(QPen(QColor(255, 255, 255), 1.5));
    painter.drawLine(QPointF(w * 0.44, h * 0.73), QPointF(w * 0.56, h * 0.73));
    painter.drawLine(QPointF(w * 0.44, h * 0.77), QPointF(w * 0.56, h * 0.77));
    return picture;
}

QLabel* AddText(QWidget* dialog, const DialogUnitScale& du, const char* id, const QString& text,
                int x, int y, int width, int height) {
    auto* label = new QLabel(text, dialog);
    label->setObjectName(QString::fromLatin1(id));
    label->setTextFormat(Qt::PlainText);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    // Fonts here run wider than the template's, so a line may need more
    // room than the template gives; the column to the right starts further on.
    QRect box = du.Rect(x, y, width, height);
    box.setWidth(std::max(box.width(), label->sizeHint().width()));
    label->setGeometry(box);
    return label;
}

CHyperLink* AddLink(QWidget* dialog, const DialogUnitScale& du, const char* id, const char* address,
                    int x, int y, int width, int height) {
    auto* link = new CHyperLink(QString::fromLatin1(address), QString(), dialog);
    link->setObjectName(QString::fromLatin1(id));
    link->setGeometry(du.Rect(x, y, width, height));
    link->FitToText();  // the template's box, then shrunk to the address
    return link;
}

}  // namespace

CInfoDialog::CInfoDialog(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Info"));
    setModal(true);
    const DialogUnitScale du(font());
    setFixedSize(du.Size(256, 89));

    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(QStringLiteral("1"));
    ok->setDefault(true);
    ok->setGeometry(du.Rect(174, 6, 71, 16));
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);

    auto* picture = new QLabel(this);
    picture->setObjectName(QStringLiteral("AboutPicture"));
    picture->setGeometry(du.Rect(7, 7, 36, 74));
    picture->setPixmap(PaintAboutPicture(picture->size(), picture->devicePixelRatioF()));

    // The mail link first: it sits above the web link.
    m_linkMail = AddLink(this, du, "1033", kMailAddress, 150, 54, 96, 11);
    m_linkWeb = AddLink(this, du, "1032", kWebAddress, 150, 66, 90, 11);
    AddText(this, du, "1034", QStringLiteral("Quarn Utility 1.1"), 49, 7, 89, 9);
    AddText(this, du, "1035", QStringLiteral("2026 Quarn developers"), 48, 36, 89, 9);
    AddText(this, du, "1036", QStringLiteral("Dirmass & Dupmatch"), 48, 18, 89, 9);
    AddText(this, du, "1037", QStringLiteral("Send your comments to:"), 48, 54, 78, 9);
    AddText(this, du, "1038", QStringLiteral("Visit Developer's Web-Site:"), 48, 66, 90, 9);
    ok->setFocus();
}

CInfoDialog::~CInfoDialog() = default;

}  // namespace quarn

#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

#include <set>

#include "controls/DialogUnitScale.h"
#include "controls/HyperLink.h"
#include "controls/InfoDialog.h"

using quarn::CHyperLink;
using quarn::CInfoDialog;

class InfoDialogTest : public QObject {
    Q_OBJECT

  private Q_SLOTS:
    void showsTheTextsWhereTheTemplatePutsThem() {
        CInfoDialog dialog;
        const quarn::DialogUnitScale du(dialog.font());
        QCOMPARE(dialog.windowTitle(), QStringLiteral("Info"));
        QCOMPARE(dialog.size(), du.Size(256, 89));

        const struct {
            const char* id;
            const char* text;
            QRect rect;
        } texts[] = {
            {"1034", "Quarn Utility 1.1", du.Rect(49, 7, 89, 9)},
            {"1036", "Dirmass & Dupmatch", du.Rect(48, 18, 89, 9)},
            {"1037", "Send your comments to:", du.Rect(48, 54, 78, 9)},
            {"1038", "Visit Developer's Web-Site:", du.Rect(48, 66, 90, 9)},
        };
        for (const auto& text : texts) {
            auto* label = dialog.findChild<QLabel*>(QString::fromLatin1(text.id));
            QVERIFY2(label, text.id);
            QCOMPARE(label->text(), QString::fromLatin1(text.text));
            // At the template's place; wider only where the text needs it.
            QCOMPARE(label->pos(), text.rect.topLeft());
            QCOMPARE(label->height(), text.rect.height());
            QVERIFY(label->width() >= text.rect.width());
            QVERIFY(label->width() >= label->sizeHint().width());
            QVERIFY(label->geometry().right() < du.X(150));  // clear of the links
        }
        auto* maker = dialog.findChild<QLabel*>(QStringLiteral("1035"));
        QVERIFY(maker && maker->text().contains(QStringLiteral("2026")));

        auto* ok = dialog.findChild<QPushButton*>(QStringLiteral("1"));
        QVERIFY(ok && ok->isDefault());
        QCOMPARE(ok->geometry(), du.Rect(174, 6, 71, 16));
    }

    void linksOpenTheirOwnCaptions() {
        CInfoDialog dialog;
        const quarn::DialogUnitScale du(dialog.font());
        auto* web = qobject_cast<CHyperLink*>(dialog.findChild<QLabel*>(QStringLiteral("1032")));
        auto* mail = qobject_cast<CHyperLink*>(dialog.findChild<QLabel*>(QStringLiteral("1033")));
        QVERIFY(web && mail);
        QCOMPARE(web, dialog.WebLink());
        QCOMPARE(mail, dialog.MailLink());
        QVERIFY(mail->GetTarget().startsWith(QStringLiteral("mailto:")));
        QVERIFY(web->GetTarget().startsWith(QStringLiteral("https://")));
        QCOMPARE(web->text(), web->GetTarget());
        QCOMPARE(mail->text(), mail->GetTarget());
        // Placed at the template's corner, sized to the address, not a tab stop.
        QCOMPARE(web->pos(), du.Rect(150, 66, 90, 11).topLeft());
        QCOMPARE(mail->pos(), du.Rect(150, 54, 96, 11).topLeft());
        QCOMPARE(web->width(), web->fontMetrics().horizontalAdvance(web->text()));
        QCOMPARE(web->focusPolicy(), Qt::NoFocus);
        // Both fit inside the box.
        QVERIFY(dialog.rect().contains(web->geometry()));
        QVERIFY(dialog.rect().contains(mail->geometry()));

        QStringList opened;
        CHyperLink::s_openUrl = [&opened](const QUrl& url) {
            opened << url.toString();
            return true;
        };
        QTimer::singleShot(0, &dialog, [&] {
            QTest::mouseClick(mail, Qt::LeftButton, {}, QPoint(2, 2));
            QTest::mouseClick(web, Qt::LeftButton, {}, QPoint(2, 2));
            QTest::mouseClick(dialog.findChild<QPushButton*>(QStringLiteral("1")), Qt::LeftButton);
        });
        QTimer::singleShot(0, &dialog, [&dialog] {
            if (dialog.isVisible()) {
                dialog.reject();  // OK failed: end the test instead of hanging
            }
        });
        QCOMPARE(dialog.exec(), int(QDialog::Accepted));
        CHyperLink::s_openUrl = nullptr;
        QCOMPARE(opened, (QStringList{QString::fromLatin1(CInfoDialog::kMailAddress),
                                      QString::fromLatin1(CInfoDialog::kWebAddress)}));
        QVERIFY(web->GetVisited());
    }

    void pictureFillsItsArea() {
        CInfoDialog dialog;
        const quarn::DialogUnitScale du(dialog.font());
        auto* picture = dialog.findChild<QLabel*>(QStringLiteral("AboutPicture"));
        QVERIFY(picture);
        QCOMPARE(picture->geometry(), du.Rect(7, 7, 36, 74));
        QImage image = picture->pixmap().toImage();
        QCOMPARE(image.size(), picture->size() * picture->pixmap().devicePixelRatio());
        // A drawing, not an empty or single-coloured box.
        std::set<QRgb> colours;
        for (int y = 0; y < image.height(); y += 2) {
            for (int x = 0; x < image.width(); x += 2) {
                colours.insert(image.pixel(x, y));
            }
        }
        QVERIFY(colours.size() > 10);
    }
};

QTEST_MAIN(InfoDialogTest)
#include "info_dialog_test.moc"

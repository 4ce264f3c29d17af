#include <QApplication>
#include <QMessageBox>
#include <QTimer>
#include <QtTest>

#include <sys/stat.h>
#include <filesystem>
#include <memory>

#include "controls/HyperLink.h"
#include "platform/DesktopApplications.h"
#include "tests/support/PrivateHome.h"
#include "tests/support/TestFiles.h"

using quarn::CHyperLink;
using quarn::test::PrivateHome;
using quarn::test::WriteText;

namespace {

// A desktop of our own for the whole run (the desktop's library reads the XDG
// variables once per process): no handler at all until a test installs a
// browser.
struct PrivateDesktop {
    PrivateDesktop() {
        tree.Point("XDG_DATA_HOME", "data");
        tree.Point("XDG_DATA_DIRS", "system");
        tree.Point("XDG_CONFIG_HOME", "config");
        tree.Point("XDG_CONFIG_DIRS", "system-config");
        tree.MakeFolder("data/applications");
        tree.MakeFolder("config");
    }

    PrivateHome tree;

    // Makes `program` the default for web pages, with `arguments` after it
    // in its Exec line, and waits until the desktop's library has seen it.
    bool InstallBrowser(const std::string& program, const std::string& arguments) {
        WriteText(program, "#!/bin/sh\nexit 0\n");
        ::chmod(program.c_str(), 0755);
        const std::string exec = "\"" + program + "\" " + arguments;
        WriteText(tree.Path("data/applications/browser.desktop"),
                  "[Desktop Entry]\nType=Application\nName=Browser\nExec=" + exec +
                      "\nMimeType=text/html;\n");
        WriteText(tree.Path("config/mimeapps.list"),
                  "[Default Applications]\ntext/html=browser.desktop\n");
        return WaitForBrowser(
            [&exec](const auto& browser) { return browser && browser->exec == exec; });
    }

    bool RemoveBrowser() {
        std::filesystem::remove(tree.Path("data/applications/browser.desktop"));
        std::filesystem::remove(tree.Path("config/mimeapps.list"));
        return WaitForBrowser([](const auto& browser) { return !browser; });
    }

    template <typename Seen>
    static bool WaitForBrowser(Seen seen) {
        // The library notices changed folders on a thread of its own.
        return QTest::qWaitFor([&] { return seen(quarn::DefaultApplicationFor("text/html")); },
                               30000);
    }
};

// Answers the next modal message box, keeping its text.
void AnswerNextMessageBox(QString* text) {
    QTimer::singleShot(0, [text] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box) {
            *text = box->text();
            box->accept();
        }
    });
}

}  // namespace

class HyperLinkTest : public QObject {
    Q_OBJECT

  private:
    QStringList m_opened;  // what the injected desktop was asked to open
    bool m_openSucceeds = true;
    QList<QStringList> m_started;  // programs the fallback started
    std::unique_ptr<PrivateDesktop> m_desktop;

  private Q_SLOTS:
    void initTestCase() { m_desktop = std::make_unique<PrivateDesktop>(); }

    void cleanupTestCase() { m_desktop.reset(); }

    void init() {
        m_opened.clear();
        m_started.clear();
        m_openSucceeds = true;
        CHyperLink::s_openUrl = [this](const QUrl& url) {
            m_opened << url.toString();
            return m_openSucceeds;
        };
        CHyperLink::s_startProcess = [this](const QString& program, const QStringList& args) {
            m_started << (QStringList{program} + args);
            return 0;
        };
    }

    void cleanup() {
        CHyperLink::s_openUrl = nullptr;
        CHyperLink::s_startProcess = nullptr;
        CHyperLink::SetLinkColours(QColor(0, 0, 255), QColor(0, 128, 128), QColor(128, 0, 128),
                                   QColor(255, 0, 0));
    }

    void captionAndTargetNameEachOther() {
        CHyperLink fromCaption(QStringLiteral("https://a.example"), QString());
        QCOMPARE(fromCaption.GetTarget(), QStringLiteral("https://a.example"));
        QCOMPARE(fromCaption.toolTip(), QStringLiteral("https://a.example"));
        CHyperLink fromTarget(QString(), QStringLiteral("mailto:b@example.org"));
        QCOMPARE(fromTarget.text(), QStringLiteral("mailto:b@example.org"));
        QVERIFY(fromTarget.font().underline());
        QCOMPARE(fromTarget.cursor().shape(), Qt::PointingHandCursor);
        // Markup in a target is shown as text, never interpreted.
        CHyperLink markup(QStringLiteral("<b>x</b>"), QString());
        QCOMPARE(markup.textFormat(), Qt::PlainText);

        CHyperLink plain(QStringLiteral("x"), QString(), nullptr,
                         CHyperLink::LINK_NOHANDCURSOR | CHyperLink::LINK_AUTOSIZE);
        QVERIFY(!plain.font().underline());
        QCOMPARE(plain.cursor().shape(), Qt::ArrowCursor);
        QVERIFY(!plain.ChangeLinkStyle(CHyperLink::LINK_UNDERLINE, CHyperLink::LINK_UNDERLINE));
        QCOMPARE(plain.GetLinkStyle(), CHyperLink::LINK_NOHANDCURSOR | CHyperLink::LINK_AUTOSIZE);
        QVERIFY(plain.ChangeLinkStyle(CHyperLink::LINK_NOHANDCURSOR, CHyperLink::LINK_UNDERLINE));
        QVERIFY(plain.font().underline());
        QCOMPARE(plain.cursor().shape(), Qt::PointingHandCursor);
    }

    // What the default style gives beyond the underline and the hand: the box
    // fits every new caption, and a click gives the link the focus.
    void theDefaultLinkFitsItsCaptionAndTakesTheFocusOnClick() {
        QWidget window;
        window.resize(400, 100);
        CHyperLink link(QStringLiteral("https://d.example"), QString(), &window);
        window.show();
        window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        link.SetCaption(QStringLiteral("a much longer caption than before"));
        const QFontMetrics metrics(link.font());
        QCOMPARE(link.width(), metrics.horizontalAdvance(link.text()));
        QVERIFY(!link.hasFocus());
        QTest::mouseClick(&link, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(link.hasFocus(), 30000);
    }

    void fitsToTextKeepingTheAlignedEdge() {
        QWidget parent;
        CHyperLink link(QStringLiteral("https://fit.example"), QString(), &parent);
        link.setGeometry(10, 20, 300, 40);
        link.FitToText();
        QFontMetrics metrics(link.font());
        QCOMPARE(link.geometry(),
                 QRect(10, 20, metrics.horizontalAdvance(link.text()), metrics.height()));
        link.setAlignment(Qt::AlignRight | Qt::AlignTop);
        link.setGeometry(10, 20, 300, 40);
        link.FitToText();
        QCOMPARE(link.geometry().right(), 309);
        // Without autosize the box is left alone.
        link.ChangeLinkStyle(CHyperLink::LINK_AUTOSIZE, 0);
        link.setGeometry(10, 20, 300, 40);
        link.SetCaption(QStringLiteral("other"));
        QCOMPARE(link.geometry(), QRect(10, 20, 300, 40));
    }

    void coloursFollowTheRule() {
        QWidget window;
        window.resize(300, 100);
        CHyperLink link(QStringLiteral("https://c.example"), QString(), &window);
        window.show();
        window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        QCOMPARE(link.TextColour(), QColor(0, 0, 255));

        // Hovering changes nothing without the hover style.
        QTest::mouseMove(&link, QPoint(2, 2));
        QVERIFY(link.IsHovering());
        QCOMPARE(link.TextColour(), QColor(0, 0, 255));
        link.ChangeLinkStyle(0, CHyperLink::LINK_HOVERCOLOUR);
        QCOMPARE(link.TextColour(), QColor(255, 0, 0));
        // An invalid hover colour means the palette's highlight.
        CHyperLink::SetLinkColours(Qt::black, Qt::green, Qt::gray, QColor());
        QCOMPARE(link.TextColour(), link.palette().color(QPalette::Highlight));
        CHyperLink::SetLinkColours(QColor(0, 0, 255), QColor(0, 128, 128), QColor(128, 0, 128),
                                   QColor(255, 0, 0));
        QTest::mouseMove(&window, QPoint(window.width() - 1, window.height() - 1));
        QVERIFY(!link.IsHovering());

        // Focused: active colour, unless the style forbids it; focus lost: back.
        link.setFocus();
        QTRY_VERIFY(link.hasFocus());
        QVERIFY(link.IsActive());
        QCOMPARE(link.TextColour(), QColor(0, 128, 128));
        link.ChangeLinkStyle(0, CHyperLink::LINK_NOACTIVECOLOUR);
        QCOMPARE(link.TextColour(), QColor(0, 0, 255));
        link.ChangeLinkStyle(CHyperLink::LINK_NOACTIVECOLOUR, 0);
        link.SetVisited(true);
        QCOMPARE(link.TextColour(), QColor(0, 128, 128));
        link.clearFocus();
        QVERIFY(!link.IsActive());
        QCOMPARE(link.TextColour(), QColor(128, 0, 128));
        // The hover colour outranks all others.
        QTest::mouseMove(&link, QPoint(2, 2));
        link.setFocus();
        QCOMPARE(link.TextColour(), QColor(255, 0, 0));
    }

    void hoverHoldsTheMouseAndClicksOpenOnlyOnTheLink() {
        QWidget window;
        window.resize(400, 200);
        CHyperLink link(QStringLiteral("https://h.example"), QString(), &window);
        link.move(20, 20);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        const QPoint outside = link.mapFrom(&window, QPoint(300, 150));

        QTest::mouseMove(&link, QPoint(3, 3));
        QVERIFY(link.IsHovering());
        QCOMPARE(QWidget::mouseGrabber(), &link);
        QTest::mouseMove(&link, outside);  // the capture brings this move to us
        QVERIFY(!link.IsHovering());
        QCOMPARE(QWidget::mouseGrabber(), nullptr);

        // Pressed on the link, released away from it: nothing opens.
        QTest::mouseMove(&link, QPoint(3, 3));
        QTest::mousePress(&link, Qt::LeftButton, {}, QPoint(3, 3));
        QVERIFY(link.hasFocus());
        QVERIFY(link.IsActive());
        QTest::mouseMove(&link, outside);
        QTest::mouseRelease(&link, Qt::LeftButton, {}, outside);
        QVERIFY(m_opened.isEmpty());
        QVERIFY(!link.GetVisited());

        // A whole click opens it, once, and marks it opened.
        QTest::mouseClick(&link, Qt::LeftButton, {}, QPoint(3, 3));
        QCOMPARE(m_opened, QStringList{QStringLiteral("https://h.example")});
        QVERIFY(link.GetVisited());
        QCOMPARE(QWidget::mouseGrabber(), nullptr);

        // With open-on-press, the press opens and the release does not again.
        m_opened.clear();
        link.ChangeLinkStyle(0, CHyperLink::LINK_OPENONPRESS);
        QTest::mousePress(&link, Qt::LeftButton, {}, QPoint(3, 3));
        QCOMPARE(m_opened.size(), 1);
        QTest::mouseRelease(&link, Qt::LeftButton, {}, QPoint(3, 3));
        QCOMPARE(m_opened.size(), 1);
    }

    void spaceKeyOpensAFocusedLink() {
        QWidget window;
        CHyperLink link(QStringLiteral("mailto:k@example.org"), QString(), &window);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QTest::mouseClick(&link, Qt::LeftButton, {}, QPoint(2, 2));
        m_opened.clear();
        QCOMPARE(QApplication::focusWidget(), &link);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        QVERIFY(m_opened.isEmpty());
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
        QCOMPARE(m_opened, QStringList{QStringLiteral("mailto:k@example.org")});

        // Without focus-on-click a click does not take the focus.
        CHyperLink noFocus(QStringLiteral("https://n.example"), QString(), &window,
                           CHyperLink::LINK_UNDERLINE);
        noFocus.move(0, 40);
        noFocus.show();
        QTest::mouseClick(&noFocus, Qt::LeftButton, {}, QPoint(2, 2));
        QVERIFY(!noFocus.hasFocus());
    }

    void errorTextsCarryThePrefixAndTheCode() {
        QCOMPARE(CHyperLink::OpenErrorText(42),
                 QStringLiteral("Can't open link:\n\nUnknown Error (42) occurred."));
        QCOMPARE(CHyperLink::OpenErrorText(2),
                 QStringLiteral("Can't open link:\n\nThe specified file was not found."));
        QCOMPARE(CHyperLink::OpenErrorText(31),
                 QStringLiteral("Can't open link:\n\nThere is no application associated\n"
                                "with the given filename extension."));
        QCOMPARE(CHyperLink::OpenErrorText(26),
                 QStringLiteral("Can't open link:\n\nA sharing violation occurred. "));
    }

    void fallbackCutsAtThePlaceholderAndKeepsTheTargetWhole() {
        const QString target = QStringLiteral("https://x.example/a b\"c';rm -rf ~ $(id) `id`");
        QCOMPARE(CHyperLink::FallbackCommand(QStringLiteral("browser \"%1\" --tail"), target),
                 (QStringList{QStringLiteral("browser"), target}));
        QCOMPARE(CHyperLink::FallbackCommand(QStringLiteral("browser -n %1"), target),
                 (QStringList{QStringLiteral("browser"), QStringLiteral("-n"), target}));
        QCOMPARE(
            CHyperLink::FallbackCommand(
                QStringLiteral("\"/opt/my browser/run\" --icon %i --new-window %U --x"), target),
            (QStringList{QStringLiteral("/opt/my browser/run"), QStringLiteral("--icon"),
                         QStringLiteral("--new-window"), target}));
        QCOMPARE(CHyperLink::FallbackCommand(QStringLiteral("run --pct=100%%u"), target),
                 (QStringList{QStringLiteral("run"), QStringLiteral("--pct=100%u"), target}));
        QCOMPARE(CHyperLink::FallbackCommand(QStringLiteral("browser"), target),
                 (QStringList{QStringLiteral("browser"), target}));
        QVERIFY(CHyperLink::FallbackCommand(QStringLiteral("%u"), target).isEmpty());
    }

    void launchFallsBackToTheBrowserWithoutAShell() {
        const QString target = QStringLiteral("https://x.example/?q=a b;echo \"hi\"&x=`id`");
        m_openSucceeds = false;
        // No default handler and no browser: "no association".
        QCOMPARE(CHyperLink::LaunchTarget(target), CHyperLink::kErrorNoAssociation);
        QCOMPARE(m_opened.size(), 1);  // the desktop was asked first

        const std::string program = m_desktop->tree.Path("web browser/run");
        QVERIFY(m_desktop->InstallBrowser(program, "--new \"%u\""));
        QCOMPARE(CHyperLink::LaunchTarget(target), CHyperLink::kLaunchOpened);
        QCOMPARE(m_started.size(), 1);
        QCOMPARE(m_started[0],
                 (QStringList{QString::fromStdString(program), QStringLiteral("--new"), target}));

        // The real starter.
        CHyperLink::s_startProcess = nullptr;
        QCOMPARE(CHyperLink::LaunchTarget(target), CHyperLink::kLaunchOpened);
        // A browser that can no longer run is not offered at all.
        ::chmod(program.c_str(), 0644);
        QCOMPARE(CHyperLink::LaunchTarget(target), CHyperLink::kErrorNoAssociation);
        std::filesystem::remove(program);
        QCOMPARE(CHyperLink::LaunchTarget(target), CHyperLink::kErrorNoAssociation);
        QVERIFY(m_desktop->RemoveBrowser());
    }

    void failedActivationBeepsShowsTheErrorAndStaysUnopened() {
        m_openSucceeds = false;
        QWidget window;
        CHyperLink link(QStringLiteral("https://fail.example"), QString(), &window);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QString shown;
        AnswerNextMessageBox(&shown);
        QVERIFY(!link.ActivateLink());
        QCOMPARE(shown, CHyperLink::OpenErrorText(CHyperLink::kErrorNoAssociation));
        QVERIFY(!link.GetVisited());
        QCOMPARE(link.TextColour(), QColor(0, 0, 255));
    }
};

QTEST_MAIN(HyperLinkTest)
#include "hyperlink_test.moc"

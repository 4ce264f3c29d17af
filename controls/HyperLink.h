#pragma once
// A label that acts as a link: drawn in a link colour (underlined by
// default), a hand cursor over it, its target in a tool tip, and opened on a
// click or the space key through the desktop's default handler, with the
// default web browser as the fallback.
//
// GUI thread only. The colours and the hand cursor are shared by all links.

#include <QColor>
#include <QCursor>
#include <QFont>
#include <QLabel>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <functional>

namespace quarn {

class CHyperLink : public QLabel {
    Q_OBJECT

  public:
    // Style bits.
    static constexpr unsigned LINK_UNDERLINE = 0x01;
    static constexpr unsigned LINK_HOVERCOLOUR = 0x02;
    static constexpr unsigned LINK_AUTOSIZE = 0x04;
    static constexpr unsigned LINK_OPENONPRESS = 0x08;
    static constexpr unsigned LINK_FOCUSONCLICK = 0x10;
    static constexpr unsigned LINK_NOHANDCURSOR = 0x20;
    static constexpr unsigned LINK_NOACTIVECOLOUR = 0x40;
    static constexpr unsigned kDefaultStyle = LINK_UNDERLINE | LINK_AUTOSIZE | LINK_FOCUSONCLICK;

    // What LaunchTarget returns when the target was opened; every value of 32
    // or less is an error code for ShowOpenError.
    static constexpr int kLaunchOpened = 33;

    // Error codes of LaunchTarget.
    static constexpr int kErrorFileNotFound = 2;
    static constexpr int kErrorAccessDenied = 5;
    static constexpr int kErrorOutOfMemory = 8;
    static constexpr int kErrorNoAssociation = 31;

    // Class-wide colours. An invalid hover colour stands for the palette's
    // highlight colour.
    static QColor s_crNormal;
    static QColor s_crActive;
    static QColor s_crOpened;
    static QColor s_crHover;

    // Seams for the desktop, so that tests never open a browser. Unset, they
    // are QDesktopServices::openUrl and a detached QProcess. The starter
    // returns 0 when the program runs, else an error code as above.
    using UrlOpener = std::function<bool(const QUrl& url)>;
    using ProcessStarter = std::function<int(const QString& program, const QStringList& args)>;
    static UrlOpener s_openUrl;
    static ProcessStarter s_startProcess;

    // `caption` is the text; an empty target means the caption is the target,
    // an empty caption shows the target.
    explicit CHyperLink(QWidget* parent = nullptr);
    CHyperLink(const QString& caption, const QString& target, QWidget* parent = nullptr,
               unsigned style = kDefaultStyle);

    void SetTarget(const QString& target);
    QString GetTarget() const { return m_strTarget; }
    void SetCaption(const QString& caption);

    // Makes `font` the link's font as it is (underline included) and fits.
    void ApplyFont(const QFont& font);
    // Re-applies the current font with the underline the style asks for.
    void ApplyUnderline();

    // Removes, then adds style bits; false (and no change) when a bit is in
    // both. With `apply`, the underline, size and colour follow at once.
    bool ChangeLinkStyle(unsigned remove, unsigned add, bool apply = true);
    unsigned GetLinkStyle() const { return m_nLinkStyle; }

    static void SetLinkColours(const QColor& normal, const QColor& active, const QColor& opened,
                               const QColor& hover);
    static void GetLinkColours(QColor* normal, QColor* active, QColor* opened, QColor* hover);

    // The cursor of links made from now on; a null pointer means the
    // pointing hand.
    static void SetHandCursor(const QCursor* cursor);
    static QCursor GetHandCursor();

    bool GetVisited() const { return m_bWasOpened; }
    void SetVisited(bool opened);
    bool IsActive() const { return m_bActive; }
    bool IsHovering() const { return m_bHover; }

    // The colour the text is drawn in now: hover, active, opened or normal.
    QColor TextColour() const;

    // Resizes the label to its text (only with LINK_AUTOSIZE), keeping the
    // edge its alignment names.
    void FitToText();

    // Opens the target; on failure beeps and shows the error. Returns true
    // when it was opened.
    bool ActivateLink();

    // Opens `target`: the desktop's default handler first, then the default
    // web browser's command with the target as one more argument, never
    // through a shell. Returns kLaunchOpened or an error code.
    static int LaunchTarget(const QString& target);

    // The fallback's command for a desktop Exec line: the line cut at its
    // placeholder (a quoted or bare %1, %u, %U, %f or %F), split into
    // arguments, and the target appended as one argument. Empty when no
    // program is left.
    static QStringList FallbackCommand(const QString& execLine, const QString& target);

    // "Can't open link:\n\n" and the text for `code`.
    static QString OpenErrorText(int code);
    // Shows OpenErrorText in a modal message box.
    void ShowOpenError(int code);

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void hideEvent(QHideEvent* event) override;

  private:
    void Bind(const QString& caption);
    void StopHover();

    bool m_bActive = false;
    bool m_bHover = false;
    bool m_bWasOpened = false;
    unsigned m_nLinkStyle = kDefaultStyle;
    QString m_strTarget;
    QFont m_fontLink;
};

}  // namespace quarn

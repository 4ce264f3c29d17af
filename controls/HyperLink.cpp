#include "controls/HyperLink.h"

#include <unistd.h>

#include <QApplication>
#include <QDesktopServices>
#include <QFile>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QProcess>
#include <QStandardPaths>

#include <cerrno>

#include "platform/DesktopApplications.h"
#include "platform/DesktopEntries.h"

namespace quarn {

QColor CHyperLink::s_crNormal = QColor(0, 0, 255);
QColor CHyperLink::s_crActive = QColor(0, 128, 128);
QColor CHyperLink::s_crOpened = QColor(128, 0, 128);
QColor CHyperLink::s_crHover = QColor(255, 0, 0);
CHyperLink::UrlOpener CHyperLink::s_openUrl;
CHyperLink::ProcessStarter CHyperLink::s_startProcess;

namespace {

// A failure that fits none of the known codes (and is still a failure: every
// value above 32 means success).
constexpr int kErrorUnknown = 1;

// Set once by SetHandCursor and kept for the whole run, like every class-wide
// link value.
const QCursor* g_handCursor = nullptr;

int MapStartError(int error) {
    switch (error) {
        case ENOENT:
        case ENOTDIR:
            return CHyperLink::kErrorFileNotFound;
        case EACCES:
        case EPERM:
        case EISDIR:
            return CHyperLink::kErrorAccessDenied;
        case ENOMEM:
        case EAGAIN:
            return CHyperLink::kErrorOutOfMemory;
        default:
            return kErrorUnknown;
    }
}

// Checks what can be checked before starting, so that the common failures
// get their own message; QProcess itself only says "failed".
int StartDetachedProcess(const QString& program, const QStringList& args) {
    QString path =
        program.contains(QLatin1Char('/')) ? program : QStandardPaths::findExecutable(program);
    if (path.isEmpty()) {
        return CHyperLink::kErrorFileNotFound;
    }
    QByteArray native = QFile::encodeName(path);
    if (::access(native.constData(), F_OK) != 0) {
        return MapStartError(errno);
    }
    if (::access(native.constData(), X_OK) != 0) {
        return CHyperLink::kErrorAccessDenied;
    }
    QProcess process;
    process.setProgram(path);
    process.setArguments(args);
    process.setStandardInputFile(QProcess::nullDevice());
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    errno = 0;
    if (process.startDetached()) {
        return 0;
    }
    return MapStartError(errno);
}

}  // namespace

CHyperLink::CHyperLink(QWidget* parent) : CHyperLink(QString(), QString(), parent) {}

CHyperLink::CHyperLink(const QString& caption, const QString& target, QWidget* parent,
                       unsigned style)
    : QLabel(parent), m_nLinkStyle(style), m_strTarget(target) {
    setTextFormat(Qt::PlainText);  // a target is never markup
    setAlignment(Qt::AlignLeft | Qt::AlignTop);
    setMouseTracking(true);       // hover is tracked without a button held
    setFocusPolicy(Qt::NoFocus);  // no tab stop: the focus comes by a click
    Bind(caption);
}

void CHyperLink::Bind(const QString& caption) {
    // Either half names the other, so a link made from an address opens it.
    QString text = caption;
    if (m_strTarget.isEmpty()) {
        m_strTarget = text;
    }
    if (text.isEmpty()) {
        text = m_strTarget;
    }
    setText(text);
    m_fontLink = font();
    m_fontLink.setUnderline((m_nLinkStyle & LINK_UNDERLINE) != 0);
    setFont(m_fontLink);
    FitToText();
    if (!(m_nLinkStyle & LINK_NOHANDCURSOR)) {
        setCursor(GetHandCursor());
    }
    setToolTip(m_strTarget);
}

void CHyperLink::SetTarget(const QString& target) {
    m_strTarget = target;
    setToolTip(target);
    if (text().isEmpty()) {
        setText(target);
    }
    FitToText();
}

void CHyperLink::SetCaption(const QString& caption) {
    setText(caption);
    FitToText();
}

void CHyperLink::ApplyFont(const QFont& font) {
    m_fontLink = font;
    setFont(m_fontLink);
    FitToText();
    update();
}

void CHyperLink::ApplyUnderline() {
    QFont underlined = font();
    underlined.setUnderline((m_nLinkStyle & LINK_UNDERLINE) != 0);
    ApplyFont(underlined);
}

bool CHyperLink::ChangeLinkStyle(unsigned remove, unsigned add, bool apply) {
    if (remove & add) {
        return false;
    }
    m_nLinkStyle = (m_nLinkStyle & ~remove) | add;
    if (!apply) {
        return true;
    }
    if ((remove | add) & LINK_UNDERLINE) {
        ApplyUnderline();
    }
    if (add & LINK_AUTOSIZE) {
        FitToText();
    }
    if (add & LINK_NOHANDCURSOR) {
        unsetCursor();
    } else if (remove & LINK_NOHANDCURSOR) {
        setCursor(GetHandCursor());
    }
    update();
    return true;
}

void CHyperLink::SetLinkColours(const QColor& normal, const QColor& active, const QColor& opened,
                                const QColor& hover) {
    s_crNormal = normal;
    s_crActive = active;
    s_crOpened = opened;
    s_crHover = hover;
}

void CHyperLink::GetLinkColours(QColor* normal, QColor* active, QColor* opened, QColor* hover) {
    if (normal) {
        *normal = s_crNormal;
    }
    if (active) {
        *active = s_crActive;
    }
    if (opened) {
        *opened = s_crOpened;
    }
    if (hover) {
        *hover = s_crHover;
    }
}

void CHyperLink::SetHandCursor(const QCursor* cursor) {
    static QCursor chosen;
    if (cursor) {
        chosen = *cursor;
        g_handCursor = &chosen;
    } else {
        g_handCursor = nullptr;
    }
}

QCursor CHyperLink::GetHandCursor() {
    return g_handCursor ? *g_handCursor : QCursor(Qt::PointingHandCursor);
}

void CHyperLink::SetVisited(bool opened) {
    m_bWasOpened = opened;
    update();
}

QColor CHyperLink::TextColour() const {
    if (m_bHover && (m_nLinkStyle & LINK_HOVERCOLOUR)) {
        return s_crHover.isValid() ? s_crHover : palette().color(QPalette::Highlight);
    }
    if (!(m_nLinkStyle & LINK_NOACTIVECOLOUR) && m_bActive) {
        return s_crActive;
    }
    return m_bWasOpened ? s_crOpened : s_crNormal;
}

void CHyperLink::FitToText() {
    if (!(m_nLinkStyle & LINK_AUTOSIZE)) {
        return;
    }
    QRect window = geometry();
    QRect client = contentsRect();
    QFontMetrics metrics(m_fontLink);
    int textWidth = metrics.horizontalAdvance(text());
    int textHeight = metrics.height();

    int left = window.left();
    int top = window.top();
    Qt::Alignment align = alignment();
    if (align & Qt::AlignVCenter) {
        top += (client.height() - textHeight) / 2;
    }
    if (align & Qt::AlignHCenter) {
        left += (client.width() - textWidth) / 2;
    } else if (align & Qt::AlignRight) {
        left += client.width() - textWidth;
    }
    setGeometry(left, top, textWidth + (window.width() - client.width()),
                textHeight + (window.height() - client.height()));
    update();
}

bool CHyperLink::ActivateLink() {
    // A held capture would keep the mouse from a message box or the browser.
    if (m_bHover) {
        StopHover();
    }
    int result = LaunchTarget(m_strTarget);
    if (result <= 32) {
        QApplication::beep();
        ShowOpenError(result);
        return false;
    }
    m_bWasOpened = true;
    update();
    return true;
}

int CHyperLink::LaunchTarget(const QString& target) {
    if (target.isEmpty()) {
        return kErrorFileNotFound;
    }
    QUrl url = target.startsWith(QLatin1Char('/')) ? QUrl::fromLocalFile(target)
                                                   : QUrl(target, QUrl::TolerantMode);
    if (url.isValid()) {
        bool opened = s_openUrl ? s_openUrl(url) : QDesktopServices::openUrl(url);
        if (opened) {
            return kLaunchOpened;
        }
    }

    // The default handler failed: hand the target to the web browser directly.
    std::optional<DesktopApplication> browser = DefaultApplicationFor("text/html");
    if (!browser) {
        return kErrorNoAssociation;
    }
    QStringList command = FallbackCommand(QString::fromStdString(browser->exec), target);
    if (command.isEmpty()) {
        return kErrorNoAssociation;
    }
    QString program = command.takeFirst();
    int error =
        s_startProcess ? s_startProcess(program, command) : StartDetachedProcess(program, command);
    if (error == 0) {
        return kLaunchOpened;
    }
    return error > 32 || error < 0 ? kErrorUnknown : error;
}

QStringList CHyperLink::FallbackCommand(const QString& execLine, const QString& target) {
    // Everything from the placeholder on goes; a placeholder in quotes goes
    // with its opening quote.
    QString line = execLine;
    for (qsizetype i = 0; i + 1 < line.size(); ++i) {
        if (line[i] != QLatin1Char('%')) {
            continue;
        }
        QChar code = line[i + 1];
        if (code == QLatin1Char('%')) {
            ++i;  // a literal percent sign
            continue;
        }
        if (QStringLiteral("1uUfF").contains(code)) {
            bool quoted = i > 0 && line[i - 1] == QLatin1Char('"') && i + 2 < line.size() &&
                          line[i + 2] == QLatin1Char('"');
            line.truncate(quoted ? i - 1 : i);
            break;
        }
    }
    QStringList command;
    for (const std::string& arg : ExpandExec(line.toStdString(), {})) {
        command << QString::fromStdString(arg);
    }
    if (command.isEmpty() || command.first().isEmpty()) {
        return {};
    }
    command << target;  // one argument, whatever it holds
    return command;
}

QString CHyperLink::OpenErrorText(int code) {
    QString text;
    switch (code) {
        case 0:
            text = QStringLiteral("The operating system is out\nof memory or resources.");
            break;
        case 2:
            text = QStringLiteral("The specified file was not found.");
            break;
        case 3:
            text = QStringLiteral("The specified path was not found.");
            break;
        case 5:
            text = QStringLiteral("The operating system denied\naccess to the specified file.");
            break;
        case 8:
            text = QStringLiteral("There was not enough memory to complete the operation.");
            break;
        case 11:
            text = QStringLiteral(
                "The .EXE file is invalid\n(non-Win32 .EXE or error in .EXE image).");
            break;
        case 26:
            text = QStringLiteral("A sharing violation occurred. ");
            break;
        case 27:
            text = QStringLiteral("The filename association is\nincomplete or invalid.");
            break;
        case 28:
            text = QStringLiteral(
                "The DDE transaction could not\nbe completed because the request timed out.");
            break;
        case 29:
            text = QStringLiteral("The DDE transaction failed.");
            break;
        case 30:
            text = QStringLiteral(
                "The DDE transaction could not\nbe completed because other DDE "
                "transactions\nwere being processed.");
            break;
        case 31:
            text = QStringLiteral(
                "There is no application associated\nwith the given filename extension.");
            break;
        case 32:
            text = QStringLiteral("The specified dynamic-link library was not found.");
            break;
        default:
            text = QStringLiteral("Unknown Error (%1) occurred.").arg(code);
            break;
    }
    return QStringLiteral("Can't open link:\n\n") + text;
}

void CHyperLink::ShowOpenError(int code) {
    QMessageBox box(QMessageBox::Warning, QStringLiteral("Quarn"), OpenErrorText(code),
                    QMessageBox::Ok, window());
    box.exec();
}

void CHyperLink::paintEvent(QPaintEvent* /*event*/) {
    QPainter painter(this);
    drawFrame(&painter);
    painter.setFont(font());
    painter.setPen(TextColour());
    painter.drawText(contentsRect(), int(alignment()), text());
}

void CHyperLink::StopHover() {
    m_bHover = false;
    if (QWidget::mouseGrabber() == this) {
        releaseMouse();
    }
    update();
}

void CHyperLink::mouseMoveEvent(QMouseEvent* event) {
    bool inside = rect().contains(event->position().toPoint());
    if (m_bHover) {
        if (!inside) {
            StopHover();
        }
    } else if (inside) {
        // Holding the mouse is what tells us when it leaves again.
        m_bHover = true;
        update();
        grabMouse();
    }
    QLabel::mouseMoveEvent(event);
}

void CHyperLink::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        QLabel::mousePressEvent(event);
        return;
    }
    if (!rect().contains(event->position().toPoint())) {
        // Only the capture brought this press here; it was meant elsewhere.
        StopHover();
        return;
    }
    if (m_nLinkStyle & LINK_FOCUSONCLICK) {
        setFocus(Qt::MouseFocusReason);
    }
    if (m_nLinkStyle & LINK_OPENONPRESS) {
        ActivateLink();
    }
    m_bActive = true;
    update();
}

void CHyperLink::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        QLabel::mouseReleaseEvent(event);
        return;
    }
    // A press carried off the link before the release opens nothing.
    if (m_bActive && !(m_nLinkStyle & LINK_OPENONPRESS) &&
        rect().contains(event->position().toPoint())) {
        ActivateLink();
    }
}

void CHyperLink::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Space && !event->isAutoRepeat()) {
        ActivateLink();
        event->accept();
        return;
    }
    QLabel::keyPressEvent(event);
}

void CHyperLink::focusInEvent(QFocusEvent* event) {
    m_bActive = true;
    update();
    QLabel::focusInEvent(event);
}

void CHyperLink::focusOutEvent(QFocusEvent* event) {
    m_bActive = false;
    if (m_bHover) {
        StopHover();
    }
    update();
    QLabel::focusOutEvent(event);
}

void CHyperLink::hideEvent(QHideEvent* event) {
    if (m_bHover) {
        StopHover();
    }
    QLabel::hideEvent(event);
}

}  // namespace quarn

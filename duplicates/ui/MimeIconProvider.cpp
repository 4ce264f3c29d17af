#include "duplicates/ui/MimeIconProvider.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMimeType>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QStandardPaths>

#include "controls/FileNameText.h"

namespace quarn {

MimeIconProvider& MimeIconProvider::Shared() {
    // Deliberately never freed: its icons must not outlive the application
    // object, and no worker may find it gone at exit.
    static MimeIconProvider* const table = new MimeIconProvider;
    return *table;
}

int MimeIconProvider::IconIndexForFile(const std::string& path) {
    // The database is thread-safe; only the table needs the lock.
    const QMimeType type =
        m_database.mimeTypeForFile(FileNameText(path), QMimeDatabase::MatchExtension);
    const std::string name = type.isValid() ? type.name().toStdString() : std::string();
    std::lock_guard lock(m_mutex);
    auto found = m_indexOfName.find(name);
    if (found != m_indexOfName.end()) {
        return found->second;
    }
    const int index = int(m_keys.size());
    m_keys.push_back(Key{QString::fromStdString(name), type.iconName(), type.genericIconName()});
    m_indexOfName.emplace(name, index);
    return index;
}

QString MimeIconProvider::KeyAt(int index) const {
    std::lock_guard lock(m_mutex);
    return index >= 0 && size_t(index) < m_keys.size() ? m_keys[size_t(index)].name : QString();
}

int MimeIconProvider::KeyCount() const {
    std::lock_guard lock(m_mutex);
    return int(m_keys.size());
}

QIcon MimeIconProvider::IconAt(int index) {
    if (index < 0) {
        return QIcon();
    }
    if (size_t(index) < m_icons.size() && !m_icons[size_t(index)].isNull()) {
        return m_icons[size_t(index)];
    }
    Key key;
    {
        std::lock_guard lock(m_mutex);
        if (size_t(index) >= m_keys.size()) {
            return QIcon();
        }
        key = m_keys[size_t(index)];
    }
    QIcon icon;
    for (const QString& name : {key.icon, key.generic, QStringLiteral("text-x-generic"),
                                QStringLiteral("application-x-generic")}) {
        if (!name.isEmpty()) {
            icon = QIcon::fromTheme(name);
            if (!icon.isNull()) {
                break;
            }
        }
    }
    if (icon.isNull()) {
        if (m_default.isNull()) {
            m_default = DrawnDefaultIcon();
        }
        icon = m_default;
    }
    if (m_icons.size() <= size_t(index)) {
        m_icons.resize(size_t(index) + 1);
    }
    m_icons[size_t(index)] = icon;
    return icon;
}

QIcon MimeIconProvider::DrawnDefaultIcon() {
    // A sheet of paper with a folded corner and three lines of text.
    QIcon icon;
    for (int size : {16, 32}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        const qreal unit = size / 16.0;
        painter.scale(unit, unit);
        QPainterPath sheet;
        sheet.moveTo(3.5, 1.5);
        sheet.lineTo(9.5, 1.5);
        sheet.lineTo(12.5, 4.5);
        sheet.lineTo(12.5, 14.5);
        sheet.lineTo(3.5, 14.5);
        sheet.closeSubpath();
        painter.setPen(QPen(QColor(0x70, 0x70, 0x70), 1.0 / unit * (size > 16 ? 1.5 : 1.0)));
        painter.setBrush(Qt::white);
        painter.drawPath(sheet);
        painter.drawLine(QPointF(9.5, 1.5), QPointF(9.5, 4.5));
        painter.drawLine(QPointF(9.5, 4.5), QPointF(12.5, 4.5));
        painter.setPen(QPen(QColor(0x9a, 0xa8, 0xc0), 1.0));
        for (qreal y : {7.5, 9.5, 11.5}) {
            painter.drawLine(QPointF(5.5, y), QPointF(10.5, y));
        }
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

void MimeIconProvider::EnsureIconTheme() {
    // Without a desktop session Qt names no theme, or only the fallback
    // "hicolor", which has no icons for file types.
    const QString current = QIcon::themeName();
    if (!current.isEmpty() && current != QStringLiteral("hicolor")) {
        return;
    }
    QStringList searchPaths = QIcon::themeSearchPaths();
    const QStringList dataIcons =
        QStandardPaths::locateAll(QStandardPaths::GenericDataLocation, QStringLiteral("icons"),
                                  QStandardPaths::LocateDirectory);
    for (const QString& folder : dataIcons) {
        if (!searchPaths.contains(folder)) {
            searchPaths << folder;
        }
    }
    QIcon::setThemeSearchPaths(searchPaths);
    for (const QString& theme :
         {QStringLiteral("Adwaita"), QStringLiteral("breeze"), QStringLiteral("hicolor")}) {
        for (const QString& folder : dataIcons) {
            if (QFileInfo::exists(QDir(folder).filePath(theme + QStringLiteral("/index.theme")))) {
                QIcon::setThemeName(theme);
                return;
            }
        }
    }
}

}  // namespace quarn

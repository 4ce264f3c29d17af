#pragma once
// The icons of the twin list: a file's icon is the icon of its MIME type, as
// the desktop's icon theme draws it.
//
// The list's model asks for an icon index once per group; the index names a
// MIME type in a table that only grows. The index is turned into a QIcon on
// the interface thread, once per type, because icons must not be made on
// other threads.
//
// Threads: IconIndexForFile() and KeyAt() from any thread (one mutex guards
// the table); IconAt() on the interface thread only.

#include <QIcon>
#include <QMimeDatabase>
#include <QString>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

namespace quarn {

class MimeIconProvider {
  public:
    MimeIconProvider() = default;

    // The table of the program's lists, like the desktop's one list of
    // system icons: made on first use and never destroyed, so workers that
    // outlive a view can still ask it.
    static MimeIconProvider& Shared();

    // The index of the file's type in the table, added when new. The type is
    // found from the name alone: a worker must not open every file it lists.
    int IconIndexForFile(const std::string& path);

    // The MIME type name of an index ("" when out of range).
    QString KeyAt(int index) const;
    int KeyCount() const;

    // The icon of an index: the theme's icon for the type, else for its
    // generic type, else a plain sheet drawn here. Null for index -1.
    QIcon IconAt(int index);

    // The sheet drawn when the theme has no icon at all.
    static QIcon DrawnDefaultIcon();

    // Without a desktop session no icon theme is named and every themed icon
    // comes out empty; then this picks an installed theme (Adwaita, breeze,
    // hicolor) from the XDG data folders. Interface thread; does nothing when
    // a theme is already set.
    static void EnsureIconTheme();

  private:
    struct Key {
        QString name;     // "text/plain"
        QString icon;     // "text-plain"
        QString generic;  // "text-x-generic"
    };

    QMimeDatabase m_database;  // thread-safe
    mutable std::mutex m_mutex;
    std::unordered_map<std::string, int> m_indexOfName;
    std::vector<Key> m_keys;

    // Interface thread only: resolved icons by index; null = not yet made.
    std::vector<QIcon> m_icons;
    QIcon m_default;
};

}  // namespace quarn

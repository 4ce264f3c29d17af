// Writes the program icon, painted as the window paints it, at every size
// the desktop's icon theme asks for: OUT/<n>x<n>/apps/quarn.png.
//
//   quarn_render_icons OUT SIZE...

#include <QDir>
#include <QGuiApplication>
#include <QPixmap>

#include <cstdio>
#include <cstdlib>

#include "controls/AppIcons.h"

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: quarn_render_icons OUT SIZE...\n");
        return 2;
    }
    QGuiApplication application(argc, argv);
    const QString root = QString::fromLocal8Bit(argv[1]);
    const QIcon icon = quarn::ProgramIcon();
    for (int i = 2; i < argc; ++i) {
        const int size = std::atoi(argv[i]);
        // One device pixel per pixel: the file is the picture itself.
        QPixmap picture = icon.pixmap(QSize(size, size), 1.0);
        if (size <= 0 || picture.size() != QSize(size, size)) {
            std::fprintf(stderr, "quarn_render_icons: no %s pixel picture\n", argv[i]);
            return 1;
        }
        const QString folder = QStringLiteral("%1/%2x%2/apps").arg(root).arg(size);
        const QString file = folder + QStringLiteral("/quarn.png");
        if (!QDir().mkpath(folder) || !picture.save(file, "PNG")) {
            std::fprintf(stderr, "quarn_render_icons: cannot write %s\n", qPrintable(file));
            return 1;
        }
    }
    return 0;
}

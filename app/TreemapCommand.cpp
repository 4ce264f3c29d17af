#include "app/TreemapCommand.h"

#include <QGuiApplication>
#include <QImageWriter>
#include <QSaveFile>
#include <chrono>
#include <cstdio>

#include "cli/Interrupt.h"
#include "cli/ReportCommand.h"
#include "cli/WaitForEngine.h"
#include "foldersize/FolderScanner.h"
#include "foldersize/ui/TreemapPainter.h"
#include "platform/PathRules.h"

namespace quarn {

int RunTreemapCommand(const cli::TreemapCommandOptions& options, char* program) {
    const std::string folder = ResolveFolderArgument(options.folder);
    if (int failed = cli::CheckReadableFolder(folder)) {
        return failed;
    }

    // No display: the picture is drawn into an image on the offscreen
    // platform, which must be chosen before the application object exists.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    int qtArgc = 1;
    char* qtArgv[] = {program, nullptr};
    QGuiApplication application(qtArgc, qtArgv);

    // Fail before a long scan when the file cannot be written at all; the
    // picture is written through a temporary file, so a failure later
    // leaves any old file as it was.
    QSaveFile output(QString::fromLocal8Bit(options.pictureFile.c_str()));
    if (!output.open(QIODevice::WriteOnly)) {
        std::fprintf(stderr, "quarn: %s: %s\n", options.pictureFile.c_str(),
                     qPrintable(output.errorString()));
        return 1;
    }

    cli::InstallInterruptHandler();
    ScanAdditions additions;
    additions.walk = WalkOptions(options.threads);
    additions.allocated = options.allocated;
    FolderScanner scanner;
    scanner.StartScan(ScanRequestFromSettings(ScanRequest::Source::Folder, folder, additions));
    if (cli::WaitForEngine(scanner)) {
        output.cancelWriting();
        return 130;
    }

    const QSize size(options.width, options.height);
    const TreemapTree tree = scanner.Tree().TreemapSnapshot();
    TreemapLayout layout;
    QImage image = TreemapPainter::Render(tree, 0, size, layout);
    if (image.isNull()) {
        // An empty scan still gets its picture: one plain tile.
        image = QImage(size, QImage::Format_RGB32);
        image.fill(TreemapPainter::TypeColour(TreemapTree::kGrey));
    }
    QImageWriter writer(&output, "png");
    if (!writer.write(image) || !output.commit()) {
        std::fprintf(
            stderr, "quarn: %s: %s\n", options.pictureFile.c_str(),
            qPrintable(writer.error() != QImageWriter::UnknownError ? writer.errorString()
                                                                    : output.errorString()));
        return 1;
    }
    return 0;
}

}  // namespace quarn

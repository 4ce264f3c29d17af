#include "app/TreemapCommand.h"

#include <QGuiApplication>
#include <QImageWriter>
#include <QSaveFile>
#include <chrono>
#include <cstdio>
#include <cstring>

#include "cli/Interrupt.h"
#include "cli/ReportCommand.h"
#include "cli/WaitForEngine.h"
#include "foldersize/FolderScanner.h"
#include "foldersize/ui/TreemapPainter.h"
#include "platform/PathRules.h"

namespace quarn {

namespace {

constexpr int kMinimumSide = 16;
constexpr int kMaximumSide = 16384;

std::optional<int> ParseSide(const std::string& text) {
    if (text.empty() || text.size() > 5 ||
        text.find_first_not_of("0123456789") != std::string::npos) {
        return std::nullopt;
    }
    const int side = std::stoi(text);
    if (side < kMinimumSide || side > kMaximumSide) {
        return std::nullopt;
    }
    return side;
}

}  // namespace

bool IsTreemapInvocation(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--") == 0) {
            return false;
        }
        if (std::strcmp(argv[i], "--treemap") == 0) {
            return true;
        }
    }
    return false;
}

std::optional<TreemapCommandOptions> ParseTreemapArguments(const std::vector<std::string>& args,
                                                           std::string& error) {
    TreemapCommandOptions options;
    bool haveFile = false;
    bool haveFolder = false;
    bool onlyOperands = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        auto value = [&](const char* name) -> std::optional<std::string> {
            if (i + 1 >= args.size()) {
                error = std::string(name) + " needs a value";
                return std::nullopt;
            }
            return args[++i];
        };
        if (!onlyOperands && arg == "--") {
            onlyOperands = true;
        } else if (!onlyOperands && arg == "--treemap") {
            std::optional<std::string> file = value("--treemap");
            if (!file) {
                return std::nullopt;
            }
            if (file->empty()) {
                error = "--treemap needs a file name";
                return std::nullopt;
            }
            options.pictureFile = *file;
            haveFile = true;
        } else if (!onlyOperands && arg == "--size") {
            std::optional<std::string> size = value("--size");
            if (!size) {
                return std::nullopt;
            }
            const size_t x = size->find('x');
            std::optional<int> width, height;
            if (x != std::string::npos) {
                width = ParseSide(size->substr(0, x));
                height = ParseSide(size->substr(x + 1));
            }
            if (!width || !height) {
                error = "--size wants WIDTHxHEIGHT, each " + std::to_string(kMinimumSide) + " to " +
                        std::to_string(kMaximumSide) + ", not '" + *size + "'";
                return std::nullopt;
            }
            options.size = QSize(*width, *height);
        } else if (!onlyOperands && arg == "--allocated") {
            options.allocated = true;
        } else if (!onlyOperands && arg == "--threads") {
            std::optional<std::string> number = value("--threads");
            if (!number) {
                return std::nullopt;
            }
            std::optional<unsigned> threads = cli::ParseThreadCount(*number, error);
            if (!threads) {
                return std::nullopt;
            }
            options.threads = *threads;
        } else if (!onlyOperands && arg.size() > 1 && arg[0] == '-') {
            error = "unknown option " + arg;
            return std::nullopt;
        } else if (haveFolder) {
            error = "one folder only, not also " + arg;
            return std::nullopt;
        } else {
            options.folder = arg;
            haveFolder = true;
        }
    }
    if (!haveFile) {
        error = "--treemap needs a file name";
        return std::nullopt;
    }
    if (!haveFolder) {
        error = "--treemap needs a folder";
        return std::nullopt;
    }
    return options;
}

int RunTreemapCommand(int argc, char** argv) {
    std::string error;
    std::optional<TreemapCommandOptions> options =
        ParseTreemapArguments(std::vector<std::string>(argv + 1, argv + argc), error);
    if (!options) {
        std::fprintf(stderr, "quarn: %s (see quarn --help)\n", error.c_str());
        return 2;
    }
    const std::string folder = ResolveFolderArgument(options->folder);
    if (int failed = cli::CheckReadableFolder(folder)) {
        return failed;
    }

    // No display: the picture is drawn into an image on the offscreen
    // platform, which must be chosen before the application object exists.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    int qtArgc = 1;
    QGuiApplication application(qtArgc, argv);

    // Fail before a long scan when the file cannot be written at all; the
    // picture is written through a temporary file, so a failure later
    // leaves any old file as it was.
    QSaveFile output(QString::fromLocal8Bit(options->pictureFile.c_str()));
    if (!output.open(QIODevice::WriteOnly)) {
        std::fprintf(stderr, "quarn: %s: %s\n", options->pictureFile.c_str(),
                     qPrintable(output.errorString()));
        return 1;
    }

    cli::InstallInterruptHandler();
    ScanAdditions additions;
    additions.walk = WalkOptions(options->threads);
    additions.allocated = options->allocated;
    FolderScanner scanner;
    scanner.StartScan(ScanRequestFromSettings(ScanRequest::Source::Folder, folder, additions));
    if (cli::WaitForEngine(scanner)) {
        output.cancelWriting();
        return 130;
    }

    const TreemapTree tree = scanner.Tree().TreemapSnapshot();
    TreemapLayout layout;
    QImage image = TreemapPainter::Render(tree, 0, options->size, layout);
    if (image.isNull()) {
        // An empty scan still gets its picture: one plain tile.
        image = QImage(options->size, QImage::Format_RGB32);
        image.fill(TreemapPainter::TypeColour(TreemapTree::kGrey));
    }
    QImageWriter writer(&output, "png");
    if (!writer.write(image) || !output.commit()) {
        std::fprintf(
            stderr, "quarn: %s: %s\n", options->pictureFile.c_str(),
            qPrintable(writer.error() != QImageWriter::UnknownError ? writer.errorString()
                                                                    : output.errorString()));
        return 1;
    }
    return 0;
}

}  // namespace quarn

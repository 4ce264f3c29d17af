// `quarn --help` and `--version`: asked for from anywhere on the command
// line, answered without a display, and a help that names only options the
// program takes; every mode's argument errors point to it, the window's
// before it needs a display.

#include <QDir>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <fstream>
#include <set>

#include "cli/ProgramArguments.h"
#include "cli/ProgramHelp.h"
#include "tests/support/TempTree.h"

using namespace quarn;
using cli::ProgramHelpText;

namespace {

struct Finished {
    int exitCode = -1;
    QString out;
    QString err;
};

// The installed program as a user starts it from a terminal without a display.
Finished RunQuarn(const QStringList& arguments) {
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
        environment.remove(QString::fromLatin1(name));
    }
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral(QUARN_PROGRAM), arguments);
    Finished finished;
    if (!process.waitForFinished(60000)) {
        process.kill();
        process.waitForFinished();
        return finished;
    }
    finished.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    finished.out = QString::fromLocal8Bit(process.readAllStandardOutput());
    finished.err = QString::fromLocal8Bit(process.readAllStandardError());
    return finished;
}

// The options listed in one section of the help, as typed ("--min-kb", not
// its value).
QStringList OptionsOfSection(const QString& help, const QString& title) {
    QStringList options;
    bool inside = false;
    for (const QString& line : help.split(QLatin1Char('\n'))) {
        if (!line.startsWith(QLatin1Char(' '))) {
            inside = line.startsWith(title);
            continue;
        }
        // Options stand two blanks in; a longer text goes on deeper.
        if (inside && !line.startsWith(QStringLiteral("   "))) {
            QString option = line.trimmed().section(QLatin1Char(' '), 0, 0);
            if (option.endsWith(QLatin1Char(','))) {
                option.chop(1);  // "-x, --one-file-system": the short form
            }
            options << option;
        }
    }
    return options;
}

// What the program makes of `arguments` (without its name): "help",
// "version", "refused: <why>" or "taken".
std::string Reading(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), "quarn");
    const cli::ProgramCommand command = cli::ParseProgramArguments(arguments);
    if (std::holds_alternative<cli::HelpRequest>(command)) {
        return "help";
    }
    if (std::holds_alternative<cli::VersionRequest>(command)) {
        return "version";
    }
    if (const auto* error = std::get_if<cli::UsageError>(&command)) {
        return "refused: " + error->message;
    }
    return "taken";
}

}  // namespace

class ProgramHelpTest : public QObject {
    Q_OBJECT

  private Q_SLOTS:
    void helpAndVersionAreFoundBeforeTheOperands() {
        QCOMPARE(Reading({"--help"}), std::string("help"));
        QCOMPARE(Reading({"-h"}), std::string("help"));
        QCOMPARE(Reading({"--report", "--json", "--help", "/x"}), std::string("help"));
        QCOMPARE(Reading({"/dupmatch", "--version", "--help"}), std::string("version"));
        // Wherever it stands, and whatever else is wrong with the line.
        QCOMPARE(Reading({"--treemap", "x.png", "--json", "-q", "--version"}),
                 std::string("version"));
        QCOMPARE(Reading({"/srv/data"}), std::string("taken"));
        // After "--" an argument is a folder, whatever its name.
        QCOMPARE(Reading({"--report", "--", "--help"}), std::string("taken"));
        QCOMPARE(Reading({"--helpful"}), std::string("refused: unknown option --helpful"));
    }

    void everyReportOptionTheHelpNamesIsTaken() {
        const QString help = QString::fromStdString(ProgramHelpText());
        const QStringList options = OptionsOfSection(help, QStringLiteral("Headless report"));
        for (const char* expected :
             {"--report", "--dupmatch", "--json", "--allocated", "--threads", "--filter",
              "--min-kb", "--max-kb", "--twins-only", "--exclude", "-x", "--export", "--import",
              "--largest", "--max-depth", "--since", "--sort", "--save"}) {
            QVERIFY2(options.contains(QLatin1String(expected)), expected);
        }
        for (const QString& option : options) {
            // Each one, with a value where it takes one, parses.
            // The twin report's options with --dupmatch, the folder report's without.
            std::vector<std::string> arguments = {"--report"};
            const QStringList folderReport = {"--allocated", "--largest", "--max-depth",
                                              "--since",     "--sort",    "--save"};
            if (!folderReport.contains(option)) {
                arguments.push_back("--dupmatch");
            }
            // The two that replace the scan or the report take their file.
            if (option == QStringLiteral("--import")) {
                arguments = {"--report", "--import", "x.json"};
            } else if (option == QStringLiteral("--export")) {
                arguments = {"--export", "x.json", "/srv"};
            }
            if (arguments.size() == 3) {
                const std::string reading = Reading(arguments);
                QVERIFY2(reading == "taken", qPrintable(option + QStringLiteral(": ") +
                                                        QString::fromStdString(reading)));
                continue;
            }
            // The order by change needs the earlier scan.
            if (option == QStringLiteral("--sort")) {
                arguments.insert(arguments.end(), {"--since", "x.json"});
            }
            arguments.push_back(option.toStdString());
            if (option == QStringLiteral("--reference")) {
                arguments.push_back("/srv/archive");
            }
            if (option == QStringLiteral("--since")) {
                arguments.push_back("x.json");
            }
            if (option == QStringLiteral("--sort")) {
                arguments.push_back("change");
            }
            if (option == QStringLiteral("--filter") || option == QStringLiteral("--threads") ||
                option == QStringLiteral("--exclude") || option == QStringLiteral("--largest") ||
                option == QStringLiteral("--max-depth") || option.endsWith(QStringLiteral("-kb"))) {
                arguments.push_back("1");
            }
            arguments.push_back("/srv");
            const std::string reading = Reading(arguments);
            QVERIFY2(reading == "taken",
                     qPrintable(option + QStringLiteral(": ") + QString::fromStdString(reading)));
        }
        const QStringList window = OptionsOfSection(help, QStringLiteral("Window"));
        QVERIFY(window.contains(QStringLiteral("/Dirmass")));
        QVERIFY(window.contains(QStringLiteral("/dupmatch")));
        QVERIFY(help.contains(QStringLiteral("Settings: ")));
    }

    // A treemap picture of a folder without a display: the asked size, a
    // picture of something; bad arguments, a missing folder and a file that
    // cannot be written fail with a message and write nothing.
    void treemapPictureWithoutADisplay() {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const std::string root = dir.path().toStdString();
        test::ScopedEnv ini("QUARN_INI", root + "/quarn.ini");
        QVERIFY(QDir().mkpath(dir.filePath(QStringLiteral("tree/a/b"))));
        size_t bytes = 1000;
        for (const char* name :
             {"tree/a/one.txt", "tree/a/b/two.jpg", "tree/three.iso", "tree/a/b/four.txt"}) {
            std::ofstream(root + "/" + name) << std::string(bytes, 'x');
            bytes *= 3;
        }
        const QString picture = dir.filePath(QStringLiteral("map.png"));
        const QString tree = dir.filePath(QStringLiteral("tree"));
        Finished made = RunQuarn({QStringLiteral("--treemap"), picture, QStringLiteral("--size"),
                                  QStringLiteral("320x200"), tree});
        QVERIFY2(made.exitCode == 0, qPrintable(made.err));
        const QImage image(picture);
        QCOMPARE(image.size(), QSize(320, 200));
        std::set<QRgb> colours;
        for (int y = 0; y < image.height(); y += 3) {
            for (int x = 0; x < image.width(); x += 3) {
                colours.insert(image.pixel(x, y));
            }
        }
        QVERIFY(colours.size() > 20);

        const QString other = dir.filePath(QStringLiteral("other.png"));
        for (const QStringList& bad :
             {QStringList{QStringLiteral("--treemap"), other, QStringLiteral("--size"),
                          QStringLiteral("320by200"), tree},
              QStringList{QStringLiteral("--treemap"), other, QStringLiteral("--size"),
                          QStringLiteral("0x200"), tree},
              QStringList{QStringLiteral("--treemap"), other},
              QStringList{QStringLiteral("--treemap"), other, QStringLiteral("--bogus"), tree}}) {
            const Finished failed = RunQuarn(bad);
            QCOMPARE(failed.exitCode, 2);
            QVERIFY2(failed.err.contains(QStringLiteral("(see quarn --help)")),
                     qPrintable(failed.err));
        }
        const Finished missing = RunQuarn(
            {QStringLiteral("--treemap"), other, dir.filePath(QStringLiteral("no-such-folder"))});
        QCOMPARE(missing.exitCode, 2);
        QVERIFY(missing.err.contains(QStringLiteral("no-such-folder")));
        const Finished unwritable = RunQuarn(
            {QStringLiteral("--treemap"), dir.filePath(QStringLiteral("no-dir/map.png")), tree});
        QCOMPARE(unwritable.exitCode, 1);
        QVERIFY(unwritable.err.contains(QStringLiteral("no-dir/map.png")));
        QVERIFY(!QFile::exists(other));

        // Every option the help lists for the picture parses.
        const QStringList options = OptionsOfSection(QString::fromStdString(ProgramHelpText()),
                                                     QStringLiteral("Treemap picture"));
        QCOMPARE(options.size(), 4);
        for (const QString& option : options) {
            std::vector<std::string> arguments = {"--treemap", "x.png"};
            if (option != QStringLiteral("--treemap")) {
                arguments.push_back(option.toStdString());
            }
            if (option == QStringLiteral("--size")) {
                arguments.push_back("100x100");
            } else if (option == QStringLiteral("--threads")) {
                arguments.push_back("2");
            }
            arguments.push_back("/srv");
            QVERIFY2(Reading(arguments) == "taken", qPrintable(option));
        }
    }

    void theProgramAnswersWithoutADisplay() {
        const Finished help = RunQuarn({QStringLiteral("--help")});
        QCOMPARE(help.exitCode, 0);
        // The same help, but for the settings file of the program itself.
        const QString expected = QString::fromStdString(ProgramHelpText());
        const qsizetype settings = expected.indexOf(QStringLiteral("Settings: "));
        QCOMPARE(help.out.left(settings), expected.left(settings));
        QVERIFY(help.out.contains(QStringLiteral("Settings: ") + QStringLiteral(QUARN_PROGRAM) +
                                  QStringLiteral(".ini")));
        const Finished version =
            RunQuarn({QStringLiteral("--report"), QStringLiteral("--version")});
        QCOMPARE(version.exitCode, 0);
        QVERIFY(version.out.startsWith(QStringLiteral("Quarn ")));
        QVERIFY(version.out.contains(QRegularExpression(QStringLiteral("^Quarn \\d+\\.\\d+"))));

        const Finished wrong = RunQuarn({QStringLiteral("--report"), QStringLiteral("--bogus")});
        QCOMPARE(wrong.exitCode, 2);
        QVERIFY(wrong.out.isEmpty());
        QCOMPARE(wrong.err, QStringLiteral("quarn: unknown option --bogus (see quarn --help)\n"));

        // The window refuses what it does not take before it needs a display,
        // Qt's own options among the rest.
        const QString platform = QStringLiteral("-platform");
        const QString offscreen = QStringLiteral("offscreen");
        for (const auto& [arguments, message] : std::vector<std::pair<QStringList, QString>>{
                 {{QStringLiteral("-v")}, QStringLiteral("unknown option -v")},
                 {{platform, offscreen, QStringLiteral("/dupmatch"), QStringLiteral("--json")},
                  QStringLiteral("--json is for --report and --dedupe, not for the window")},
                 {{QStringLiteral("/srv/a"), QStringLiteral("/srv/b")},
                  QStringLiteral("only one folder can be scanned, got also /srv/b")},
                 {{QStringLiteral("--report"), platform, offscreen, QStringLiteral("/srv")},
                  QStringLiteral("-platform is for the window, not for --report")},
                 {{QStringLiteral("--report"), QStringLiteral("--treemap"), QStringLiteral("x.png"),
                   QStringLiteral("/srv")},
                  QStringLiteral("--report and --treemap cannot be combined")},
             }) {
            const Finished refused = RunQuarn(arguments);
            QCOMPARE(refused.exitCode, 2);
            QVERIFY(refused.out.isEmpty());
            QCOMPARE(refused.err,
                     QStringLiteral("quarn: ") + message + QStringLiteral(" (see quarn --help)\n"));
        }
    }

    // Qt's options reach Qt: without a display the window runs only on the
    // platform they name. The bench opens the window, scans and ends.
    void qtOptionsReachTheWindow() {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const std::string root = dir.path().toStdString();
        // No entry for the file manager, no settings of the user's.
        std::ofstream(root + "/quarn.ini") << "[SETTINGS]\nShellRun=0\n";
        test::ScopedEnv ini("QUARN_INI", root + "/quarn.ini");
        test::ScopedEnv data("XDG_DATA_HOME", root + "/data");
        QVERIFY(QDir().mkpath(dir.filePath(QStringLiteral("tree/a"))));
        std::ofstream(root + "/tree/a/one.txt") << "one";
        const Finished measured =
            RunQuarn({QStringLiteral("--bench-ui"), QStringLiteral("-platform"),
                      QStringLiteral("offscreen"), dir.filePath(QStringLiteral("tree"))});
        QVERIFY2(measured.exitCode == 0, qPrintable(measured.err));
        QVERIFY2(measured.out.contains(QStringLiteral(" items=")), qPrintable(measured.out));
    }
};

QTEST_MAIN(ProgramHelpTest)
#include "program_help_test.moc"

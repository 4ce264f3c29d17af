// The whole report command as a user runs it, each run in a child process
// with a bounded wait: output that cannot be written, folders named through
// links or like options, interrupts that come in pairs, a settings file that
// is no file.

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "cli/Interrupt.h"
#include "cli/ProgramCommand.h"
#include "cli/ReportCommand.h"
#include "platform/PathRules.h"
#include "tests/cli/ReportInChild.h"
#include "tests/support/BoundedChild.h"
#include "tests/support/TempTree.h"
#include "tests/support/TestFiles.h"

namespace quarn::cli {
namespace {

using test::ExitCode;
using test::ReadText;
using test::ReportRun;

std::string RealPath(const std::string& path) {
    char* resolved = ::realpath(path.c_str(), nullptr);
    std::string text = resolved != nullptr ? resolved : path;
    std::free(resolved);
    return text;
}

class ReportCommandTest : public ::testing::Test {
  protected:
    ReportCommandTest() : m_ini("QUARN_INI", m_scratch.Path("quarn.ini")) {
        test::WriteText(m_scratch.Path("quarn.ini"), "[SETTINGS]\nRelativToDriveSpace=0\n");
        for (const char* folder : {"one", "two"}) {
            m_tree.MakeFile(std::string(folder) + "/same.txt", 700);
            m_tree.SetModified(std::string(folder) + "/same.txt", 1600000000);
        }
        m_tree.MakeFile("two/other.bin", 3000);
    }

    // `quarn --report ARGS` in a child, in folder `cwd` (empty: where the
    // test runs), with stdout sent to `stdoutPath` (empty: a scratch file);
    // `before` runs in the child first.
    ReportRun Report(const std::vector<std::string>& args, const std::string& cwd = "",
                     const std::string& stdoutPath = "", const std::function<void()>& before = {}) {
        const bool scratch = stdoutPath.empty();
        return test::ReportInChild(args, scratch ? m_scratch.Path("out.txt") : stdoutPath,
                                   m_scratch.Path("err.txt"), cwd, before, scratch);
    }

    test::TempTree m_scratch;
    test::ScopedEnv m_ini;
    test::TempTree m_tree;
};

TEST_F(ReportCommandTest, EveryFormSaysSoWhenItsOutputCannotBeWritten) {
    struct stat st;
    if (::stat("/dev/full", &st) != 0 || !S_ISCHR(st.st_mode)) {
        GTEST_SKIP() << "no /dev/full here";
    }
    const std::vector<std::vector<std::string>> forms = {
        {},
        {"--json"},
        {"--dupmatch"},
        {"--dupmatch", "--json"},
        {"--dupmatch", "--filter", "same"},
    };
    for (std::vector<std::string> args : forms) {
        args.push_back(m_tree.Root());
        ReportRun run = Report(args, "", "/dev/full");
        EXPECT_EQ(ExitCode(run), 1) << args[0];
        EXPECT_EQ(run.err, "quarn: write error: No space left on device\n") << args[0];
    }
    // The same forms with somewhere to write succeed, and say nothing.
    for (std::vector<std::string> args : forms) {
        args.push_back(m_tree.Root());
        ReportRun run = Report(args);
        EXPECT_EQ(ExitCode(run), 0) << args[0];
        EXPECT_EQ(run.err, "") << args[0];
        EXPECT_FALSE(run.out.empty()) << args[0];
    }
}

TEST_F(ReportCommandTest, RelativeFoldersAreResolvedAsTheKernelDoesAndShownAbsolute) {
    // work/link -> real/inner: "link/.." is real, not work.
    m_tree.MakeFolder("real/inner");
    m_tree.MakeFile("real/s/file.bin", 100);
    m_tree.MakeFolder("work");
    m_tree.MakeSymlink(m_tree.Path("real/inner"), "work/link");
    const std::string real = RealPath(m_tree.Path("real"));

    ReportRun up = Report({"--json", "link/.."}, m_tree.Path("work"));
    EXPECT_EQ(ExitCode(up), 0) << up.err;
    EXPECT_NE(up.out.find("\"items\":[{\"parent\":null,\"name\":\"" + real + "\",\"path\":\"" +
                          real + "\",\"size\":100,"),
              std::string::npos)
        << up.out;

    ReportRun sibling =
        Report({"--dupmatch", "--filter", "file", "link/../s/"}, m_tree.Path("work"));
    EXPECT_EQ(ExitCode(sibling), 0) << sibling.err;
    EXPECT_EQ(sibling.out.rfind("file.bin\t" + real + "/s/file.bin\t", 0), 0u) << sibling.out;

    // Absolute or relative, the root never keeps a trailing separator.
    const std::string root = RealPath(m_tree.Root());
    for (const std::string& folder : {root + "/", root + "//", std::string(".//")}) {
        ReportRun run = Report({folder}, root);
        EXPECT_EQ(ExitCode(run), 0) << run.err;
        EXPECT_EQ(run.out.substr(0, root.size() + 1), root + "\t") << folder << "\n" << run.out;
    }
}

TEST_F(ReportCommandTest, AFolderNamedLikeAnOptionIsScannedAfterTwoDashesOnly) {
    m_tree.MakeFile("-odd-folder/inside.bin", 1234);
    m_tree.MakeFile("--dupmatch/one/same.txt", 10);
    m_tree.MakeFile("--dupmatch/two/same.txt", 10);

    ReportRun odd = Report({"--", "-odd-folder"}, m_tree.Root());
    EXPECT_EQ(ExitCode(odd), 0) << odd.err;
    const std::string oddPath = RealPath(m_tree.Path("-odd-folder"));
    EXPECT_EQ(odd.out.rfind(oddPath + "\t", 0), 0u) << odd.out;

    // The folder report of a folder named --dupmatch, not the twin list of
    // the working folder.
    ReportRun named = Report({"--json", "--", "--dupmatch"}, m_tree.Root());
    EXPECT_EQ(ExitCode(named), 0) << named.err;
    const std::string namedPath = RealPath(m_tree.Path("--dupmatch"));
    EXPECT_NE(named.out.find("\"items\":[{\"parent\":null,\"name\":\"" + namedPath + "\""),
              std::string::npos)
        << named.out;

    // Without "--" either name is an option, and the first is no option of ours.
    ReportRun refused = Report({"-odd-folder"}, m_tree.Root());
    EXPECT_EQ(ExitCode(refused), 2);
    EXPECT_EQ(refused.out, "");
    EXPECT_EQ(refused.err, "quarn: unknown option -odd-folder (see quarn --help)\n");
    ReportRun twins = Report({"--dupmatch"}, m_tree.Root());
    EXPECT_EQ(ExitCode(twins), 2);
    EXPECT_EQ(twins.err, "quarn: no folder given (see quarn --help)\n");
}

TEST(ResolveFolderArgument, OneFormForEveryWayOfNamingAFolder) {
    const std::string cwd = RealPath(".");
    EXPECT_EQ(ResolveFolderArgument("/x/y/"), "/x/y");
    EXPECT_EQ(ResolveFolderArgument("/x//y///"), "/x/y");
    EXPECT_EQ(ResolveFolderArgument("/"), "/");
    // An absolute path is the user's own: ".." stays for the kernel to read.
    EXPECT_EQ(ResolveFolderArgument("/x/link/.."), "/x/link/..");
    EXPECT_EQ(ResolveFolderArgument("//server/share/"), "//server/share");
    EXPECT_EQ(ResolveFolderArgument("."), cwd);
    EXPECT_EQ(ResolveFolderArgument(""), cwd);
    // A folder that is not there yet is joined to the working folder.
    EXPECT_EQ(ResolveFolderArgument("no-such-folder//sub/"), cwd + "/no-such-folder/sub");
}

TEST_F(ReportCommandTest, ASecondInterruptDoesNotLoseThePartialReport) {
    // Both come before the scan has read anything; the second one used to
    // end the program before it printed a word.
    ReportRun run = Report({"--json", m_tree.Root()}, "", "", [] {
        InstallInterruptHandler();
        ::raise(SIGINT);
        ::raise(SIGINT);
    });
    EXPECT_EQ(ExitCode(run), 130);
    EXPECT_EQ(run.out.rfind("{\"status\":", 0), 0u) << run.out;
    ASSERT_GE(run.out.size(), 3u);
    EXPECT_EQ(run.out.substr(run.out.size() - 3), "]}\n") << run.out;

    ReportRun twins = Report({"--dupmatch", m_tree.Root()}, "", "", [] {
        InstallInterruptHandler();
        ::raise(SIGINT);
        ::raise(SIGINT);
        ::raise(SIGINT);
    });
    EXPECT_EQ(ExitCode(twins), 130);
    EXPECT_NE(twins.out.find("Twin Files: "), std::string::npos) << twins.out;
}

TEST(Interrupt, AfterTheReportAnInterruptAndAnyTerminationEndTheProgramAtOnce) {
    test::ChildOutcome written = test::RunBoundedChild(
        [] {
            InstallInterruptHandler();
            ReportWritten();
            ::raise(SIGINT);
            return 0;
        },
        std::chrono::seconds(20));
    EXPECT_TRUE(written.exited);
    EXPECT_EQ(written.exitCode, 130);

    test::ChildOutcome terminated = test::RunBoundedChild(
        [] {
            InstallInterruptHandler();
            ::raise(SIGTERM);
            return 0;
        },
        std::chrono::seconds(20));
    EXPECT_TRUE(terminated.ended);
    EXPECT_EQ(terminated.signal, SIGTERM);
}

TEST_F(ReportCommandTest, ASettingsFileThatIsNoFileIsNamedOnceAndTheDefaultsApply) {
    const std::string fifo = m_scratch.Path("fifo.ini");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    test::ScopedEnv ini("QUARN_INI", fifo);
    const std::string warning = "quarn: the settings file " + fifo +
                                " cannot be read (not a regular file); the defaults apply\n";
    for (const char* mode : {"--json", "--dupmatch"}) {
        ReportRun run = Report({mode, m_tree.Root()});
        EXPECT_EQ(ExitCode(run), 0) << mode;
        EXPECT_EQ(run.err, warning) << mode;
        EXPECT_FALSE(run.out.empty()) << mode;
    }
    // The defaults compare sizes and times: the two same.txt are twins.
    ReportRun twins = Report({"--dupmatch", m_tree.Root()});
    EXPECT_EQ(twins.out.rfind("same.txt\t", 0), 0u) << twins.out;
}

}  // namespace
}  // namespace quarn::cli

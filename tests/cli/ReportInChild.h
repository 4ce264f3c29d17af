#pragma once
// The whole `quarn --report ...` command as a user runs it, in a child
// process with a bounded wait: what it wrote on stdout and stderr and how it
// ended. Call it while the test runs on one thread only.

#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "cli/ProgramCommand.h"
#include "tests/support/BoundedChild.h"
#include "tests/support/TestFiles.h"

namespace quarn::test {

struct ReportRun {
    ChildOutcome outcome;
    std::string out;  // empty when stdout went to a path of the caller's
    std::string err;
};

// `quarn --report ARGS` with stdout in `outPath` and stderr in `errPath`, in
// folder `cwd` (empty: where the test runs); `before` runs in the child
// first. `readOut` false leaves stdout in its file (a device, a big report).
inline ReportRun ReportInChild(const std::vector<std::string>& args, const std::string& outPath,
                               const std::string& errPath, const std::string& cwd = "",
                               const std::function<void()>& before = {}, bool readOut = true) {
    ReportRun run;
    run.outcome = RunBoundedChild(
        [&] {
            if (!cwd.empty() && ::chdir(cwd.c_str()) != 0) {
                return 99;
            }
            int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (out < 0 || err < 0) {
                return 98;
            }
            ::dup2(out, STDOUT_FILENO);
            ::dup2(err, STDERR_FILENO);
            if (before) {
                before();
            }
            std::vector<std::string> words = {"quarn", "--report"};
            words.insert(words.end(), args.begin(), args.end());
            return cli::RunWithoutDisplay(cli::ParseProgramArguments(words)).value_or(97);
        },
        std::chrono::seconds(60));
    if (readOut) {
        run.out = ReadText(outPath);
    }
    run.err = ReadText(errPath);
    return run;
}

// The run's exit code, after expecting that it ended by itself through exit.
inline int ExitCode(const ReportRun& run) {
    EXPECT_TRUE(run.outcome.ended) << "still running after the wait";
    EXPECT_TRUE(run.outcome.exited) << "ended by signal " << run.outcome.signal;
    return run.outcome.exitCode;
}

}  // namespace quarn::test

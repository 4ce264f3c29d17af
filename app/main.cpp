#include <clocale>
#include <cstdio>
#include <string>
#include <vector>

#include "app/MainApp.h"
#include "app/ProgramHelp.h"
#include "app/TreemapCommand.h"
#include "app/UiBench.h"
#include "cli/ReportCommand.h"

int main(int argc, char** argv) {
    std::setlocale(LC_ALL, "");
    // Help, version and the headless report need no display: decide before
    // any window exists.
    switch (quarn::RequestedProgramInfo(std::vector<std::string>(argv, argv + argc))) {
        case quarn::ProgramInfo::Help:
            std::fputs(quarn::ProgramHelpText().c_str(), stdout);
            return 0;
        case quarn::ProgramInfo::Version:
            std::fputs(quarn::ProgramVersionText().c_str(), stdout);
            return 0;
        case quarn::ProgramInfo::None:
            break;
    }
    if (quarn::IsTreemapInvocation(argc, argv)) {
        return quarn::RunTreemapCommand(argc, argv);
    }
    if (quarn::cli::IsReportInvocation(argc, argv)) {
        return quarn::cli::RunReportCommand(argc, argv);
    }
    quarn::CMainApp app(argc, argv);
    // The arguments as the system gave them (folder names are bytes), less
    // the options Qt has taken for itself, such as "-platform offscreen".
    const std::vector<std::string> arguments(argv, argv + argc);
    if (arguments.size() > 1 && arguments[1] == "--bench-ui") {
        return quarn::CUiBench::Run(arguments);
    }
    if (!app.InitInstance(arguments)) {
        return 1;
    }
    return app.exec();
}

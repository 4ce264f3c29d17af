#include <clocale>
#include <string>
#include <vector>

#include "app/MainApp.h"
#include "app/UiBench.h"
#include "cli/ReportCommand.h"

int main(int argc, char** argv) {
    std::setlocale(LC_ALL, "");
    // The headless report needs no display: decide before any window exists.
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

#include <clocale>
#include <string>
#include <variant>
#include <vector>

#include "app/MainApp.h"
#include "app/TreemapCommand.h"
#include "app/UiBench.h"
#include "cli/ProgramArguments.h"
#include "cli/ProgramCommand.h"

int main(int argc, char** argv) {
    std::setlocale(LC_ALL, "");
    // The arguments as the system gave them: folder names are bytes.
    const std::vector<std::string> arguments(argv, argv + argc);
    // Everything is decided before any Qt object exists: the help, the
    // refusals and the headless commands need no display.
    const quarn::cli::ProgramCommand command = quarn::cli::ParseProgramArguments(arguments);
    if (const std::optional<int> code = quarn::cli::RunWithoutDisplay(command)) {
        return *code;
    }
    if (const auto* treemap = std::get_if<quarn::cli::TreemapArguments>(&command)) {
        return quarn::RunTreemapCommand(treemap->options, argv[0]);
    }
    const auto* window = std::get_if<quarn::cli::WindowArguments>(&command);
    const auto* bench = std::get_if<quarn::cli::UiBenchArguments>(&command);
    // Qt is given its own options alone, so that it never reads a folder
    // name as one of them. Both vectors outlive the application, as Qt needs.
    std::vector<std::string> toolkit = {arguments.empty() ? std::string("quarn") : arguments[0]};
    const std::vector<std::string>& own =
        window != nullptr ? window->toolkitArguments : bench->toolkitArguments;
    toolkit.insert(toolkit.end(), own.begin(), own.end());
    std::vector<char*> toolkitArgv;
    for (std::string& argument : toolkit) {
        toolkitArgv.push_back(argument.data());
    }
    toolkitArgv.push_back(nullptr);
    int toolkitArgc = int(toolkit.size());
    quarn::CMainApp app(toolkitArgc, toolkitArgv.data());
    if (bench != nullptr) {
        return quarn::UiBench::Run(toolkit[0], bench->folder);
    }
    if (!app.InitInstance(arguments)) {
        return 1;
    }
    return app.exec();
}

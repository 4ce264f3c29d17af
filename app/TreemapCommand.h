#pragma once
// `quarn --treemap FILE.png [--size WxH] [--allocated] [--threads N] FOLDER`:
// scans FOLDER with the settings the window uses and writes its treemap as a
// PNG picture, without a display (the offscreen platform).

#include <optional>
#include <string>
#include <vector>

#include <QSize>

namespace quarn {

struct TreemapCommandOptions {
    std::string pictureFile;
    std::string folder;
    QSize size{1600, 1000};
    bool allocated = false;
    unsigned threads = 0;  // 0: the walk's default
};

// True when the command line asks for a treemap picture.
bool IsTreemapInvocation(int argc, char** argv);

// Parses the arguments after the program name; on failure returns nothing
// and sets `error` to a message for the user. A size is WIDTHxHEIGHT, each
// 16 to 16384 pixels.
std::optional<TreemapCommandOptions> ParseTreemapArguments(const std::vector<std::string>& args,
                                                           std::string& error);

// The whole command, before any application object exists (it makes its
// own, on the offscreen platform). Returns the exit code: 0 written, 1 the
// picture could not be written, 2 bad arguments or folder, 130 interrupted
// (nothing written).
int RunTreemapCommand(int argc, char** argv);

}  // namespace quarn

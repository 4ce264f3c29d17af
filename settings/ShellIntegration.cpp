#include "settings/ShellIntegration.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "platform/DesktopEntries.h"
#include "platform/FileWrite.h"
#include "platform/ProgramPath.h"
#include "settings/Settings.h"

extern char** environ;

namespace quarn {

namespace {

namespace fs = std::filesystem;

constexpr const char* kVerbName = "Dirmass";

std::string ApplicationsFolder() {
    return XdgDataHome() + "/applications";
}

std::string EntryText(const std::string& programPath) {
    std::string exec = QuoteExecArgument(programPath) + " %f";
    return std::string("[Desktop Entry]\n") +
           "Type=Application\n"
           "Name=" +
           kVerbName +
           "\n"
           "MimeType=inode/directory;\n"
           "NoDisplay=true\n"
           "Exec=" +
           EscapeDesktopValue(exec) + "\n";
}

bool FileHolds(const std::string& path, const std::string& text) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return false;
    }
    std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return content == text;
}

// Replaced atomically: the file manager never reads half an entry, and a
// failed write leaves the old one in place.
bool WriteEntry(const std::string& path, const std::string& text) {
    return ReplaceFileAtomically(path, text, [](int fd) { return ::fchmod(fd, 0644) == 0; });
}

struct VerbResult {
    int result = 0;
    bool changed = false;
};

VerbResult Register(const std::string& programPath) {
    if (programPath.empty()) {
        return {};
    }
    std::string path = ShellVerbEntryPath();
    std::string text = EntryText(programPath);
    if (FileHolds(path, text)) {
        return {1, false};
    }
    std::error_code error;
    fs::create_directories(fs::path(path).parent_path(), error);
    if (error || !WriteEntry(path, text)) {
        return {};
    }
    return {1, true};
}

VerbResult Unregister() {
    if (::unlink(ShellVerbEntryPath().c_str()) != 0) {
        return {};
    }
    return {1, true};
}

// Optional: without the tool the desktop notices the entry on its next scan.
void RefreshMimeCache(const std::string& folder) {
    posix_spawn_file_actions_t actions;
    if (posix_spawn_file_actions_init(&actions) != 0) {
        return;
    }
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    std::string tool = "update-desktop-database";
    std::vector<char*> argv = {tool.data(), const_cast<char*>(folder.c_str()), nullptr};
    pid_t pid = 0;
    if (posix_spawnp(&pid, tool.c_str(), &actions, nullptr, argv.data(), environ) == 0) {
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
    }
    posix_spawn_file_actions_destroy(&actions);
}

}  // namespace

std::string ShellVerbEntryPath() {
    return ApplicationsFolder() + "/" + kVerbName + ".desktop";
}

int RegisterShellVerb() {
    return RegisterShellVerb(ExecutableRealPath());
}

int RegisterShellVerb(const std::string& programPath) {
    return Register(programPath).result;
}

int UnregisterShellVerb() {
    return Unregister().result;
}

void ApplyShellIntegration() {
    ApplyShellIntegration(ExecutableRealPath());
}

void ApplyShellIntegration(const std::string& programPath) {
    VerbResult done = ReadSetting(kShellRun) ? Register(programPath) : Unregister();
    if (done.changed) {
        RefreshMimeCache(ApplicationsFolder());
    }
}

}  // namespace quarn

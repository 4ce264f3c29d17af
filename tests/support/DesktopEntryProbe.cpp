#include "tests/support/DesktopEntryProbe.h"

#include <gio/gdesktopappinfo.h>
#include <gio/gio.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cerrno>
#include <filesystem>

#include "tests/support/TestFiles.h"

namespace quarn::test {

namespace fs = std::filesystem;

std::optional<std::string> DesktopEntryValue(const std::string& entryFile, const std::string& key) {
    GKeyFile* file = g_key_file_new();
    std::optional<std::string> value;
    if (g_key_file_load_from_file(file, entryFile.c_str(), G_KEY_FILE_NONE, nullptr)) {
        if (gchar* text = g_key_file_get_string(file, "Desktop Entry", key.c_str(), nullptr)) {
            value = text;
            g_free(text);
        }
    }
    g_key_file_free(file);
    return value;
}

void MakeArgumentRecorder(const std::string& programPath) {
    // NUL-separated, so that arguments holding line breaks come back whole;
    // renamed into place, so that a reader never sees half a record.
    WriteText(programPath,
              "#!/bin/sh\nprintf '%s\\0' \"$0\" \"$@\" > \"$0.part\" && /bin/mv \"$0.part\" "
              "\"$0.args\"\n");
    ::chmod(programPath.c_str(), 0755);
}

std::optional<std::vector<std::string>> StartEntryOnFolder(const std::string& entryFile,
                                                           const std::string& programPath,
                                                           const std::string& folder) {
    const std::string record = programPath + ".args";
    std::error_code error;
    fs::remove(record, error);
    GDesktopAppInfo* entry = g_desktop_app_info_new_from_filename(entryFile.c_str());
    if (entry == nullptr) {
        return std::nullopt;
    }
    GFile* target = g_file_new_for_path(folder.c_str());
    gchar* uri = g_file_get_uri(target);
    GList* uris = g_list_append(nullptr, uri);
    // Not reaped by GLib: the recorder has written its record once it ended.
    GPid child = 0;
    const gboolean started = g_desktop_app_info_launch_uris_as_manager(
        entry, uris, nullptr, GSpawnFlags(G_SPAWN_SEARCH_PATH | G_SPAWN_DO_NOT_REAP_CHILD), nullptr,
        nullptr,
        [](GDesktopAppInfo*, GPid pid, gpointer started) { *static_cast<GPid*>(started) = pid; },
        &child, nullptr);
    g_list_free(uris);
    g_free(uri);
    g_object_unref(target);
    g_object_unref(entry);
    if (!started || child <= 0) {
        return std::nullopt;
    }
    while (::waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
    }
    if (!PathExists(record)) {
        return std::nullopt;
    }
    std::vector<std::string> arguments;
    const std::string text = ReadText(record);
    size_t start = 0;
    for (size_t end = text.find('\0'); end != std::string::npos; end = text.find('\0', start)) {
        arguments.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return arguments;
}

}  // namespace quarn::test

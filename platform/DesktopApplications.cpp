#include "platform/DesktopApplications.h"

#include <gio/gio.h>

#include <algorithm>

namespace quarn {

namespace {

std::string Text(const char* text) {
    return text != nullptr ? std::string(text) : std::string();
}

// Takes over one reference of `info`.
DesktopApplication Describe(GAppInfo* info) {
    DesktopApplication application;
    application.id = Text(g_app_info_get_id(info));
    application.name = Text(g_app_info_get_name(info));
    application.exec = Text(g_app_info_get_commandline(info));
    application.info.reset(info, [](GAppInfo* held) { g_object_unref(held); });
    return application;
}

// Appends the applications of a GIO list (which it frees) that are not
// listed yet.
void AppendNew(GList* infos, std::vector<DesktopApplication>& into) {
    for (GList* item = infos; item != nullptr; item = item->next) {
        auto* info = static_cast<GAppInfo*>(item->data);
        const bool listed =
            std::any_of(into.begin(), into.end(), [info](const DesktopApplication& application) {
                return g_app_info_equal(application.info.get(), info);
            });
        if (!listed) {
            into.push_back(Describe(G_APP_INFO(g_object_ref(info))));
        }
    }
    g_list_free_full(infos, g_object_unref);
}

}  // namespace

std::string ContentTypeOf(const std::string& path) {
    GFile* file = g_file_new_for_path(path.c_str());
    GFileInfo* info = g_file_query_info(file, G_FILE_ATTRIBUTE_STANDARD_CONTENT_TYPE,
                                        G_FILE_QUERY_INFO_NONE, nullptr, nullptr);
    std::string type;
    if (info != nullptr) {
        type = Text(g_file_info_get_content_type(info));
        g_object_unref(info);
    }
    g_object_unref(file);
    return type;
}

std::vector<DesktopApplication> ApplicationsFor(const std::string& contentType) {
    std::vector<DesktopApplication> applications;
    if (contentType.empty()) {
        return applications;
    }
    if (GAppInfo* preferred = g_app_info_get_default_for_type(contentType.c_str(), FALSE)) {
        applications.push_back(Describe(preferred));
    }
    AppendNew(g_app_info_get_recommended_for_type(contentType.c_str()), applications);
    // "All" adds the fallbacks: applications for the types this one derives from.
    AppendNew(g_app_info_get_all_for_type(contentType.c_str()), applications);
    return applications;
}

std::optional<DesktopApplication> DefaultApplicationFor(const std::string& contentType) {
    if (contentType.empty()) {
        return std::nullopt;
    }
    if (GAppInfo* preferred = g_app_info_get_default_for_type(contentType.c_str(), FALSE)) {
        return Describe(preferred);
    }
    return std::nullopt;
}

std::string LaunchApplication(const DesktopApplication& application,
                              const std::vector<std::string>& files) {
    if (!application.info) {
        return "no application";
    }
    // A URI carries the path's bytes percent-encoded, whatever their
    // encoding; the program gets them back unchanged for %f.
    GList* uris = nullptr;
    for (const std::string& path : files) {
        GFile* file = g_file_new_for_path(path.c_str());
        uris = g_list_append(uris, g_file_get_uri(file));
        g_object_unref(file);
    }
    GError* error = nullptr;
    const gboolean started = g_app_info_launch_uris(application.info.get(), uris, nullptr, &error);
    g_list_free_full(uris, g_free);
    if (started) {
        return std::string();
    }
    std::string reason = error != nullptr ? Text(error->message) : std::string("failed to start");
    if (error != nullptr) {
        g_error_free(error);
    }
    return reason.empty() ? std::string("failed to start") : reason;
}

}  // namespace quarn

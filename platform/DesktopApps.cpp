#include "platform/DesktopApps.h"

#include "platform/FileSystem.h"
#include "platform/GLibOwners.h"

#include <gio/gio.h>

#include <memory>

namespace platform {

namespace {

using AppInfo = GObjectOwner<GAppInfo>;
using Error = GErrorOwner;

// A list of URIs; the strings are owned by the caller's vector.
struct GListDeleter {
    void operator()(GList* list) const { g_list_free(list); }
};
using UriList = std::unique_ptr<GList, GListDeleter>;

AppInfo ProgramFor(const std::string& mimeType)
{
    GText contentType(g_content_type_from_mime_type(mimeType.c_str()));
    return AppInfo(g_app_info_get_default_for_type(contentType ? contentType.get() : mimeType.c_str(), FALSE));
}

// Whether a program takes several files in one run: its command line's %F or %U. GIO starts a
// program with %f or %u once for every file it is given.
bool TakesSeveral(GAppInfo* program)
{
    const char* command = g_app_info_get_commandline(program);
    if (command == nullptr)
        return false;
    const std::string line = command;
    return line.find("%F") != std::string::npos || line.find("%U") != std::string::npos;
}

}  // namespace

std::string FileUri(const std::string& path)
{
    std::string absolute = path;
    if (absolute.empty() || absolute[0] != '/') {
        GText current(g_get_current_dir());
        absolute = JoinPath(current.get(), path);
    }
    GText uri(g_filename_to_uri(absolute.c_str(), nullptr, nullptr));
    return uri ? std::string(uri.get()) : std::string();
}

std::string MimeTypeOfName(const std::string& path)
{
    gboolean uncertain = FALSE;
    GText contentType(g_content_type_guess(path.c_str(), nullptr, 0, &uncertain));
    if (!contentType || uncertain)
        return {};
    GText mimeType(g_content_type_get_mime_type(contentType.get()));
    return mimeType ? std::string(mimeType.get()) : std::string();
}

bool HasProgramFor(const std::string& mimeType)
{
    return ProgramFor(mimeType) != nullptr;
}

bool TakesSeveralFiles(const std::string& mimeType)
{
    const AppInfo program = ProgramFor(mimeType);
    return program && TakesSeveral(program.get());
}

DesktopLaunch OpenWithProgramFor(const std::string& mimeType, const std::vector<std::string>& paths)
{
    DesktopLaunch launch;
    const AppInfo program = ProgramFor(mimeType);
    if (!program)
        return launch;
    launch.program = g_app_info_get_name(program.get());
    std::vector<std::string> uris;
    for (const std::string& path : paths)
        uris.push_back(FileUri(path));
    if (uris.size() > 1 && !TakesSeveral(program.get())) {
        uris.resize(1);
        launch.firstFileOnly = true;
    }
    GList* list = nullptr;
    for (auto uri = uris.rbegin(); uri != uris.rend(); ++uri)
        list = g_list_prepend(list, const_cast<char*>(uri->c_str()));
    const UriList owned(list);
    GError* error = nullptr;
    launch.started = g_app_info_launch_uris(program.get(), list, nullptr, &error);
    const Error failure(error);
    if (!launch.started)
        launch.error = failure ? failure->message : "the program could not be started";
    return launch;
}

}  // namespace platform

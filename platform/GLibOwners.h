#pragma once
#include <glib-object.h>

#include <memory>

namespace platform {

// Single owners of what GLib hands out, released on every path.
struct GFreeDeleter {
    void operator()(gchar* text) const { g_free(text); }
};
using GText = std::unique_ptr<gchar, GFreeDeleter>;

struct GObjectDeleter {
    void operator()(gpointer object) const { g_object_unref(object); }
};
template <typename T>
using GObjectOwner = std::unique_ptr<T, GObjectDeleter>;

struct GErrorDeleter {
    void operator()(GError* error) const { g_error_free(error); }
};
using GErrorOwner = std::unique_ptr<GError, GErrorDeleter>;

}  // namespace platform

#include "platform/default_handler.h"

#include <gio/gio.h>

#include "base/gobject_ptr.h"

Result<void> OpenWithDefaultHandler(const std::string& uri) {
  GError* raw = nullptr;
  if (g_app_info_launch_default_for_uri(uri.c_str(), nullptr, &raw)) return {};
  GErrorPtr error(raw);
  std::string context = "launch " + uri + ": " + (error ? error->message : "");
  if (error && error->domain == G_IO_ERROR) {
    if (error->code == G_IO_ERROR_NOT_FOUND) return Error{ENOENT, context};
    // GIO reports a type or scheme without any handler as "not supported" (or a plain failure
    // for unknown schemes); both mean no association.
    if (error->code == G_IO_ERROR_NOT_SUPPORTED || error->code == G_IO_ERROR_FAILED)
      return Error{EOPNOTSUPP, context};
  }
  return Error{EIO, context};
}

std::string FileUri(const std::string& path) {
  GObjectPtr<GFile> file = GObjectPtr<GFile>::adopt(g_file_new_for_path(path.c_str()));
  GCharPtr uri(g_file_get_uri(file.get()));
  return uri ? uri.get() : std::string();
}

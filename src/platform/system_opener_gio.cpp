#include <gio/gdesktopappinfo.h>
#include <gio/gio.h>

#include <string>

#include "platform/platform_log.h"
#include "platform/system_opener.h"

namespace orvik::platform {
namespace {

bool launchDefault(const char* uri) {
  GError* error = nullptr;
  const gboolean launched = g_app_info_launch_default_for_uri(uri, nullptr, &error);
  if (error) g_error_free(error);
  return launched;
}

class GioSystemOpener final : public SystemOpener {
 public:
  bool openURL(const std::string& url) override { return launchDefault(url.c_str()); }

  bool openDesktopApplication(const std::vector<std::string>& desktopIds) override {
    for (const std::string& id : desktopIds) {
      GDesktopAppInfo* application = g_desktop_app_info_new(id.c_str());
      if (!application) continue;
      GError* error = nullptr;
      const bool launched = g_app_info_launch(G_APP_INFO(application), nullptr, nullptr, &error);
      g_object_unref(application);
      if (launched) return true;
      platformLog("could not start " + id + ": " + (error ? error->message : "unknown error"));
      g_clear_error(&error);
    }
    return false;
  }

  void revealFile(const std::filesystem::path& file) override {
    gchar* fileUri = g_filename_to_uri(file.c_str(), nullptr, nullptr);
    gchar* folderUri = g_filename_to_uri(file.parent_path().c_str(), nullptr, nullptr);
    if (!fileUri || !folderUri) {
      g_free(fileUri);
      g_free(folderUri);
      return;
    }
    GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
    if (!bus) {
      launchDefault(folderUri);
    } else {
      const gchar* uris[] = {fileUri, nullptr};
      // The folder URI rides along as user data for the fallback.
      g_dbus_connection_call(bus, "org.freedesktop.FileManager1", "/org/freedesktop/FileManager1",
                             "org.freedesktop.FileManager1", "ShowItems", g_variant_new("(^ass)", uris, ""), nullptr,
                             G_DBUS_CALL_FLAGS_NONE, -1, nullptr, &GioSystemOpener::onShowItemsDone,
                             g_strdup(folderUri));
      g_object_unref(bus);
    }
    g_free(fileUri);
    g_free(folderUri);
  }

 private:
  static void onShowItemsDone(GObject* source, GAsyncResult* result, gpointer folderUri) {
    GError* error = nullptr;
    GVariant* reply = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, &error);
    if (reply) g_variant_unref(reply);
    if (error) {
      g_error_free(error);
      launchDefault(static_cast<const char*>(folderUri));
    }
    g_free(folderUri);
  }
};

}  // namespace

std::unique_ptr<SystemOpener> makeGioSystemOpener() { return std::make_unique<GioSystemOpener>(); }

}  // namespace orvik::platform

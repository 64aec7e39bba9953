#include "app/media_permission_alerts_gtk.h"

#include <string>
#include <vector>

#include <gtk/gtk.h>

#include "core/native_logger.h"
#include "platform/capture_authorization.h"
#include "platform/system_opener.h"

namespace orvik {
namespace {

constexpr int kOpenSettings = 1;

// The desktop application ids of the settings panels that govern `device`,
// the device's own panel first.
std::vector<std::string> captureSettingsPanels(platform::CaptureDevice device) {
  // GNOME Settings names a panel per device; desktops without them may still
  // have the privacy panel that holds both.
  if (device == platform::CaptureDevice::camera) return {"gnome-camera-panel.desktop", "gnome-privacy-panel.desktop"};
  return {"gnome-microphone-panel.desktop", "gnome-privacy-panel.desktop"};
}

// Starts the first of those panels this desktop has; logged when none.
void openCaptureSettings(platform::CaptureDevice device) {
  if (platform::makeGioSystemOpener()->openDesktopApplication(captureSettingsPanels(device))) return;
  nativeLog("[MediaPermission] this desktop has no privacy settings panel to open");
}

void showAccessAlert(const char* title, const char* firstLine, const char* secondLine,
                     platform::CaptureDevice device) {
  if (!gtk_is_initialized()) return;
  GtkWindow* parent = nullptr;
  if (GApplication* application = g_application_get_default(); application && GTK_IS_APPLICATION(application)) {
    parent = gtk_application_get_active_window(GTK_APPLICATION(application));
  }
  GtkWidget* dialog = gtk_message_dialog_new(parent, GTK_DIALOG_DESTROY_WITH_PARENT, GTK_MESSAGE_WARNING,
                                             GTK_BUTTONS_NONE, "%s", title);
  gtk_message_dialog_format_secondary_text(GTK_MESSAGE_DIALOG(dialog), "%s\n%s", firstLine, secondLine);
  gtk_dialog_add_button(GTK_DIALOG(dialog), "Open Settings", kOpenSettings);
  gtk_dialog_add_button(GTK_DIALOG(dialog), "Cancel", GTK_RESPONSE_CANCEL);
  gtk_dialog_set_default_response(GTK_DIALOG(dialog), kOpenSettings);
  g_signal_connect(dialog, "response", G_CALLBACK(+[](GtkDialog* self, int response, gpointer data) {
                     if (response == kOpenSettings) {
                       openCaptureSettings(static_cast<platform::CaptureDevice>(GPOINTER_TO_INT(data)));
                     }
                     gtk_window_destroy(GTK_WINDOW(self));
                   }),
                   GINT_TO_POINTER(static_cast<int>(device)));
  gtk_window_present(GTK_WINDOW(dialog));
}

}  // namespace

void GtkMediaPermissionAlerts::showMicrophoneAccessAlert() {
  showAccessAlert("Microphone Access Needed", "This app needs access to your microphone.",
                  "Please enable microphone access in System Settings.", platform::CaptureDevice::microphone);
}

void GtkMediaPermissionAlerts::showCameraAccessAlert() {
  showAccessAlert("Camera Access Needed", "This app needs access to your camera.",
                  "Please enable camera access in System Settings.", platform::CaptureDevice::camera);
}

}  // namespace orvik

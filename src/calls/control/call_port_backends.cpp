#include "calls/control/call_port_backends.h"

#include <filesystem>
#include <system_error>

#include <gtk/gtk.h>

#include "calls/media/call_audio_manager.h"
#include "platform/audio/audio_hardware.h"
#include "platform/dispatch/task_queue.h"

namespace orvik {

bool DeviceCallCapture::hasMicrophone() {
  const auto device = hardware_().defaultInputDevice();
  return device && *device != platform::kNoAudioDevice;
}

bool DeviceCallCapture::hasCamera() {
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator("/dev", error)) {
    if (entry.path().filename().string().starts_with("video")) return true;
  }
  return false;
}

void DeviceCallCapture::startCapture(bool, CaptureCompletion completion) {
  platform::mainQueue().post([completion = std::move(completion)] { completion(std::nullopt); });
}

void CallAudioTones::startTone(Tone tone) {
  switch (tone) {
    case Tone::incomingRingtone: audio_().startTone(CallAudioManager::Tone::incomingRingtone); return;
    case Tone::ringback: audio_().startTone(CallAudioManager::Tone::ringback); return;
    case Tone::connecting: audio_().startTone(CallAudioManager::Tone::connecting); return;
  }
}

void CallAudioTones::stopTone() { audio_().stopTone(); }

void CallAudioTones::playEndTone() { audio_().playEndTone(); }

void GtkCallAlerts::showCallAlert(const std::string& title, const std::string& message) {
  if (!gtk_is_initialized()) return;
  GtkWindow* parent = nullptr;
  if (GApplication* application = g_application_get_default(); application && GTK_IS_APPLICATION(application)) {
    parent = gtk_application_get_active_window(GTK_APPLICATION(application));
  }
  GtkWidget* dialog = gtk_message_dialog_new(parent, GTK_DIALOG_DESTROY_WITH_PARENT, GTK_MESSAGE_WARNING,
                                             GTK_BUTTONS_OK, "%s", title.c_str());
  gtk_message_dialog_format_secondary_text(GTK_MESSAGE_DIALOG(dialog), "%s", message.c_str());
  g_signal_connect(dialog, "response", G_CALLBACK(+[](GtkDialog* self, int, gpointer) {
                     gtk_window_destroy(GTK_WINDOW(self));
                   }),
                   nullptr);
  gtk_window_present(GTK_WINDOW(dialog));
}

}  // namespace orvik

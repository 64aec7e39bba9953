// The media-permission alerts as GTK message dialogs over the active window
// (warning, "Open Settings" and "Cancel"). They return at once and close
// themselves when answered; "Open Settings" opens the desktop's privacy
// panel for the device.
//
// THREAD-SAFETY: main queue only.
#pragma once

#include "app/media_permission_manager.h"

namespace orvik {

class GtkMediaPermissionAlerts final : public MediaPermissionAlerts {
 public:
  void showMicrophoneAccessAlert() override;
  void showCameraAccessAlert() override;
};

}  // namespace orvik

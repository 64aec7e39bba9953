// What the video call screen's controls do, as the window's controller binds
// them (NativeVideoCallWindow): the seven call controls, the window's own
// ordering for the output picker, and the call manager's operations the
// screen reaches directly (the share flow and the limit banner's Extend).
#pragma once

#include <functional>

#include "calls/media/screen_source.h"

namespace orvik {

struct VideoCallActions {
  std::function<void()> onAccept;
  std::function<void()> onReject;
  std::function<void()> onMuteToggle;
  std::function<void()> onCameraToggle;
  std::function<void()> onSpeakerToggle;  // no control of the screen invokes it
  std::function<void()> onScreenShareToggle;
  std::function<void()> onEndCall;
  // The output-device picker: after its dialog closed, and while it is open.
  std::function<void()> orderFront;
  std::function<void(bool)> setElevated;
  std::function<void(bool)> setFloatingPanelSuppressed;
  // The picker's Share, the primer's Continue, the banner's Extend.
  std::function<void(const ShareTarget&)> startScreenShare;
  std::function<void(bool afterPrimer)> requestScreenShareOptions;
  std::function<void()> extendCall;
};

}  // namespace orvik

// What the audio call screen's controls do, handed to AudioCallView by the
// audio call window. The screen calls each once per click and decides
// nothing; the window binds them to call-manager operations.
//
// THREAD-SAFETY: called on the main queue.
#pragma once

#include <functional>

namespace orvik {

struct AudioCallActions {
  std::function<void()> onAccept;
  std::function<void()> onReject;
  std::function<void()> onMuteToggle;
  std::function<void()> onSpeakerToggle;        // no control of the screen invokes it
  std::function<void()> onEndCall;
  std::function<void()> onRequestVideoUpgrade;  // no control of the screen invokes it
  std::function<void()> onAcceptVideoUpgrade;
  std::function<void()> onDeclineVideoUpgrade;
  std::function<void()> onCancelVideoUpgrade;   // no control of the screen invokes it
  // The call-limit banner.
  std::function<void()> onExtendCall;
  std::function<void()> onCloseLimitBanner;
  // The output-device picker: after its dialog closed, and while it is open.
  std::function<void()> onOutputPickerDismissed;
  std::function<void(bool)> onOutputPickerElevate;
  std::function<void(bool)> setFloatingPanelSuppressed;
};

}  // namespace orvik

// The pre-call window's shared state: PreCallControlState (the status line
// and the microphone, camera and speaker toggles) and CaptureSessionBox (the
// camera session the window previews). NativePreCallWindow writes both; the
// window only reads them and hears of each change. Beside them, the small
// text rules of the window: which statuses end a call, the grouped number and
// the status line with its animated dots.
//
//   state.reset("Calling...");
//   state.setStatus("Busy");            // observers run once
//   preCallStatusText("Calling...", 2)  // "Calling.."
//
// THREAD-SAFETY: main queue only; the text rules are pure.
#pragma once

#include <string>
#include <string_view>

#include "calls/control/call_ports.h"
#include "platform/observer_list.h"

namespace orvik {

class PreCallControlState {
 public:
  using Observers = platform::ObserverList<>;

  const std::string& status() const { return status_; }
  bool isMuted() const { return isMuted_; }
  bool isVideoOn() const { return isVideoOn_; }
  bool isSpeakerOn() const { return isSpeakerOn_; }
  // "Busy", "User Busy", "End Call", "Call Ended", "Connection failed" or
  // "Failed", exactly.
  bool isEndingStatus() const;

  void setStatus(std::string status);
  void setMuted(bool muted);
  void setVideoOn(bool on);
  void setSpeakerOn(bool on);
  // Status `callingText`, not muted, video and speaker on.
  void reset(std::string callingText);

  // Observers hear of each change once; a write of the same value is none.
  [[nodiscard]] platform::Subscription addObserver(Observers::Observer observer) {
    return observers_.add(std::move(observer));
  }

 private:
  template <typename T>
  void assign(T& field, T value);

  std::string status_ = "Calling...";
  bool isMuted_ = false;
  bool isVideoOn_ = true;
  bool isSpeakerOn_ = true;
  Observers observers_;
};

// The camera session a pre-call window shows; empty while the camera is off,
// starting or unavailable. One box per window.
class CaptureSessionBox {
 public:
  using Observers = platform::ObserverList<>;

  const CameraSessionHandle& session() const { return session_; }
  void setSession(CameraSessionHandle session);
  // Empties the box; the session it held.
  CameraSessionHandle take();

  [[nodiscard]] platform::Subscription addObserver(Observers::Observer observer) {
    return observers_.add(std::move(observer));
  }

 private:
  CameraSessionHandle session_;
  Observers observers_;
};

bool isPreCallEndingStatus(std::string_view status);

// The user number in groups of three digits from the left ("155 512 345 67"
// for "+1 (555) 123-4567"); with fewer than 3 digits the number unchanged.
std::string preCallFormattedNumber(std::string_view userNumber);

// The status line: a ringing status ending in "..." shows `dotCount` dots in
// place of its three; an ending status and every other text are unchanged.
std::string preCallStatusText(std::string_view status, int dotCount);

// The next dot count: 1, 2, 3, 1, ...
constexpr int advanceDots(int dotCount) { return dotCount % 3 + 1; }

}  // namespace orvik

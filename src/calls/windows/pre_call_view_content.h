// What the pre-call window draws, decided without a display: the texts, which
// layout parts show, the button table, the animated dots of a ringing status
// and the pulsing rings around the avatar of a video call with its camera
// off. PreCallWindowGtk renders it.
//
//   PreCallDotCounter dots(queue, [&] { redraw(); });   // 1, 2, 3, 1, ... every 0.55 s
//   auto content = presentPreCall(windowSpec, state, box.session() != nullptr, dots.count(), strings);
//
// THREAD-SAFETY: main queue only; presentPreCall and pulsingRingAt are pure.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace orvik {

class CallStrings;
class PreCallControlState;
struct PreCallWindowSpec;
namespace platform {
class RepeatingTimer;
class TaskQueue;
}  // namespace platform

enum class PreCallButton { microphone, camera, speaker, endCall };

struct PreCallButtonLook {
  PreCallButton button = PreCallButton::microphone;
  std::string symbol;
  // Drawn white with dark ink; the end-call button never is.
  bool active = false;
  int diameter = 0;
  bool operator==(const PreCallButtonLook&) const = default;
};

struct PreCallViewContent {
  std::string shownName;      // the name before its first "_"
  std::string avatarInitial;  // upper-cased first character of shownName; empty for an empty name
  // "OrvikID: 155 512 345 67"; none for an empty number.
  std::optional<std::string> orvikIdLine;
  std::string statusText;
  bool statusIsEnding = false;
  // Video: the camera fills the window (camera on and its session running);
  // otherwise the camera-off centre with the rings and the "Camera off" badge.
  bool showsCamera = false;
  bool showsCameraOffCentre = false;
  // Video with the camera switched on, running or not yet.
  bool showsCalleeChip = false;
  // Microphone, camera (video only), speaker, end call.
  std::vector<PreCallButtonLook> buttons;
};

PreCallViewContent presentPreCall(const PreCallWindowSpec& windowSpec, const PreCallControlState& state, bool hasSession,
                                  int dotCount, const CallStrings& strings);

// The dot counter of the status line: starts at 1 and advances every 0.55 s
// while it exists, whatever the status.
class PreCallDotCounter {
 public:
  static constexpr double kInterval = 0.55;

  PreCallDotCounter(platform::TaskQueue& queue, std::function<void()> onTick);
  ~PreCallDotCounter();
  PreCallDotCounter(const PreCallDotCounter&) = delete;
  PreCallDotCounter& operator=(const PreCallDotCounter&) = delete;

  int count() const { return count_; }

 private:
  int count_ = 1;
  std::function<void()> onTick_;
  std::unique_ptr<platform::RepeatingTimer> timer_;
};

// One ring of the pulsing rings around a 110-point avatar: three purple
// rings of 150, 190 and 230 points that grow to 1.35 times their size and
// fade out over 2.2 s (easing out), one after another (0, 0.6 and 1.2 s
// late), and start again.
struct PulsingRingLook {
  double diameter = 0;
  double scale = 1;
  double opacity = 0;
};
inline constexpr int kPulsingRingCount = 3;
inline constexpr double kPulsingRingPeriod = 2.2;
inline constexpr double kPulsingRingScale = 1.35;
// `elapsed`: seconds since the rings were shown.
PulsingRingLook pulsingRingAt(int ring, double elapsed, double baseSize = 110);

}  // namespace orvik

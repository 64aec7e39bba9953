#include "calls/windows/pre_call_view_content.h"

#include <cmath>

#include "calls/control/call_strings.h"
#include "calls/screens/call_display_name.h"
#include "calls/windows/native_pre_call_window.h"
#include "calls/windows/pre_call_control_state.h"
#include "platform/dispatch/repeating_timer.h"

namespace orvik {

namespace {

constexpr int kMicrophoneDiameter[] = {56, 48};  // large (audio), compact (video)
constexpr int kSpeakerDiameter[] = {56, 48};
constexpr int kEndCallDiameter[] = {66, 62};
constexpr int kCameraDiameter = 48;
constexpr double kRingDelays[kPulsingRingCount] = {0.0, 0.6, 1.2};
constexpr double kRingOpacities[kPulsingRingCount] = {0.35, 0.2, 0.1};

// The ease-out timing curve, the cubic Bézier (0, 0) (0.58, 1): the share of
// the change reached at `t` (0 to 1) of the time.
double easeOut(double t) {
  if (t <= 0) return 0;
  if (t >= 1) return 1;
  constexpr double x1 = 0.0, y1 = 0.0, x2 = 0.58, y2 = 1.0;
  auto bezier = [](double a, double b, double s) {
    return 3 * a * s * (1 - s) * (1 - s) + 3 * b * s * s * (1 - s) + s * s * s;
  };
  // x(s) = t by bisection: x grows with s on this curve.
  double low = 0, high = 1, s = t;
  for (int i = 0; i < 40; ++i) {
    s = (low + high) / 2;
    if (bezier(x1, x2, s) < t) {
      low = s;
    } else {
      high = s;
    }
  }
  return bezier(y1, y2, s);
}

}  // namespace

PreCallViewContent presentPreCall(const PreCallWindowSpec& windowSpec, const PreCallControlState& state, bool hasSession,
                                  int dotCount, const CallStrings& strings) {
  PreCallViewContent content;
  content.shownName = callDisplayName(windowSpec.calleeName);
  content.avatarInitial = content.shownName.empty() ? std::string() : avatarInitial(windowSpec.calleeName);
  const std::string number = preCallFormattedNumber(windowSpec.userNumber);
  if (!number.empty()) {
    content.orvikIdLine = strings.string(CallStrings::kOrvikIdLabel, CallStrings::kOrvikIdLabelDefault) + " " + number;
  }
  content.statusText = preCallStatusText(state.status(), dotCount);
  content.statusIsEnding = state.isEndingStatus();
  if (!windowSpec.isAudio) {
    content.showsCamera = hasSession && state.isVideoOn();
    content.showsCameraOffCentre = !content.showsCamera;
    content.showsCalleeChip = state.isVideoOn();
  }
  const int size = windowSpec.isAudio ? 0 : 1;
  content.buttons.push_back({PreCallButton::microphone, state.isMuted() ? "mic.slash.fill" : "mic.fill",
                             state.isMuted(), kMicrophoneDiameter[size]});
  if (!windowSpec.isAudio) {
    content.buttons.push_back({PreCallButton::camera, state.isVideoOn() ? "video.fill" : "video.slash.fill",
                               !state.isVideoOn(), kCameraDiameter});
  }
  content.buttons.push_back({PreCallButton::speaker, state.isSpeakerOn() ? "speaker.wave.2.fill" : "speaker.slash.fill",
                             !state.isSpeakerOn(), kSpeakerDiameter[size]});
  content.buttons.push_back({PreCallButton::endCall, "phone.down.fill", false, kEndCallDiameter[size]});
  return content;
}

// ---------------------------------------------------------------- dots

PreCallDotCounter::PreCallDotCounter(platform::TaskQueue& queue, std::function<void()> onTick)
    : onTick_(std::move(onTick)) {
  timer_ = std::make_unique<platform::RepeatingTimer>(queue, kInterval, [this] {
    count_ = advanceDots(count_);
    if (onTick_) onTick_();
  });
  timer_->start();
}

PreCallDotCounter::~PreCallDotCounter() { timer_->stop(); }

// ---------------------------------------------------------------- rings

PulsingRingLook pulsingRingAt(int ring, double elapsed, double baseSize) {
  PulsingRingLook look;
  if (ring < 0 || ring >= kPulsingRingCount) return look;
  look.diameter = baseSize + 40 + 40 * ring;
  const double t = elapsed - kRingDelays[ring];
  if (t < 0) {
    look.opacity = kRingOpacities[ring];
    return look;
  }
  // Each round starts again from rest: the ring jumps back and grows anew.
  const double progress = easeOut(std::fmod(t, kPulsingRingPeriod) / kPulsingRingPeriod);
  look.scale = 1 + (kPulsingRingScale - 1) * progress;
  look.opacity = kRingOpacities[ring] * (1 - progress);
  return look;
}

}  // namespace orvik

// What the pre-call window draws, as tables: texts, layout parts and the
// button table for each state; the dots on virtual time; the rings' curve.
#include "calls/windows/pre_call_view_content.h"

#include <gtest/gtest.h>

#include "calls/control/call_strings.h"
#include "calls/windows/native_pre_call_window.h"
#include "calls/windows/pre_call_control_state.h"
#include "platform/dispatch/virtual_queue.h"

namespace orvik {
namespace {

PreCallWindowSpec windowSpec(const std::string& name, const std::string& number, bool isAudio) {
  PreCallWindowSpec s;
  s.calleeName = name;
  s.userNumber = number;
  s.isAudio = isAudio;
  return s;
}

TEST(PreCallViewContent, NamesInitialsAndTheOrvikIdLine) {
  CallStrings strings{[](const std::string&) {}};
  PreCallControlState state;
  struct Case {
    const char* name;
    const char* number;
    const char* shownName;
    const char* initial;
    std::optional<std::string> idLine;
  };
  const Case cases[] = {
      {"alice_1234", "+1 (555) 123-4567", "alice", "A", "OrvikID: 155 512 345 67"},
      {"bob", "123456789", "bob", "B", "OrvikID: 123 456 789"},
      {"carol", "12", "carol", "C", "OrvikID: 12"},
      {"dave", "ab", "dave", "D", "OrvikID: ab"},
      {"erin", "", "erin", "E", std::nullopt},
      {"", "", "", "", std::nullopt},
      {"_x", "1", "", "", "OrvikID: 1"},
  };
  for (const auto& c : cases) {
    const auto content = presentPreCall(windowSpec(c.name, c.number, true), state, false, 1, strings);
    EXPECT_EQ(content.shownName, c.shownName) << c.name;
    EXPECT_EQ(content.avatarInitial, c.initial) << c.name;
    EXPECT_EQ(content.orvikIdLine, c.idLine) << c.name;
  }
  strings.setCallStrings(R"(setCallStrings:{"orvikidLabel":"ID:"})");
  EXPECT_EQ(presentPreCall(windowSpec("a", "123", true), state, false, 1, strings).orvikIdLine, "ID: 123");
}

TEST(PreCallViewContent, TheStatusLineAndItsEndingColour) {
  CallStrings strings{[](const std::string&) {}};
  PreCallControlState state;
  state.setStatus("Calling...");
  auto content = presentPreCall(windowSpec("a", "", true), state, false, 2, strings);
  EXPECT_EQ(content.statusText, "Calling..");
  EXPECT_FALSE(content.statusIsEnding);
  state.setStatus("Failed");
  content = presentPreCall(windowSpec("a", "", true), state, false, 2, strings);
  EXPECT_EQ(content.statusText, "Failed");
  EXPECT_TRUE(content.statusIsEnding);
}

TEST(PreCallViewContent, LayoutPartsAndButtonsForEachState) {
  CallStrings strings{[](const std::string&) {}};
  using B = PreCallButton;
  struct Case {
    const char* what;
    bool isAudio;
    bool muted, videoOn, speakerOn, hasSession;
    bool camera, centre, chip;
    std::vector<PreCallButtonLook> buttons;
  };
  const Case cases[] = {
      {"audio call", true, false, true, true, true, false, false, false,
       {{B::microphone, "mic.fill", false, 56}, {B::speaker, "speaker.wave.2.fill", false, 56},
        {B::endCall, "phone.down.fill", false, 66}}},
      {"audio call, muted and speaker off", true, true, true, false, false, false, false, false,
       {{B::microphone, "mic.slash.fill", true, 56}, {B::speaker, "speaker.slash.fill", true, 56},
        {B::endCall, "phone.down.fill", false, 66}}},
      {"video with its camera running", false, false, true, true, true, true, false, true,
       {{B::microphone, "mic.fill", false, 48}, {B::camera, "video.fill", false, 48},
        {B::speaker, "speaker.wave.2.fill", false, 48}, {B::endCall, "phone.down.fill", false, 62}}},
      {"video, camera on but not running yet", false, false, true, true, false, false, true, true,
       {{B::microphone, "mic.fill", false, 48}, {B::camera, "video.fill", false, 48},
        {B::speaker, "speaker.wave.2.fill", false, 48}, {B::endCall, "phone.down.fill", false, 62}}},
      {"video with the camera switched off", false, true, false, true, true, false, true, false,
       {{B::microphone, "mic.slash.fill", true, 48}, {B::camera, "video.slash.fill", true, 48},
        {B::speaker, "speaker.wave.2.fill", false, 48}, {B::endCall, "phone.down.fill", false, 62}}},
  };
  for (const auto& c : cases) {
    PreCallControlState state;
    state.setMuted(c.muted);
    state.setVideoOn(c.videoOn);
    state.setSpeakerOn(c.speakerOn);
    const auto content = presentPreCall(windowSpec("a", "1", c.isAudio), state, c.hasSession, 1, strings);
    EXPECT_EQ(content.showsCamera, c.camera) << c.what;
    EXPECT_EQ(content.showsCameraOffCentre, c.centre) << c.what;
    EXPECT_EQ(content.showsCalleeChip, c.chip) << c.what;
    EXPECT_EQ(content.buttons, c.buttons) << c.what;
  }
}

TEST(PreCallControlStateTest, ObserversHearOfRealChangesOnly) {
  PreCallControlState state;
  int changes = 0;
  auto subscription = state.addObserver([&] { ++changes; });
  state.setMuted(false);
  state.setStatus("Calling...");
  state.reset("Calling...");
  EXPECT_EQ(changes, 0);
  state.setMuted(true);
  state.setVideoOn(false);
  state.reset("Calling...");
  EXPECT_EQ(changes, 3);
  EXPECT_FALSE(state.isMuted());
  EXPECT_TRUE(state.isVideoOn());
}

TEST(PreCallDotCounterTest, TheDotsCycleEveryFiftyFiveHundredthsOfASecond) {
  platform::VirtualQueue queue;
  int ticks = 0;
  PreCallDotCounter dots(queue, [&] { ++ticks; });
  EXPECT_EQ(dots.count(), 1);
  std::vector<int> seen;
  for (int i = 0; i < 4; ++i) {
    queue.advance(0.54);
    EXPECT_EQ(dots.count(), seen.empty() ? 1 : seen.back()) << "no tick before 0.55 s";
    queue.advance(0.01);
    seen.push_back(dots.count());
  }
  EXPECT_EQ(seen, (std::vector<int>{2, 3, 1, 2}));
  EXPECT_EQ(ticks, 4);
}

TEST(PulsingRingsTest, RingsGrowAndFadeOneAfterAnother) {
  // At rest before their delay, with their resting opacities.
  const double resting[] = {0.35, 0.2, 0.1};
  for (int ring = 0; ring < kPulsingRingCount; ++ring) {
    const auto look = pulsingRingAt(ring, 0.0);
    EXPECT_DOUBLE_EQ(look.diameter, 150 + 40 * ring);
    EXPECT_DOUBLE_EQ(look.scale, 1.0);
    EXPECT_DOUBLE_EQ(look.opacity, resting[ring]);
  }
  EXPECT_DOUBLE_EQ(pulsingRingAt(1, 0.59).opacity, 0.2);
  EXPECT_DOUBLE_EQ(pulsingRingAt(2, 1.19).scale, 1.0);

  // Ease-out: past halfway at half the time, nearly there just before the end.
  const auto half = pulsingRingAt(0, 1.1);
  EXPECT_GT(half.scale, 1.0 + 0.35 * 0.5);
  EXPECT_LT(half.opacity, 0.35 * 0.5);
  const auto late = pulsingRingAt(0, 2.19);
  EXPECT_NEAR(late.scale, 1.35, 0.01);
  EXPECT_NEAR(late.opacity, 0.0, 0.01);
  // Each round starts from rest again; ring 1 runs 0.6 s behind ring 0.
  EXPECT_NEAR(pulsingRingAt(0, 2.2).scale, 1.0, 1e-9);
  EXPECT_NEAR(pulsingRingAt(1, 1.7).scale, pulsingRingAt(0, 1.1).scale, 1e-9);
  EXPECT_NEAR(pulsingRingAt(1, 1.7).opacity / 0.2, pulsingRingAt(0, 1.1).opacity / 0.35, 1e-9);
  // Scale only grows within a round.
  double last = 1.0;
  for (double t = 0.0; t < 2.2; t += 0.1) {
    const double scale = pulsingRingAt(0, t).scale;
    EXPECT_GE(scale, last - 1e-12) << t;
    last = scale;
  }
}

}  // namespace
}  // namespace orvik

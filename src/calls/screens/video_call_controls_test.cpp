// The video call screen's decisions as tables: the controls bar's buttons in
// each call state, the round button's look in each of its states, the status
// pill's dot and text, the callee chip's ID line, and the automatic hiding of
// the controls on virtual time.
#include "calls/screens/video_call_controls.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "calls/control/call_strings.h"
#include "calls/screens/video_call_view_model.h"
#include "calls/screens/video_controls_autohide.h"
#include "platform/dispatch/virtual_queue.h"

namespace orvik {
namespace {

std::vector<std::string> icons(const std::vector<VideoControlButton>& buttons) {
  std::vector<std::string> names;
  for (const auto& b : buttons) names.push_back(b.icon + (b.isActive ? "*" : "") + (b.isDanger ? "!" : ""));
  return names;
}

TEST(VideoControlsBar, ButtonsFollowTheCallState) {
  struct Row {
    const char* state;
    bool connected, muted, cameraOff, sharing;
    std::vector<std::string> expected;
  };
  const std::vector<Row> rows = {
      {"calling", false, false, false, false,
       {"microphone.fill", "video.fill", "speaker.wave.3.fill", "phone.down.fill!"}},
      {"calling, muted, camera off", false, true, true, false,
       {"microphone.slash.fill*", "video.slash.fill*", "speaker.wave.3.fill", "phone.down.fill!"}},
      {"connected", true, false, false, false,
       {"microphone.fill", "video.fill", "speaker.wave.3.fill", "rectangle.on.rectangle", "phone.down.fill!"}},
      {"connected and sharing", true, false, false, true,
       {"microphone.fill", "video.fill", "speaker.wave.3.fill", "rectangle.on.rectangle*", "phone.down.fill!"}},
      // A share flag without a connection shows no share button at all.
      {"sharing flag before connecting", false, false, false, true,
       {"microphone.fill", "video.fill", "speaker.wave.3.fill", "phone.down.fill!"}},
  };
  for (const Row& row : rows) {
    VideoCallFields f;
    f.isConnected = row.connected;
    f.isMuted = row.muted;
    f.isCameraOff = row.cameraOff;
    f.isScreenSharing = row.sharing;
    EXPECT_EQ(icons(videoControlsBarButtons(f)), row.expected) << row.state;
  }
  const auto incoming = incomingVideoControlsBarButtons();
  ASSERT_EQ(incoming.size(), 2u);
  EXPECT_EQ(incoming[0].control, VideoControl::reject);
  EXPECT_EQ(incoming[0].dangerColor, callcolors::danger);
  EXPECT_EQ(incoming[1].control, VideoControl::accept);
  EXPECT_EQ(incoming[1].icon, "phone.fill");
  EXPECT_EQ(incoming[1].dangerColor, callcolors::acceptGreen);
  EXPECT_TRUE(incoming[1].isDanger) << "both incoming buttons are filled with their colour";
}

TEST(VideoBtn, LookOfEachStateFirstMatchWins) {
  const Rgba ink = callcolors::ink;
  const Rgba red = callcolors::danger;
  struct Row {
    const char* state;
    VideoBtnState in;
    Rgba fill, shadow;
    double radius;
    Rgba icon;
  };
  const std::vector<Row> rows = {
      {"danger beats active and hover", {true, true, true, true, red}, red, red.withAlpha(0.4), 8, Rgba::white()},
      {"danger in light mode keeps a white icon", {false, true, false, false, red}, red, red.withAlpha(0.4), 8,
       Rgba::white()},
      {"active beats hover", {true, false, true, true, red}, Rgba::white(0.92), Rgba::white(0.25), 6, ink},
      {"hovered dark", {false, false, true, true, red}, Rgba::white(0.26), Rgba::black(0), 6, Rgba::white()},
      {"hovered light", {false, false, false, true, red}, ink.withAlpha(0.16), Rgba::black(0), 6, ink},
      {"idle dark", {false, false, true, false, red}, Rgba::white(0.18), Rgba::black(0), 6, Rgba::white()},
      {"idle light", {false, false, false, false, red}, ink.withAlpha(0.10), Rgba::black(0), 6, ink},
  };
  for (const Row& row : rows) {
    const VideoBtnLook look = videoBtnLook(row.in, kVideoControlsBarButtonSize);
    EXPECT_EQ(look.fill, row.fill) << row.state;
    EXPECT_EQ(look.shadow, row.shadow) << row.state;
    EXPECT_EQ(look.shadowRadius, row.radius) << row.state;
    EXPECT_EQ(look.icon, row.icon) << row.state;
  }
  EXPECT_DOUBLE_EQ(videoBtnLook({}, 54).iconSize, 18.9);
  EXPECT_DOUBLE_EQ(videoBtnLook({}, 64).iconSize, 22.4);
}

TEST(VideoTimerPill, DotUnlessTheTextStartsWithANumberAndAnEmptyTextReadsCalling) {
  struct Row {
    std::string text;
    bool dot;
  };
  for (const Row& row : std::vector<Row>{{"", true},
                                         {"Calling...", true},
                                         {"00:42", false},
                                         {"1:02:03", false},
                                         {"\u0663:\u0660\u0665", false},  // Arabic-Indic digits
                                         {"\u2164 min", false},           // a Roman numeral (letter number)
                                         {" 00:42", true},
                                         {"Reconnecting...", true}}) {
    EXPECT_EQ(videoTimerPillShowsDot(row.text), row.dot) << row.text;
  }
  CallStrings strings{[](const std::string&) {}};
  EXPECT_EQ(videoTimerPillText("", strings), "Calling...");
  EXPECT_EQ(videoTimerPillText("00:01", strings), "00:01");
  strings.setCallStrings(R"(setCallStrings:{"calling":"Anruf..."})");
  EXPECT_EQ(videoTimerPillText("", strings), "Anruf...");
}

TEST(VideoCalleeChip, IdLineWithTheLabelAndTheFormattedNumberOrNone) {
  CallStrings strings{[](const std::string&) {}};
  EXPECT_EQ(videoCalleeChipIdLine("", strings), std::nullopt);
  EXPECT_EQ(videoCalleeChipIdLine("15551234567", strings), "OrvikID: 155 512 345 67");
  strings.setCallStrings(R"(setCallStrings:{"orvikidLabel":"ID:"})");
  EXPECT_EQ(videoCalleeChipIdLine("15551234567", strings), "ID: 155 512 345 67");
}

class VideoControlsAutoHideTest : public ::testing::Test {
 protected:
  platform::VirtualQueue queue;
  platform::ScopedMainQueue main{queue};
  std::vector<bool> changes;
  VideoControlsAutoHide hide{queue, [this](bool shown) { changes.push_back(shown); }};
};

TEST_F(VideoControlsAutoHideTest, StepsOnVirtualTime) {
  enum class Op { shown, enter, leave, click, wait };
  struct Step {
    Op op;
    double seconds;
    bool shownAfter;
  };
  struct Scenario {
    const char* name;
    std::vector<Step> steps;
  };
  const std::vector<Scenario> scenarios = {
      {"hides 15 s after the view is shown",
       {{Op::shown, 0, true}, {Op::wait, 14.9, true}, {Op::wait, 0.2, false}}},
      {"hides 5 s after the pointer leaves",
       {{Op::shown, 0, true}, {Op::wait, 3, true}, {Op::leave, 0, true}, {Op::wait, 4.9, true},
        {Op::wait, 0.2, false}}},
      {"leaving and coming back within 5 s moves the hide to 15 s after the return",
       {{Op::shown, 0, true}, {Op::leave, 0, true}, {Op::wait, 4, true}, {Op::enter, 0, true},
        {Op::wait, 14.9, true}, {Op::wait, 0.2, false}}},
      {"the pointer coming in brings hidden controls back",
       {{Op::shown, 0, true}, {Op::wait, 16, false}, {Op::enter, 0, true}, {Op::wait, 14.9, true},
        {Op::wait, 0.2, false}}},
      {"a click hides at once and leaves the pending hide harmless",
       {{Op::shown, 0, true}, {Op::click, 0, false}, {Op::wait, 16, false}}},
      {"a click on hidden controls shows them for 15 s",
       {{Op::shown, 0, true}, {Op::wait, 16, false}, {Op::click, 0, true}, {Op::wait, 14.9, true},
        {Op::wait, 0.2, false}}},
      {"click off, click on within the first hide's time: the new 15 s count",
       {{Op::shown, 0, true}, {Op::wait, 10, true}, {Op::click, 0, false}, {Op::click, 0, true},
        {Op::wait, 6, true}, {Op::wait, 9.1, false}}},
  };
  for (const Scenario& scenario : scenarios) {
    VideoControlsAutoHide h(queue, {});
    for (const Step& step : scenario.steps) {
      switch (step.op) {
        case Op::shown: h.viewShown(); break;
        case Op::enter: h.pointerEntered(); break;
        case Op::leave: h.pointerLeft(); break;
        case Op::click: h.clicked(); break;
        case Op::wait: queue.advance(step.seconds); break;
      }
      EXPECT_EQ(h.controlsShown(), step.shownAfter) << scenario.name;
    }
  }
}

TEST_F(VideoControlsAutoHideTest, ReportsEachChangeOnceAndNeverRunsAHideTwice) {
  hide.viewShown();
  hide.pointerLeft();
  hide.pointerEntered();
  hide.pointerLeft();
  queue.advance(60);
  EXPECT_EQ(changes, (std::vector<bool>{false}));
  EXPECT_FALSE(hide.hidePending());
  hide.clicked();
  EXPECT_TRUE(hide.hidePending());
  EXPECT_EQ(changes, (std::vector<bool>{false, true}));
}

TEST_F(VideoControlsAutoHideTest, AHideDueAfterTheControllerWentDoesNothing) {
  {
    VideoControlsAutoHide gone(queue, [this](bool shown) { changes.push_back(shown); });
    gone.viewShown();
  }
  queue.advance(20);
  EXPECT_TRUE(changes.empty());
}

}  // namespace
}  // namespace orvik

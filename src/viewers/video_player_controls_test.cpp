#include "viewers/video_player_controls.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "platform/dispatch/virtual_queue.h"
#include "viewers/video_playback.h"

namespace orvik {
namespace {

constexpr double kUnknown = std::numeric_limits<double>::quiet_NaN();

class FakeVideoPlayback final : public VideoPlayback {
 public:
  void play() override { paused = false; }
  void pause() override { paused = true; }
  bool isPaused() const override { return paused; }
  double currentTime() const override { return time; }
  double duration() const override { return length; }
  void seekExact(double seconds) override {
    seeks.push_back(seconds);
    time = seconds;
  }
  float volume() const override { return level; }
  void setVolume(float v) override { level = v; }
  bool isMuted() const override { return muted; }
  void setMuted(bool m) override { muted = m; }
  GdkPaintable* paintable() const override { return nullptr; }

  bool paused = true;
  double time = 0;
  double length = kUnknown;
  float level = 1.0f;
  bool muted = false;
  std::vector<double> seeks;
};

class RecordingSurface final : public ControlsSurface {
 public:
  void setPlayPauseSymbol(const std::string& s) override { playPause = s; }
  void setVolumeSymbol(const std::string& s) override { volumeIcon = s; }
  void setVolumeSlider(double v) override { volumeSlider = v; }
  void setScrubber(double f) override { scrubber = f; }
  void setCurrentTimeText(const std::string& t) override { current = t; }
  void setDurationText(const std::string& t) override { total = t; }
  void setBarVisible(bool v) override { barShown.push_back(v); }
  bool isPointerOverBar() const override { return pointerOverBar; }
  bool isFullScreen() const override { return fullScreen; }
  void setFullScreen(bool f) override { fullScreen = f; }

  std::string playPause, volumeIcon, current, total;
  double volumeSlider = -1, scrubber = -1;
  std::vector<bool> barShown;
  bool pointerOverBar = false;
  bool fullScreen = false;
};

class VideoPlayerControlsTest : public ::testing::Test {
 protected:
  // Lets the controls learn the duration from one tick of the time observation.
  void knowDuration(double seconds) {
    player_->length = seconds;
    queue_.advance(VideoPlayerControls::kTickInterval);
  }

  platform::VirtualQueue queue_;
  platform::ScopedMainQueue main_{queue_};
  std::shared_ptr<FakeVideoPlayback> player_ = std::make_shared<FakeVideoPlayback>();
  RecordingSurface surface_;
  VideoPlayerControls controls_{queue_, player_, surface_};
};

TEST_F(VideoPlayerControlsTest, PlayAndPauseRestartFromTheBeginningOnlyAtTheEnd) {
  struct Case {
    const char* label;
    bool playing;
    double time;
    double duration;
    bool restarts;
    bool playsAfter;
  };
  const std::vector<Case> cases = {
      {"playing pauses", true, 30, 60, false, false},
      {"paused in the middle plays on", false, 30, 60, false, true},
      {"within the last 0.25 s restarts", false, 59.8, 60, true, true},
      {"exactly 0.25 s before the end restarts", false, 59.75, 60, true, true},
      {"just before the tolerance plays on", false, 59.7, 60, false, true},
      {"an unknown duration is never at the end", false, 500, kUnknown, false, true},
  };
  for (const auto& c : cases) {
    auto player = std::make_shared<FakeVideoPlayback>();
    RecordingSurface surface;
    VideoPlayerControls controls(queue_, player, surface);
    player->length = c.duration;
    player->time = c.time;
    player->paused = !c.playing;
    controls.togglePlayPause();
    EXPECT_EQ(!player->paused, c.playsAfter) << c.label;
    EXPECT_EQ(surface.playPause, c.playsAfter ? "pause.fill" : "play.fill") << c.label;
    EXPECT_EQ(player->seeks, c.restarts ? std::vector<double>{0} : std::vector<double>{}) << c.label;
    if (c.restarts) {
      EXPECT_EQ(surface.scrubber, 0) << c.label;
      EXPECT_EQ(surface.current, "0:00") << c.label;
    }
  }
}

TEST_F(VideoPlayerControlsTest, SkipsStayWithinTheVideo) {
  struct Case {
    double time;
    double duration;
    bool forward;
    double target;
  };
  const std::vector<Case> cases = {
      {30, 60, true, 40}, {55, 60, true, 60}, {5, 60, false, 0}, {30, 60, false, 20},
      {500, kUnknown, true, 510},  // unknown duration: bounded below only
      {3, kUnknown, false, 0},
  };
  for (const auto& c : cases) {
    auto player = std::make_shared<FakeVideoPlayback>();
    RecordingSurface surface;
    VideoPlayerControls controls(queue_, player, surface);
    player->length = c.duration;
    queue_.advance(VideoPlayerControls::kTickInterval);
    player->time = c.time;
    if (c.forward) {
      controls.skipForward();
    } else {
      controls.skipBackward();
    }
    ASSERT_EQ(player->seeks.size(), 1u) << c.time;
    EXPECT_DOUBLE_EQ(player->seeks[0], c.target) << c.time << (c.forward ? " forward" : " back");
  }
}

TEST_F(VideoPlayerControlsTest, MuteRemembersTheVolumeAndTheSliderPicksTheIcon) {
  controls_.volumeChanged(0.5);
  EXPECT_EQ(surface_.volumeIcon, "speaker.wave.1.fill");
  controls_.toggleMute();
  EXPECT_TRUE(player_->muted);
  EXPECT_EQ(surface_.volumeSlider, 0);
  EXPECT_EQ(surface_.volumeIcon, "speaker.slash.fill");
  controls_.toggleMute();
  EXPECT_FALSE(player_->muted);
  EXPECT_FLOAT_EQ(player_->level, 0.5f);
  EXPECT_DOUBLE_EQ(surface_.volumeSlider, 0.5);

  // The slider at 0 mutes; unmuting with nothing better to restore gives 1.
  controls_.volumeChanged(0);
  EXPECT_TRUE(player_->muted);
  EXPECT_EQ(surface_.volumeIcon, "speaker.slash.fill");
  controls_.toggleMute();  // muted already: unmutes to the remembered 0.5
  EXPECT_FLOAT_EQ(player_->level, 0.5f);

  VideoPlayerControls fresh(queue_, player_, surface_);
  player_->level = 0;
  player_->muted = false;
  fresh.toggleMute();  // volume 0 counts as muted: unmutes to 1
  EXPECT_FLOAT_EQ(player_->level, 1.0f);
  EXPECT_EQ(surface_.volumeIcon, "speaker.wave.2.fill");

  const std::vector<std::pair<double, const char*>> icons = {
      {0.2, "speaker.fill"}, {0.34, "speaker.wave.1.fill"}, {0.67, "speaker.wave.2.fill"}};
  for (const auto& [value, icon] : icons) {
    controls_.volumeChanged(value);
    EXPECT_EQ(surface_.volumeIcon, icon) << value;
    EXPECT_FALSE(player_->muted) << value;
  }
}

TEST_F(VideoPlayerControlsTest, TicksShowTheTimeAndTheScrubberFollowsUnlessDragged) {
  EXPECT_EQ(surface_.current, "0:00");
  EXPECT_EQ(surface_.total, "0:00");
  player_->time = 15;
  knowDuration(65.4);
  EXPECT_EQ(surface_.total, "1:05");
  EXPECT_EQ(surface_.current, "0:15");
  EXPECT_NEAR(surface_.scrubber, 15 / 65.4, 1e-9);

  controls_.scrubStart();
  player_->time = 30;
  queue_.advance(VideoPlayerControls::kTickInterval);
  EXPECT_EQ(surface_.current, "0:30");
  EXPECT_NEAR(surface_.scrubber, 15 / 65.4, 1e-9);  // not moved under the finger
  controls_.scrubberChanged(0.5);
  EXPECT_DOUBLE_EQ(player_->seeks.back(), 32.7);
  EXPECT_EQ(surface_.current, "0:33");
  controls_.scrubEnd();

  // A time that is not known leaves the labels as they were.
  player_->time = kUnknown;
  queue_.advance(VideoPlayerControls::kTickInterval);
  EXPECT_EQ(surface_.current, "0:33");
}

TEST_F(VideoPlayerControlsTest, TheScrubberDoesNothingWhileTheDurationIsUnknown) {
  controls_.scrubberChanged(0.5);
  EXPECT_TRUE(player_->seeks.empty());
  EXPECT_EQ(surface_.current, "0:00");
}

TEST_F(VideoPlayerControlsTest, TheBarHidesAfterTwoAndAHalfSecondsUnlessHeld) {
  controls_.startPlayback();
  EXPECT_FALSE(player_->paused);
  queue_.advance(2.4);
  EXPECT_TRUE(controls_.controlsVisible());
  queue_.advance(0.1);
  EXPECT_FALSE(controls_.controlsVisible());
  EXPECT_EQ(surface_.barShown, std::vector<bool>{false});

  // Movement shows it; resting on the bar keeps it, tested again each 2.5 s.
  surface_.pointerOverBar = true;
  controls_.pointerMoved();
  EXPECT_TRUE(controls_.controlsVisible());
  queue_.advance(10);
  EXPECT_TRUE(controls_.controlsVisible());
  surface_.pointerOverBar = false;
  controls_.pointerExited();
  queue_.advance(2.5);
  EXPECT_FALSE(controls_.controlsVisible());

  // Dragging the scrubber holds the bar; releasing it re-arms the timer.
  controls_.pointerEntered();
  controls_.scrubStart();
  queue_.advance(5);
  EXPECT_TRUE(controls_.controlsVisible());
  controls_.scrubEnd();
  queue_.advance(2.5);
  EXPECT_FALSE(controls_.controlsVisible());

  // The end of the video shows the bar, paused, and hides it again.
  player_->paused = true;
  player_->onEnded();
  EXPECT_EQ(surface_.playPause, "play.fill");
  EXPECT_TRUE(controls_.controlsVisible());
  queue_.advance(2.5);
  EXPECT_FALSE(controls_.controlsVisible());
}

TEST_F(VideoPlayerControlsTest, APinchTogglesFullScreenPastAQuarter) {
  struct Case {
    std::vector<double> steps;
    bool fullScreenBefore;
    bool fullScreenAfter;
  };
  const std::vector<Case> cases = {
      {{0.1, 0.2}, false, true},  {{0.2}, false, false},    {{-0.3}, true, false},
      {{-0.2}, true, true},       {{0.3}, true, true},      {{-0.3}, false, false},
  };
  for (const auto& c : cases) {
    surface_.fullScreen = c.fullScreenBefore;
    controls_.pinchBegan();
    for (std::size_t i = 0; i + 1 < c.steps.size(); ++i) controls_.pinchChanged(c.steps[i]);
    controls_.pinchEnded(c.steps.back());
    EXPECT_EQ(surface_.fullScreen, c.fullScreenAfter) << c.steps.back() << " from " << c.fullScreenBefore;
  }
}

TEST_F(VideoPlayerControlsTest, TeardownStopsEverythingThatCouldCallBack) {
  controls_.startPlayback();
  player_->length = 60;
  controls_.teardown();
  EXPECT_TRUE(player_->paused);
  EXPECT_FALSE(player_->onEnded);
  surface_.total = "untouched";
  queue_.advance(10);
  EXPECT_EQ(surface_.total, "untouched");
  EXPECT_TRUE(surface_.barShown.empty());
}

}  // namespace
}  // namespace orvik

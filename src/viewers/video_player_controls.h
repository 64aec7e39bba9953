// What the video player's controls do, apart from how they are drawn: play
// and pause (a play at the end starts again from the beginning), skips of
// 10 s clamped to the video, the scrubber, mute and volume with their icon,
// the elapsed and total time as text, the bar that hides 2.5 s after the
// last mouse activity (never while the scrubber is dragged or the pointer
// rests on the bar), and the pinch that toggles full screen.
//
// The GTK view (GlassVideoPlayerView) forwards its input here and draws what
// the ControlsSurface is told; the tests drive it with a fake player and a
// recording surface on virtual time.
// THREAD-SAFETY: main queue; the tick and hide timers run there and hold the
// controls weakly through their own cancellation.
#pragma once

#include <memory>
#include <string>

#include "platform/dispatch/repeating_timer.h"
#include "platform/dispatch/task_queue.h"

namespace orvik {

class VideoPlayback;

class ControlsSurface {
 public:
  virtual ~ControlsSurface() = default;
  // Design symbol names ("pause.fill", "speaker.wave.1.fill" …).
  virtual void setPlayPauseSymbol(const std::string& symbol) = 0;
  virtual void setVolumeSymbol(const std::string& symbol) = 0;
  virtual void setVolumeSlider(double value) = 0;
  virtual void setScrubber(double fraction) = 0;
  virtual void setCurrentTimeText(const std::string& text) = 0;
  virtual void setDurationText(const std::string& text) = 0;
  // Fades the bar in (0.18 s) or out (0.35 s).
  virtual void setBarVisible(bool visible) = 0;
  virtual bool isPointerOverBar() const = 0;
  virtual bool isFullScreen() const = 0;
  virtual void setFullScreen(bool fullScreen) = 0;
};

class VideoPlayerControls {
 public:
  static constexpr double kHideDelay = 2.5;
  static constexpr double kTickInterval = 0.25;
  static constexpr double kEndTolerance = 0.25;
  static constexpr double kPinchThreshold = 0.25;

  VideoPlayerControls(platform::TaskQueue& queue, std::shared_ptr<VideoPlayback> player, ControlsSurface& surface);
  ~VideoPlayerControls();
  VideoPlayerControls(const VideoPlayerControls&) = delete;
  VideoPlayerControls& operator=(const VideoPlayerControls&) = delete;

  // Plays, shows the pause symbol and arms the hide timer; once, after the
  // window is shown.
  void startPlayback();
  // The play/pause button and any press on the picture.
  void togglePlayPause();
  bool isAtEnd() const;
  void skipBackward();
  void skipForward();
  void toggleMute();
  void volumeChanged(double value);
  void scrubStart();
  void scrubberChanged(double fraction);
  void scrubEnd();
  // One tick of the time observation (every 0.25 s while not torn down).
  void updateTime();
  void playbackEnded();

  void pointerEntered();
  void pointerMoved();
  void pointerExited();
  void showControls();
  void scheduleControlsHide();
  void hideControls();

  void pinchBegan();
  void pinchChanged(double magnification);
  void pinchEnded(double magnification);

  // Stops every timer and observation and pauses the player; nothing calls
  // back afterwards.
  void teardown();

  bool controlsVisible() const { return controlsVisible_; }
  bool isScrubbing() const { return isScrubbing_; }
  double knownDuration() const { return duration_; }
  float lastVolume() const { return lastVolume_; }
  const std::shared_ptr<VideoPlayback>& player() const { return player_; }

 private:
  void armHide();
  void updateVolumeIcon(float volume);

  platform::TaskQueue& queue_;
  std::shared_ptr<VideoPlayback> player_;
  ControlsSurface& surface_;
  platform::RepeatingTimer ticks_;
  std::shared_ptr<platform::WorkItem> hideWork_;
  double duration_ = 0;
  float lastVolume_ = 1.0f;
  bool controlsVisible_ = true;
  bool isScrubbing_ = false;
  double pinchTotal_ = 0;
  bool tornDown_ = false;
};

}  // namespace orvik

#include "viewers/video_player_controls.h"

#include <cmath>
#include <utility>

#include "core/native_logger.h"
#include "platform/queue_checker.h"
#include "viewers/video_playback.h"
#include "viewers/viewer_rules.h"

namespace orvik {
namespace {

constexpr const char* kPauseSymbol = "pause.fill";
constexpr const char* kPlaySymbol = "play.fill";

}  // namespace

VideoPlayerControls::VideoPlayerControls(platform::TaskQueue& queue, std::shared_ptr<VideoPlayback> player,
                                         ControlsSurface& surface)
    : queue_(queue),
      player_(std::move(player)),
      surface_(surface),
      ticks_(queue, kTickInterval, [this] { updateTime(); }) {
  surface_.setCurrentTimeText(viewers::formatTime(0));
  surface_.setDurationText(viewers::formatTime(0));
  surface_.setScrubber(0);
  surface_.setVolumeSlider(1);
  surface_.setPlayPauseSymbol(kPauseSymbol);
  surface_.setVolumeSymbol(std::string(viewers::volumeIconName(1.0f)));
  player_->onEnded = [this] { playbackEnded(); };
  ticks_.start();
}

VideoPlayerControls::~VideoPlayerControls() { teardown(); }

void VideoPlayerControls::startPlayback() {
  ORVIK_ASSERT_ON_QUEUE(queue_);
  if (tornDown_) return;
  player_->play();
  surface_.setPlayPauseSymbol(kPauseSymbol);
  armHide();
}

void VideoPlayerControls::togglePlayPause() {
  ORVIK_ASSERT_ON_QUEUE(queue_);
  if (tornDown_) return;
  if (!player_->isPaused()) {
    player_->pause();
    surface_.setPlayPauseSymbol(kPlaySymbol);
    showControls();
    scheduleControlsHide();
    return;
  }
  if (isAtEnd()) {
    player_->seekExact(0);
    surface_.setScrubber(0);
    surface_.setCurrentTimeText(viewers::formatTime(0));
  }
  player_->play();
  surface_.setPlayPauseSymbol(kPauseSymbol);
  scheduleControlsHide();
}

bool VideoPlayerControls::isAtEnd() const {
  double d = duration_ > 0 ? duration_ : player_->duration();
  if (!std::isfinite(d) || d <= 0) return false;
  const double t = player_->currentTime();
  if (!std::isfinite(t)) return false;
  return d - kEndTolerance <= t;
}

void VideoPlayerControls::skipBackward() {
  ORVIK_ASSERT_ON_QUEUE(queue_);
  const double t = player_->currentTime();
  player_->seekExact(viewers::skipTarget(std::isfinite(t) ? t : 0, -viewers::kSkipSeconds, duration_));
}

void VideoPlayerControls::skipForward() {
  ORVIK_ASSERT_ON_QUEUE(queue_);
  const double t = player_->currentTime();
  player_->seekExact(viewers::skipTarget(std::isfinite(t) ? t : 0, viewers::kSkipSeconds, duration_));
}

void VideoPlayerControls::toggleMute() {
  ORVIK_ASSERT_ON_QUEUE(queue_);
  if (!player_->isMuted() && player_->volume() != 0.0f) {
    lastVolume_ = player_->volume();
    player_->setMuted(true);
    surface_.setVolumeSlider(0);
    updateVolumeIcon(0);
    return;
  }
  player_->setMuted(false);
  const float volume = viewers::restoredVolume(lastVolume_);
  player_->setVolume(volume);
  surface_.setVolumeSlider(volume);
  updateVolumeIcon(volume);
}

void VideoPlayerControls::volumeChanged(double value) {
  ORVIK_ASSERT_ON_QUEUE(queue_);
  const float volume = static_cast<float>(value);
  player_->setVolume(volume);
  player_->setMuted(volume == 0.0f);
  updateVolumeIcon(volume);
}

void VideoPlayerControls::updateVolumeIcon(float volume) {
  surface_.setVolumeSymbol(std::string(viewers::volumeIconName(volume)));
}

void VideoPlayerControls::scrubStart() { isScrubbing_ = true; }

void VideoPlayerControls::scrubberChanged(double fraction) {
  ORVIK_ASSERT_ON_QUEUE(queue_);
  if (duration_ <= 0) return;
  const double t = fraction * duration_;
  surface_.setCurrentTimeText(viewers::formatTime(t));
  player_->seekExact(t);
}

void VideoPlayerControls::scrubEnd() {
  isScrubbing_ = false;
  scheduleControlsHide();
}

void VideoPlayerControls::updateTime() {
  if (tornDown_) return;
  const double d = player_->duration();
  if (std::isfinite(d) && d > 0 && d != duration_) {
    duration_ = d;
    surface_.setDurationText(viewers::formatTime(d));
  }
  const double t = player_->currentTime();
  if (!std::isfinite(t)) return;
  surface_.setCurrentTimeText(viewers::formatTime(t));
  if (!isScrubbing_ && duration_ > 0) surface_.setScrubber(t / duration_);
}

void VideoPlayerControls::playbackEnded() {
  if (tornDown_) return;
  surface_.setPlayPauseSymbol(kPlaySymbol);
  showControls();
  scheduleControlsHide();
}

void VideoPlayerControls::pointerEntered() { pointerMoved(); }

void VideoPlayerControls::pointerMoved() {
  showControls();
  scheduleControlsHide();
}

void VideoPlayerControls::pointerExited() { scheduleControlsHide(); }

void VideoPlayerControls::showControls() {
  if (controlsVisible_ || tornDown_) return;
  controlsVisible_ = true;
  surface_.setBarVisible(true);
}

void VideoPlayerControls::scheduleControlsHide() { armHide(); }

void VideoPlayerControls::armHide() {
  if (hideWork_) hideWork_->cancel();
  hideWork_.reset();
  if (tornDown_) return;
  hideWork_ = std::make_shared<platform::WorkItem>([this] { hideControls(); });
  queue_.postAfter(kHideDelay, hideWork_);
}

void VideoPlayerControls::hideControls() {
  if (!controlsVisible_ || isScrubbing_ || tornDown_) return;
  if (surface_.isPointerOverBar()) {
    scheduleControlsHide();
    return;
  }
  controlsVisible_ = false;
  surface_.setBarVisible(false);
}

void VideoPlayerControls::pinchBegan() {
  pinchTotal_ = 0;
  nativeLog("[Pinch] video player — pinch began");
}

void VideoPlayerControls::pinchChanged(double magnification) { pinchTotal_ += magnification; }

void VideoPlayerControls::pinchEnded(double magnification) {
  pinchTotal_ += magnification;
  const bool fullScreen = surface_.isFullScreen();
  if (pinchTotal_ > kPinchThreshold && !fullScreen) {
    surface_.setFullScreen(true);
  } else if (pinchTotal_ < -kPinchThreshold && fullScreen) {
    surface_.setFullScreen(false);
  }
  pinchTotal_ = 0;
}

void VideoPlayerControls::teardown() {
  if (tornDown_) return;
  tornDown_ = true;
  ticks_.stop();
  if (hideWork_) hideWork_->cancel();
  hideWork_.reset();
  player_->onEnded = nullptr;
  player_->pause();
}

}  // namespace orvik

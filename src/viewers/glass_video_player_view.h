// The video player's content: the picture of one VideoPlayback, letterboxed
// on black, under a floating glass bar with skip back 10 s, play/pause, skip
// forward 10 s, the scrubber between the elapsed and total time, mute with a
// volume slider, and the picture-in-picture button. A press on the picture
// toggles playback, a pinch toggles full screen, and the bar fades 2.5 s
// after the last mouse activity (VideoPlayerControls decides all of it).
// Widget names: "orvik-video-picture", "orvik-video-controls",
// "orvik-video-back", "orvik-video-play-pause", "orvik-video-forward",
// "orvik-video-mute", "orvik-video-volume", "orvik-video-scrubber",
// "orvik-video-current-time", "orvik-video-duration", "orvik-video-pip".
// THREAD-SAFETY: GTK's thread.
#pragma once

#include <gtkmm.h>

#include <functional>
#include <memory>
#include <string>

#include "viewers/video_player_controls.h"

namespace orvik {

class VideoPlayback;

class GlassVideoPlayerView final : public Gtk::Overlay, public ControlsSurface {
 public:
  explicit GlassVideoPlayerView(std::shared_ptr<VideoPlayback> player);
  ~GlassVideoPlayerView() override;

  void startPlayback() { controls_->startPlayback(); }
  // Stops the controls' timers, pauses and detaches the picture; the last
  // call before the view is dropped.
  void teardown();
  // Shows the player's pictures here again (after picture-in-picture).
  void attachPlayer();
  void detachPlayer();

  const std::shared_ptr<VideoPlayback>& player() const { return player_; }
  VideoPlayerControls& controls() { return *controls_; }
  const std::string& playPauseSymbol() const { return playPauseSymbol_; }
  const std::string& volumeSymbol() const { return volumeSymbol_; }

  // Run by the picture-in-picture button.
  std::function<void()> onEnterPiP;

  // ControlsSurface
  void setPlayPauseSymbol(const std::string& symbol) override;
  void setVolumeSymbol(const std::string& symbol) override;
  void setVolumeSlider(double value) override;
  void setScrubber(double fraction) override;
  void setCurrentTimeText(const std::string& text) override;
  void setDurationText(const std::string& text) override;
  void setBarVisible(bool visible) override;
  bool isPointerOverBar() const override;
  bool isFullScreen() const override;
  void setFullScreen(bool fullScreen) override;

 private:
  Gtk::Button* makeControlButton(const std::string& name, const std::string& symbol, int pixelSize,
                                 void (VideoPlayerControls::*action)());

  std::shared_ptr<VideoPlayback> player_;
  Gtk::Picture picture_;
  Gtk::Box* bar_ = nullptr;
  Gtk::Button* playPause_ = nullptr;
  Gtk::Button* volumeButton_ = nullptr;
  Gtk::Scale* scrubber_ = nullptr;
  Gtk::Scale* volumeSlider_ = nullptr;
  Gtk::Label* currentTime_ = nullptr;
  Gtk::Label* duration_ = nullptr;
  std::string playPauseSymbol_;
  std::string volumeSymbol_;
  bool pointerInside_ = false;
  double pointerX_ = 0;
  double pointerY_ = 0;
  double pinchScale_ = 1;
  std::unique_ptr<VideoPlayerControls> controls_;
};

}  // namespace orvik

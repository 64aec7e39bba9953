// The player of one local video file: what the video player view drives and
// what the picture-in-picture panel keeps playing. Its pictures come as a
// GdkPaintable that any number of GtkPictures may show at once, so the
// window and the panel show the very same player; detaching a picture is
// setting its paintable to none.
//
// A player starts paused on its first picture. Playback that reaches the end
// stops there, paused, and `onEnded` runs; the next play starts wherever the
// caller seeks to. Times are in seconds; a time or duration that is not
// known yet is NaN.
//
// Production: makeGstVideoPlayback (GStreamer playbin into an appsink whose
// pictures become GdkMemoryTextures). Test double: FakeVideoPlayback in the
// controls' tests.
// THREAD-SAFETY: main queue. The GStreamer backend hops from its streaming
// threads to the main queue before it touches anything a caller sees.
#pragma once

#include <functional>
#include <memory>
#include <string>

typedef struct _GdkPaintable GdkPaintable;

namespace orvik {

class VideoPlayback {
 public:
  virtual ~VideoPlayback() = default;

  virtual void play() = 0;
  virtual void pause() = 0;
  // False while playing or about to play.
  virtual bool isPaused() const = 0;
  virtual double currentTime() const = 0;
  virtual double duration() const = 0;
  // Lands exactly on `seconds`, not on the nearest key frame.
  virtual void seekExact(double seconds) = 0;
  virtual float volume() const = 0;
  virtual void setVolume(float volume) = 0;
  virtual bool isMuted() const = 0;
  virtual void setMuted(bool muted) = 0;
  // The newest picture; none in a player without pictures. Borrowed: lives
  // as long as the player.
  virtual GdkPaintable* paintable() const = 0;

  // Runs on the main queue when playback reaches the end.
  std::function<void()> onEnded;
};

// A GStreamer player for the file at `path`; it never fails to be made, and
// a file that cannot be played keeps time and duration unknown.
std::shared_ptr<VideoPlayback> makeGstVideoPlayback(const std::string& path);

}  // namespace orvik

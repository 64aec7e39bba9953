// Remote video (the other party's camera, or a shared screen) in the call
// screens. RemoteVideoFeed is the coordinator: it owns the frame sink and a
// reference to the paintable, attaches the sink to one track at a time (the
// same track again is left alone, never removed and re-added), and passes
// the fill mode and the aspect-ratio callback on. RemoteVideoView is the
// widget that shows a feed's paintable; it holds only its own reference to
// the paintable, so the widget and the feed may go in either order. The feed
// detaches its sink before it lets the paintable go.
//
// THREAD-SAFETY: main queue (GTK's thread) only.
#pragma once

#include <gtkmm/picture.h>

#include <functional>
#include <memory>

#include "calls/screens/video_frame_sink.h"

typedef struct _GdkPaintable GdkPaintable;

namespace orvik {

class RemoteVideoFeed {
 public:
  explicit RemoteVideoFeed(VideoFrameSink::Options options = {}, platform::TaskQueue* main = nullptr);
  ~RemoteVideoFeed();
  RemoteVideoFeed(const RemoteVideoFeed&) = delete;
  RemoteVideoFeed& operator=(const RemoteVideoFeed&) = delete;

  // Shows `track` (none: nothing); false when it already showed that track.
  bool attach(const VideoTrackHandle& track);
  void detach();
  void setFill(bool fill);
  // Width ÷ height of the upright picture, whenever it changes.
  void setOnAspectRatioChange(std::function<void(double ratio)> callback);

  GdkPaintable* paintable() const { return paintable_; }
  const VideoFrameSink& sink() const { return sink_; }

 private:
  GdkPaintable* paintable_;
  std::function<void(double)> onAspectRatioChange_;
  // Declared last: it is detached before anything else goes.
  VideoFrameSink sink_;
};

class RemoteVideoView : public Gtk::Picture {
 public:
  explicit RemoteVideoView(RemoteVideoFeed& feed);
};

}  // namespace orvik

// The local camera picture of the call screens, always mirrored like a
// looking glass. CameraPreviewFeed puts a second sink on the camera's video
// source (beside the sender's) and feeds a mirrored paintable; binding the
// session it already shows changes nothing, a new session moves the sink
// there without a new paintable. The fill mode (fill and crop, or fit) is
// re-applied on every update. CameraPreviewView is the widget over a feed's
// paintable.
//
// THREAD-SAFETY: main queue (GTK's thread) only.
#pragma once

#include <gtkmm/picture.h>

#include <functional>

#include "calls/control/call_ports.h"
#include "calls/screens/video_frame_sink.h"

typedef struct _GdkPaintable GdkPaintable;

namespace orvik {

// The video source behind a camera session; empty when it has none.
using CameraSourceResolver = std::function<VideoSourceHandle(const CameraSessionHandle& session)>;

class CameraPreviewFeed {
 public:
  // Without a resolver the session's own preview source is shown.
  explicit CameraPreviewFeed(CameraSourceResolver resolver = {}, platform::TaskQueue* main = nullptr);
  ~CameraPreviewFeed();
  CameraPreviewFeed(const CameraPreviewFeed&) = delete;
  CameraPreviewFeed& operator=(const CameraPreviewFeed&) = delete;

  // Shows `session` (none: nothing) with `fill`; false when the session was
  // already shown (only the fill mode is applied then).
  bool update(const CameraSessionHandle& session, bool fill);
  void unbind();

  const CameraSessionHandle& session() const { return session_; }
  GdkPaintable* paintable() const { return paintable_; }
  const VideoFrameSink& sink() const { return sink_; }

 private:
  CameraSourceResolver resolver_;
  CameraSessionHandle session_;
  GdkPaintable* paintable_;
  VideoFrameSink sink_;
};

class CameraPreviewView : public Gtk::Picture {
 public:
  explicit CameraPreviewView(CameraPreviewFeed& feed);
};

}  // namespace orvik

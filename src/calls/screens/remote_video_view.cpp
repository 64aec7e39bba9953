#include "calls/screens/remote_video_view.h"

#include <gtk/gtk.h>

#include "calls/screens/video_paintable.h"

namespace orvik {

RemoteVideoFeed::RemoteVideoFeed(VideoFrameSink::Options options, platform::TaskQueue* main)
    : paintable_(videoPaintableNew()), sink_(std::move(options), main) {
  // The sink lives no longer than the feed, and the paintable as long.
  sink_.setFrameHandler([paintable = paintable_](std::shared_ptr<const RgbaVideoFrame> frame) {
    videoPaintableShowFrame(paintable, std::move(frame));
  });
  sink_.setAspectRatioHandler([this](double ratio) {
    if (onAspectRatioChange_) onAspectRatioChange_(ratio);
  });
}

RemoteVideoFeed::~RemoteVideoFeed() {
  sink_.detach();
  sink_.setFrameHandler({});
  sink_.setAspectRatioHandler({});
  g_object_unref(paintable_);
}

bool RemoteVideoFeed::attach(const VideoTrackHandle& track) {
  if (!track) {
    detach();
    return true;
  }
  return sink_.attach(track);
}

void RemoteVideoFeed::detach() {
  if (!sink_.isAttached()) return;
  sink_.detach();
  videoPaintableClear(paintable_);
}

void RemoteVideoFeed::setFill(bool fill) { videoPaintableSetFill(paintable_, fill); }

void RemoteVideoFeed::setOnAspectRatioChange(std::function<void(double)> callback) {
  onAspectRatioChange_ = std::move(callback);
}

RemoteVideoView::RemoteVideoView(RemoteVideoFeed& feed) {
  // The paintable fits or fills by itself: the picture hands it its whole area.
  gtk_picture_set_paintable(gobj(), feed.paintable());
  gtk_picture_set_content_fit(gobj(), GTK_CONTENT_FIT_FILL);
  set_can_shrink(true);
  set_can_target(false);
}

}  // namespace orvik

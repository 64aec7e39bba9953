#include "calls/screens/camera_preview_view.h"

#include <gtk/gtk.h>

#include "calls/media/camera_source.h"
#include "calls/screens/video_paintable.h"

namespace orvik {

CameraPreviewFeed::CameraPreviewFeed(CameraSourceResolver resolver, platform::TaskQueue* main)
    : resolver_(resolver ? std::move(resolver)
                         : [](const CameraSessionHandle& session) { return session ? session->preview : nullptr; }),
      paintable_(videoPaintableNew()), sink_({.logTag = "", .log = {}}, main) {
  videoPaintableSetMirrored(paintable_, true);
  sink_.setFrameHandler([paintable = paintable_](std::shared_ptr<const RgbaVideoFrame> frame) {
    videoPaintableShowFrame(paintable, std::move(frame));
  });
}

CameraPreviewFeed::~CameraPreviewFeed() {
  sink_.detach();
  sink_.setFrameHandler({});
  g_object_unref(paintable_);
}

bool CameraPreviewFeed::update(const CameraSessionHandle& session, bool fill) {
  videoPaintableSetFill(paintable_, fill);
  if (session == session_) return false;
  session_ = session;
  VideoSourceHandle source = session && resolver_ ? resolver_(session) : nullptr;
  if (source) {
    sink_.attachSource(source);
  } else {
    sink_.detach();
    videoPaintableClear(paintable_);
  }
  return true;
}

void CameraPreviewFeed::unbind() {
  session_ = nullptr;
  sink_.detach();
  videoPaintableClear(paintable_);
}

CameraPreviewView::CameraPreviewView(CameraPreviewFeed& feed) {
  gtk_picture_set_paintable(gobj(), feed.paintable());
  gtk_picture_set_content_fit(gobj(), GTK_CONTENT_FIT_FILL);
  set_can_shrink(true);
  set_can_target(false);
}

}  // namespace orvik

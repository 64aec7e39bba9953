// The picture area of a connected video call: the remote and the local feed,
// one filling the stage and the other in the tile at the bottom-right
// corner, with the darkening gradients between them. A click on the tile
// swaps the feeds (the model's `isSwapped`); a drag of 5 pt or more moves the
// tile, and the tile always keeps part of itself inside the stage. Starting
// or stopping a share swaps the feeds by the sharing rules, and while only
// the other party shares the local tile hides and lets clicks through.
//
// Everything it decides comes from video_stage_layout.h; the widget draws
// the feeds' paintables and placeholders itself, so there is nothing between
// the stage and its pictures but drawing. The feeds (frame sinks) are owned
// by the stage, apart from any widget, and detach before the stage goes.
//
// THREAD-SAFETY: main queue (GTK's thread) only.
#pragma once

#include <gtkmm/gesturedrag.h>
#include <gtkmm/widget.h>

#include <memory>
#include <optional>

#include "calls/screens/camera_preview_view.h"
#include "calls/screens/remote_video_view.h"
#include "calls/screens/video_call_view_model.h"
#include "calls/screens/video_overlays.h"
#include "calls/screens/video_stage_layout.h"

namespace orvik {

struct ConnectedVideoStageFeeds {
  // The camera session's video source (the preview's second sink).
  CameraSourceResolver cameraSource;
  // The "OrvikID:" label of the camera-off placeholder.
  std::string orvikIdLabel = "OrvikID:";
  // The placeholder's pictures: the subscribers' default avatar and the
  // subscriber badge (none when empty).
  std::string defaultAvatarURL;
  std::string subscriberBadgeURL;
};

class ConnectedVideoStage : public Gtk::Widget {
 public:
  using Feeds = ConnectedVideoStageFeeds;

  ConnectedVideoStage(VideoCallViewModel& model, bool controlsVisible, Feeds feeds = {});
  ~ConnectedVideoStage() override;

  // Shows or hides the controls: the tile grows or shrinks and moves in
  // 0.4 s.
  void setControlsVisible(bool visible);
  bool controlsVisible() const { return controlsVisible_; }

  // For tests and the window: the state the stage draws from.
  StageSize stageSize() const { return {double(get_width()), double(get_height())}; }
  // The tile's hit target at this moment (animated).
  StageRect tileTarget() const;
  StageSize currentPipOffset() const { return drag_.currentOffset(stageSize(), controlsVisible_); }
  std::optional<double> remoteAspectRatio() const { return remoteAspectRatio_; }
  std::optional<double> localScreenAspectRatio() const { return localScreenAspectRatio_; }
  const RemoteVideoFeed& remoteFeed() const { return *remote_; }
  const RemoteVideoFeed& localScreenFeed() const { return *localScreen_; }
  const CameraPreviewFeed& cameraFeed() const { return *camera_; }

  // The gesture's steps, for tests that cannot press a pointer: a press at
  // (x, y), moves by a translation, and the release.
  bool pressAt(double x, double y);
  void dragBy(double dx, double dy);
  void release(double dx, double dy);

 protected:
  void measure_vfunc(Gtk::Orientation orientation, int forSize, int& minimum, int& natural, int& minimumBaseline,
                     int& naturalBaseline) const override;
  void snapshot_vfunc(const Glib::RefPtr<Gtk::Snapshot>& snapshot) override;

 private:
  void modelChanged();
  void refreshFeeds();
  void snapshotFeed(GtkSnapshot* snapshot, StageLayer layer);
  double tileProgress() const;

  VideoCallViewModel& model_;
  Feeds options_;
  CameraOffPictures pictures_;
  bool controlsVisible_;
  VideoCallFields seen_;
  TileDrag drag_;
  bool pressed_ = false;
  std::optional<double> remoteAspectRatio_;
  std::optional<double> localScreenAspectRatio_;
  // The controls' change in flight: from which state, since when (µs).
  gint64 tileChangeStart_ = 0;
  guint tick_ = 0;
  Glib::RefPtr<Gtk::GestureDrag> gesture_;
  platform::Subscription modelChanged_;
  // Last: they detach first when the stage goes.
  std::unique_ptr<RemoteVideoFeed> remote_;
  std::unique_ptr<RemoteVideoFeed> localScreen_;
  std::unique_ptr<CameraPreviewFeed> camera_;
};

}  // namespace orvik

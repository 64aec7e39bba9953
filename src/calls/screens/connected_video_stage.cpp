#include "calls/screens/connected_video_stage.h"

#include <gtk/gtk.h>
#include <gtkmm/snapshot.h>

#include "calls/screens/video_overlays.h"

namespace orvik {
namespace {

graphene_rect_t grect(const StageRect& r) {
  return GRAPHENE_RECT_INIT(static_cast<float>(r.x), static_cast<float>(r.y), static_cast<float>(r.width),
                            static_cast<float>(r.height));
}

GskRoundedRect roundedRect(const StageRect& r, double radius) {
  GskRoundedRect rounded;
  graphene_rect_t bounds = grect(r);
  graphene_size_t corner = GRAPHENE_SIZE_INIT(static_cast<float>(radius), static_cast<float>(radius));
  gsk_rounded_rect_init(&rounded, &bounds, &corner, &corner, &corner, &corner);
  return rounded;
}

StageRect lerp(const StageRect& a, const StageRect& b, double t) {
  return {a.x + (b.x - a.x) * t, a.y + (b.y - a.y) * t, a.width + (b.width - a.width) * t,
          a.height + (b.height - a.height) * t};
}

}  // namespace

ConnectedVideoStage::ConnectedVideoStage(VideoCallViewModel& model, bool controlsVisible, Feeds feeds)
    : model_(model),
      options_(std::move(feeds)),
      pictures_(options_.defaultAvatarURL, options_.subscriberBadgeURL, [this] { queue_draw(); }),
      controlsVisible_(controlsVisible),
      seen_(model.fields()),
      remote_(std::make_unique<RemoteVideoFeed>()),
      localScreen_(std::make_unique<RemoteVideoFeed>()),
      camera_(std::make_unique<CameraPreviewFeed>(options_.cameraSource)) {
  set_overflow(Gtk::Overflow::HIDDEN);
  remote_->setOnAspectRatioChange([this](double ratio) {
    remoteAspectRatio_ = ratio;
    queue_draw();
  });
  localScreen_->setOnAspectRatioChange([this](double ratio) {
    localScreenAspectRatio_ = ratio;
    queue_draw();
  });
  // Every new picture redraws the stage.
  for (GdkPaintable* paintable : {remote_->paintable(), localScreen_->paintable(), camera_->paintable()}) {
    g_signal_connect_swapped(paintable, "invalidate-contents", G_CALLBACK(gtk_widget_queue_draw), gobj());
  }

  gesture_ = Gtk::GestureDrag::create();
  // A press on the tile is the tile's: claimed, so that the view's click on
  // the picture (which shows or hides the controls, and with them moves the
  // tile) does not take it as well.
  gesture_->signal_drag_begin().connect([this](double x, double y) {
    gesture_->set_state(pressAt(x, y) ? Gtk::EventSequenceState::CLAIMED : Gtk::EventSequenceState::DENIED);
  });
  gesture_->signal_drag_update().connect([this](double dx, double dy) { dragBy(dx, dy); });
  gesture_->signal_drag_end().connect([this](double dx, double dy) { release(dx, dy); });
  add_controller(gesture_);

  modelChanged_ = model_.addObserver([this] { modelChanged(); });
  refreshFeeds();
}

ConnectedVideoStage::~ConnectedVideoStage() {
  if (tick_) gtk_widget_remove_tick_callback(GTK_WIDGET(gobj()), tick_);
  for (GdkPaintable* paintable : {remote_->paintable(), localScreen_->paintable(), camera_->paintable()}) {
    g_signal_handlers_disconnect_by_data(paintable, gobj());
  }
  // The feeds detach from their tracks before anything else goes.
  remote_.reset();
  localScreen_.reset();
  camera_.reset();
}

void ConnectedVideoStage::modelChanged() {
  const VideoCallFields now = model_.fields();
  const std::optional<bool> swap = swapForSharingChange(seen_, now);
  seen_ = now;
  if (swap) model_.set(&VideoCallFields::isSwapped, *swap);
  refreshFeeds();
  queue_draw();
}

void ConnectedVideoStage::refreshFeeds() {
  const VideoCallFields& f = model_.fields();
  if (remoteFeedContent(f, model_.remoteVideoTrack() != nullptr) == RemoteFeedContent::video) {
    remote_->attach(model_.remoteVideoTrack());
    remote_->setFill(remoteFeedFills(f));
  } else {
    remote_->detach();
  }
  switch (localFeedContent(f, model_.localScreenTrack() != nullptr)) {
    case LocalFeedContent::screenTrack:
      localScreen_->attach(model_.localScreenTrack());
      localScreen_->setFill(false);
      camera_->unbind();
      break;
    case LocalFeedContent::camera:
      localScreen_->detach();
      camera_->update(f.cameraSession, /*fill=*/true);
      break;
    case LocalFeedContent::screenIndicator:
    case LocalFeedContent::cameraOff:
      localScreen_->detach();
      camera_->unbind();
      break;
  }
}

double ConnectedVideoStage::tileProgress() const {
  if (tileChangeStart_ == 0) return 1;
  const double seconds = double(g_get_monotonic_time() - tileChangeStart_) / G_USEC_PER_SEC;
  return easeInOut(seconds / kTileResizeSeconds);
}

void ConnectedVideoStage::setControlsVisible(bool visible) {
  if (visible == controlsVisible_) return;
  controlsVisible_ = visible;
  tileChangeStart_ = g_get_monotonic_time();
  if (!tick_) {
    tick_ = gtk_widget_add_tick_callback(
        GTK_WIDGET(gobj()),
        [](GtkWidget* widget, GdkFrameClock*, gpointer data) -> gboolean {
          auto* stage = static_cast<ConnectedVideoStage*>(data);
          gtk_widget_queue_draw(widget);
          if (stage->tileProgress() < 1) return G_SOURCE_CONTINUE;
          stage->tileChangeStart_ = 0;
          stage->tick_ = 0;
          return G_SOURCE_REMOVE;
        },
        this, nullptr);
  }
  queue_draw();
}

StageRect ConnectedVideoStage::tileTarget() const {
  const StageSize stage = stageSize();
  const StageRect to = tileFrame(stage, drag_.currentOffset(stage, controlsVisible_), controlsVisible_);
  const double t = tileProgress();
  if (t >= 1) return to;
  const StageRect from = tileFrame(stage, drag_.currentOffset(stage, !controlsVisible_), !controlsVisible_);
  return lerp(from, to, t);
}

bool ConnectedVideoStage::pressAt(double x, double y) {
  if (!tileVisibility(model_.fields()).targetTakesHits || !tileTarget().contains(x, y)) return false;
  pressed_ = true;
  drag_.begin();
  return true;
}

void ConnectedVideoStage::dragBy(double dx, double dy) {
  if (!pressed_) return;
  drag_.update({dx, dy});
  queue_draw();
}

void ConnectedVideoStage::release(double dx, double dy) {
  if (!pressed_) return;
  pressed_ = false;
  if (drag_.end({dx, dy}, stageSize(), controlsVisible_) == TileDrag::Outcome::click) {
    model_.set(&VideoCallFields::isSwapped, !model_->isSwapped);
  }
  queue_draw();
}

void ConnectedVideoStage::measure_vfunc(Gtk::Orientation orientation, int, int& minimum, int& natural,
                                        int& minimumBaseline, int& naturalBaseline) const {
  minimum = 0;
  natural = orientation == Gtk::Orientation::HORIZONTAL ? 860 : 640;
  minimumBaseline = naturalBaseline = -1;
}

void ConnectedVideoStage::snapshotFeed(GtkSnapshot* s, StageLayer layer) {
  const VideoCallFields& f = model_.fields();
  const bool remote = layer == StageLayer::remoteFeed;
  const bool isFull = remote ? !f.isSwapped : f.isSwapped;
  const StageSize stage = stageSize();
  const std::optional<double> ratio = remote ? remoteSlotAspectRatio(f, remoteAspectRatio_)
                                             : localSlotAspectRatio(f, localScreenAspectRatio_);
  const StageRect rect = isFull ? feedSlotFrame(true, stage, {}, ratio, controlsVisible_) : tileTarget();
  const FeedSlotStyle style = feedSlotStyle(isFull, remote ? f.remoteMuted : f.isMuted);
  const double opacity = remote ? 1.0 : tileVisibility(f).localFeedOpacity;
  if (opacity <= 0) return;

  const GskRoundedRect clip = roundedRect(rect, style.cornerRadius);
  if (style.shadowOpacity > 0) {
    const GdkRGBA shadow{0, 0, 0, static_cast<float>(style.shadowOpacity)};
    gtk_snapshot_append_outset_shadow(s, &clip, &shadow, 0, 12, 0, 20);
  }
  gtk_snapshot_push_rounded_clip(s, &clip);
  const graphene_rect_t bounds = grect(rect);
  auto drawPaintable = [&](GdkPaintable* paintable) {
    const GdkRGBA black{0, 0, 0, 1};
    gtk_snapshot_append_color(s, &black, &bounds);
    gtk_snapshot_save(s);
    graphene_point_t at = GRAPHENE_POINT_INIT(static_cast<float>(rect.x), static_cast<float>(rect.y));
    gtk_snapshot_translate(s, &at);
    gdk_paintable_snapshot(paintable, s, rect.width, rect.height);
    gtk_snapshot_restore(s);
  };
  GtkWidget* widget = GTK_WIDGET(gobj());
  if (remote) {
    switch (remoteFeedContent(f, model_.remoteVideoTrack() != nullptr)) {
      case RemoteFeedContent::cameraOff:
        snapshotCameraOff(widget, s, rect,
                          {f.calleeName, f.calleeOrvikID, f.imageUrl, f.isSubscribed, true, options_.orvikIdLabel, &pictures_});
        break;
      case RemoteFeedContent::video: drawPaintable(remote_->paintable()); break;
      case RemoteFeedContent::black: {
        const GdkRGBA black{0, 0, 0, 1};
        gtk_snapshot_append_color(s, &black, &bounds);
        break;
      }
    }
  } else {
    switch (localFeedContent(f, model_.localScreenTrack() != nullptr)) {
      case LocalFeedContent::screenTrack: drawPaintable(localScreen_->paintable()); break;
      case LocalFeedContent::screenIndicator: snapshotScreenSharingIndicator(widget, s, rect); break;
      case LocalFeedContent::camera: drawPaintable(camera_->paintable()); break;
      case LocalFeedContent::cameraOff:
        snapshotCameraOff(widget, s, rect, {f.localName, "", f.localImageUrl, false, false, options_.orvikIdLabel, &pictures_});
        break;
    }
  }
  gtk_snapshot_pop(s);
  if (style.borderOpacity > 0) {
    const float width[4] = {2, 2, 2, 2};
    const GdkRGBA edge{1, 1, 1, static_cast<float>(style.borderOpacity)};
    const GdkRGBA colors[4] = {edge, edge, edge, edge};
    gtk_snapshot_append_border(s, &clip, width, colors);
  }
  if (style.showsMuteBadge) {
    snapshotPiPMuteBadge(widget, s, rect.x + 8, rect.y + rect.height - 8 - kPiPMuteBadgeSize);
  }
}

void ConnectedVideoStage::snapshot_vfunc(const Glib::RefPtr<Gtk::Snapshot>& snapshot) {
  GtkSnapshot* s = snapshot->gobj();
  const StageSize stage = stageSize();
  const GdkRGBA black{0, 0, 0, 1};
  const graphene_rect_t all = GRAPHENE_RECT_INIT(0, 0, static_cast<float>(stage.width), static_cast<float>(stage.height));
  gtk_snapshot_append_color(s, &black, &all);
  for (StageLayer layer : stageDrawOrder(model_->isSwapped)) {
    switch (layer) {
      case StageLayer::remoteFeed:
      case StageLayer::localFeed: snapshotFeed(s, layer); break;
      case StageLayer::topGradient: snapshotTopVideoGradient(s, stage); break;
      case StageLayer::bottomGradient: snapshotBottomVideoGradient(s, stage); break;
      case StageLayer::tileTarget: break;  // takes clicks, draws nothing
    }
  }
}

}  // namespace orvik

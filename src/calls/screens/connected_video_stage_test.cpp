// The connected video stage on a real display (Xvfb): frames of a synthetic
// camera travel through two real peer connections over loopback, reach the
// stage's remote feed and are drawn; the stage's picture is kept in the build
// tree's test-output/ConnectedVideoStageIntegration/ folder for a person to
// look at. The stage's clicks, drags, swaps and lifetime are checked on the
// same display.
#include "calls/screens/connected_video_stage.h"

#include <gdk-pixbuf/gdk-pixbuf.h>
#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <gtkmm/init.h>
#include <gtkmm/window.h>

#include <cmath>
#include <filesystem>
#include <set>
#include <thread>
#include <vector>

#include "calls/control/call_strings.h"
#include "calls/control/test_support/recording_call_ports.h"
#include "calls/media/test_support/loopback_call.h"
#include "calls/screens/test_support/synthetic_video_source.h"
#include "calls/screens/test_support/widget_tree.h"
#include "calls/screens/video_overlays.h"
#include "calls/screens/video_paintable.h"
#include "platform/test_support/local_web_server.h"

namespace orvik {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using orvik::testing::kColourBars;
using orvik::testing::onPeerQueue;
using orvik::testing::Rgb;
using orvik::testing::colourDistance;
using orvik::testing::nearestBar;
using orvik::testing::WidgetPicture;
using orvik::testing::SyntheticVideoSource;

class ConnectedVideoStageIntegration : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!gtk_init_check()) GTEST_SKIP() << "no display";
    Gtk::init_gtkmm_internals();
    g_object_set(gtk_settings_get_default(), "gtk-enable-animations", TRUE, nullptr);
    window_ = std::make_unique<Gtk::Window>();
    window_->set_default_size(860, 640);
    model_.set(&VideoCallFields::isConnected, true);
    model_.set(&VideoCallFields::calleeName, std::string("anna_lee"));
    model_.set(&VideoCallFields::calleeOrvikID, std::string("100200300"));
    model_.set(&VideoCallFields::localName, std::string("me"));
  }
  void TearDown() override {
    stage_ = nullptr;
    if (window_) window_->destroy();
    window_.reset();
    iterate();
  }

  ConnectedVideoStage& show(bool controlsVisible = true) {
    stage_ = Gtk::make_managed<ConnectedVideoStage>(model_, controlsVisible);
    window_->set_child(*stage_);
    window_->present();
    EXPECT_TRUE(pumpUntil([&] { return stage_->get_width() == 860 && stage_->get_height() == 640; }, 10s));
    return *stage_;
  }

  void iterate() {
    queue_.runUntilIdle();
    while (g_main_context_iteration(nullptr, false)) {
    }
  }
  bool pumpUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = 20s) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < deadline) {
      iterate();
      if (done()) return true;
      std::this_thread::sleep_for(2ms);
    }
    return false;
  }
  void pumpFor(std::chrono::milliseconds time) {
    pumpUntil([] { return false; }, time);
  }

  platform::VirtualQueue queue_;
  platform::ScopedMainQueue main_{queue_};
  CallStrings strings_{[](const std::string&) {}};
  VideoCallViewModel model_{strings_};
  std::unique_ptr<Gtk::Window> window_;
  ConnectedVideoStage* stage_ = nullptr;
};

TEST_F(ConnectedVideoStageIntegration, FramesOfASyntheticCameraThroughRealPeerConnectionsAppearInTheStage) {
  orvik::testing::LoopbackCall call(queue_);
  ASSERT_EQ(call.connect({}, /*allowAllCandidates=*/true), "");
  // The caller sends the moving colour bars instead of its camera.
  auto source = rtc::make_ref_counted<SyntheticVideoSource>(320, 180);
  auto sent = std::make_shared<VideoTrackRef>(VideoTrackRef{onPeerQueue(*call.caller, [&] {
    return webrtcFactory(*call.caller)->CreateVideoTrack("synthetic0", source.get());
  })});
  bool replaced = false;
  call.caller->replaceLocalVideoTrack(sent, [&] { replaced = true; });
  ASSERT_TRUE(pumpUntil([&] { return replaced; }));
  auto received = onPeerQueue(*call.callee, [&]() -> VideoTrackHandle {
    for (const auto& receiver : webrtcConnection(*call.callee)->GetReceivers()) {
      if (receiver->media_type() == cricket::MEDIA_TYPE_VIDEO) {
        return std::make_shared<VideoTrackRef>(VideoTrackRef{
            rtc::scoped_refptr<webrtc::VideoTrackInterface>(static_cast<webrtc::VideoTrackInterface*>(receiver->track().get()))});
      }
    }
    return nullptr;
  });
  ASSERT_TRUE(received);

  ConnectedVideoStage& stage = show();
  model_.setRemoteVideoTrack(received);
  model_.set(&VideoCallFields::hasRemoteVideo, true);
  source->start(30);

  GdkPaintable* remote = stage.remoteFeed().paintable();
  ASSERT_TRUE(pumpUntil([&] { return videoPaintableFrameCount(remote) >= 10; }, 30s))
      << "received " << stage.remoteFeed().sink().stats().received;
  GdkTexture* texture = videoPaintableTexture(remote);
  ASSERT_NE(texture, nullptr);
  EXPECT_EQ(gdk_texture_get_width(texture), 320);
  EXPECT_EQ(gdk_texture_get_height(texture), 180);
  EXPECT_EQ(gdk_paintable_get_intrinsic_width(remote), 320);
  EXPECT_EQ(gdk_paintable_get_intrinsic_height(remote), 180);
  ASSERT_TRUE(stage.remoteAspectRatio().has_value());
  EXPECT_NEAR(*stage.remoteAspectRatio(), 16.0 / 9.0, 1e-9);

  // The remote feed fills the stage's width as 860 × 483.75, centred; row
  // 320 is clear of the gradients and the tile is further right and down.
  auto sampleRow = [&](const WidgetPicture& picture) {
    std::vector<int> bars;
    for (int x = 20; x < 560; x += 20) bars.push_back(nearestBar(picture.at(x, 320)));
    return bars;
  };
  // Most samples are one of the bars (those on a bar's blurred edge may not
  // be), and several bars show.
  auto matchesPattern = [&](const WidgetPicture& picture) {
    int close = 0, total = 0;
    std::set<int> bars;
    for (int x = 20; x < 560; x += 20) {
      const Rgb c = picture.at(x, 320);
      ++total;
      if (colourDistance(c, kColourBars[nearestBar(c)]) < 90) {
        ++close;
        bars.insert(nearestBar(c));
      }
    }
    return close * 10 >= total * 6 && bars.size() >= 4;
  };
  pumpFor(300ms);
  WidgetPicture first(stage);
  ASSERT_TRUE(first.valid());
  EXPECT_TRUE(matchesPattern(first));
  first.save(fs::path(ORVIK_BINARY_DIR) / "test-output" / "ConnectedVideoStageIntegration" / "remote-large.png");
  const std::uint64_t shownBefore = videoPaintableFrameCount(remote);
  ASSERT_TRUE(pumpUntil([&] { return videoPaintableFrameCount(remote) >= shownBefore + 5; }, 10s));
  WidgetPicture later(stage);
  EXPECT_TRUE(matchesPattern(later));
  EXPECT_NE(sampleRow(first), sampleRow(later)) << "the pattern moves from frame to frame";

  // A click on the tile swaps: the remote picture goes into the tile.
  const StageRect tile = stage.tileTarget();
  ASSERT_TRUE(stage.pressAt(tile.x + 10, tile.y + 10));
  stage.release(1, 1);
  EXPECT_TRUE(model_->isSwapped);
  pumpFor(200ms);
  WidgetPicture swapped(stage);
  swapped.save(fs::path(ORVIK_BINARY_DIR) / "test-output" / "ConnectedVideoStageIntegration" / "remote-in-tile.png");
  // The remote picture crops to fill the tile.
  EXPECT_TRUE(videoPaintableFills(remote));

  // The widget goes away mid-stream: the feed detaches first and nothing
  // touches the freed stage (AddressSanitizer would see it).
  window_->unset_child();
  stage_ = nullptr;
  pumpFor(300ms);
  source->stop();
  model_.setRemoteVideoTrack(nullptr);
  sent.reset();
  received.reset();
}

TEST_F(ConnectedVideoStageIntegration, DetachingTheRemoteTrackWhileFramesFlowStopsTheFeed) {
  auto source = rtc::make_ref_counted<SyntheticVideoSource>(160, 90);
  struct SourceTrack : webrtc::VideoTrackInterface {
    explicit SourceTrack(rtc::scoped_refptr<SyntheticVideoSource> s) : source(std::move(s)) {}
    void AddOrUpdateSink(rtc::VideoSinkInterface<webrtc::VideoFrame>* sink, const rtc::VideoSinkWants& wants) override {
      static_cast<webrtc::VideoTrackSourceInterface*>(source.get())->AddOrUpdateSink(sink, wants);
    }
    void RemoveSink(rtc::VideoSinkInterface<webrtc::VideoFrame>* sink) override {
      static_cast<webrtc::VideoTrackSourceInterface*>(source.get())->RemoveSink(sink);
    }
    webrtc::VideoTrackSourceInterface* GetSource() const override { return source.get(); }
    std::string kind() const override { return kVideoKind; }
    std::string id() const override { return "synthetic"; }
    bool enabled() const override { return true; }
    bool set_enabled(bool) override { return true; }
    TrackState state() const override { return kLive; }
    void RegisterObserver(webrtc::ObserverInterface*) override {}
    void UnregisterObserver(webrtc::ObserverInterface*) override {}
    rtc::scoped_refptr<SyntheticVideoSource> source;
  };
  auto track = std::make_shared<VideoTrackRef>(VideoTrackRef{rtc::make_ref_counted<SourceTrack>(source)});
  ConnectedVideoStage& stage = show();
  model_.setRemoteVideoTrack(track);
  model_.set(&VideoCallFields::hasRemoteVideo, true);
  source->start(200);
  ASSERT_TRUE(pumpUntil([&] { return videoPaintableFrameCount(stage.remoteFeed().paintable()) >= 3; }));
  // The call manager's teardown.
  model_.setRemoteVideoTrack(nullptr);
  model_.set(&VideoCallFields::hasRemoteVideo, false);
  EXPECT_FALSE(stage.remoteFeed().sink().isAttached());
  const auto received = stage.remoteFeed().sink().stats().received;
  pumpFor(100ms);
  EXPECT_EQ(stage.remoteFeed().sink().stats().received, received);
  EXPECT_EQ(videoPaintableTexture(stage.remoteFeed().paintable()), nullptr);
  // Attached again, then the whole window goes while frames flow.
  model_.setRemoteVideoTrack(track);
  model_.set(&VideoCallFields::hasRemoteVideo, true);
  ASSERT_TRUE(pumpUntil([&] { return stage.remoteFeed().sink().stats().shown > 0; }));
  window_->destroy();
  window_.reset();
  stage_ = nullptr;
  pumpFor(100ms);
  source->stop();
  EXPECT_GT(source->delivered(), 0);
}

TEST_F(ConnectedVideoStageIntegration, ClicksSwapDragsMoveTheTileAndItStaysReachable) {
  ConnectedVideoStage& stage = show();
  EXPECT_EQ(stage.tileTarget(), (StageRect{604, 425, 240, 135}));
  // A press outside the tile is not the tile's.
  EXPECT_FALSE(stage.pressAt(100, 100));
  // Click, click: swapped and back.
  for (bool expected : {true, false}) {
    ASSERT_TRUE(stage.pressAt(700, 500));
    stage.dragBy(2, 2);
    stage.release(2, 2);
    EXPECT_EQ(model_->isSwapped, expected);
  }
  // A drag by (−300, −200) leaves the tile there; a second one continues.
  ASSERT_TRUE(stage.pressAt(700, 500));
  stage.dragBy(-150, -100);
  EXPECT_EQ(stage.currentPipOffset(), (StageSize{-150, -100}));
  stage.release(-300, -200);
  EXPECT_FALSE(model_->isSwapped);
  EXPECT_EQ(stage.tileTarget(), (StageRect{304, 225, 240, 135}));
  ASSERT_TRUE(stage.pressAt(400, 300));
  stage.release(-5000, 5000);
  // Kept 48 pt inside the left and bottom edges.
  EXPECT_EQ(stage.tileTarget(), (StageRect{-192, 592, 240, 135}));
  // Hiding the controls shrinks and lowers the tile over 0.4 s; the saved
  // offset stays on top of the new home.
  stage.setControlsVisible(false);
  pumpFor(600ms);
  const StageRect hidden = stage.tileTarget();
  EXPECT_EQ(hidden.width, 192);
  EXPECT_EQ(hidden.height, 108);
  EXPECT_GE(std::min(hidden.y + hidden.height, 640.0) - std::max(hidden.y, 0.0), kTileKeepInside);

  // Only the other party shares: the tile lets clicks through.
  model_.set(&VideoCallFields::remoteScreenSharing, true);
  EXPECT_FALSE(stage.pressAt(hidden.x + 60, hidden.y + 10));
  // I share too: my screen is large; when the other party stops, mine stays large.
  model_.set(&VideoCallFields::isScreenSharing, true);
  EXPECT_TRUE(model_->isSwapped);
  model_.set(&VideoCallFields::remoteScreenSharing, false);
  EXPECT_TRUE(model_->isSwapped);
  model_.set(&VideoCallFields::isScreenSharing, false);
  EXPECT_FALSE(model_->isSwapped);
  pumpFor(50ms);
  WidgetPicture picture(stage);
  ASSERT_TRUE(picture.valid());
  picture.save(fs::path(ORVIK_BINARY_DIR) / "test-output" / "ConnectedVideoStageIntegration" / "tile-dragged-to-edge.png");
}

TEST_F(ConnectedVideoStageIntegration, PlaceholdersFillTheFeedsWithoutVideo) {
  model_.set(&VideoCallFields::remoteVideoOff, true);
  model_.set(&VideoCallFields::remoteMuted, true);
  model_.set(&VideoCallFields::isMuted, true);
  ConnectedVideoStage& stage = show();
  pumpFor(100ms);
  WidgetPicture picture(stage);
  ASSERT_TRUE(picture.valid());
  picture.save(fs::path(ORVIK_BINARY_DIR) / "test-output" / "ConnectedVideoStageIntegration" / "camera-off.png");
  // The large feed is the purple stage gradient, not black.
  const Rgb middle = picture.at(430, 330);
  EXPECT_GT(middle.b, middle.g);
  EXPECT_GT(middle.r + middle.b, 20);
  // The tile's mute badge is red.
  const StageRect tile = stage.tileTarget();
  const Rgb badge = picture.at(static_cast<int>(tile.x + 8 + 3), static_cast<int>(tile.y + tile.height - 8 - 12));
  EXPECT_GT(badge.r, 150);
  EXPECT_LT(badge.g, 100);
}

}  // namespace
}  // namespace orvik

namespace orvik {
namespace {

// A paintable drawn on its own at its intrinsic size.
std::vector<Rgb> renderPaintable(GdkPaintable* paintable, int width, int height) {
  GtkSnapshot* snapshot = gtk_snapshot_new();
  gdk_paintable_snapshot(paintable, snapshot, width, height);
  GskRenderNode* node = gtk_snapshot_free_to_node(snapshot);
  GskRenderer* renderer = gsk_cairo_renderer_new();
  gsk_renderer_realize(renderer, nullptr, nullptr);
  graphene_rect_t viewport = GRAPHENE_RECT_INIT(0, 0, static_cast<float>(width), static_cast<float>(height));
  GdkTexture* texture = gsk_renderer_render_texture(renderer, node, &viewport);
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(width) * height * 4);
  gdk_texture_download(texture, bytes.data(), static_cast<gsize>(width) * 4);
  g_object_unref(texture);
  gsk_renderer_unrealize(renderer);
  g_object_unref(renderer);
  gsk_render_node_unref(node);
  std::vector<Rgb> pixels;
  for (std::size_t i = 0; i < bytes.size(); i += 4) pixels.push_back({bytes[i + 2], bytes[i + 1], bytes[i]});
  return pixels;
}

class VideoPaintableIntegration : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!gtk_init_check()) GTEST_SKIP() << "no display";
  }
  std::shared_ptr<const RgbaVideoFrame> bars(int rotation) {
    auto buffer = orvik::testing::colourBarsFrame(64, 32, 0);
    return converter.convert({64, 32, buffer->DataY(), buffer->DataU(), buffer->DataV(), buffer->StrideY(),
                              buffer->StrideU(), buffer->StrideV()},
                             rotation);
  }
  I420ToRgbaConverter converter;
};

// Bar 0 (white) is the picture's left edge and bar 7 (black) its right edge.
TEST_F(VideoPaintableIntegration, TheFrameIsDrawnUprightWithItsRotationAndMirroredForTheCamera) {
  struct Case {
    int rotation;
    bool mirrored;
    int width, height;  // intrinsic
    // Which bar shows at the middle of the top, bottom, left and right edges.
    int top, bottom, left, right;
  };
  const std::vector<Case> cases = {
      {0, false, 64, 32, -1, -1, 0, 7},
      {180, false, 64, 32, -1, -1, 7, 0},
      // A quarter turn clockwise puts the picture's left edge at the top.
      {90, false, 32, 64, 0, 7, -1, -1},
      {270, false, 32, 64, 7, 0, -1, -1},
      // The camera's mirror swaps left and right of the upright picture.
      {0, true, 64, 32, -1, -1, 7, 0},
      {90, true, 32, 64, 0, 7, -1, -1},
  };
  for (const Case& c : cases) {
    GdkPaintable* paintable = videoPaintableNew();
    videoPaintableSetMirrored(paintable, c.mirrored);
    videoPaintableShowFrame(paintable, bars(c.rotation));
    EXPECT_EQ(gdk_paintable_get_intrinsic_width(paintable), c.width) << c.rotation;
    EXPECT_EQ(gdk_paintable_get_intrinsic_height(paintable), c.height) << c.rotation;
    const auto pixels = renderPaintable(paintable, c.width, c.height);
    auto at = [&](int x, int y) { return nearestBar(pixels[static_cast<std::size_t>(y) * c.width + x]); };
    const std::string what = std::to_string(c.rotation) + (c.mirrored ? " mirrored" : "");
    if (c.top >= 0) {
      EXPECT_EQ(at(c.width / 2, 1), c.top) << what;
    }
    if (c.bottom >= 0) {
      EXPECT_EQ(at(c.width / 2, c.height - 2), c.bottom) << what;
    }
    if (c.left >= 0) {
      EXPECT_EQ(at(1, c.height / 2), c.left) << what;
    }
    if (c.right >= 0) {
      EXPECT_EQ(at(c.width - 2, c.height / 2), c.right) << what;
    }
    g_object_unref(paintable);
  }
}

TEST_F(VideoPaintableIntegration, FitLeavesBarsAndFillCrops) {
  GdkPaintable* paintable = videoPaintableNew();
  videoPaintableShowFrame(paintable, bars(0));  // 2:1 into a square
  auto fit = renderPaintable(paintable, 64, 64);
  EXPECT_EQ(colourDistance(fit[static_cast<std::size_t>(2) * 64 + 32], {0, 0, 0}), 0) << "bar above the picture";
  videoPaintableSetFill(paintable, true);
  auto fill = renderPaintable(paintable, 64, 64);
  // Filled and cropped: the middle four bars (cyan to red) cover the square.
  EXPECT_EQ(nearestBar(fill[static_cast<std::size_t>(2) * 64 + 2]), 2);
  EXPECT_EQ(nearestBar(fill[static_cast<std::size_t>(2) * 64 + 61]), 5);
  videoPaintableClear(paintable);
  EXPECT_EQ(videoPaintableTexture(paintable), nullptr);
  EXPECT_EQ(gdk_paintable_get_intrinsic_width(paintable), 0);
  g_object_unref(paintable);
}

// The paintable may outlive the feed and the feed the widget: whichever
// goes first, the texture's bytes keep the picture's buffer.
TEST_F(VideoPaintableIntegration, TheTextureKeepsItsPictureAfterTheFeedIsGone) {
  GdkPaintable* paintable = videoPaintableNew();
  {
    auto frame = bars(0);
    videoPaintableShowFrame(paintable, frame);
  }
  converter = I420ToRgbaConverter();  // the pool is gone too
  const auto pixels = renderPaintable(paintable, 64, 32);
  EXPECT_EQ(nearestBar(pixels[16 * 64 + 1]), 0);
  g_object_unref(paintable);
}

TEST_F(VideoPaintableIntegration, TheCallingOverlayAndTheMutedBadgeTellTheirTexts) {
  platform::VirtualQueue queue;
  platform::ScopedMainQueue main(queue);
  Gtk::init_gtkmm_internals();
  CallStrings strings{[](const std::string&) {}};
  VideoCallViewModel model(strings);
  model.set(&VideoCallFields::timerText, std::string());
  VideoCallingStateOverlay overlay(model, "Calling...");
  EXPECT_EQ(overlay.statusText(), "Calling...");
  model.set(&VideoCallFields::timerText, std::string("Connecting..."));
  EXPECT_EQ(overlay.statusText(), "Connecting...");
  RemoteMutedBadge badge("anna_lee");
  EXPECT_EQ(badge.text(), "anna muted");
  // The dots pulse out of step, each 0.25 s behind the one before.
  EXPECT_EQ(videoStatusDotLook(0.2, 0.25).scale, 0.7);
  EXPECT_GT(videoStatusDotLook(0.2, 0).scale, 0.7);
  EXPECT_NEAR(videoStatusDotLook(1.4, 0).scale, 1.1, 1e-9);
  EXPECT_NEAR(videoStatusDotLook(1.65, 0.25).opacity, 1.0, 1e-9);
  EXPECT_NEAR(videoStatusDotLook(2.8, 0).scale, 0.7, 1e-9);
}

// The drawn camera-off placeholder loads the party's picture like the
// avatar widgets do, and shows the crown on gold where the badge's own image
// cannot be had.
TEST_F(ConnectedVideoStageIntegration, TheCameraOffPlaceholderShowsThePartysPictureOnceItHasLoaded) {
  GdkPixbuf* pixbuf = gdk_pixbuf_new(GDK_COLORSPACE_RGB, FALSE, 8, 64, 64);
  gdk_pixbuf_fill(pixbuf, 0x3080c0ff);
  gchar* buffer = nullptr;
  gsize length = 0;
  gdk_pixbuf_save_to_buffer(pixbuf, &buffer, &length, "png", nullptr, nullptr);
  orvik::testing::LocalWebServer server;
  server.route("/face.png", {200, "image/png", std::string(buffer, length)});
  g_free(buffer);
  g_object_unref(pixbuf);

  model_.set(&VideoCallFields::remoteVideoOff, true);
  model_.set(&VideoCallFields::isSubscribed, true);
  model_.set(&VideoCallFields::imageUrl, server.url("/face.png"));
  ConnectedVideoStage::Feeds feeds;
  feeds.subscriberBadgeURL = server.url("/no-badge.png");
  stage_ = Gtk::make_managed<ConnectedVideoStage>(model_, true, feeds);
  window_->set_child(*stage_);
  window_->present();
  ASSERT_TRUE(pumpUntil([&] { return stage_->get_width() == 860 && stage_->get_height() == 640; }, 10s));

  const auto facePixels = [&] {
    WidgetPicture picture(*stage_);
    if (!picture.valid()) return 0;
    int count = 0;
    for (int y = 0; y < 640; y += 2) {
      for (int x = 0; x < 860; x += 2) count += colourDistance(picture.at(x, y), Rgb{0x30, 0x80, 0xc0}) < 12;
    }
    return count;
  };
  EXPECT_TRUE(pumpUntil([&] { return server.received("/face.png") && server.received("/no-badge.png"); }, 10s));
  EXPECT_TRUE(pumpUntil([&] { return facePixels() > 400; }, 10s)) << "the picture fills the avatar's circle";
  WidgetPicture picture(*stage_);
  ASSERT_TRUE(picture.valid());
  picture.save(fs::path(ORVIK_BINARY_DIR) / "test-output" / "ConnectedVideoStageIntegration" / "camera-off-picture.png");
}

}  // namespace
}  // namespace orvik

// The video call window on an X display of the test's own with a window
// manager (openbox), with synthetic camera frames for both parties: the
// remote picture fills the stage and my mirrored camera sits in the tile;
// clicking the tile swaps them; the controls hide after the pointer leaves;
// the picture-in-picture panel appears at the top right and "expand" brings
// the window back; the share picker lists the test's windows with pictures
// and preselects the last choice; closing during a connected call ends it
// through the call manager (a recording fake) and shows the call-ended card;
// with no call the window closes. A screenshot of each state is written to
// the test's output folder.
#include <gtest/gtest.h>
#include <gtkmm/button.h>
#include <gtkmm/window.h>

#include <api/video/video_frame.h>
#include <api/media_stream_interface.h>

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <string>
#include <vector>

#include "calls/control/call_ports.h"
#include "calls/control/call_strings.h"
#include "calls/control/test_support/recording_call_control.h"
#include "calls/media/call_peer_connection_internal.h"
#include "calls/media/camera_source.h"
#include "calls/screens/call_ended_overlay.h"
#include "calls/screens/connected_video_stage.h"
#include "calls/screens/screen_recording_views.h"
#include "calls/screens/screen_share_picker_view.h"
#include "calls/screens/screen_share_thumbnails.h"
#include "calls/screens/test_support/synthetic_video_source.h"
#include "calls/screens/test_support/widget_tree.h"
#include "calls/screens/video_call_controls_gtk.h"
#include "calls/screens/video_paintable.h"
#include "calls/screens/video_pip_view.h"
#include "calls/windows/floating_call_panel_control.h"
#include "calls/windows/native_video_call_window.h"
#include "calls/windows/native_video_pip.h"
#include "calls/windows/video_call_window_gtk.h"
#include "core/theme_manager.h"
#include "platform/capture_authorization.h"
#include "platform/test_support/background_process.h"
#include "platform/test_support/subprocess.h"
#include "platform/test_support/temp_dir.h"
#include "platform/user_defaults.h"
#include "platform/window_placement.h"
#include "calls/windows/test_support/openbox_display.h"
#include "calls/windows/test_support/x11_window_lists.h"

#include <gdk/x11/gdkx.h>
#include <gtk/gtk.h>

#include <X11/Xatom.h>
#include <X11/Xlib.h>

namespace orvik {
namespace {

using orvik::testing::BackgroundProcess;
using orvik::testing::kColourBars;
using orvik::testing::Rgb;
using orvik::testing::colourDistance;
using orvik::testing::nearestBar;
using orvik::testing::SyntheticVideoSource;

using orvik::testing::windowList;

// A video track over the synthetic source, as a peer connection's remote
// track would be.
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

class GrantedMicrophone final : public platform::CaptureAuthorization {
 public:
  platform::CaptureAuthorizationStatus status(platform::CaptureDevice) const override {
    return platform::CaptureAuthorizationStatus::authorized;
  }
  void request(platform::CaptureDevice, std::function<void(bool)> done) override { done(true); }
};

class NoAlerts final : public CallAlerts {
 public:
  void showCallAlert(const std::string& title, const std::string&) override { titles.push_back(title); }
  std::vector<std::string> titles;
};

constexpr const char* kSuite = "VideoCallWindowIntegration";

class VideoCallWindowIntegration : public ::testing::Test {
 protected:
  void SetUp() override {
    const testing::OpenboxDisplay::Options screen{.home = home_.path(), .exportDisplay = true};
    if (auto why = testing::OpenboxDisplay::unavailable(screen)) GTEST_SKIP() << *why;
    if (!testing::startGtk()) GTEST_SKIP() << "no display to start GTK on";
    std::string error;
    openbox_ = testing::OpenboxDisplay::start(screen, error);
    ASSERT_TRUE(openbox_) << error;
    xdisplay_ = openbox_->x();
    placement_ = platform::makeWindowPlacement();
    thumbnailer_ = std::make_unique<X11ScreenShareThumbnailer>();

    VideoCallViewOptions view;
    view.cameraSource = [](const CameraSessionHandle& session) { return session ? session->preview : nullptr; };
    view.defaults = &defaults_;
    view.thumbnailer = thumbnailer_.get();
    auto gtkFactory = VideoCallWindowGtk::factory({*placement_, strings_, view});
    window_ = NativeVideoCallWindow::create(
        {calls_, microphone_, strings_, nullptr, floating_, alerts_, [] { return LocalCallIdentity{"me", {}, ""}; },
         [this] { return pip_.get(); },
         [this, gtkFactory](const VideoCallWindowSetup& setup, VideoCallViewModel& model, VideoCallActions a,
                            VideoCallWindowDelegate& delegate) {
           auto built = gtkFactory(setup, model, std::move(a), delegate);
           gtkWindow_ = static_cast<VideoCallWindowGtk*>(built.get());
           return built;
         },
         [](const std::string&) {}});
    auto pipFactory = VideoPiPPanelGtk::factory({*placement_, view.cameraSource, ""});
    pip_ = NativeVideoPiP::create({calls_, window_->model(), [this] { window_->bringToFront(); },
                                   [] { return StageRect{}; }, [] { return false; },
                                   [this, pipFactory](const VideoPiPSetup& setup, VideoCallViewModel& model,
                                                      VideoPiPActions a) {
                                     auto built = pipFactory(setup, model, std::move(a));
                                     pipPanel_ = static_cast<VideoPiPPanelGtk*>(built.get());
                                     return built;
                                   }});
  }

  void TearDown() override {
    if (remoteSource_) remoteSource_->stop();
    if (cameraSource_) cameraSource_->stop();
    if (window_) window_->model().setRemoteVideoTrack(nullptr);
    pip_.reset();
    window_.reset();
    for (GtkWindow* w : others_) gtk_window_destroy(w);
    testing::iterateUntil([] { return false; }, 0.3);
    thumbnailer_.reset();
    openbox_.reset();
  }

  ::Window xid(GtkWindow* window) { return openbox_->xid(window); }
  bool managed(GtkWindow* window) { return openbox_->managed(window); }
  bool isAbove(GtkWindow* upper, GtkWindow* lower) { return openbox_->isAbove(upper, lower); }
  bool hasState(GtkWindow* window, const char* state) { return openbox_->hasState(window, state); }
  std::vector<int> placeOf(GtkWindow* window) {
    int x = 0, y = 0;
    ::Window child = None;
    XTranslateCoordinates(xdisplay_, xid(window), DefaultRootWindow(xdisplay_), 0, 0, &x, &y, &child);
    return {x, y, x + gtk_widget_get_width(GTK_WIDGET(window))};
  }
  GtkWindow* plainWindow(const char* title, int width, int height) {
    GtkWindow* w = GTK_WINDOW(gtk_window_new());
    gtk_window_set_title(w, title);
    gtk_window_set_default_size(w, width, height);
    gtk_window_present(w);
    others_.push_back(w);
    return w;
  }
  // Frames of both parties: the other party's camera as the remote track and
  // mine as the camera session's preview, one still frame each so the
  // pictures can be read.
  void startVideo() {
    remoteSource_ = rtc::make_ref_counted<SyntheticVideoSource>(320, 180);
    cameraSource_ = rtc::make_ref_counted<SyntheticVideoSource>(320, 180);
    auto track = std::make_shared<VideoTrackRef>(VideoTrackRef{rtc::make_ref_counted<SourceTrack>(remoteSource_)});
    auto session = std::make_shared<CameraSessionRef>(
        CameraSessionRef{std::make_shared<VideoSourceRef>(VideoSourceRef{cameraSource_})});
    VideoCallViewModel& model = window_->model();
    model.setRemoteVideoTrack(track);
    model.set(&VideoCallFields::hasRemoteVideo, true);
    model.set(&VideoCallFields::cameraSession, session);
  }
  // At most one frame of each every 40 ms, so that drawing keeps up.
  void deliverFrames() {
    const gint64 now = g_get_monotonic_time();
    if (now - lastFrameAt_ < 40000) return;
    lastFrameAt_ = now;
    remoteSource_->deliver(0);
    cameraSource_->deliver(0);
  }
  gint64 lastFrameAt_ = 0;

  testing::TempDir home_;
  std::unique_ptr<testing::OpenboxDisplay> openbox_;
  ::Display* xdisplay_ = nullptr;
  std::unique_ptr<platform::WindowPlacement> placement_;
  std::unique_ptr<ScreenShareThumbnailer> thumbnailer_;
  platform::UserDefaults defaults_{home_ / "defaults.json"};
  CallStrings strings_{[](const std::string&) {}};
  testing::RecordingCallControl calls_;
  GrantedMicrophone microphone_;
  NoFloatingCallPanel floating_;
  NoAlerts alerts_;
  std::shared_ptr<NativeVideoCallWindow> window_;
  std::shared_ptr<NativeVideoPiP> pip_;
  VideoCallWindowGtk* gtkWindow_ = nullptr;
  VideoPiPPanelGtk* pipPanel_ = nullptr;
  std::vector<GtkWindow*> others_;
  rtc::scoped_refptr<SyntheticVideoSource> remoteSource_;
  rtc::scoped_refptr<SyntheticVideoSource> cameraSource_;
};

TEST_F(VideoCallWindowIntegration, AConnectedCallShowsBothPicturesSwapsHidesItsControlsAndGoesToPictureInPicture) {
  GtkWindow* main = plainWindow("main", 900, 700);
  if (!testing::iterateUntil([&] { return managed(main); }, 20.0)) {
    GTEST_SKIP() << "openbox did not manage a plain window within 20 s";
  }
  calls_.state = CallState(CallState::Kind::connected);
  window_->open(videoCallRequest(VideoCallEntry::upgrade, {"anna_lee", "15551234567", ""}, true, true));
  ASSERT_TRUE(testing::iterateUntil([&] { return gtkWindow_ && managed(gtkWindow_->window().gobj()); }, 20.0));
  Gtk::Window& shown = gtkWindow_->window();
  EXPECT_EQ(shown.get_title(), "Orvik – Video Call");
  VideoCallView& view = gtkWindow_->view();
  ConnectedVideoStage& stage = *view.stage();
  window_->model().set(&VideoCallFields::timerText, std::string("00:07"));
  startVideo();
  ASSERT_TRUE(testing::iterateUntil([&] {
    deliverFrames();
    return videoPaintableFrameCount(stage.remoteFeed().paintable()) >= 2 &&
           videoPaintableFrameCount(stage.cameraFeed().paintable()) >= 2 && stage.get_width() >= 780;
  }, 20.0)) << "remote " << videoPaintableFrameCount(stage.remoteFeed().paintable()) << " (received "
             << stage.remoteFeed().sink().stats().received << "), camera "
             << videoPaintableFrameCount(stage.cameraFeed().paintable()) << " (received "
             << stage.cameraFeed().sink().stats().received << "), stage " << stage.get_width() << "×"
             << stage.get_height() << (stage.get_mapped() ? " mapped" : " not mapped");
  testing::settle(shown);

  // The other party fills the stage; my camera is mirrored in the tile. The
  // bars run white to black from left to right, so a mirrored picture shows
  // a later bar on its left than on its right.
  const double midY = stage.get_height() / 2.0;
  auto mainBars = [&](const testing::WidgetPicture& picture) {
    return std::pair{nearestBar(picture.at(stage.get_width() * 0.1, midY)),
                     nearestBar(picture.at(stage.get_width() * 0.9, midY))};
  };
  auto tileBars = [&](const testing::WidgetPicture& picture) {
    const StageRect tile = stage.tileTarget();
    const double y = tile.y + tile.height / 2;
    return std::pair{nearestBar(picture.at(tile.x + tile.width * 0.1, y)),
                     nearestBar(picture.at(tile.x + tile.width * 0.9, y))};
  };
  const StageRect tile = stage.tileTarget();
  {
    testing::WidgetPicture picture(stage);
    ASSERT_TRUE(picture.valid());
    const auto [left, right] = mainBars(picture);
    EXPECT_LT(left, right) << "the other party's picture, as sent";
    const auto [tileLeft, tileRight] = tileBars(picture);
    EXPECT_GT(tileLeft, tileRight) << "my camera, mirrored";
  }
  const auto texts = testing::shownTexts(shown);
  for (const char* text : {"anna_lee", "OrvikID: 155 512 345 67", "00:07"}) {
    EXPECT_NE(std::find(texts.begin(), texts.end(), text), texts.end()) << text;
  }
  EXPECT_NE(view.controlsBar().button(VideoControl::screenShare), nullptr) << "share offered while connected";
  testing::saveScreenshot(shown, kSuite, "connected");

  // A click on the tile swaps the pictures.
  ASSERT_TRUE(stage.pressAt(tile.x + tile.width / 2, tile.y + tile.height / 2));
  stage.release(0, 0);
  EXPECT_TRUE(window_->model()->isSwapped);
  deliverFrames();
  testing::settle(shown);
  {
    testing::WidgetPicture picture(stage);
    const auto [left, right] = mainBars(picture);
    EXPECT_GT(left, right) << "my mirrored camera fills the stage";
    const auto [tileLeft, tileRight] = tileBars(picture);
    EXPECT_LT(tileLeft, tileRight) << "the other party in the tile";
  }
  testing::saveScreenshot(shown, kSuite, "swapped");

  // The pointer leaves: the controls hide 5 s later and take no clicks.
  view.autoHide().pointerEntered();
  view.autoHide().pointerLeft();
  EXPECT_TRUE(view.controlsShown());
  ASSERT_TRUE(testing::iterateUntil([&] { return !view.controlsShown(); }, 8.0));
  EXPECT_FALSE(view.controlsBar().get_can_target());
  EXPECT_EQ(view.controlsBar().get_opacity(), 0);
  testing::settle(shown);
  testing::saveScreenshot(shown, kSuite, "controls-hidden");
  view.autoHide().clicked();
  EXPECT_TRUE(view.controlsShown());

  // The window goes behind the main window: the floating panel's check shows
  // the picture-in-picture panel at the top right, above everything and on
  // every desktop.
  gtk_window_present(main);
  testing::iterateUntil([&] { return isAbove(main, shown.gobj()); }, 5.0);
  pip_->showIfActive();
  ASSERT_TRUE(testing::iterateUntil([&] { return pipPanel_ && managed(pipPanel_->window().gobj()); }, 20.0));
  GtkWindow* panel = pipPanel_->window().gobj();
  ASSERT_TRUE(testing::iterateUntil([&] { return hasState(panel, "_NET_WM_STATE_ABOVE"); }, 10.0));
  testing::iterateUntil([] { return false; }, 0.5);
  const auto place = placeOf(panel);
  EXPECT_NEAR(place[2], 1280 - 20, 12) << "left " << place[0] << " top " << place[1];
  EXPECT_GE(place[1], 20);
  EXPECT_LE(place[1], 20 + 40);
  EXPECT_EQ(gtk_widget_get_width(GTK_WIDGET(panel)), 264);
  const auto desktop = windowList(xdisplay_, xid(panel), "_NET_WM_DESKTOP", XA_CARDINAL);
  ASSERT_EQ(desktop.size(), 1u);
  EXPECT_EQ(desktop[0] & 0xFFFFFFFFul, 0xFFFFFFFFul);
  EXPECT_TRUE(isAbove(panel, main));
  deliverFrames();
  testing::settle(pipPanel_->window());
  const auto pipTexts = testing::shownTexts(pipPanel_->window());
  EXPECT_NE(std::find(pipTexts.begin(), pipTexts.end(), "anna_lee"), pipTexts.end());
  testing::saveScreenshot(pipPanel_->window(), kSuite, "picture-in-picture");

  // Expand: the panel goes and the call window comes back in front.
  testing::click(&pipPanel_->view().expandButton());
  ASSERT_TRUE(testing::iterateUntil([&] { return !pip_->isShown() && isAbove(shown.gobj(), main); }, 10.0));
  EXPECT_TRUE(shown.get_visible());

  // Closing during the call ends it; the manager marks the end and closes.
  calls_.onEndCall = [&] {
    calls_.state = CallState(CallState::Kind::ended);
    window_->model().set(&VideoCallFields::callEnded, true);
  };
  gtk_window_close(shown.gobj());
  testing::iterateUntil([] { return false; }, 0.3);
  EXPECT_EQ(std::count(calls_.calls.begin(), calls_.calls.end(), "endCall"), 1);
  ASSERT_TRUE(window_->hasWindow()) << "the window waits for the manager";
  EXPECT_TRUE(testing::isShown(view.callEndedCard()));
  const auto endedTexts = testing::shownTexts(shown);
  for (const char* text : {"anna_lee", "Call Ended", "Thank you for using Orvik Reveraraz"}) {
    EXPECT_NE(std::find(endedTexts.begin(), endedTexts.end(), text), endedTexts.end()) << text;
  }
  testing::saveScreenshot(shown, kSuite, "call-ended");
  window_->close();
  ASSERT_TRUE(testing::iterateUntil([&] { return !window_->hasWindow(); }, 5.0));
  EXPECT_TRUE(testing::iterateUntil([&] { return !pip_->hasPanel(); }, 5.0)) << "the panel goes with the window";
}

TEST_F(VideoCallWindowIntegration, TheSharePickerListsTheWindowsWithPicturesAndPreselectsTheLastChoice) {
  GtkWindow* notes = plainWindow("Notes one", 420, 300);
  GtkWindow* sheet = plainWindow("Sheet two", 420, 300);
  if (!testing::iterateUntil([&] { return managed(notes) && managed(sheet); }, 20.0)) {
    GTEST_SKIP() << "openbox did not manage a plain window within 20 s";
  }
  calls_.state = CallState(CallState::Kind::connected);
  window_->open(videoCallRequest(VideoCallEntry::upgrade, {"anna_lee", "4711", ""}, false, false));
  ASSERT_TRUE(testing::iterateUntil([&] { return gtkWindow_ && managed(gtkWindow_->window().gobj()); }, 20.0));
  Gtk::Window& shown = gtkWindow_->window();
  VideoCallView& view = gtkWindow_->view();
  testing::settle(shown);

  // The share button asks the manager, which lists what the desktop offers.
  VideoBtn* share = view.controlsBar().button(VideoControl::screenShare);
  ASSERT_NE(share, nullptr);
  testing::click(share);
  ASSERT_EQ(calls_.calls.back(), "toggleScreenShare");
  // What the manager would offer: the whole screen and the test's two
  // windows (the desktop's listing has tests of its own; its X connection
  // would outlive this test's X server).
  auto publishListing = [&] {
    ShareableContent listed;
    listed.displays.push_back({0, "Entire screen", 1280, 900});
    for (GtkWindow* w : {notes, sheet}) {
      ShareableWindow window;
      window.id = static_cast<std::uint32_t>(xid(w));
      window.title = gtk_window_get_title(w);
      window.owner = OwningApplication{static_cast<std::int64_t>(getpid()), "Orvik tests", "orvik-tests"};
      window.width = gtk_widget_get_width(GTK_WIDGET(w));
      window.height = gtk_widget_get_height(GTK_WIDGET(w));
      listed.windows.push_back(window);
    }
    window_->model().set(&VideoCallFields::screenShareOptions, std::make_shared<const ShareableContent>(listed));
  };
  publishListing();
  ScreenSharePickerOverlay* picker = view.picker();
  ASSERT_NE(picker, nullptr);
  EXPECT_FALSE(picker->shareButton().get_sensitive()) << "nothing chosen before the pictures";
  ASSERT_TRUE(testing::iterateUntil([&] { return picker->thumbnailsApplied(); }, 20.0));
  ASSERT_EQ(picker->cards().size(), 2u);
  std::vector<std::string> titles;
  for (auto* card : picker->cards()) {
    titles.push_back(card->title());
    EXPECT_TRUE(card->hasThumbnail()) << card->title();
  }
  std::sort(titles.begin(), titles.end());
  EXPECT_EQ(titles, (std::vector<std::string>{"Orvik tests — Notes one", "Orvik tests — Sheet two"}));
  EXPECT_EQ(picker->picker().selectedWindowIndex(), 0u) << "the first window once the pictures are in";
  EXPECT_TRUE(picker->shareButton().get_sensitive());
  testing::settle(shown);
  testing::saveScreenshot(shown, kSuite, "share-picker");

  // Choose the sheet and share it.
  std::size_t sheetIndex = picker->cards()[0]->title().find("Sheet two") != std::string::npos ? 0 : 1;
  testing::click(picker->cards()[sheetIndex]);
  testing::click(&picker->shareButton());
  EXPECT_EQ(calls_.calls.back(), "startScreenShare window " + std::to_string(xid(sheet)));
  EXPECT_EQ(window_->model()->screenShareOptions, nullptr);
  testing::iterateUntil([&] { return view.picker() == nullptr; }, 2.0);
  EXPECT_EQ(view.picker(), nullptr) << "the picker closes right after the share starts";

  // The next time the sheet is preselected.
  publishListing();
  picker = view.picker();
  ASSERT_NE(picker, nullptr);
  ASSERT_TRUE(picker->picker().selectedWindowIndex());
  EXPECT_NE(picker->cards()[*picker->picker().selectedWindowIndex()]->title().find("Sheet two"), std::string::npos);
  testing::iterateUntil([&] { return picker->thumbnailsApplied(); }, 20.0);
  testing::settle(shown);
  testing::saveScreenshot(shown, kSuite, "share-picker-preselected");
  testing::click(&picker->cancelButton());
  EXPECT_EQ(window_->model()->screenShareOptions, nullptr);

  // The permission cards: Continue asks again; the notice's OK only hides it.
  window_->model().set(&VideoCallFields::showScreenSharePrimer, true);
  ASSERT_NE(view.primer(), nullptr);
  testing::settle(shown);
  testing::saveScreenshot(shown, kSuite, "share-primer");
  testing::click(&view.primer()->primaryButton());
  EXPECT_EQ(calls_.calls.back(), "requestScreenShareOptions true");
  EXPECT_FALSE(window_->model()->showScreenSharePrimer);
  window_->model().set(&VideoCallFields::showScreenRecordingDenied, true);
  ASSERT_NE(view.deniedNotice(), nullptr);
  testing::settle(shown);
  testing::saveScreenshot(shown, kSuite, "share-denied");
  view.deniedNotice()->clickBackdrop();
  EXPECT_FALSE(window_->model()->showScreenRecordingDenied);
}

TEST_F(VideoCallWindowIntegration, WithNoCallRunningTheCloseButtonClosesTheWindow) {
  window_->open(videoCallRequest(VideoCallEntry::incoming, {"bob", "4711", ""}, false, true));
  ASSERT_TRUE(testing::iterateUntil([&] { return gtkWindow_ && managed(gtkWindow_->window().gobj()); }, 20.0));
  Gtk::Window& shown = gtkWindow_->window();
  EXPECT_EQ(shown.get_title(), "Orvik – Incoming Video Call");
  testing::settle(shown);
  EXPECT_TRUE(testing::isShown(gtkWindow_->view().incomingBar()));
  testing::saveScreenshot(shown, kSuite, "incoming");
  // The ring has ended (missed elsewhere) but nothing closed the window.
  calls_.state = CallState(CallState::Kind::ended);
  gtk_window_close(shown.gobj());
  ASSERT_TRUE(testing::iterateUntil([&] { return !window_->hasWindow(); }, 5.0));
  EXPECT_TRUE(calls_.calls.empty()) << "nothing to end";
}

}  // namespace
}  // namespace orvik

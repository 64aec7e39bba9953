// A video call between two call engines of this program in one process, seen
// through the real video call window on an X display of the test's own with
// a window manager (openbox). Bob (4712 on phoneB) calls Ann (4711 on deskA)
// through the local call server (tools/devservice) over real WebRTC on
// loopback; both cameras are synthetic colour bars. Ann's engine is wired as
// the program wires it: the call manager, the shell's call-window port, the
// video call window with its view, the return-to-call panel and the
// picture-in-picture panel, and the desktop's screen share. The pointer
// presses real pixels through XTest. A screenshot of each state is written
// to the test's output folder.
#include <gtest/gtest.h>
#include <gtkmm/button.h>
#include <gtkmm/window.h>

#include <api/media_stream_interface.h>
#include <api/video/i420_buffer.h>
#include <api/video/video_frame.h>
#include <api/video/video_sink_interface.h>
#include <rtc_base/time_utils.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/call_engine_ports.h"
#include "calls/control/call_port_backends.h"
#include "calls/control/call_strings.h"
#include "calls/control/native_call_manager.h"
#include "calls/control/test_support/channel_tap.h"
#include "calls/control/test_support/recording_call_ports.h"
#include "calls/media/call_media_capture.h"
#include "calls/media/call_peer_connection.h"
#include "calls/media/call_peer_connection_internal.h"
#include "calls/media/local_video_source.h"
#include "calls/media/test_support/loopback_call.h"
#include "calls/screens/call_ended_overlay.h"
#include "calls/screens/connected_video_stage.h"
#include "calls/screens/screen_share_picker_view.h"
#include "calls/screens/screen_share_thumbnails.h"
#include "calls/screens/test_support/synthetic_video_source.h"
#include "calls/screens/test_support/widget_tree.h"
#include "calls/screens/video_call_controls_gtk.h"
#include "calls/screens/video_paintable.h"
#include "calls/screens/video_pip_view.h"
#include "calls/signaling/test_support/call_server.h"
#include "calls/windows/floating_call_panel_gtk.h"
#include "calls/windows/floating_panel_host_gtk.h"
#include "calls/windows/native_call_floating_panel.h"
#include "calls/windows/native_video_call_window.h"
#include "calls/windows/native_video_pip.h"
#include "calls/windows/test_support/openbox_display.h"
#include "calls/windows/video_call_window_gtk.h"
#include "platform/capture_authorization.h"
#include "platform/dispatch/glib_main_queue.h"
#include "platform/recording_page_script_sink.h"
#include "platform/test_support/main_loop.h"
#include "platform/test_support/temp_dir.h"
#include "platform/user_defaults.h"
#include "platform/window_placement.h"

#include <gdk/x11/gdkx.h>
#include <gtk/gtk.h>

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

namespace orvik {
namespace {

using Kind = CallState::Kind;
using testing::kColourBars;
using testing::Rgb;
using testing::colourDistance;
using testing::nearestBar;

constexpr const char* kSuite = "VideoCallEnginesIntegration";

// A camera whose frames are the test's still colour bars (white to black from
// left to right), so that a picture tells which way round it is drawn.
class ColourBarCamera final : public CameraSource {
 public:
  std::vector<CameraDevice> captureDevices() override {
    // Small and slow: two encoders and the window's drawing share a loaded
    // machine, and a starved connection stops answering its consent checks.
    return {CameraDevice{"colour-bars-0", "Colour bars", CameraPosition::unspecified, {{320, 180, {{1, 15}}}}}};
  }
  std::shared_ptr<CameraCapturer> makeCapturer() override { return std::make_shared<Capturer>(); }

 private:
  class Capturer final : public CameraCapturer {
   public:
    Capturer() : session_(std::make_shared<CameraSessionRef>(CameraSessionRef{makeLocalVideoSource()})) {}
    ~Capturer() override { halt(); }
    void setTarget(VideoSourceHandle target) override {
      std::lock_guard lock(mutex_);
      target_ = std::move(target);
    }
    void start(const CameraDevice&, const CameraFormat& format, int fps, StartCompletion completion) override {
      halt();
      running_ = true;
      pump_ = std::thread([this, width = format.width, height = format.height, fps = std::max(fps, 1)] {
        const auto buffer = testing::colourBarsFrame(width, height, 0);
        auto next = std::chrono::steady_clock::now();
        while (running_) {
          const auto frame = webrtc::VideoFrame::Builder()
                                 .set_video_frame_buffer(buffer)
                                 .set_timestamp_us(rtc::TimeMicros())
                                 .set_rotation(webrtc::kVideoRotation_0)
                                 .build();
          if (auto* preview = localVideoSource(session_->preview)) preview->deliverFrame(frame);
          {
            std::lock_guard lock(mutex_);
            if (auto* target = localVideoSource(target_)) target->deliverFrame(frame);
          }
          next += std::chrono::microseconds(1'000'000 / fps);
          std::this_thread::sleep_until(next);
        }
      });
      if (completion) completion(std::nullopt);
    }
    void stop(std::function<void()> completion) override {
      halt();
      if (completion) completion();
    }
    CameraSessionHandle session() override { return session_; }

   private:
    void halt() {
      running_ = false;
      if (pump_.joinable()) pump_.join();
    }
    std::mutex mutex_;
    VideoSourceHandle target_;
    CameraSessionHandle session_;
    std::atomic<bool> running_{false};
    std::thread pump_;
  };
};

// The program's capture (CallMediaCapture) over the colour-bar camera, with a
// microphone that is always there (the connection's own test microphone
// makes the sound).
class SyntheticCallCapture final : public CallCapture {
 public:
  bool hasMicrophone() override { return true; }
  bool hasCamera() override { return true; }
  void prewarmCamera() override { capture_.prewarmCamera(); }
  CameraSessionHandle cameraSession() override { return capture_.cameraSession(); }
  void startWithCameraOff() override { capture_.isCameraOff = true; }
  void stopCapture() override { capture_.stopCapture(); }
  void startCapture(bool withVideo, CaptureCompletion completion) override {
    capture_.startCapture(withVideo, [completion = std::move(completion)](const std::optional<CaptureError>& error) {
      if (completion) completion(error ? std::optional<std::string>(error->description) : std::nullopt);
    });
  }
  void attachVideo(VideoTrackHandle track, VideoSourceHandle source) override {
    capture_.videoTrack = track;
    capture_.videoSource = source;
  }
  void setMuted(bool muted) override { capture_.isMuted = muted; }
  void setCameraOff(bool off) override { capture_.isCameraOff = off; }

 private:
  ColourBarCamera camera_;
  CallMediaCapture capture_{camera_, [](const std::string&, const std::string&) {}};
};

// The colour in the middle of the frames a remote track delivers.
class CentreColour final : public rtc::VideoSinkInterface<webrtc::VideoFrame> {
 public:
  void OnFrame(const webrtc::VideoFrame& frame) override {
    auto buffer = frame.video_frame_buffer()->ToI420();
    const int x = buffer->width() / 2, y = buffer->height() / 2;
    const double luma = buffer->DataY()[y * buffer->StrideY() + x] - 16.0;
    const double u = buffer->DataU()[(y / 2) * buffer->StrideU() + x / 2] - 128.0;
    const double v = buffer->DataV()[(y / 2) * buffer->StrideV() + x / 2] - 128.0;
    auto clamp = [](double c) { return static_cast<int>(std::clamp(c, 0.0, 255.0)); };
    std::lock_guard lock(mutex_);
    last_ = {clamp(1.164 * luma + 1.596 * v), clamp(1.164 * luma - 0.392 * u - 0.813 * v),
             clamp(1.164 * luma + 2.017 * u)};
    ++count_;
  }
  Rgb last() const {
    std::lock_guard lock(mutex_);
    return last_;
  }
  int count() const {
    std::lock_guard lock(mutex_);
    return count_;
  }

 private:
  mutable std::mutex mutex_;
  Rgb last_{0, 0, 0};
  int count_ = 0;
};

class RecordingAlerts final : public CallAlerts {
 public:
  void showCallAlert(const std::string& title, const std::string&) override { titles.push_back(title); }
  std::vector<std::string> titles;
};

class GrantedCapture final : public platform::CaptureAuthorization {
 public:
  platform::CaptureAuthorizationStatus status(platform::CaptureDevice) const override {
    return platform::CaptureAuthorizationStatus::authorized;
  }
  void request(platform::CaptureDevice, std::function<void(bool)> done) override { done(true); }
};

// Bob's program: its engine with recording windows, the colour-bar camera.
struct Bob {
  explicit Bob(const std::string& serverURL) {
    NativeCallManager::Collaborators c{
        CallSignalingService::make(serverURL, socketio::soupTransportFactory(), [](std::string_view) {}),
        peer, tones, windows, alerts, capture, share, displaySleep, defaults};
    c.strings = &strings;
    c.log = [](const std::string&) {};
    manager = NativeCallManager::create(std::move(c));
    manager->setWebView(page);
    manager->setCredentials({"4712", "phoneB", "tok-4712-0123456789", "Bob", ""});
  }
  ~Bob() {
    if (sink && windows.remoteVideoTrack) windows.remoteVideoTrack->track->RemoveSink(sink.get());
    // The track is the connection's: it goes before the connection's threads.
    windows.remoteVideoTrack.reset();
    manager.reset();
    testing::closeAndRelease(peer);
  }
  bool portsHave(const std::string& line) const { return std::find(ports.begin(), ports.end(), line) != ports.end(); }

  testing::TempDir folder;
  platform::UserDefaults defaults{folder / "defaults.json"};
  testing::PortLog ports;
  testing::RecordingCallWindows windows{ports};
  testing::RecordingCallAlerts alerts{ports};
  SyntheticCallCapture capture;
  testing::RecordingCallTones tones{ports};
  testing::FakeCallScreenShare share{ports};
  testing::FakeDisplaySleepInhibitor displaySleep{ports};
  CallStrings strings{[](const std::string&) {}};
  std::shared_ptr<CallPeerConnection> peer = CallPeerConnection::create({}, testing::loopbackHooks(true));
  std::shared_ptr<platform::RecordingPageScriptSink> page = std::make_shared<platform::RecordingPageScriptSink>();
  std::shared_ptr<NativeCallManager> manager;
  std::unique_ptr<CentreColour> sink;
};

class VideoCallEnginesIntegration : public ::testing::Test {
 protected:
  void SetUp() override {
    const testing::OpenboxDisplay::Options screen{.home = home_.path(), .exportDisplay = true};
    if (auto why = testing::OpenboxDisplay::unavailable(screen)) GTEST_SKIP() << *why;
    if (!testing::startGtk()) GTEST_SKIP() << "no display to start GTK on";
    std::string error;
    openbox_ = testing::OpenboxDisplay::start(screen, error);
    ASSERT_TRUE(openbox_) << error;
    xdisplay_ = openbox_->x();
    int event = 0, code = 0, major = 0, minor = 0;
    if (!XTestQueryExtension(xdisplay_, &event, &code, &major, &minor)) GTEST_SKIP() << "no XTest on Xvfb";
    server_ = testing::CallServer::start(testing::CallServerOptions{}, error);
    ASSERT_TRUE(server_) << error;
    bob_ = std::make_unique<Bob>(server_->url());
    buildAnn();
  }

  // Ann's program, wired as the composition root wires it.
  void buildAnn() {
    // Ann lets the program's own windows be shared (the test's windows are
    // this process's).
    defaults_.setBool(NativeCallManager::kScreenshotAccessKey, true);
    placement_ = platform::makeWindowPlacement();
    screenShare_ = makeDesktopCallScreenShare();
    windows_ = std::make_unique<ShellCallWindows>(
        [this] { return main_; }, [] { return nullptr; }, [] { return nullptr; },
        [this] { return floating_.get(); });
    NativeCallManager::Collaborators c{
        CallSignalingService::make(server_->url(), socketio::soupTransportFactory(), [](std::string_view) {}),
        peer_, tones_, *windows_, alerts_, capture_, *screenShare_, displaySleep_, defaults_};
    c.strings = &strings_;
    c.captureAuthorization = &authorization_;
    c.log = [this](const std::string& line) { lines_.push_back(line); };
    manager_ = NativeCallManager::create(std::move(c));
    manager_->setWebView(page_);
    manager_->setCredentials({"4711", "deskA", "tok-4711-0123456789", "Ann", ""});
    calls_ = std::make_unique<ManagerCallControl>(*manager_);

    FloatingPanelHostGtk::Windows hostWindows;
    hostWindows.videoCallWindow = [this]() -> GtkWindow* {
      return video_ && video_->hasWindow() && videoGtk_ ? videoGtk_->window().gobj() : nullptr;
    };
    hostWindows.audioCallWindow = [] { return static_cast<GtkWindow*>(nullptr); };
    hostWindows.mainWindows = [this] { return main_ ? std::vector<GtkWindow*>{main_} : std::vector<GtkWindow*>{}; };
    hostWindows.raiseCallWindows = [this] {
      if (video_ && video_->hasWindow()) video_->orderFront();
    };
    hostWindows.showVideoPictureInPicture = [this] {
      if (pip_) pip_->showIfActive();
    };
    hostWindows.hideVideoPictureInPicture = [this] {
      if (pip_) pip_->hide();
    };
    host_ = std::make_unique<FloatingPanelHostGtk>(platform::mainQueue(), *placement_, std::move(hostWindows));
    floating_ = NativeCallFloatingPanel::create(
        {platform::mainQueue(), *calls_, strings_, nullptr, *host_,
         FloatingCallPanelGtk::factory({*placement_, strings_, ""}),
         [this](bool cameraOff) { calls_->setCameraOff(cameraOff); }, [](const std::string&) {}});

    thumbnailer_ = std::make_unique<X11ScreenShareThumbnailer>();
    VideoCallViewOptions view;
    view.defaults = &defaults_;
    view.thumbnailer = thumbnailer_.get();
    view.cameraSource = [](const CameraSessionHandle& session) { return session ? session->preview : nullptr; };
    video_ = NativeVideoCallWindow::create(
        {*calls_, authorization_, strings_, nullptr, *floating_, alerts_,
         [] { return LocalCallIdentity{"Ann", "4711", ""}; }, [this] { return pip_.get(); },
         [this, build = VideoCallWindowGtk::factory({*placement_, strings_, view})](
             const VideoCallWindowSetup& setup, VideoCallViewModel& model, VideoCallActions actions,
             VideoCallWindowDelegate& delegate) {
           auto window = build(setup, model, std::move(actions), delegate);
           videoGtk_ = static_cast<VideoCallWindowGtk*>(window.get());
           return window;
         },
         [](const std::string&) {}});
    pip_ = NativeVideoPiP::create(
        {*calls_, video_->model(), [this] { video_->bringToFront(); }, [] { return StageRect{}; },
         [this] { return calls_->isScreenshotAccessAllowed(); },
         [this, build = VideoPiPPanelGtk::factory({*placement_, view.cameraSource, ""})](
             const VideoPiPSetup& setup, VideoCallViewModel& model, VideoPiPActions actions) {
           auto panel = build(setup, model, std::move(actions));
           pipGtk_ = static_cast<VideoPiPPanelGtk*>(panel.get());
           return panel;
         }});
    windows_->setVideoCallWindow([this] { return video_.get(); }, [this] { return pip_.get(); });
  }

  void TearDown() override {
    if (manager_ && manager_->isInCall()) manager_->endCall();
    testing::runMainLoopUntil([&] { return !manager_ || manager_->callState().kind() == Kind::idle; }, 10.0);
    bob_.reset();
    pip_.reset();
    video_.reset();
    floating_.reset();
    host_.reset();
    calls_.reset();
    manager_.reset();
    if (peer_) testing::closeAndRelease(peer_);
    windows_.reset();
    screenShare_.reset();
    for (GtkWindow* w : others_) gtk_window_destroy(w);
    if (main_) gtk_window_destroy(main_);
    testing::iterateUntil([] { return false; }, 0.5);
    thumbnailer_.reset();
    openbox_.reset();
  }

  GtkWindow* plainWindow(const char* title, int width, int height, const char* colour) {
    GtkWindow* w = GTK_WINDOW(gtk_window_new());
    gtk_window_set_title(w, title);
    gtk_window_set_default_size(w, width, height);
    GtkCssProvider* css = gtk_css_provider_new();
    const std::string rule = std::string("window { background: ") + colour + "; }";
    gtk_css_provider_load_from_data(css, rule.c_str(), -1);
    gtk_style_context_add_provider(gtk_widget_get_style_context(GTK_WIDGET(w)), GTK_STYLE_PROVIDER(css),
                                   GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
    g_object_unref(css);
    gtk_window_present(w);
    return w;
  }

  // Where a point of `widget` is on the screen.
  std::pair<int, int> onScreen(Gtk::Widget& widget, double x, double y) {
    GtkWidget* w = widget.gobj();
    GtkNative* native = gtk_widget_get_native(w);
    graphene_point_t in = GRAPHENE_POINT_INIT(static_cast<float>(x), static_cast<float>(y)), out;
    if (!gtk_widget_compute_point(w, GTK_WIDGET(native), &in, &out)) out = in;
    double dx = 0, dy = 0;
    gtk_native_get_surface_transform(native, &dx, &dy);
    int rootX = 0, rootY = 0;
    ::Window child = None;
    XTranslateCoordinates(xdisplay_, GDK_SURFACE_XID(gtk_native_get_surface(native)), DefaultRootWindow(xdisplay_),
                          static_cast<int>(out.x + dx), static_cast<int>(out.y + dy), &rootX, &rootY, &child);
    return {rootX, rootY};
  }
  void movePointer(int x, int y) {
    XTestFakeMotionEvent(xdisplay_, -1, x, y, CurrentTime);
    XFlush(xdisplay_);
  }
  // A left click, as a person's pointer makes it.
  void clickAt(int x, int y) {
    movePointer(x, y);
    testing::iterateUntil([] { return false; }, 0.1);
    XTestFakeButtonEvent(xdisplay_, 1, True, CurrentTime);
    XTestFakeButtonEvent(xdisplay_, 1, False, CurrentTime);
    XFlush(xdisplay_);
  }
  void click(Gtk::Widget& widget) {
    const auto [x, y] = onScreen(widget, widget.get_width() / 2.0, widget.get_height() / 2.0);
    clickAt(x, y);
  }

  // The window's area on the screen: left, top, width, height.
  std::array<int, 4> frameOf(GtkWindow* window) {
    const auto [x, y] = onScreen(*Glib::wrap(GTK_WIDGET(window)), 0, 0);
    return {x, y, gtk_widget_get_width(GTK_WIDGET(window)), gtk_widget_get_height(GTK_WIDGET(window))};
  }
  // A point of the main window that the call window does not cover.
  std::pair<int, int> bareMainPoint() {
    const auto main = frameOf(main_);
    const auto call = frameOf(videoGtk_->window().gobj());
    for (int y = main[1] + 10; y < main[1] + main[3]; y += 20) {
      for (int x = main[0] + 10; x < main[0] + main[2]; x += 20) {
        const bool inCall = x >= call[0] && x < call[0] + call[2] && y >= call[1] && y < call[1] + call[3];
        if (!inCall) return {x, y};
      }
    }
    return {main[0] + 5, main[1] + 5};
  }

  // Bob calls Ann on video; her program rings and she accepts on the panel.
  void connectCall() {
    const auto mark = server_->reportCount();
    bob_->manager->makeCall(CallUser{"4711", "Ann", std::nullopt, "4711", false}, CallType::video);
    const auto offer = server_->runMainLoopUntilFrame("4712", "offer", mark);
    ASSERT_TRUE(offer) << "Bob's offer never reached the server";
    manager_->prepareSignalingForIncoming("4712", std::optional<std::string>("Bob"), false, "PUSH-B1", "", false,
                                          false, true, false);
    ASSERT_TRUE(testing::runMainLoopUntil([&] { return manager_->state().call.pendingRemoteOffer.has_value(); },
                                          20.0));
    manager_->acceptIncomingFromPanel("4712", "Bob", false, "PUSH-B1", true);
    ASSERT_TRUE(testing::runMainLoopUntil(
        [&] {
          return manager_->callState().kind() == Kind::connected &&
                 bob_->manager->callState().kind() == Kind::connected;
        },
        40.0))
        << "Ann " << static_cast<int>(manager_->callState().kind()) << ", Bob "
        << static_cast<int>(bob_->manager->callState().kind());
  }

  // The window is drawn again when the window manager maps it anew (as a
  // raise without the focus does): the picture is taken once there is one.
  void screenshot(Gtk::Widget& widget, const std::string& name) {
    testing::settle(widget);
    EXPECT_TRUE(testing::iterateUntil([&] { return !testing::saveScreenshot(widget, kSuite, name).empty(); }, 10.0))
        << "no picture of " << name;
  }
  std::optional<testing::WidgetPicture> pictureOf(Gtk::Widget& widget) {
    std::optional<testing::WidgetPicture> picture;
    testing::iterateUntil([&] { return testing::isShown(widget) && (picture.emplace(widget), picture->valid()); },
                          10.0);
    if (picture && !picture->valid()) picture.reset();
    return picture;
  }

  bool windowShown() { return video_->hasWindow() && videoGtk_ && openbox_->managed(videoGtk_->window().gobj()); }
  bool pipShown() {
    return pip_->isShown() && pipGtk_ && openbox_->managed(pipGtk_->window().gobj());
  }

  testing::TempDir home_;
  std::unique_ptr<testing::OpenboxDisplay> openbox_;
  ::Display* xdisplay_ = nullptr;
  platform::GlibMainQueue queue_;
  platform::ScopedMainQueue mainQueue_{queue_};
  std::unique_ptr<testing::CallServer> server_;
  std::unique_ptr<Bob> bob_;

  // Ann.
  platform::UserDefaults defaults_{home_ / "defaults.json"};
  testing::PortLog ports_;
  testing::RecordingCallTones tones_{ports_};
  testing::FakeDisplaySleepInhibitor displaySleep_{ports_};
  RecordingAlerts alerts_;
  SyntheticCallCapture capture_;
  GrantedCapture authorization_;
  CallStrings strings_{[](const std::string&) {}};
  std::shared_ptr<CallPeerConnection> peer_ = CallPeerConnection::create({}, testing::loopbackHooks(true));
  std::shared_ptr<platform::RecordingPageScriptSink> page_ = std::make_shared<platform::RecordingPageScriptSink>();
  std::unique_ptr<platform::WindowPlacement> placement_;
  std::unique_ptr<CallScreenShare> screenShare_;
  std::unique_ptr<ShellCallWindows> windows_;
  std::shared_ptr<NativeCallManager> manager_;
  std::unique_ptr<ManagerCallControl> calls_;
  std::unique_ptr<FloatingPanelHostGtk> host_;
  std::shared_ptr<NativeCallFloatingPanel> floating_;
  std::unique_ptr<ScreenShareThumbnailer> thumbnailer_;
  std::shared_ptr<NativeVideoCallWindow> video_;
  VideoCallWindowGtk* videoGtk_ = nullptr;
  std::shared_ptr<NativeVideoPiP> pip_;
  VideoPiPPanelGtk* pipGtk_ = nullptr;
  GtkWindow* main_ = nullptr;
  std::vector<GtkWindow*> others_;
  std::vector<std::string> lines_;
};

TEST_F(VideoCallEnginesIntegration, AConnectedCallShowsBothPicturesSwapsHidesControlsGoesToPictureInPictureAndEnds) {
  main_ = plainWindow("Orvik", 1240, 860, "#dde3ea");
  if (!testing::iterateUntil([&] { return openbox_->managed(main_); }, 20.0)) {
    GTEST_SKIP() << "openbox did not manage a plain window within 20 s";
  }
  connectCall();
  if (HasFatalFailure()) return;
  auto bobTap = std::make_shared<testing::ChannelTap>(bob_->manager);
  bob_->peer->setDelegate(bobTap);
  ASSERT_TRUE(testing::iterateUntil([&] { return windowShown(); }, 20.0)) << "the video call window did not open";
  Gtk::Window& shown = videoGtk_->window();
  VideoCallView& view = videoGtk_->view();
  ASSERT_NE(view.stage(), nullptr);
  ConnectedVideoStage& stage = *view.stage();

  // Bob's camera arrives over the connection and fills the stage; Ann's own
  // camera is in the tile.
  ASSERT_TRUE(testing::iterateUntil(
      [&] {
        return videoPaintableFrameCount(stage.remoteFeed().paintable()) >= 5 &&
               videoPaintableFrameCount(stage.cameraFeed().paintable()) >= 5 && stage.get_width() > 400;
      },
      30.0))
      << "remote " << videoPaintableFrameCount(stage.remoteFeed().paintable()) << ", camera "
      << videoPaintableFrameCount(stage.cameraFeed().paintable());
  testing::settle(shown);
  const double midY = stage.get_height() / 2.0;
  auto mainBars = [&](const testing::WidgetPicture& picture) {
    return std::pair{nearestBar(picture.at(stage.get_width() * 0.1, midY)),
                     nearestBar(picture.at(stage.get_width() * 0.9, midY))};
  };
  const StageRect tile = stage.tileTarget();
  auto tileBars = [&](const testing::WidgetPicture& picture) {
    const double y = tile.y + tile.height / 2;
    return std::pair{nearestBar(picture.at(tile.x + tile.width * 0.1, y)),
                     nearestBar(picture.at(tile.x + tile.width * 0.9, y))};
  };
  {
    const auto drawn = pictureOf(stage);
    ASSERT_TRUE(drawn) << "the stage was never drawn";
    const testing::WidgetPicture& picture = *drawn;
    const auto [left, right] = mainBars(picture);
    EXPECT_LT(left, right) << "Bob's picture large, as he sends it";
    const auto [tileLeft, tileRight] = tileBars(picture);
    EXPECT_GT(tileLeft, tileRight) << "Ann's camera mirrored in the tile";
  }
  const auto texts = testing::shownTexts(shown);
  EXPECT_NE(std::find(texts.begin(), texts.end(), "Bob"), texts.end());
  screenshot(shown, "connected");

  // A click on the tile swaps the pictures; it is the tile's click, not one
  // on the picture that would hide the controls (and move the tile).
  movePointer(2, 2);
  testing::iterateUntil([] { return false; }, 0.2);
  clickAt(onScreen(stage, tile.x + tile.width / 2, tile.y + tile.height / 2).first,
          onScreen(stage, tile.x + tile.width / 2, tile.y + tile.height / 2).second);
  ASSERT_TRUE(testing::iterateUntil([&] { return video_->model()->isSwapped; }, 5.0)) << "the click did not swap";
  testing::iterateUntil([] { return false; }, 0.3);
  EXPECT_TRUE(view.controlsShown()) << "the tile's click also hid the controls";
  testing::settle(shown);
  {
    const auto drawn = pictureOf(stage);
    ASSERT_TRUE(drawn) << "the stage was never drawn";
    const testing::WidgetPicture& picture = *drawn;
    const auto [left, right] = mainBars(picture);
    EXPECT_GT(left, right) << "Ann's mirrored camera large";
    const auto [tileLeft, tileRight] = tileBars(picture);
    EXPECT_LT(tileLeft, tileRight) << "Bob in the tile";
  }
  screenshot(shown, "swapped");

  // The pointer comes over the window and leaves it: the controls go a few
  // seconds later and take no clicks.
  movePointer(2, 2);
  testing::iterateUntil([] { return false; }, 0.2);
  const auto [stageX, stageY] = onScreen(stage, stage.get_width() / 2.0, stage.get_height() / 2.0);
  movePointer(stageX, stageY);
  ASSERT_TRUE(testing::iterateUntil([&] { return view.controlsShown(); }, 5.0));
  movePointer(2, 2);
  ASSERT_TRUE(testing::iterateUntil([&] { return !view.controlsShown(); }, 10.0)) << "the controls stayed";
  EXPECT_FALSE(view.controlsBar().get_can_target());
  testing::settle(shown);
  screenshot(shown, "controls-hidden");

  // A click on the main window puts it over the call window: the
  // picture-in-picture panel appears at the top right.
  const auto [mainX, mainY] = bareMainPoint();
  clickAt(mainX, mainY);
  ASSERT_TRUE(testing::iterateUntil([&] { return pipShown(); }, 20.0)) << "no picture-in-picture panel";
  GtkWindow* panel = pipGtk_->window().gobj();
  ASSERT_TRUE(testing::iterateUntil([&] { return openbox_->hasState(panel, "_NET_WM_STATE_ABOVE"); }, 10.0));
  testing::iterateUntil([] { return false; }, 0.5);
  {
    const auto [left, top] = onScreen(pipGtk_->window(), 0, 0);
    const int right = left + gtk_widget_get_width(GTK_WIDGET(panel));
    EXPECT_NEAR(right, 1280 - 20, 12) << "left " << left << " top " << top;
    EXPECT_GE(top, 20);
    EXPECT_LE(top, 20 + 40);
  }
  EXPECT_TRUE(openbox_->isAbove(panel, main_));
  testing::settle(pipGtk_->window());
  screenshot(pipGtk_->window(), "picture-in-picture");

  // Expand: the panel goes and the call window is back in front.
  click(pipGtk_->view().expandButton());
  ASSERT_TRUE(testing::iterateUntil(
      [&] { return !pip_->isShown() && openbox_->isAbove(shown.gobj(), main_); }, 10.0))
      << "the expand button did not bring the call window back";

  // Closing the window during the call ends it: Bob hears "endCall" and Ann
  // sees the call-ended card until her program closes the window.
  const auto mark = server_->reportCount();
  gtk_window_close(shown.gobj());
  ASSERT_TRUE(testing::iterateUntil([&] { return testing::isShown(view.callEndedCard()); }, 10.0))
      << "no call-ended card";
  EXPECT_TRUE(video_->hasWindow());
  const auto endedTexts = testing::shownTexts(shown);
  EXPECT_NE(std::find(endedTexts.begin(), endedTexts.end(), "Call Ended"), endedTexts.end());
  screenshot(shown, "call-ended");
  // "endCall" goes to Bob through the call server and, while the connection
  // answers, over its data channel as well; the server's copy always gets
  // there.
  const auto ended = server_->runMainLoopUntilFrame("4711", "endCall", mark, 10.0);
  EXPECT_TRUE(ended) << "no endCall frame from Ann through the server";
  if (ended) {
    EXPECT_TRUE((*ended)["frame"].value("to", "").starts_with("4712")) << ended->dump();
  }
  EXPECT_TRUE(testing::runMainLoopUntil([&] { return !bob_->manager->isInCall(); }, 10.0)) << "Bob's call went on";
  const bool overChannel = std::find(bobTap->texts.begin(), bobTap->texts.end(), "endCall") != bobTap->texts.end();
  RecordProperty("endCallOverDataChannel", overChannel ? "yes" : "no");
  EXPECT_TRUE(testing::iterateUntil([&] { return !video_->hasWindow(); }, 10.0)) << "the window stayed after the card";
  EXPECT_TRUE(testing::iterateUntil([&] { return !pip_->hasPanel(); }, 5.0)) << "the panel stayed after the window";
}

TEST_F(VideoCallEnginesIntegration, TheSharePickerListsTheWindowsSharesTheChosenOneWithBobAndPreselectsItNextTime) {
  main_ = plainWindow("Orvik", 900, 640, "#dde3ea");
  GtkWindow* notes = plainWindow("Notes one", 360, 260, "#2f7fd0");
  GtkWindow* sheet = plainWindow("Sheet two", 360, 260, "#d0308a");
  others_ = {notes, sheet};
  if (!testing::iterateUntil([&] { return openbox_->managed(main_) && openbox_->managed(notes) &&
                                          openbox_->managed(sheet); }, 20.0)) {
    GTEST_SKIP() << "openbox did not manage a plain window within 20 s";
  }
  connectCall();
  if (HasFatalFailure()) return;
  ASSERT_TRUE(testing::iterateUntil([&] { return windowShown(); }, 20.0)) << "the video call window did not open";
  Gtk::Window& shown = videoGtk_->window();
  VideoCallView& view = videoGtk_->view();
  testing::settle(shown);
  auto pressShareButton = [&] {
    const auto [x, y] = onScreen(shown, shown.get_width() / 2.0, shown.get_height() / 2.0);
    movePointer(x, y);
    ASSERT_TRUE(testing::iterateUntil([&] { return view.controlsShown(); }, 5.0));
    VideoBtn* button = view.controlsBar().button(VideoControl::screenShare);
    ASSERT_NE(button, nullptr) << "no share button in a connected video call";
    click(*button);
  };
  auto cardIndex = [](ScreenSharePickerOverlay& picker, const std::string& title) -> std::optional<std::size_t> {
    for (std::size_t i = 0; i < picker.cards().size(); ++i) {
      if (picker.cards()[i]->title().find(title) != std::string::npos) return i;
    }
    return std::nullopt;
  };

  // The desktop lists the test's windows; the call window itself is left out.
  pressShareButton();
  if (HasFatalFailure()) return;
  ASSERT_TRUE(testing::iterateUntil([&] { return view.picker() && view.picker()->thumbnailsApplied(); }, 20.0))
      << "no picker with pictures";
  ScreenSharePickerOverlay* picker = view.picker();
  std::vector<std::string> titles;
  for (auto* card : picker->cards()) {
    titles.push_back(card->title());
    EXPECT_TRUE(card->hasThumbnail()) << card->title();
  }
  const auto notesCard = cardIndex(*picker, "Notes one");
  const auto sheetCard = cardIndex(*picker, "Sheet two");
  ASSERT_TRUE(notesCard && sheetCard) << ::testing::PrintToString(titles);
  EXPECT_FALSE(cardIndex(*picker, "Video Call")) << ::testing::PrintToString(titles);
  testing::settle(shown);
  screenshot(shown, "share-picker");

  // Choose the sheet and share it: Bob's picture becomes the sheet.
  click(*picker->cards()[*sheetCard]);
  ASSERT_TRUE(testing::iterateUntil([&] { return picker->picker().selectedWindowIndex() == sheetCard; }, 5.0));
  click(picker->shareButton());
  ASSERT_TRUE(testing::iterateUntil([&] { return view.picker() == nullptr; }, 5.0)) << "the picker stayed";
  ASSERT_TRUE(testing::runMainLoopUntil([&] { return bob_->portsHave("remote sharing true"); }, 15.0))
      << "Bob never heard of the share";
  ASSERT_TRUE(bob_->windows.remoteVideoTrack);
  bob_->sink = std::make_unique<CentreColour>();
  bob_->windows.remoteVideoTrack->track->AddOrUpdateSink(bob_->sink.get(), rtc::VideoSinkWants());
  // Nothing of ours may cover the sheet while it is being sent.
  gtk_window_present(sheet);
  const Rgb sheetColour{0xd0, 0x30, 0x8a};
  EXPECT_TRUE(testing::runMainLoopUntil([&] { return colourDistance(bob_->sink->last(), sheetColour) < 90; }, 20.0))
      << "Bob sees " << bob_->sink->last().r << "," << bob_->sink->last().g << "," << bob_->sink->last().b
      << " after " << bob_->sink->count() << " frames";
  EXPECT_TRUE(video_->model()->isScreenSharing);
  screenshot(shown, "sharing");

  // Stop; the next time the picker opens the sheet is chosen already.
  video_->bringToFront();
  testing::iterateUntil([&] { return openbox_->isAbove(shown.gobj(), sheet); }, 5.0);
  pressShareButton();
  if (HasFatalFailure()) return;
  ASSERT_TRUE(testing::runMainLoopUntil([&] { return bob_->portsHave("remote sharing false"); }, 15.0))
      << "the share did not stop";
  pressShareButton();
  if (HasFatalFailure()) return;
  ASSERT_TRUE(testing::iterateUntil([&] { return view.picker() && view.picker()->thumbnailsApplied(); }, 20.0));
  picker = view.picker();
  const auto again = cardIndex(*picker, "Sheet two");
  ASSERT_TRUE(again);
  EXPECT_EQ(picker->picker().selectedWindowIndex(), again) << "the last choice is preselected";
  testing::settle(shown);
  screenshot(shown, "share-picker-preselected");
  click(picker->cancelButton());
  EXPECT_TRUE(testing::iterateUntil([&] { return view.picker() == nullptr; }, 5.0));
}

TEST_F(VideoCallEnginesIntegration, WithNoCallRunningTheWindowClosesAndNothingIsSent) {
  // The program's port opens the window of a call that is already gone.
  windows_->openVideoCallWindow("Bob", "4712", "", false, true, false);
  ASSERT_TRUE(testing::iterateUntil([&] { return windowShown(); }, 20.0)) << "the video call window did not open";
  testing::settle(videoGtk_->window());
  screenshot(videoGtk_->window(), "no-call");
  const auto mark = server_->reportCount();
  gtk_window_close(videoGtk_->window().gobj());
  EXPECT_TRUE(testing::iterateUntil([&] { return !video_->hasWindow(); }, 5.0)) << "the window stayed";
  EXPECT_FALSE(server_->waitForReport([](const nlohmann::json& r) { return r.value("event", "") == "call"; }, 0.5,
                                      mark))
      << "a call frame went out without a call";
  EXPECT_EQ(manager_->callState().kind(), Kind::idle);
}

}  // namespace
}  // namespace orvik

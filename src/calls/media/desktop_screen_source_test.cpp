// The X11 screen source under Xvfb: the window list with our own windows and
// their titles, a window share whose frames reach the other engine in a
// call, and a display share that covers the windows it must keep out.
#include "calls/media/desktop_screen_source.h"

#include <gtest/gtest.h>

#include <api/media_stream_interface.h>

#include "calls/media/call_peer_connection_internal.h"
#include "calls/media/local_video_source.h"
#include "calls/media/screen_share_capture.h"
#include "calls/media/test_support/frame_counter.h"
#include "calls/media/test_support/loopback_call.h"
#include "platform/dispatch/virtual_queue.h"

#include <gio/gio.h>

// Xlib last: its macros (None, Bool, Status) break the headers above.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <unistd.h>

namespace orvik {
namespace {

using namespace std::chrono_literals;
using orvik::testing::FrameCounter;
using orvik::testing::onPeerQueue;

// Keeps the luma of one pixel of the last frame.
class PixelProbe final : public rtc::VideoSinkInterface<webrtc::VideoFrame> {
 public:
  PixelProbe(int x, int y) : x_(x), y_(y) {}
  void OnFrame(const webrtc::VideoFrame& frame) override {
    auto buffer = frame.video_frame_buffer()->ToI420();
    if (x_ >= buffer->width() || y_ >= buffer->height()) return;
    std::lock_guard lock(mutex_);
    luma_ = buffer->DataY()[y_ * buffer->StrideY() + x_];
    ++frames_;
  }
  int frames() const {
    std::lock_guard lock(mutex_);
    return frames_;
  }
  int luma() const {
    std::lock_guard lock(mutex_);
    return luma_;
  }

 private:
  const int x_, y_;
  mutable std::mutex mutex_;
  int frames_ = 0;
  int luma_ = -1;
};

// Plain X11 windows of this process, as a toolkit would mark them.
class TestWindows {
 public:
  TestWindows() : display_(XOpenDisplay(nullptr)) {}
  ~TestWindows() {
    if (!display_) return;
    for (auto window : windows_) XDestroyWindow(display_, window);
    XCloseDisplay(display_);
  }
  bool ok() const { return display_ != nullptr; }
  Window open(const std::string& title, int x, int y, int width, int height, unsigned long colour) {
    const int screen = DefaultScreen(display_);
    XSetWindowAttributes attributes{};
    attributes.background_pixel = colour;
    const Window window = XCreateWindow(display_, RootWindow(display_, screen), x, y, width, height, 0, CopyFromParent,
                                        InputOutput, CopyFromParent, CWBackPixel, &attributes);
    const long pid = getpid();
    XChangeProperty(display_, window, XInternAtom(display_, "_NET_WM_PID", False), XA_CARDINAL, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(&pid), 1);
    XChangeProperty(display_, window, XInternAtom(display_, "_NET_WM_NAME", False),
                    XInternAtom(display_, "UTF8_STRING", False), 8, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(title.data()), static_cast<int>(title.size()));
    XClassHint hint{const_cast<char*>("orvikdesk-test"), const_cast<char*>("OrvikDeskTest")};
    XSetClassHint(display_, window, &hint);
    XMapRaised(display_, window);
    XSync(display_, False);
    windows_.push_back(window);
    return window;
  }
  // Repaints every window (a compositing redirect may have dropped them).
  void repaint() {
    for (auto window : windows_) XClearWindow(display_, window);
    XSync(display_, False);
  }

 private:
  Display* display_;
  std::vector<Window> windows_;
};

class DesktopScreenSourceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* display = std::getenv("DISPLAY");
    if (!display || !*display) GTEST_SKIP() << "no X display (run under xvfb-run)";
    if (!windows.ok()) GTEST_SKIP() << "the X display cannot be opened";
  }
  bool pumpUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = 10s) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end) {
      main.runUntilIdle();
      windows.repaint();
      if (done()) return true;
      std::this_thread::sleep_for(10ms);
    }
    return false;
  }
  std::optional<ShareableContent> list(bool onScreenOnly) {
    std::optional<ShareableContent> result;
    bool answered = false;
    source.listContent(onScreenOnly, [&](std::optional<ShareableContent> content, const std::string&) {
      main.post([&, content] {
        result = content;
        answered = true;
      });
    });
    EXPECT_TRUE(pumpUntil([&] { return answered; }));
    return result;
  }
  const ShareableWindow* find(const ShareableContent& content, Window id) {
    for (const auto& window : content.windows) {
      if (window.id == id) return &window;
    }
    return nullptr;
  }

  platform::VirtualQueue main;
  platform::ScopedMainQueue scopedMain{main};
  TestWindows windows;
  X11ScreenSource source;
  const OwnApplicationIdentity own{getpid(), "OrvikDeskTest"};
};

TEST_F(DesktopScreenSourceTest, TheWindowListShowsOurOwnWindowsWithTheirTitles) {
  const auto notes = windows.open("Shared notes", 10, 10, 320, 240, 0x3080c0);
  const auto small = windows.open("Tiny", 400, 10, 60, 60, 0xc08030);
  const auto content = list(/*onScreenOnly=*/true);
  ASSERT_TRUE(content);
  ASSERT_FALSE(content->displays.empty());
  EXPECT_GT(content->displays[0].width, 0);
  const auto* listed = find(*content, notes);
  ASSERT_TRUE(listed);
  EXPECT_EQ(screenShareWindowTitle(*listed), "OrvikDeskTest — Shared notes");
  EXPECT_EQ(listed->owner->processId, getpid());
  EXPECT_EQ(listed->layer, 0);
  ASSERT_TRUE(find(*content, small));

  const auto offered = filterShareableWindows(content->windows, {}, /*allowOwnWindows=*/true, own);
  const auto offers = [&](Window id) {
    return std::any_of(offered.begin(), offered.end(), [&](const auto& w) { return w.id == id; });
  };
  EXPECT_TRUE(offers(notes));
  EXPECT_FALSE(offers(small)) << "too small to offer";
  EXPECT_FALSE(std::any_of(filterShareableWindows(content->windows, {}, false, own).begin(),
                           filterShareableWindows(content->windows, {}, false, own).end(),
                           [&](const auto& w) { return w.id == notes; }));
  EXPECT_EQ(source.ownVisibleWindows(), (std::set<std::uint32_t>{static_cast<std::uint32_t>(notes),
                                                                  static_cast<std::uint32_t>(small)}));
}

TEST_F(DesktopScreenSourceTest, AWindowShareReachesTheOtherEngineAndStoppingPutsTheCameraBack) {
  const auto shared = windows.open("Slides", 20, 20, 320, 240, 0xe0e0a0);
  orvik::testing::LoopbackCall call{main};
  ASSERT_EQ(call.connect({}, /*allowAllCandidates=*/true), "");
  VideoTrackHandle screen, camera;
  VideoSourceHandle screenSource;
  call.caller->makeVideoTrack("screen0", [&](VideoTrackHandle t, VideoSourceHandle s, VideoTrackHandle c) {
    screen = t;
    screenSource = s;
    camera = c;
  });
  ASSERT_TRUE(call.pumpUntil([&] { return screen != nullptr; }, 10s));
  ASSERT_TRUE(camera);
  EXPECT_EQ(camera->track->id(), "video0");

  ScreenShareCapture capture(source, own, [](const std::string&) {});
  capture.setDelegate(screenSource);
  const auto content = list(true);
  ASSERT_TRUE(content && find(*content, shared));
  std::optional<std::optional<std::string>> started;
  capture.startCapture(*find(*content, shared), {}, false, [&](const std::optional<std::string>& e) { started = e; });
  ASSERT_TRUE(pumpUntil([&] { return started.has_value(); }));
  ASSERT_FALSE(*started) << **started;

  bool replaced = false;
  call.caller->replaceLocalVideoTrack(screen, [&] { replaced = true; });
  ASSERT_TRUE(call.pumpUntil([&] { return replaced; }, 10s));
  rtc::scoped_refptr<webrtc::VideoTrackInterface> remote = onPeerQueue(*call.callee, [&] {
    rtc::scoped_refptr<webrtc::VideoTrackInterface> track;
    for (const auto& receiver : webrtcConnection(*call.callee)->GetReceivers()) {
      if (receiver->media_type() == cricket::MEDIA_TYPE_VIDEO) {
        track = rtc::scoped_refptr<webrtc::VideoTrackInterface>(
            static_cast<webrtc::VideoTrackInterface*>(receiver->track().get()));
      }
    }
    return track;
  });
  ASSERT_TRUE(remote);
  FrameCounter frames;
  remote->AddOrUpdateSink(&frames, rtc::VideoSinkWants());
  const bool arrived = pumpUntil([&] { return frames.count() >= 20; }, 20s);
  remote->RemoveSink(&frames);
  ASSERT_TRUE(arrived) << frames.count();
  EXPECT_GT(frames.meanLuma(), 40.0) << "the shared window is not black";
  EXPECT_LE(frames.rate(), 16.5) << "at most 15 frames a second";
  EXPECT_EQ(frames.width(), 320);

  bool stopped = false;
  capture.stopCapture([&] { stopped = true; });
  ASSERT_TRUE(pumpUntil([&] { return stopped; }));
  replaced = false;
  call.caller->replaceLocalVideoTrack(camera, [&] { replaced = true; });
  ASSERT_TRUE(call.pumpUntil([&] { return replaced; }, 10s));
  const auto onSender = onPeerQueue(*call.caller, [&] {
    for (const auto& sender : webrtcConnection(*call.caller)->GetSenders()) {
      if (sender->media_type() == cricket::MEDIA_TYPE_VIDEO) return sender->track() ? sender->track()->id() : "none";
    }
    return std::string("no sender");
  });
  EXPECT_EQ(onSender, "video0") << "the camera track is back on the same sender";
  remote = nullptr;
  screen.reset();
  camera.reset();
  screenSource.reset();
}

TEST_F(DesktopScreenSourceTest, ADisplayShareCoversTheWindowsItKeepsOut) {
  const auto kept = windows.open("Video call", 100, 100, 200, 160, 0xffffff);
  windows.open("Editor", 400, 100, 200, 160, 0xffffff);
  auto frames = makeLocalVideoSource();
  PixelProbe inside(200, 180), beside(500, 180);
  frames->source->AddOrUpdateSink(&inside, rtc::VideoSinkWants());
  frames->source->AddOrUpdateSink(&beside, rtc::VideoSinkWants());

  ScreenShareCapture capture(source, own, [](const std::string&) {});
  capture.setDelegate(frames);
  const auto content = list(true);
  ASSERT_TRUE(content);
  std::optional<std::optional<std::string>> started;
  capture.startCapture(content->displays[0], {static_cast<std::uint64_t>(kept)}, false,
                       [&](const std::optional<std::string>& e) { started = e; });
  ASSERT_TRUE(pumpUntil([&] { return started.has_value(); }));
  ASSERT_FALSE(*started);
  EXPECT_EQ(capture.appliedExcludedIDs(), (std::set<std::uint32_t>{static_cast<std::uint32_t>(kept)}));
  const bool seen = pumpUntil([&] { return inside.frames() >= 3 && beside.frames() >= 3; });
  bool stopped = false;
  capture.stopCapture([&] { stopped = true; });
  pumpUntil([&] { return stopped; });
  frames->source->RemoveSink(&inside);
  frames->source->RemoveSink(&beside);
  ASSERT_TRUE(seen);
  EXPECT_LE(inside.luma(), 20) << "the kept-out window is covered";
  EXPECT_GE(beside.luma(), 200) << "the other window shows";
}

// There is no desktop portal on the test machine: what can be checked is the
// picker's one entry and that a share without a portal fails instead of
// waiting for ever. The portal's callbacks come on GLib's default context,
// which the program's main loop runs; here the test turns it.
TEST(PortalScreenSource, OffersTheSystemDialogAndWithoutAPortalTheShareFails) {
  GError* error = nullptr;
  GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &error);
  if (!bus) {
    g_clear_error(&error);
    GTEST_SKIP() << "no session bus (run under dbus-run-session)";
  }
  GVariant* owner = g_dbus_connection_call_sync(bus, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                                "org.freedesktop.DBus", "NameHasOwner",
                                                g_variant_new("(s)", "org.freedesktop.portal.Desktop"),
                                                G_VARIANT_TYPE("(b)"), G_DBUS_CALL_FLAGS_NONE, 2000, nullptr, nullptr);
  gboolean hasPortal = FALSE;
  if (owner) {
    g_variant_get(owner, "(b)", &hasPortal);
    g_variant_unref(owner);
  }
  g_object_unref(bus);
  if (hasPortal) GTEST_SKIP() << "a desktop portal runs here: it would show its dialog";

  platform::VirtualQueue main;
  platform::ScopedMainQueue scopedMain(main);
  PortalScreenSource source;
  std::optional<ShareableContent> content;
  source.listContent(true, [&](std::optional<ShareableContent> c, const std::string&) { content = std::move(c); });
  ASSERT_TRUE(content);
  EXPECT_TRUE(content->systemPicker);
  ASSERT_EQ(content->displays.size(), 1u);
  EXPECT_EQ(content->displays[0].name, PortalScreenSource::kSystemPickerName);
  EXPECT_TRUE(content->windows.empty());

  ScreenShareCapture capture(source, {getpid(), ""}, [](const std::string&) {});
  capture.setDelegate(makeLocalVideoSource(true));
  std::optional<std::optional<std::string>> started;
  capture.startCapture(content->displays[0], {}, false, [&](const std::optional<std::string>& e) { started = e; });
  const auto end = std::chrono::steady_clock::now() + 20s;
  while (!started && std::chrono::steady_clock::now() < end) {
    main.runUntilIdle();
    while (g_main_context_iteration(nullptr, FALSE)) {
    }
    std::this_thread::sleep_for(10ms);
  }
  ASSERT_TRUE(started) << "the start neither succeeded nor failed";
  EXPECT_TRUE(*started) << "a share without a portal cannot have started";
  EXPECT_FALSE(capture.isCapturing());
}

}  // namespace
}  // namespace orvik

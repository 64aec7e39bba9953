#include "calls/media/desktop_screen_source.h"

#include <atomic>
#include <cstdlib>
#include <mutex>
#include <unordered_set>

#include <api/video/i420_buffer.h>
#include <api/video/video_frame.h>
#include <libyuv/convert.h>
#include <modules/desktop_capture/desktop_capture_options.h>
#include <modules/desktop_capture/desktop_capturer.h>
#include <modules/desktop_capture/desktop_frame.h>
#include <modules/desktop_capture/linux/wayland/base_capturer_pipewire.h>
#include <modules/desktop_capture/linux/x11/shared_x_display.h>
#include <rtc_base/time_utils.h>

#include "calls/media/local_video_source.h"
#include "core/native_logger.h"
#include "platform/dispatch/serial_queue.h"

// Xlib last: its macros (None, Bool, Status) break the headers above.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <unistd.h>

namespace orvik {
namespace {

// Lives as long as the process: streams and X connections are dropped on it.
platform::SerialQueue& sampleQueue() {
  static auto* queue = new platform::SerialQueue("orvik.call.screenshare.sample");
  return *queue;
}

// X errors on our own connections (a window that went away between two
// calls) are expected and ignored; Xlib's default handler would end the
// process. Errors on other connections (GTK's) go to the handler that was
// there before.
std::mutex ourDisplaysMutex;
std::unordered_set<Display*>& ourDisplays() {
  static auto* displays = new std::unordered_set<Display*>;
  return *displays;
}
XErrorHandler previousHandler = nullptr;

int onXError(Display* display, XErrorEvent* event) {
  {
    std::lock_guard lock(ourDisplaysMutex);
    if (ourDisplays().contains(display)) return 0;
  }
  return previousHandler ? previousHandler(display, event) : 0;
}

void adoptDisplay(Display* display) {
  static std::once_flag installed;
  std::call_once(installed, [] { previousHandler = XSetErrorHandler(onXError); });
  std::lock_guard lock(ourDisplaysMutex);
  ourDisplays().insert(display);
}

void releaseDisplay(Display* display) {
  std::lock_guard lock(ourDisplaysMutex);
  ourDisplays().erase(display);
}

// One X connection of ours, opened on first use, for the thread that uses it.
// The process-wide ones are never closed at exit: the X server may be gone
// by then (a test's own Xvfb), and Xlib would end the process with an error.
class XConnection {
 public:
  Display* get() {
    if (!display_) {
      display_ = XOpenDisplay(nullptr);
      if (display_) adoptDisplay(display_);
    }
    return display_;
  }
  // After an error the connection may be gone: the next use opens a new one.
  void drop() {
    if (!display_) return;
    releaseDisplay(display_);
    XCloseDisplay(display_);
    display_ = nullptr;
  }
  ~XConnection() { drop(); }

 private:
  Display* display_ = nullptr;
};

std::optional<std::vector<unsigned char>> property(Display* display, Window window, Atom name, Atom type,
                                                   int& format, unsigned long& items) {
  Atom actualType = 0;
  unsigned long remaining = 0;
  unsigned char* data = nullptr;
  if (XGetWindowProperty(display, window, name, 0, 1024, False, type, &actualType, &format, &items, &remaining,
                         &data) != Success ||
      !data) {
    return std::nullopt;
  }
  const std::size_t bytes = format == 32 ? items * sizeof(long) : items * static_cast<std::size_t>(format / 8);
  std::vector<unsigned char> value(data, data + bytes);
  XFree(data);
  if (actualType == 0) return std::nullopt;
  return value;
}

struct Atoms {
  explicit Atoms(Display* d)
      : wmState(XInternAtom(d, "WM_STATE", False)),
        pid(XInternAtom(d, "_NET_WM_PID", False)),
        name(XInternAtom(d, "_NET_WM_NAME", False)),
        utf8(XInternAtom(d, "UTF8_STRING", False)),
        type(XInternAtom(d, "_NET_WM_WINDOW_TYPE", False)),
        normal(XInternAtom(d, "_NET_WM_WINDOW_TYPE_NORMAL", False)),
        dialog(XInternAtom(d, "_NET_WM_WINDOW_TYPE_DIALOG", False)) {}
  Atom wmState, pid, name, utf8, type, normal, dialog;
};

bool hasWmState(Display* display, Window window, const Atoms& atoms) {
  int format = 0;
  unsigned long items = 0;
  return property(display, window, atoms.wmState, AnyPropertyType, format, items).has_value();
}

// The application's window inside a top-level one: the top-level itself
// without a window manager, else the child the manager framed.
Window clientOf(Display* display, Window top, const Atoms& atoms) {
  if (hasWmState(display, top, atoms)) return top;
  Window root = 0, parent = 0, *children = nullptr;
  unsigned int count = 0;
  Window found = top;
  if (XQueryTree(display, top, &root, &parent, &children, &count)) {
    for (unsigned int i = 0; i < count; ++i) {
      if (hasWmState(display, children[i], atoms)) {
        found = children[i];
        break;
      }
    }
    if (children) XFree(children);
  }
  return found;
}

ShareableWindow describe(Display* display, Window client, const XWindowAttributes& frame, const Atoms& atoms) {
  ShareableWindow window;
  window.id = static_cast<std::uint32_t>(client);
  window.width = frame.width;
  window.height = frame.height;
  window.onScreen = frame.map_state == IsViewable;
  int format = 0;
  unsigned long items = 0;
  std::int64_t pid = 0;
  if (auto value = property(display, client, atoms.pid, XA_CARDINAL, format, items); value && format == 32 && items) {
    pid = static_cast<std::int64_t>(*reinterpret_cast<const long*>(value->data()));
  }
  if (auto value = property(display, client, atoms.name, atoms.utf8, format, items); value && format == 8) {
    window.title.assign(value->begin(), value->end());
  } else {
    char* name = nullptr;
    if (XFetchName(display, client, &name) && name) {
      window.title = name;
      XFree(name);
    }
  }
  XClassHint hint{};
  std::string className;
  if (XGetClassHint(display, client, &hint)) {
    if (hint.res_class) className = hint.res_class;
    if (className.empty() && hint.res_name) className = hint.res_name;
    if (hint.res_name) XFree(hint.res_name);
    if (hint.res_class) XFree(hint.res_class);
  }
  if (pid > 0 || !className.empty()) window.owner = OwningApplication{pid, className, className};
  window.layer = 0;
  if (auto value = property(display, client, atoms.type, XA_ATOM, format, items); value && format == 32 && items) {
    const auto* types = reinterpret_cast<const long*>(value->data());
    window.layer = 1;
    for (unsigned long i = 0; i < items; ++i) {
      if (static_cast<Atom>(types[i]) == atoms.normal || static_cast<Atom>(types[i]) == atoms.dialog) window.layer = 0;
    }
  }
  return window;
}

// Top-level windows, front first.
std::optional<ShareableContent> listX11(Display* display, bool onScreenOnly) {
  if (!display) return std::nullopt;
  const Atoms atoms(display);
  const Window root = DefaultRootWindow(display);
  ShareableContent content;
  const int screen = DefaultScreen(display);
  content.displays.push_back(ShareableDisplay{webrtc::kFullDesktopScreenId, "Entire screen",
                                              DisplayWidth(display, screen), DisplayHeight(display, screen)});
  Window rootReturn = 0, parent = 0, *children = nullptr;
  unsigned int count = 0;
  if (!XQueryTree(display, root, &rootReturn, &parent, &children, &count)) return std::nullopt;
  for (unsigned int i = count; i-- > 0;) {
    XWindowAttributes frame{};
    if (!XGetWindowAttributes(display, children[i], &frame)) continue;
    if (frame.override_redirect || frame.c_class == InputOnly) continue;
    if (onScreenOnly && frame.map_state != IsViewable) continue;
    content.windows.push_back(describe(display, clientOf(display, children[i], atoms), frame, atoms));
  }
  if (children) XFree(children);
  XSync(display, False);
  return content;
}

// One running capture on the sample queue: ticks at the configured rate,
// converts each frame to I420, covers the excluded windows and hands it on.
class DesktopStream final : public ScreenStream,
                            public webrtc::DesktopCapturer::Callback,
                            public std::enable_shared_from_this<DesktopStream> {
 public:
  DesktopStream(std::unique_ptr<webrtc::DesktopCapturer> capturer, rtc::scoped_refptr<webrtc::SharedXDisplay> x,
                VideoSourceHandle frames, int fps, bool isDisplay, std::set<std::uint32_t> excluded,
                std::function<void(const std::string&)> stoppedBySystem)
      : capturer_(std::move(capturer)), x_(std::move(x)), frames_(std::move(frames)), fps_(std::max(1, fps)),
        isDisplay_(isDisplay), excluded_(std::move(excluded)), stoppedBySystem_(std::move(stoppedBySystem)) {}

  ~DesktopStream() override {
    capturer_.reset();
    if (x_) releaseDisplay(x_->display());
  }

  // Sample queue: the capturer reports to this stream from here on.
  void start() { capturer_->Start(this); }

  // Sample queue. `started` runs once: at once, or with the first frame.
  void run(std::function<void(const std::optional<std::string>&)> started, bool waitForFirstFrame) {
    if (waitForFirstFrame) {
      pendingStart_ = std::move(started);
    } else {
      started(std::nullopt);
    }
    tick();
  }

  void stop(Done done) override {
    sampleQueue().post([self = shared_from_this(), done = std::move(done)] {
      self->running_ = false;
      self->capturer_.reset();
      if (self->pendingStart_) std::exchange(self->pendingStart_, {})(std::string("stopped"));
      if (done) done(std::nullopt);
    });
  }

  void updateExclusions(const std::set<std::uint32_t>& windows, Done done) override {
    {
      std::lock_guard lock(mutex_);
      excluded_ = windows;
    }
    if (done) done(std::nullopt);
  }

  void OnCaptureResult(webrtc::DesktopCapturer::Result result, std::unique_ptr<webrtc::DesktopFrame> frame) override {
    if (result == webrtc::DesktopCapturer::Result::ERROR_PERMANENT) {
      running_ = false;
      const std::string error = "the shared screen or window is no longer available";
      if (pendingStart_) return std::exchange(pendingStart_, {})(error);
      if (stoppedBySystem_) stoppedBySystem_(error);
      return;
    }
    if (result != webrtc::DesktopCapturer::Result::SUCCESS || !frame) return;
    if (pendingStart_) std::exchange(pendingStart_, {})(std::nullopt);
    deliver(*frame);
  }

 private:
  void tick() {
    if (!running_ || !capturer_) return;
    capturer_->CaptureFrame();
    sampleQueue().postAfter(1.0 / fps_, [weak = weak_from_this()] {
      if (auto self = weak.lock()) self->tick();
    });
  }

  void deliver(const webrtc::DesktopFrame& frame) {
    const int width = frame.size().width() & ~1;
    const int height = frame.size().height() & ~1;
    auto* target = localVideoSource(frames_);
    if (width < 2 || height < 2 || !target) return;
    auto buffer = webrtc::I420Buffer::Create(width, height);
    libyuv::ARGBToI420(frame.data(), frame.stride(), buffer->MutableDataY(), buffer->StrideY(), buffer->MutableDataU(),
                       buffer->StrideU(), buffer->MutableDataV(), buffer->StrideV(), width, height);
    if (isDisplay_) coverExcluded(*buffer, frame.top_left().x(), frame.top_left().y());
    target->deliverFrame(webrtc::VideoFrame::Builder()
                             .set_video_frame_buffer(buffer)
                             .set_timestamp_us(rtc::TimeMicros())
                             .set_rotation(webrtc::kVideoRotation_0)
                             .build());
  }

  // Paints each excluded window's current rectangle black.
  void coverExcluded(webrtc::I420Buffer& buffer, int originX, int originY) {
    std::set<std::uint32_t> excluded;
    {
      std::lock_guard lock(mutex_);
      excluded = excluded_;
    }
    if (excluded.empty() || !x_) return;
    Display* display = x_->display();
    const Window root = DefaultRootWindow(display);
    for (auto id : excluded) {
      XWindowAttributes attributes{};
      if (!XGetWindowAttributes(display, id, &attributes) || attributes.map_state != IsViewable) continue;
      int x = 0, y = 0;
      Window child = 0;
      if (!XTranslateCoordinates(display, id, root, 0, 0, &x, &y, &child)) continue;
      const int left = std::clamp(x - originX, 0, buffer.width()) & ~1;
      const int top = std::clamp(y - originY, 0, buffer.height()) & ~1;
      const int right = std::clamp(x - originX + attributes.width + 1, 0, buffer.width());
      const int bottom = std::clamp(y - originY + attributes.height + 1, 0, buffer.height());
      for (int row = top; row < bottom; ++row) {
        std::fill_n(buffer.MutableDataY() + row * buffer.StrideY() + left, right - left, std::uint8_t{16});
      }
      for (int row = top / 2; row < (bottom + 1) / 2; ++row) {
        const int cl = left / 2, cr = (right + 1) / 2;
        std::fill_n(buffer.MutableDataU() + row * buffer.StrideU() + cl, cr - cl, std::uint8_t{128});
        std::fill_n(buffer.MutableDataV() + row * buffer.StrideV() + cl, cr - cl, std::uint8_t{128});
      }
    }
  }

  std::unique_ptr<webrtc::DesktopCapturer> capturer_;
  rtc::scoped_refptr<webrtc::SharedXDisplay> x_;
  VideoSourceHandle frames_;
  const int fps_;
  const bool isDisplay_;
  std::mutex mutex_;
  std::set<std::uint32_t> excluded_;
  std::function<void(const std::string&)> stoppedBySystem_;
  std::function<void(const std::optional<std::string>&)> pendingStart_;
  bool running_ = true;
};

}  // namespace

void X11ScreenSource::listContent(bool onScreenOnly, ContentDone done) {
  sampleQueue().post([onScreenOnly, done = std::move(done)] {
    static XConnection& connection = *new XConnection;
    auto content = listX11(connection.get(), onScreenOnly);
    if (!content) {
      connection.drop();
      return done(std::nullopt, "the X server's window list could not be read");
    }
    done(std::move(content), "");
  });
}

void X11ScreenSource::startStream(const StreamConfig& config, VideoSourceHandle frames,
                                  std::function<void(const std::string&)> stoppedBySystem, StartDone done) {
  sampleQueue().post([config, frames = std::move(frames), stoppedBySystem = std::move(stoppedBySystem),
                      done = std::move(done)] {
    auto x = webrtc::SharedXDisplay::CreateDefault();
    if (!x) return done(nullptr, std::string("no X display"));
    adoptDisplay(x->display());
    auto options = webrtc::DesktopCaptureOptions::CreateDefault();
    options.set_x_display(x);
    const auto* window = std::get_if<ShareableWindow>(&config.target);
    auto capturer = window ? webrtc::DesktopCapturer::CreateWindowCapturer(options)
                           : webrtc::DesktopCapturer::CreateScreenCapturer(options);
    const webrtc::DesktopCapturer::SourceId id =
        window ? static_cast<webrtc::DesktopCapturer::SourceId>(window->id) : webrtc::kFullDesktopScreenId;
    if (!capturer || !capturer->SelectSource(id)) {
      releaseDisplay(x->display());
      return done(nullptr, std::string("the selected screen or window cannot be captured"));
    }
    auto stream = std::make_shared<DesktopStream>(std::move(capturer), x, frames, config.framesPerSecond, !window,
                                                  config.excludedWindows, stoppedBySystem);
    stream->start();
    stream->run([stream, done](const std::optional<std::string>& error) { done(error ? nullptr : stream, error); },
                /*waitForFirstFrame=*/false);
  });
}

std::set<std::uint32_t> X11ScreenSource::ownVisibleWindows() {
  static XConnection& connection = *new XConnection;
  std::set<std::uint32_t> ids;
  const auto content = listX11(connection.get(), /*onScreenOnly=*/true);
  if (!content) {
    connection.drop();
    return ids;
  }
  const auto pid = static_cast<std::int64_t>(getpid());
  for (const auto& window : content->windows) {
    if (window.owner && window.owner->processId == pid && window.id > 0) ids.insert(window.id);
  }
  return ids;
}

void PortalScreenSource::listContent(bool, ContentDone done) {
  ShareableContent content;
  content.systemPicker = true;
  content.displays.push_back(ShareableDisplay{webrtc::kFullDesktopScreenId, kSystemPickerName, 0, 0});
  done(std::move(content), "");
}

void PortalScreenSource::startStream(const StreamConfig& config, VideoSourceHandle frames,
                                     std::function<void(const std::string&)> stoppedBySystem, StartDone done) {
  sampleQueue().post([config, frames = std::move(frames), stoppedBySystem = std::move(stoppedBySystem),
                      done = std::move(done)] {
    auto options = webrtc::DesktopCaptureOptions::CreateDefault();
    options.set_allow_pipewire(true);
    // Straight to the portal (WebRTC's own choice would fall back to X11
    // under XWayland); its dialog offers the screens.
    std::unique_ptr<webrtc::DesktopCapturer> capturer =
        std::make_unique<webrtc::BaseCapturerPipeWire>(options, webrtc::CaptureType::kScreen);
    capturer->SelectSource(webrtc::kFullDesktopScreenId);
    auto stream = std::make_shared<DesktopStream>(std::move(capturer), nullptr, frames, config.framesPerSecond,
                                                  /*isDisplay=*/false, std::set<std::uint32_t>{}, stoppedBySystem);
    stream->start();
    // The share has started once the user chose in the portal's dialog and
    // the first frame came.
    stream->run([stream, done](const std::optional<std::string>& error) { done(error ? nullptr : stream, error); },
                /*waitForFirstFrame=*/true);
  });
}

std::unique_ptr<ScreenSource> makeDesktopScreenSource() {
  if (webrtc::DesktopCapturer::IsRunningUnderWayland()) return std::make_unique<PortalScreenSource>();
  const char* display = std::getenv("DISPLAY");
  if (display && *display) return std::make_unique<X11ScreenSource>();
  return nullptr;
}

}  // namespace orvik

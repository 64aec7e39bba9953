// A private X display for the window tests: an Xvfb server of the test's own
// with openbox as its window manager (and, if asked, xcompmgr as its
// compositor), made GDK's default display while it lives; and what the window
// manager says about the test's windows (managed, stacking order, states).
//
//   if (auto why = OpenboxDisplay::unavailable({})) GTEST_SKIP() << *why;
//   std::string error;
//   openbox_ = OpenboxDisplay::start({.home = home_.path()}, error);
//   ASSERT_TRUE(openbox_) << error;
//
// GTK must be started before start(). The destructor closes the display: the
// test destroys its windows (and lets GTK let go of them) first.
//
// THREAD-SAFETY: main thread only (GTK). Xlib stays out of this header: its
// macros clash with gtkmm's and GoogleTest's names.
#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

typedef struct _GdkDisplay GdkDisplay;
typedef struct _GtkWindow GtkWindow;
struct _XDisplay;

namespace orvik::testing {

class BackgroundProcess;

class OpenboxDisplay {
 public:
  struct Options {
    int width = 1280;
    int height = 900;
    // openbox's HOME, where it looks for its configuration.
    std::filesystem::path home;
    bool compositor = false;
    // DISPLAY names this display while it lives, for code that opens X
    // connections of its own (screen listings, window pictures).
    bool exportDisplay = false;
  };

  // Why the display cannot be had on this machine (a program not installed),
  // or nothing.
  static std::optional<std::string> unavailable(const Options& options);
  // Null, with `error` set, when the server, the window manager or the
  // compositor did not come up.
  static std::unique_ptr<OpenboxDisplay> start(const Options& options, std::string& error);
  ~OpenboxDisplay();
  OpenboxDisplay(const OpenboxDisplay&) = delete;
  OpenboxDisplay& operator=(const OpenboxDisplay&) = delete;

  const std::string& name() const { return name_; }
  GdkDisplay* gdk() const { return display_; }
  _XDisplay* x() const;

  // The window's X id (its surface's); the window must be realized.
  unsigned long xid(GtkWindow* window) const;
  // Mapped and in the window manager's client list.
  bool managed(GtkWindow* window) const;
  // Whether `upper` is stacked above `lower` (both managed).
  bool isAbove(GtkWindow* upper, GtkWindow* lower) const;
  // Whether _NET_WM_STATE holds `state` ("_NET_WM_STATE_ABOVE", …).
  bool hasState(GtkWindow* window, const char* state) const;

 private:
  OpenboxDisplay() = default;
  std::unique_ptr<BackgroundProcess> server_;
  std::unique_ptr<BackgroundProcess> windowManager_;
  std::unique_ptr<BackgroundProcess> compositor_;
  std::string name_;
  GdkDisplay* display_ = nullptr;
  GdkDisplay* previous_ = nullptr;
  std::optional<std::string> previousDisplayVariable_;
  bool exported_ = false;
};

}  // namespace orvik::testing

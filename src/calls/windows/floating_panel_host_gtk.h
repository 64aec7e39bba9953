// The floating panel's view of the program's GTK windows and of the
// desktop: which window is the audio or video call window and which are
// main windows, their frames and states, the stacking order and what it
// leaves in sight (WindowPlacement), whether the program is active, and the
// events the panel reacts to.
//
// Linux has no notice for "the program became active or inactive": the
// program counts as active while any of its windows is the active window,
// and a loss is reported only when no window has regained it shortly after
// (the focus passes through "none" when it moves between two of our
// windows). Occlusion changes of the call windows are worked out from the
// window manager's stacking notices. Clicks on a window manager's title bar
// never reach the program, so a main window that becomes the active window
// counts as a click on it.
//
// Owner: the composition root. THREAD-SAFETY: main thread only.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "calls/windows/native_call_floating_panel.h"
#include "platform/window_placement.h"

typedef struct _GtkWindow GtkWindow;
typedef struct _GListModel GListModel;

namespace orvik {

namespace platform {
class TaskQueue;
class WorkItem;
}  // namespace platform

class FloatingPanelHostGtk final : public FloatingPanelHost {
 public:
  // How long the program may have no active window before it counts as
  // inactive.
  static constexpr double kActivityDebounce = 0.15;

  struct Windows {
    // Each: the window while its controller holds one, else null.
    std::function<GtkWindow*()> audioCallWindow;
    std::function<GtkWindow*()> videoCallWindow;
    // The windows that can become the main window.
    std::function<std::vector<GtkWindow*>()> mainWindows;
    // The incoming-call panel's, the web call window's and the pre-call
    // window's windows.
    std::function<bool(GtkWindow*)> isOtherCallWindow;
    std::function<void()> raiseCallWindows;
    std::function<void()> showVideoPictureInPicture;
    std::function<void()> hideVideoPictureInPicture;
  };

  FloatingPanelHostGtk(platform::TaskQueue& queue, platform::WindowPlacement& placement, Windows windows);
  ~FloatingPanelHostGtk() override;
  FloatingPanelHostGtk(const FloatingPanelHostGtk&) = delete;
  FloatingPanelHostGtk& operator=(const FloatingPanelHostGtk&) = delete;

  std::optional<FloatingPanelWindow> audioCallWindow() override;
  std::optional<FloatingPanelWindow> videoCallWindow() override;
  std::vector<FloatingPanelWindow> mainWindows() override;
  std::optional<std::vector<platform::StackedWindow>> onScreenWindows() override;
  bool isApplicationActive() override;
  // The call windows never take the focus, and giving it to the main window
  // would bring that over the call window: nothing to do here.
  void activateApplication() override {}
  void raiseCallWindows() override;
  void showVideoPictureInPicture() override;
  void hideVideoPictureInPicture() override;
  platform::Subscription observe(std::function<void(const FloatingPanelEvent&)> event) override;
  platform::Subscription monitorClicks(std::function<void(const FloatingPanelClick&)> click) override;

 private:
  struct Watched;
  FloatingPanelWindow snapshot(GtkWindow* window, const std::optional<std::vector<platform::StackedWindow>>& stack);
  FloatingPanelWindowRole roleOf(GtkWindow* window);
  void watchToplevels();
  void watch(GtkWindow* window);
  void activityMayHaveChanged();
  void recheckOcclusion();
  void stackingChanged(platform::StackingChange change);
  void windowPressed(GtkWindow* window);
  void windowBecameActive(GtkWindow* window);
  void windowStateChanged(GtkWindow* window, bool minimised);
  static void onToplevelsChanged(GListModel* list, unsigned position, unsigned removed, unsigned added,
                                 void* self);

  platform::TaskQueue& queue_;
  platform::WindowPlacement& placement_;
  Windows windows_;
  GListModel* toplevels_ = nullptr;
  std::vector<std::unique_ptr<Watched>> watched_;
  platform::ObserverList<const FloatingPanelEvent&> events_;
  platform::ObserverList<const FloatingPanelClick&> clicks_;
  platform::Subscription stacking_;
  bool reportedActive_ = false;
  std::shared_ptr<platform::WorkItem> pendingResign_;
  // What could be seen of each call window at the last look.
  std::optional<bool> audioSeen_;
  std::optional<bool> videoSeen_;
};

}  // namespace orvik

// The call manager's window port as the shell wires it: what the manager
// tells of a call reaches the floating return-to-call panel and its model.
#include "app/call_engine_ports.h"

#include <gtest/gtest.h>

#include "calls/control/call_strings.h"
#include "calls/control/test_support/recording_call_control.h"
#include "calls/windows/native_call_floating_panel.h"
#include "platform/dispatch/virtual_queue.h"

namespace orvik {
namespace {

// A desktop without windows: the panel only keeps its model.
class NoWindows final : public FloatingPanelHost {
 public:
  std::optional<FloatingPanelWindow> audioCallWindow() override { return std::nullopt; }
  std::optional<FloatingPanelWindow> videoCallWindow() override { return std::nullopt; }
  std::vector<FloatingPanelWindow> mainWindows() override { return {}; }
  std::optional<std::vector<platform::StackedWindow>> onScreenWindows() override { return std::nullopt; }
  bool isApplicationActive() override { return true; }
  void activateApplication() override {}
  void raiseCallWindows() override {}
  void showVideoPictureInPicture() override {}
  void hideVideoPictureInPicture() override {}
  platform::Subscription observe(std::function<void(const FloatingPanelEvent&)> event) override {
    return events_.add(std::move(event));
  }
  platform::Subscription monitorClicks(std::function<void(const FloatingPanelClick&)> click) override {
    return clicks_.add(std::move(click));
  }

 private:
  platform::ObserverList<const FloatingPanelEvent&> events_;
  platform::ObserverList<const FloatingPanelClick&> clicks_;
};

TEST(ShellCallWindows, TheManagersFloatingPanelCallsReachThePanelAndItsModel) {
  platform::VirtualQueue queue;
  platform::ScopedMainQueue scoped(queue);
  CallStrings strings{[](const std::string&) {}};
  testing::RecordingCallControl calls;
  NoWindows host;
  auto panel = NativeCallFloatingPanel::create(
      {queue, calls, strings, nullptr, host, {}, {}, [](const std::string&) {}});
  ShellCallWindows windows([] { return nullptr; }, [] { return nullptr; }, {}, [&] { return panel.get(); });

  windows.floatingPanelCallDidStart("Bob", "https://b/bob.png", true, true);
  EXPECT_TRUE(panel->isCallActive());
  EXPECT_TRUE(panel->model().state().awaitingAccept);
  windows.setFloatingAwaitingAccept(false);
  windows.publishTimerText("00:07");
  windows.publishConnected(true);
  windows.markCameraOff();
  windows.updateCallScreenIdentity(true, "Robert", "4711", "https://b/robert.png", false);
  const FloatingCallPanelState& s = panel->model().state();
  EXPECT_FALSE(s.awaitingAccept);
  EXPECT_EQ(s.timerText, "00:07");
  EXPECT_TRUE(s.isConnected);
  EXPECT_TRUE(s.isCameraOff);
  EXPECT_EQ(s.calleeName, "Robert");
  EXPECT_EQ(s.imageUrl, "https://b/robert.png");

  windows.floatingPanelCallDidEnd();
  EXPECT_FALSE(panel->isCallActive());

  // Before the panel is built the calls go nowhere.
  ShellCallWindows early([] { return nullptr; }, [] { return nullptr; }, {}, [] { return nullptr; });
  early.floatingPanelCallDidStart("Bob", "", true, false);
  early.publishTimerText("00:01");
  early.floatingPanelCallDidEnd();
}

}  // namespace
}  // namespace orvik

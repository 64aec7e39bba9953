// The page's pre-call messages through the bridge and the program's call
// window operations to the pre-call window's controller (with a recording
// window, on virtual time): showPreCallUI opens it, the statuses and the
// call's end close it, and "bring the call window to the front" reaches it
// while it is active.
#include "app/call_window_operations.h"

#include <gtest/gtest.h>

#include "calls/control/call_bridge_messages.h"
#include "calls/control/call_strings.h"
#include "calls/control/test_support/recording_call_message_operations.h"
#include "calls/control/test_support/recording_call_ports.h"
#include "calls/windows/native_call_window.h"
#include "calls/windows/native_pre_call_window.h"
#include "platform/dispatch/virtual_queue.h"
#include "platform/fake_capture_authorization.h"
#include "platform/test_support/recording_message_routes.h"

namespace orvik {
namespace {

using Lines = std::vector<std::string>;
using nlohmann::json;

class RecordingPreCallWindow final : public PreCallWindowSurface {
 public:
  RecordingPreCallWindow(Lines& log, std::string name) : log_(log), name_(std::move(name)) {}
  void present() override { log_.push_back("present " + name_); }
  void close() override { log_.push_back("close " + name_); }

 private:
  Lines& log_;
  std::string name_;
};

class PreCallMessagesTest : public ::testing::Test {
 protected:
  PreCallMessagesTest() {
    operations.setPreCallWindow([this] { return preCall.get(); });
    messages.publishRoutes(routes);
  }

  void send(const std::string& name, json fields = json::object()) {
    fields["eventType"] = name;
    routes.handlers.at(name)(fields);
  }

  Lines log;
  Lines lines;
  platform::VirtualQueue queue;
  platform::ScopedMainQueue main{queue};
  platform::FakeCaptureAuthorization authorization;
  CallStrings strings{[](const std::string&) {}};
  testing::PortLog alertLog;
  testing::RecordingCallAlerts alerts{alertLog};
  NativeCallWindow callWindow{{queue, authorization, strings, {}, [](const std::string&) {}, 4.0}};
  std::shared_ptr<NativePreCallWindow> preCall = NativePreCallWindow::create(
      {queue, authorization, strings,
       [this](const PreCallWindowSpec& windowSpec, PreCallControlState&, CaptureSessionBox&, PreCallActions,
              PreCallWindowDelegate&) -> std::unique_ptr<PreCallWindowSurface> {
         log.push_back("build " + windowSpec.calleeName + " " + windowSpec.userNumber + (windowSpec.isAudio ? " audio" : " video"));
         return std::make_unique<RecordingPreCallWindow>(log, windowSpec.calleeName);
       },
       nullptr, {}, {}});
  AppCallWindowOperations operations{callWindow, alerts, [this](const std::string& line) { lines.push_back(line); }};
  testing::RecordingCallMessageOperations manager;
  CallBridgeMessages messages{{manager, operations, strings, queue, {}, "", [](const std::string&) {}}};
  testing::RecordingMessageRoutes routes;
};

TEST_F(PreCallMessagesTest, ShowPreCallUIOpensThePreCallWindowAndBusyClosesIt) {
  send("showPreCallUI", {{"calleeName", "alice_1234"}, {"userNumber", "+1 (555) 123-4567"}, {"isAudio", false}});
  EXPECT_TRUE(operations.isPreCallWindowActive());
  queue.runUntilIdle();
  EXPECT_EQ(log, (Lines{"build alice_1234 +1 (555) 123-4567 video", "present alice_1234"}));
  send("bringCallWindowToFront");
  queue.runUntilIdle();
  EXPECT_EQ(log.back(), "present alice_1234");

  send("preCallStatusUpdate", {{"status", "Busy"}});
  queue.advance(2.4);
  EXPECT_TRUE(preCall->hasWindow());
  queue.advance(0.2);
  EXPECT_FALSE(preCall->hasWindow());
  EXPECT_FALSE(operations.isPreCallWindowActive());
  EXPECT_TRUE(lines.empty());
}

TEST_F(PreCallMessagesTest, TheCallsEndAndConnectionCloseThePreCallWindow) {
  send("showPreCallUI", {{"calleeName", "bob"}});
  queue.runUntilIdle();
  send("callWindowClose");
  queue.runUntilIdle();
  EXPECT_EQ(preCall->controlState().status(), "Call Ended");
  queue.advance(1.8);
  EXPECT_FALSE(preCall->hasWindow());

  send("showPreCallUI", {{"calleeName", "carol"}});
  queue.runUntilIdle();
  send("callConnected");
  EXPECT_FALSE(preCall->hasWindow());
  EXPECT_EQ(log.back(), "close carol");
}

TEST_F(PreCallMessagesTest, WithoutAPreCallWindowTheRequestIsLoggedAndNothingIsActive) {
  operations.setPreCallWindow({});
  send("showPreCallUI", {{"calleeName", "bob"}});
  EXPECT_FALSE(operations.isPreCallWindowActive());
  EXPECT_EQ(lines, (Lines{"[WebView] NativePreCallWindow.show asked for — not available in this build yet"}));
}

}  // namespace
}  // namespace orvik

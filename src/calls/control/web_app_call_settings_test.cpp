// The web application's call settings: the special-access list, the server's
// call-finished notice, screenshot access, sign-out and the subscription.
#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

#include "calls/control/native_call_manager.h"
#include "calls/control/test_support/connected_call_harness.h"

namespace orvik::testing {
namespace {

using Kind = CallState::Kind;
using Strings = std::vector<std::string>;

class WebAppCallSettingsTest : public ::testing::Test, public ConnectedCallHarness {
 protected:
  bool has(const std::string& line) const { return std::find(ports.begin(), ports.end(), line) != ports.end(); }
  std::size_t countLines(const std::string& part) const {
    return std::count_if(lines.begin(), lines.end(), [&](const auto& l) { return l.find(part) != std::string::npos; });
  }
};

TEST(SpecialCallingNumbers, AreTrimmedWithoutBlanksAndCountedOnce) {
  struct Case {
    std::vector<std::string> given;
    std::set<std::string> stored;
  };
  const Case cases[] = {
      {{" 4712 ", "", "4713"}, {"4712", "4713"}},
      {{"4712", "4712", "\t4712\n"}, {"4712"}},
      {{"  ", ""}, {}},
      {{}, {}},
  };
  for (const auto& c : cases) EXPECT_EQ(specialCallingNumberSet(c.given), c.stored);
}

TEST_F(WebAppCallSettingsTest, OwnSpecialAccessTellsThePeerOnceAndLogsOnlyRealChanges) {
  connectCall(CallType::audio);
  manager->setCallLimitExempt(false, {" 9999 ", "", "9999"});
  EXPECT_TRUE(logged("[CallLimit] special calling access — me=false list=1 OrvikID(s)"));
  manager->setCallLimitExempt(true, {});
  manager->setCallLimitExempt(true, {});
  queue.advance(0.5);
  EXPECT_EQ(bobEvents->messages, (Strings{R"({"type":"CallLimitExempt","data":true})"}));
  EXPECT_EQ(countLines(" (changed)"), 1u);
  EXPECT_TRUE(has("hide limit banner"));
}

TEST_F(WebAppCallSettingsTest, APeerOnTheListHasTheBannerHiddenEvenWithoutOwnAccess) {
  connectCall(CallType::audio);
  const auto mark = portsMark();
  manager->setCallLimitExempt(false, {"1111"});
  queue.runUntilIdle();
  EXPECT_TRUE(portsSince(mark).empty());
  std::thread([&] { manager->setCallLimitExempt(false, {"1111", " 4712"}); }).join();  // any thread
  queue.runUntilIdle();
  EXPECT_EQ(portsSince(mark), (Strings{"hide limit banner"}));
  EXPECT_EQ(manager->state().kept.specialCallingNumbers, (std::set<std::string>{"1111", "4712"}));
}

TEST(WebAppCallSettings, TheServersCallFinishedNoticeEndsOnlyACallWhoseMediaIsDown) {
  struct Case {
    const char* name;
    Kind kind;
    bool connectedBefore;
    bool mediaUp;
    bool reconnectWindowOpen;
    Kind after;
    bool recordsTime;
  };
  const Case cases[] = {
      {"still ringing", Kind::calling, false, false, false, Kind::calling, false},
      {"connecting, never connected", Kind::connecting, false, false, false, Kind::connecting, false},
      {"connected, media flowing", Kind::connected, true, true, false, Kind::connected, true},
      // Ended as a remote end: nothing is left to tell the peer, so the
      // clean-up follows at once.
      {"connected, media down", Kind::connected, true, false, false, Kind::idle, false},
      {"inside the reconnect window", Kind::connected, true, true, true, Kind::idle, false},
  };
  for (const auto& c : cases) {
    ConnectedCallHarness h;
    h.connectCall(CallType::audio);
    if (::testing::Test::HasFatalFailure()) return;
    auto& call = h.manager->stateForTesting().call;
    call.callState = c.kind;
    if (!c.connectedBefore) call.currentSession->connectedAt.reset();
    if (!c.mediaUp) h.network.cut(), h.queue.advance(h.network.disconnectDelay + 0.1);
    if (c.reconnectWindowOpen) call.iceDisconnectTimer = std::make_shared<platform::WorkItem>([] {});
    std::thread([&] { h.manager->handleServerCallFinished(); }).join();  // any thread
    h.queue.runUntilIdle();
    EXPECT_EQ(h.manager->callState().kind(), c.after) << c.name;
    EXPECT_EQ(h.manager->state().call.serverCallFinishedAt.has_value(), c.recordsTime) << c.name;
    if (call.iceDisconnectTimer) call.iceDisconnectTimer->cancel();
  }
}

TEST_F(WebAppCallSettingsTest, ScreenshotAccessIsPersistedAndReadBackByTheNextManager) {
  manager->setScreenshotAccessAllowed(true);
  EXPECT_TRUE(logged("[NativeCallMgr] screenshotAccessAllowed → true"));
  NativeCallManager::Collaborators c{signaling, peer, tones, windows, alerts, capture, share, displaySleep, defaults};
  c.log = [](const std::string&) {};
  auto next = NativeCallManager::create(std::move(c));
  EXPECT_TRUE(next->state().kept.isScreenshotAccessAllowed);
  // No share running: nothing to apply.
  EXPECT_FALSE(has("exclude 7 9") || has("include"));
}

TEST_F(WebAppCallSettingsTest, SignOutDuringACallEndsItWithThePeerToldBeforeTheCredentialsGo) {
  connectCall(CallType::audio);
  manager->clearCredentials();
  EXPECT_FALSE(manager->hasCredentials());
  EXPECT_EQ(manager->callState().kind(), Kind::ended);
  const auto frames = callFrames();
  EXPECT_NE(std::find(frames.begin(), frames.end(), "endCall 4712_B 4711_deskA"), frames.end());
  queue.advance(0.5);
  EXPECT_EQ(bobEvents->messages, (Strings{"endCall"}));
  EXPECT_TRUE(logged("[NativeCallMgr] Credentials cleared on signout (was: 4711)"));
  queue.advance(10.0);
  EXPECT_EQ(manager->callState().kind(), Kind::idle);
  EXPECT_TRUE(has("close audio"));
}

TEST_F(WebAppCallSettingsTest, TheSubscriptionFlagIsKeptAndLogged) {
  manager->setLocalIsSubscribed(true);
  EXPECT_TRUE(manager->state().kept.localIsSubscribed);
  EXPECT_TRUE(logged("[NativeCallMgr] localIsSubscribed = true"));
}

}  // namespace
}  // namespace orvik::testing

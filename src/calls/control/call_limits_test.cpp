// Account-tier call limits: whole calls driven tick by tick on a fake clock
// in a given time zone (midnight included), the decisions and texts as
// tables, the local day, the daily seconds in the user defaults, and the
// banner's re-show.
#include "calls/control/call_limits.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>

#include "calls/control/native_call_manager.h"
#include "calls/control/test_support/connected_call_harness.h"

namespace orvik::testing {
namespace {

using Strings = std::vector<std::string>;
using Kind = CallState::Kind;
using WallTime = platform::Clock::WallTime;

// 2026-03-10T22:59:00Z: 23:59:00 in Berlin, a minute before its midnight.
WallTime berlinMinuteBeforeMidnight() { return WallTime(std::chrono::seconds(1773183540)); }

TEST(LocalDay, FollowsTheTimeZonesMidnight) {
  struct Case {
    std::int64_t unixSeconds;
    const char* zone;
    LocalDay day;
  };
  const Case cases[] = {
      {1773183540, "Europe/Berlin", {"2026-03-10", 86340}},
      {1773183599, "Europe/Berlin", {"2026-03-10", 86399}},
      {1773183600, "Europe/Berlin", {"2026-03-11", 0}},
      {1773183600, "UTC", {"2026-03-10", 82800}},
      {1773183600, "America/New_York", {"2026-03-10", 68400}},
      {1767225600, "Asia/Tokyo", {"2026-01-01", 32400}},
      {1767225599, "UTC", {"2025-12-31", 86399}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(localDayOf(WallTime(std::chrono::seconds(c.unixSeconds)), c.zone), c.day)
        << c.unixSeconds << " " << c.zone;
  }
  EXPECT_EQ(localDayOf(WallTime(std::chrono::seconds(1773183600)), "").key.size(), 10u) << "the device's own zone";
}

TEST(CallLimitTexts, CountMinutesFromTheThresholdAndShowLongCallsInMinutes) {
  EXPECT_EQ(dailyVideoWarningText(600), "10 minutes left for free video call");
  EXPECT_EQ(dailyVideoWarningText(300), "5 minutes left for free video call");
  EXPECT_EQ(dailyVideoWarningText(180), "3 minutes left for free video call");
  EXPECT_EQ(dailyVideoWarningText(60), "1 minute left for free video call");
  EXPECT_EQ(callCapWarning(600, 0), (CallLimitWarning{600, "10 minutes left — extend the call, or it will end.", true}));
  EXPECT_EQ(callCapWarning(600, 1).canExtend, true);
  EXPECT_EQ(callCapWarning(600, 2), (CallLimitWarning{600, "This call will end in 10 minutes.", false}));
  EXPECT_EQ(callCapWarning(300, 0), (CallLimitWarning{300, "This call will end in 5 minutes.", false}));
  EXPECT_EQ(callCapWarning(180, 1), (CallLimitWarning{180, "This call will end in 3 minutes.", false}));
  EXPECT_EQ(callCapWarning(60, 0).text, "This call will end in 1 minute.");
  EXPECT_EQ(callDurationText(0), "00:00");
  EXPECT_EQ(callDurationText(59), "00:59");
  EXPECT_EQ(callDurationText(4500), "75:00");
}

TEST(CallLimitDecisions, TheFirstRuleThatAppliesDecides) {
  using Rule = CallLimitDecision::Rule;
  struct Case {
    const char* name;
    std::function<void(CallLimitFacts&)> facts;
    Rule rule;
    bool sendExempt;
    bool endCall;
    std::vector<int> warnings;
  };
  const Case cases[] = {
      {"exempt at 3 s sends", [](CallLimitFacts& f) { f.callLimitExempt = true, f.elapsedSeconds = 3; },
       Rule::specialAccess, true, false, {}},
      {"exempt at 3 s once", [](CallLimitFacts& f) {
         f.callLimitExempt = true, f.elapsedSeconds = 3, f.sentCallLimitExemptAt = {3};
       }, Rule::specialAccess, false, false, {}},
      {"exempt past the cap", [](CallLimitFacts& f) { f.callLimitExempt = true, f.elapsedSeconds = 9000; },
       Rule::specialAccess, false, false, {}},
      {"peer said exempt beats the list", [](CallLimitFacts& f) {
         f.peerCallLimitExempt = f.peerOnSpecialList = true, f.elapsedSeconds = 3600;
       }, Rule::peerSaidExempt, false, false, {}},
      {"listed peer on free video", [](CallLimitFacts& f) {
         f.peerOnSpecialList = f.freeToFreeVideo = true, f.elapsedSeconds = 5000;
       }, Rule::peerOnList, false, false, {}},
      {"daily budget, 100 s left at the first tick", [](CallLimitFacts& f) {
         f.freeToFreeVideo = true, f.dailyVideoUsedBefore = 1699, f.elapsedSeconds = 1;
       }, Rule::dailyVideo, false, false, {600, 300, 180}},
      {"daily budget counts from the upgrade", [](CallLimitFacts& f) {
         f.freeToFreeVideo = true, f.dailyVideoCountedFrom = 2399, f.elapsedSeconds = 3599;
       }, Rule::dailyVideo, false, false, {600}},
      {"daily budget spent", [](CallLimitFacts& f) {
         f.freeToFreeVideo = true, f.dailyVideoUsedBefore = 1799, f.elapsedSeconds = 1;
       }, Rule::dailyVideo, false, true, {}},
      {"cap, fired warnings stay fired", [](CallLimitFacts& f) {
         f.elapsedSeconds = 3350, f.firedCallLimitWarnings = {600};
       }, Rule::perCallCap, false, false, {300}},
      {"cap reached", [](CallLimitFacts& f) { f.elapsedSeconds = 3600; }, Rule::perCallCap, false, true, {}},
      {"extended cap", [](CallLimitFacts& f) { f.elapsedSeconds = 3600, f.callCapSeconds = 4800; },
       Rule::perCallCap, false, false, {}},
  };
  for (const auto& c : cases) {
    CallLimitFacts facts;
    c.facts(facts);
    const auto decision = decideCallLimits(facts);
    EXPECT_EQ(decision.rule, c.rule) << c.name;
    EXPECT_EQ(decision.sendExempt, c.sendExempt) << c.name;
    EXPECT_EQ(decision.endCall, c.endCall) << c.name;
    std::vector<int> thresholds;
    for (const auto& w : decision.warnings) thresholds.push_back(w.threshold);
    EXPECT_EQ(thresholds, c.warnings) << c.name;
  }
}

// A connected call whose ticks the test gives, one virtual second apart, in
// the time zone of its choice.
struct LimitedCall : ConnectedCallHarness {
  void useTimeZone(const std::string& zone) {
    NativeCallManager::Collaborators c{signaling, peer, tones, windows, alerts, capture, share, displaySleep, defaults};
    c.strings = &strings;
    c.log = [this](const std::string& line) { lines.push_back(line); };
    c.timeZone = zone;
    c.postBackgroundNotification = [this](const std::string& title, const std::string& body) {
      notices.push_back(title + ": " + body);
    };
    manager = NativeCallManager::create(std::move(c));
    manager->setWebView(page);
  }
  std::vector<std::string> notices;
};

class CallLimitsTest : public ::testing::Test, public LimitedCall {};

TEST(CallLimitScenarios, WholeCallsTickByTick) {
  // What happens at a second before its tick (the peer's message, a press
  // of Extend, the upgrade to video).
  using Action = std::function<void(LimitedCall&)>;
  const Action extend = [](LimitedCall& t) { t.manager->extendCall(true); };
  const Action peerExempt = [](LimitedCall& t) {
    t.bob->sendDataChannelMessage(R"({"type":"CallLimitExempt","data":true})");
  };
  const Action upgrade = [](LimitedCall& t) {
    t.manager->stateForTesting().call.currentSession->type = CallType::video;
  };
  struct Scenario {
    const char* name;
    CallType type;
    bool meGold = false;
    bool peerGold = false;
    bool meExempt = false;
    bool peerListed = false;
    int usedToday = 0;
    const char* zone = "Europe/Berlin";
    WallTime start = WallTime(std::chrono::seconds(1773140400));  // 12:00 in Berlin
    int runTo = 0;
    std::map<int, Action> actions{};
    // "<second> <event>" in order; the call ends where "ended" stands.
    Strings events;
    // The daily seconds stored once the call is torn down.
    std::optional<std::pair<std::string, int>> stored{};
  };
  const std::string extendText = R"(10 minutes left — extend the call, or it will end.)";
  const std::string extendedMessage = R"({"type":"CallExtended","data":true})";
  const std::string exemptMessage = R"({"type":"CallLimitExempt","data":true})";
  const Scenario scenarios[] = {
      {.name = "free audio call",
       .type = CallType::audio,
       .runTo = 4000,
       .events = {"3000 banner " + extendText + " [Extend]", "3300 cleared", "3300 banner This call will end in 5 minutes.",
                  "3420 cleared", "3420 banner This call will end in 3 minutes.", "3600 hide", "3600 sent endCall",
                  "3600 ended"}},
      {.name = "extended twice, the third press does nothing",
       .type = CallType::audio,
       .runTo = 6100,
       .actions = {{3100, extend}, {4700, extend}, {5500, extend}},
       .events = {"3000 banner " + extendText + " [Extend]", "3100 hide", "3100 sent " + extendedMessage,
                  "4200 banner " + extendText + " [Extend]", "4500 cleared",
                  "4500 banner This call will end in 5 minutes.", "4620 cleared",
                  "4620 banner This call will end in 3 minutes.", "4700 hide", "4700 sent " + extendedMessage,
                  "5400 banner This call will end in 10 minutes.", "5700 cleared",
                  "5700 banner This call will end in 5 minutes.", "5820 cleared",
                  "5820 banner This call will end in 3 minutes.", "6000 hide", "6000 sent endCall", "6000 ended"}},
      {.name = "a subscriber's video call has the per-call cap",
       .type = CallType::video,
       .meGold = true,
       .usedToday = 1790,
       .runTo = 3600,
       .events = {"3000 banner " + extendText + " [Extend]", "3300 cleared",
                  "3300 banner This call will end in 5 minutes.", "3420 cleared",
                  "3420 banner This call will end in 3 minutes.", "3600 hide", "3600 sent endCall", "3600 ended"},
       .stored = std::pair<std::string, int>{"2026-03-10", 1790}},
      {.name = "free video with 1500 s used today",
       .type = CallType::video,
       .usedToday = 1500,
       .runTo = 400,
       .events = {"1 banner 10 minutes left for free video call", "1 cleared",
                  "1 banner 5 minutes left for free video call", "120 cleared",
                  "120 banner 3 minutes left for free video call", "300 hide", "300 sent endCall", "300 ended"},
       .stored = std::pair<std::string, int>{"2026-03-10", 1800}},
      {.name = "special access tells the peer at 3 s and 30 s and has no limit",
       .type = CallType::video,
       .meExempt = true,
       .usedToday = 1800,
       .runTo = 3700,
       .events = {"3 sent " + exemptMessage, "30 sent " + exemptMessage},
       .stored = std::pair<std::string, int>{"2026-03-10", 1800}},
      {.name = "a peer on the special list",
       .type = CallType::audio,
       .peerListed = true,
       .runTo = 3700,
       .events = {}},
      {.name = "the peer's special access mid-call",
       .type = CallType::audio,
       .runTo = 3700,
       .actions = {{3100, peerExempt}},
       .events = {"3000 banner " + extendText + " [Extend]", "3100 hide"}},
      {.name = "free video across Berlin's midnight",
       .type = CallType::video,
       .usedToday = 1700,
       .start = berlinMinuteBeforeMidnight(),
       .runTo = 2000,
       .events = {"1 banner 10 minutes left for free video call", "1 cleared", "1 cleared",
                  "1 banner 3 minutes left for free video call", "60 hide",
                  "1260 banner 10 minutes left for free video call", "1560 cleared",
                  "1560 banner 5 minutes left for free video call", "1680 cleared",
                  "1680 banner 3 minutes left for free video call", "1860 hide", "1860 sent endCall", "1860 ended"},
       .stored = std::pair<std::string, int>{"2026-03-11", 1800}},
      {.name = "the same minute in UTC is no midnight",
       .type = CallType::video,
       .usedToday = 1700,
       .zone = "UTC",
       .start = berlinMinuteBeforeMidnight(),
       .runTo = 2000,
       .events = {"1 banner 10 minutes left for free video call", "1 cleared", "1 cleared",
                  "1 banner 3 minutes left for free video call", "100 hide", "100 sent endCall", "100 ended"},
       .stored = std::pair<std::string, int>{"2026-03-10", 1800}},
      {.name = "an audio call upgraded to video draws on the budget from the upgrade",
       .type = CallType::audio,
       .runTo = 5000,
       .actions = {{2400, upgrade}},
       .events = {"3599 banner 10 minutes left for free video call", "3899 cleared",
                  "3899 banner 5 minutes left for free video call", "4019 cleared",
                  "4019 banner 3 minutes left for free video call", "4199 hide", "4199 sent endCall", "4199 ended"},
       .stored = std::pair<std::string, int>{"2026-03-10", 1800}},
  };

  for (const auto& sc : scenarios) {
    SCOPED_TRACE(sc.name);
    LimitedCall t;
    t.useTimeZone(sc.zone);
    t.queue.clock().setNow(sc.start - std::chrono::seconds(5));
    t.connectCall(sc.type);
    if (::testing::Test::HasFatalFailure()) return;
    // Connected by hand: the ring timer of the placed call goes too.
    t.manager->timersForTesting().stopAll();
    t.queue.clock().setNow(sc.start);
    auto& kept = t.manager->stateForTesting().kept;
    kept.localIsSubscribed = sc.meGold;
    kept.callLimitExempt = sc.meExempt;
    if (sc.peerListed) kept.specialCallingNumbers = {"4712"};
    t.manager->stateForTesting().call.currentSession->remoteUser.isSubscribed = sc.peerGold;
    setDailyVideoUsedSeconds(t.defaults, localDayOf(sc.start, sc.zone).key, sc.usedToday);
    t.manager->beginCallLimits();

    Strings events;
    std::size_t portsSeen = t.ports.size();
    std::size_t bobSeen = t.bobEvents->messages.size();
    const auto collect = [&](int second) {
      for (; portsSeen < t.ports.size(); ++portsSeen) {
        const auto& line = t.ports[portsSeen];
        if (line.starts_with("limit banner cleared")) {
          events.push_back(std::to_string(second) + " cleared");
        } else if (line.starts_with("limit banner ")) {
          events.push_back(std::to_string(second) + " banner " + line.substr(13));
        } else if (line == "hide limit banner") {
          events.push_back(std::to_string(second) + " hide");
        }
      }
      for (; bobSeen < t.bobEvents->messages.size(); ++bobSeen) {
        events.push_back(std::to_string(second) + " sent " + t.bobEvents->messages[bobSeen]);
      }
    };
    for (int s = 1; s <= sc.runTo; ++s) {
      t.queue.advance(1.0);
      collect(s - 1);
      if (const auto action = sc.actions.find(s); action != sc.actions.end()) action->second(t);
      t.queue.runUntilIdle();
      t.manager->callTimerDidTick(s + 0.25);
      t.queue.runUntilIdle();
      collect(s);
      if (t.manager->callState() != CallState(Kind::connected)) {
        events.push_back(std::to_string(s) + " ended");
        break;
      }
    }
    EXPECT_EQ(events, sc.events);
    t.queue.advance(10.0);
    if (sc.stored) {
      EXPECT_EQ(t.defaults.string(callLimits::kDayKey), sc.stored->first);
      EXPECT_EQ(t.defaults.integer(callLimits::kUsedSecondsKey), sc.stored->second);
    }
  }
}

TEST_F(CallLimitsTest, EachTickShowsTheCallTimeInMinutesAndSeconds) {
  useTimeZone("UTC");
  connectCall(CallType::audio);
  manager->stateForTesting().kept.callLimitExempt = true;
  const auto mark = portsMark();
  manager->callTimerDidTick(59.9);
  manager->callTimerDidTick(4500.0);
  queue.runUntilIdle();
  EXPECT_EQ(portsSince(mark), (Strings{"timer 00:59", "timer 75:00"}));
}

TEST_F(CallLimitsTest, WarningsAndExtensionsAlsoPostANoticeForTheBackground) {
  useTimeZone("UTC");
  connectCall(CallType::audio);
  manager->callTimerDidTick(3000);
  manager->extendCall(true);
  manager->extendCall(true);
  manager->extendCall(true);
  queue.runUntilIdle();
  EXPECT_EQ(notices, (Strings{"Orvik Call: 10 minutes left — extend the call, or it will end.",
                              "Orvik Call: Call extended — 20 minutes added.",
                              "Orvik Call: Call extended — 20 minutes added."}));
  EXPECT_EQ(manager->state().call.callCapSeconds, 6000);
  EXPECT_TRUE(logged("[CallLimit] warning shown: \"10 minutes left — extend the call, or it will end.\" "
                     "(extend offered=true)"));
  EXPECT_TRUE(logged("[CallLimit] call extended by 20 min (2/2) — new cap 6000s (sentToPeer=true)"));
}

TEST_F(CallLimitsTest, AHiddenOrEndedBannerDoesNotComeBack) {
  useTimeZone("UTC");
  connectCall(CallType::audio);
  for (const bool endTheCall : {false, true}) {
    SCOPED_TRACE(endTheCall ? "the call is torn down" : "hidden");
    manager->showCallLimitWarning("This call will end in 5 minutes.", false);
    queue.runUntilIdle();
    manager->showCallLimitWarning("This call will end in 3 minutes.", false);
    queue.runUntilIdle();
    ASSERT_FALSE(windows.limitWarning) << "cleared for the re-show";
    if (endTheCall) {
      manager->cleanup();
    } else {
      manager->hideCallLimitBanner();
    }
    queue.advance(1.0);
    EXPECT_FALSE(windows.limitWarning);
  }
}

TEST_F(CallLimitsTest, ANewerWarningReplacesAPendingReshow) {
  useTimeZone("UTC");
  connectCall(CallType::audio);
  manager->showCallLimitWarning("A", false);
  manager->showCallLimitWarning("B", false);
  queue.advance(0.2);
  manager->showCallLimitWarning("C", true);
  queue.advance(1.0);
  EXPECT_EQ(windows.limitWarning, "C");
  EXPECT_TRUE(windows.callLimitCanExtend);
  EXPECT_EQ(std::count(ports.begin(), ports.end(), "limit banner B"), 0);
}

TEST_F(CallLimitsTest, DailyVideoSecondsAreWrittenEveryFewSecondsAndKeptAtTheEnd) {
  useTimeZone("UTC");
  queue.clock().setNow(WallTime(std::chrono::seconds(1773140400)));
  connectCall(CallType::video);
  const std::string today = localDayOf(queue.clock().now(), "UTC").key;
  setDailyVideoUsedSeconds(defaults, today, 100);
  manager->beginCallLimits();
  EXPECT_TRUE(logged("| rule: free↔free video — daily 30 min (used today 100s)"));
  std::vector<std::int64_t> stored;
  for (int s = 1; s <= 8; ++s) {
    manager->callTimerDidTick(s);
    stored.push_back(defaults.integer(callLimits::kUsedSecondsKey));
  }
  EXPECT_EQ(stored, (std::vector<std::int64_t>{101, 101, 101, 101, 101, 106, 106, 106}));
  // Asked mid-call, the running call's seconds count.
  EXPECT_EQ(manager->dailyVideoUsedSeconds(), 108);
  manager->callTimerDidTick(9);
  manager->endCall();
  queue.advance(10.0);
  EXPECT_EQ(defaults.integer(callLimits::kUsedSecondsKey), 109);
  EXPECT_EQ(defaults.string(callLimits::kDayKey), today);
}

TEST_F(CallLimitsTest, TheRuleLineSaysWhichLimitGovernsTheCall) {
  useTimeZone("UTC");
  connectCall(CallType::audio);
  manager->logCallLimitRule();
  EXPECT_TRUE(logged("[CallLimit] call connected — audio with 4712 | me gold=false peer gold=false | rule: 60 min per "
                     "call, up to 2 extends of 20 min"));
  manager->stateForTesting().kept.specialCallingNumbers = {"4712"};
  manager->logCallLimitRule();
  EXPECT_TRUE(logged("| rule: NO LIMIT (special access: me=false peerOnList=true peerSaid=false)"));
}

TEST(DailyVideoDefaults, AnotherDaysSecondsReadAsNoneAndNegativeSecondsAsZero) {
  TempDir folder;
  platform::UserDefaults defaults{folder / "defaults.json"};
  EXPECT_EQ(dailyVideoUsedSeconds(defaults, "2026-03-10"), 0);
  EXPECT_EQ(defaults.string(callLimits::kDayKey), "2026-03-10");
  setDailyVideoUsedSeconds(defaults, "2026-03-10", 700);
  EXPECT_EQ(dailyVideoUsedSeconds(defaults, "2026-03-10"), 700);
  EXPECT_EQ(dailyVideoUsedSeconds(defaults, "2026-03-11"), 0);
  EXPECT_EQ(defaults.string(callLimits::kDayKey), "2026-03-11");
  EXPECT_EQ(defaults.integer(callLimits::kUsedSecondsKey), 0);
  setDailyVideoUsedSeconds(defaults, "2026-03-11", -5);
  EXPECT_EQ(defaults.integer(callLimits::kUsedSecondsKey), 0);
}

}  // namespace
}  // namespace orvik::testing

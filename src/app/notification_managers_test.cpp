// The local and push notification managers against recording doubles of the
// notifier, the badge, the sound player and the page, on virtual time.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "app/local_notification_manager.h"
#include "app/push_notification_manager.h"
#include "core/native_logger.h"
#include "platform/audio/fake_sound_player.h"
#include "platform/dispatch/virtual_queue.h"
#include "platform/recording_notifier.h"
#include "platform/recording_page_script_sink.h"
#include "platform/recording_system_opener.h"
#include "platform/test_support/temp_dir.h"
#include "platform/user_defaults.h"

namespace orvik {
namespace {

using nlohmann::json;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

class RecordingIncomingCalls final : public IncomingCallPushTarget {
 public:
  bool isMaskedOrWiped() const override { return maskedOrWiped; }
  bool isInCall() const override { return inCall; }
  bool isRingingCall(const IncomingCallPush& call) const override { return call.pushId == ringingPushId; }
  void sendBusyToNewCaller(const std::string& callerNumber) override { events.push_back("busy " + callerNumber); }
  void prepareSignalingForIncoming(const IncomingCallPush& call) override {
    events.push_back("prepare");
    prepared.push_back(call);
  }
  void showIncomingCallPanel(const IncomingCallPush& call, std::function<void()> accept,
                             std::function<void()> decline) override {
    events.push_back("panel " + call.displayName);
    acceptPanel = std::move(accept);
    declinePanel = std::move(decline);
  }
  void acceptIncomingFromPanel(const IncomingCallPush& call) override {
    events.push_back("accept " + call.callerNumber + " " + call.pushId);
  }
  void rejectCall() override { events.push_back("reject"); }

  bool maskedOrWiped = false;
  bool inCall = false;
  std::string ringingPushId = "none";
  std::vector<std::string> events;
  std::vector<IncomingCallPush> prepared;
  std::function<void()> acceptPanel;
  std::function<void()> declinePanel;
};

class NotificationsTest : public ::testing::Test {
 protected:
  NotificationsTest() {
    for (const char* name : {"message_banner_low", "message_banner_medium", "message_banner_high"}) {
      std::ofstream(dir_ / (std::string(name) + ".wav")) << "RIFF";
    }
    push_.setPage(page_);
    NativeLogger::shared().setPrintFunction([this](const std::string& line) { printed_.push_back(line); });
  }
  ~NotificationsTest() override { NativeLogger::shared().setPrintFunction({}); }

  bool logged(std::string_view text) const {
    return std::any_of(printed_.begin(), printed_.end(),
                       [&](const std::string& line) { return line.find(text) != std::string::npos; });
  }

  void run() { queue_.runUntilIdle(); }
  void show(const json& request) {
    local_.handleShowLocalNotification("showLocalNotification:" + request.dump());
    run();
  }

  platform::VirtualQueue queue_;
  platform::ScopedMainQueue mainQueue_{queue_};
  std::vector<std::string> printed_;
  testing::TempDir dir_;
  platform::UserDefaults defaults_{dir_ / "defaults.json"};
  platform::RecordingNotifier notifier_;
  platform::RecordingBadge badge_;
  platform::FakeSoundPlayer sounds_;
  platform::RecordingSystemOpener opener_;
  RecordingIncomingCalls calls_;
  int raised_ = 0;
  std::shared_ptr<platform::RecordingPageScriptSink> page_ = std::make_shared<platform::RecordingPageScriptSink>();
  PushNotificationManager push_{calls_, [this] { ++raised_; }};
  bool active_ = false;
  float ringtoneGain_ = 0.5f;
  LocalNotificationManager local_{{notifier_, badge_, defaults_, sounds_, push_, opener_, dir_.path(), "com.orvik.desk",
                                   [this] { return active_; }, [this] { return ringtoneGain_; }}};
};

TEST_F(NotificationsTest, CallsAndMessagesAreToldApartByTheBody) {
  struct Case {
    const char* body;
    bool call;
    bool audio;
  };
  const Case cases[] = {
      {"Incoming video call", true, false}, {"Incoming call", true, true},   {"CALL INCOMING", true, true},
      {"Missed call", false, true},         {"incoming message", false, true}, {"", false, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.body);
    calls_.prepared.clear();
    notifier_.posted.clear();
    show({{"title", "Ann"}, {"body", c.body}, {"data", {{"from", "4711_desk"}, {"pushToken", "p1"}}}});
    ASSERT_EQ(notifier_.posted.size(), 1u);
    EXPECT_EQ(notifier_.posted[0].category, c.call ? "CALL" : "MESSAGE");
    EXPECT_EQ(calls_.prepared.size(), c.call ? 1u : 0u);
    if (c.call) {
      EXPECT_EQ(calls_.prepared[0].isAudio, c.audio);
      EXPECT_EQ(calls_.prepared[0].callerNumber, "4711");
      EXPECT_EQ(calls_.prepared[0].pushId, "p1");
      EXPECT_TRUE(notifier_.posted[0].timeSensitive);
      EXPECT_TRUE(notifier_.posted[0].identifier.starts_with("call-"));
    }
  }
}

TEST_F(NotificationsTest, ACallBannerTakesItsCallerFromTheDataNeverFromTheTitle) {
  // Nested call data wins over the outer object.
  show({{"title", "Ann"}, {"body", "Incoming call"}, {"data", {{"data", {{"from", "99"}, {"pushToken", "inner"}}}}}});
  ASSERT_EQ(calls_.prepared.size(), 1u);
  EXPECT_EQ(calls_.prepared[0].callerNumber, "99");
  EXPECT_EQ(calls_.prepared[0].displayName, "Ann");
  EXPECT_EQ(calls_.prepared[0].pushId, "inner");
  // The banner hands back what the page sent, not the call data.
  EXPECT_EQ(notifier_.posted[0].userInfo, (json{{"data", {{"from", "99"}, {"pushToken", "inner"}}}}));

  calls_.prepared.clear();
  show({{"title", "Ann"}, {"body", "Incoming call"}, {"data", {{"pushToken", "p"}}}});
  EXPECT_THAT(calls_.prepared, IsEmpty());
  EXPECT_TRUE(logged("[LOCAL-NOTIF] call notification without a caller — no incoming-call panel"));
  EXPECT_EQ(notifier_.posted.size(), 2u);
}

TEST_F(NotificationsTest, WhileActiveOnlyTheCallPanelOpens) {
  active_ = true;
  show({{"title", "Ann"}, {"body", "Incoming call"}, {"data", {{"from", "7"}}}});
  show({{"title", "Ann"}, {"body", "hello"}});
  local_.postBackgroundNotification("Limit", "Call ends soon", json::object());
  run();
  EXPECT_THAT(notifier_.posted, IsEmpty());
  EXPECT_EQ(badge_.history.size(), 0u);
  EXPECT_EQ(calls_.prepared.size(), 1u);
}

TEST_F(NotificationsTest, RequestDefaultsAndBadInput) {
  show({{"body", "hi"}});
  ASSERT_EQ(notifier_.posted.size(), 1u);
  EXPECT_EQ(notifier_.posted[0].title, "Notification");
  EXPECT_EQ(notifier_.posted[0].userInfo, json::object());
  local_.handleShowLocalNotification("showLocalNotification:{not json");
  local_.handleShowLocalNotification("showLocalNotification:[1,2]");
  run();
  EXPECT_EQ(notifier_.posted.size(), 1u);
  // The prefix goes once: the same words inside the text stay.
  local_.handleShowLocalNotification(
      R"(showLocalNotification:{"title":"showLocalNotification:","body":"x showLocalNotification: y"})");
  run();
  ASSERT_EQ(notifier_.posted.size(), 2u);
  EXPECT_EQ(notifier_.posted[1].title, "showLocalNotification:");
  EXPECT_EQ(notifier_.posted[1].body, "x showLocalNotification: y");
}

TEST_F(NotificationsTest, TheCallBannerIsSilentWhenTheRingtoneIsOff) {
  show({{"body", "Incoming call"}, {"data", {{"from", "7"}}}});
  ringtoneGain_ = 0.0f;
  show({{"body", "Incoming call"}, {"data", {{"from", "7"}}}});
  ASSERT_EQ(notifier_.posted.size(), 2u);
  EXPECT_EQ(notifier_.posted[0].sound, dir_.path() / "callringtone.wav");
  EXPECT_EQ(notifier_.posted[1].sound, std::nullopt);
}

TEST_F(NotificationsTest, BadgeArithmetic) {
  struct Step {
    const char* action;  // "banner", "total:<text>", "active", "inactive", "clear"
    std::optional<std::string> label;
  };
  const std::vector<std::vector<Step>> scenarios = {
      {{"banner", "1"}, {"banner", "2"}},
      {{"label:7", "7"}, {"banner", "8"}},
      {{"label:junk", "junk"}, {"banner", "1"}},
      // A total applies to a label that shows, and rules later banners.
      {{"label:7", "7"}, {"total:3", "3"}, {"banner", "3"}, {"banner", "3"}},
      {{"label:7", "7"}, {"total:0", std::nullopt}, {"banner", "1"}},
      // No label: the total is only kept.
      {{"total:5", std::nullopt}, {"banner", "5"}},
      {{"label:2", "2"}, {"total:  4 ", "4"}, {"total:-1", "4"}, {"total:4x", "4"}, {"total:", "4"}},
      // While active only the total changes.
      {{"label:2", "2"}, {"active", "2"}, {"total:9", "2"}, {"inactive", "2"}, {"banner", "9"}},
      {{"banner", "1"}, {"clear", std::nullopt}, {"banner", "1"}},
  };
  for (std::size_t i = 0; i < scenarios.size(); ++i) {
    SCOPED_TRACE("scenario " + std::to_string(i));
    platform::RecordingNotifier notifier;
    platform::RecordingBadge badge;
    bool active = false;
    LocalNotificationManager local{{notifier, badge, defaults_, sounds_, push_, opener_, dir_.path(), "com.orvik.desk",
                                    [&] { return active; }, [] { return 1.0f; }}};
    std::optional<std::string> clearedBadgeBefore;
    for (const Step& step : scenarios[i]) {
      const std::string action = step.action;
      SCOPED_TRACE(action);
      if (action == "banner") {
        local.handleShowLocalNotification(R"(showLocalNotification:{"body":"hi"})");
      } else if (action.starts_with("total:")) {
        local.handleSetUnreadTotal("setUnreadTotal:" + action.substr(6));
      } else if (action.starts_with("label:")) {
        badge.current = action.substr(6);
      } else if (action == "active") {
        active = true;
      } else if (action == "inactive") {
        active = false;
      } else if (action == "clear") {
        local.clearBadge();
      }
      run();
      EXPECT_EQ(badge.current, step.label);
    }
  }
}

TEST_F(NotificationsTest, ClearingAChatWithdrawsOnlyItsBanners) {
  show({{"body", "a"}, {"data", {{"chatId", "c1"}}}});
  show({{"body", "b"}, {"data", {{"data", {{"chatId", "c1"}}}}}});
  show({{"body", "c"}, {"data", {{"chatId", "c2"}}}});
  show({{"body", "d"}, {"data", {{"chatId", "c10"}}}});
  local_.clearChatNotifications("clearChatNotifications:");
  EXPECT_THAT(notifier_.removed, IsEmpty());
  local_.clearChatNotifications("clearChatNotifications:c1");
  ASSERT_EQ(notifier_.removed.size(), 1u);
  EXPECT_EQ(notifier_.removed[0], (std::vector<std::string>{notifier_.posted[0].identifier, notifier_.posted[1].identifier}));
  EXPECT_EQ(notifier_.shown.size(), 2u);
}

TEST_F(NotificationsTest, BannerSoundFollowsTheSettingAndTheDesktop) {
  struct Case {
    const char* name;
    std::optional<json> setting;
    platform::NotificationSettings desktop;
    std::optional<std::string> failure;
    std::optional<std::string> played;
  };
  const platform::NotificationSettings allowed{platform::NotificationAuthorization::authorized, true, true};
  const platform::NotificationSettings mutedSounds{platform::NotificationAuthorization::authorized, true, false};
  const Case cases[] = {
      {"no setting", std::nullopt, allowed, std::nullopt, "message_banner_medium.wav"},
      {"high", json{{"enabled", true}, {"level", "high"}}, allowed, std::nullopt, "message_banner_high.wav"},
      {"unknown level", json{{"level", "loud"}}, allowed, std::nullopt, "message_banner_medium.wav"},
      {"enabled not a flag", json{{"enabled", "no"}, {"level", "low"}}, allowed, std::nullopt,
       "message_banner_low.wav"},
      {"disabled", json{{"enabled", false}, {"level", "high"}}, allowed, std::nullopt, std::nullopt},
      {"desktop sounds off", std::nullopt, mutedSounds, std::nullopt, std::nullopt},
      {"not posted", std::nullopt, allowed, std::string("no server"), std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.setting) {
      defaults_.setDictionary(LocalNotificationManager::kNotificationSoundKey, *c.setting);
    } else {
      defaults_.remove(LocalNotificationManager::kNotificationSoundKey);
    }
    notifier_.currentSettings = c.desktop;
    notifier_.failNextAdd = c.failure;
    const std::size_t before = sounds_.loaded().size();
    show({{"body", "hi"}});
    if (c.played) {
      ASSERT_EQ(sounds_.loaded().size(), before + 1);
      EXPECT_EQ(sounds_.loaded().back()->name, *c.played);
      EXPECT_TRUE(sounds_.loaded().back()->playing);
    } else {
      EXPECT_EQ(sounds_.loaded().size(), before);
    }
  }
}

TEST_F(NotificationsTest, SoundSettingIsStoredAndPreviewed) {
  local_.setNotificationSound(true, "loud");
  EXPECT_EQ(defaults_.dictionary(LocalNotificationManager::kNotificationSoundKey),
            (json{{"enabled", true}, {"level", "medium"}}));
  EXPECT_TRUE(logged("[LOCAL-NOTIF] notification sound → medium"));
  local_.handlePreviewNotificationSound();
  run();
  ASSERT_EQ(sounds_.playing().size(), 1u);
  EXPECT_EQ(sounds_.playing()[0]->name, "message_banner_medium.wav");

  local_.setNotificationSound(false, "high");
  EXPECT_TRUE(logged("[LOCAL-NOTIF] notification sound → off"));
  local_.handlePreviewNotificationSound();
  run();
  EXPECT_THAT(sounds_.playing(), IsEmpty());

  std::filesystem::remove(dir_ / "message_banner_low.wav");
  local_.setNotificationSound(true, "low");
  local_.handlePreviewNotificationSound();
  run();
  EXPECT_TRUE(logged("[LOCAL-NOTIF] banner sound preview: message_banner_low.wav missing"));
}

TEST_F(NotificationsTest, SettingsOpenTheDesktopsNotificationPanel) {
  local_.openNotificationSettings();
  ASSERT_EQ(opener_.openedApplications.size(), 1u);
  EXPECT_EQ(opener_.openedApplications[0].front(), "gnome-notifications-panel.desktop");
}

// --- the push manager ---

TEST_F(NotificationsTest, TokenFormattingAndTheTokenRequest) {
  EXPECT_EQ(PushNotificationManager::hexByteStrings(std::string("\x0a\xff", 2)), "0aff");
  EXPECT_EQ(PushNotificationManager::hexByteStrings(std::string(32, '\x01')).size(), 64u);

  auto authorised = [](platform::NotificationAuthorization status) {
    return [status](std::function<void(const platform::NotificationSettings&)> done) {
      done({status, true, true});
    };
  };
  const std::string emptyToken = platform::pageFunctionCall("onDeviceTokenReceived", {""});
  // Before registration finished, with notifications allowed: nothing yet.
  push_.handleGetDeviceToken(authorised(platform::NotificationAuthorization::authorized));
  run();
  EXPECT_THAT(page_->scripts, IsEmpty());
  push_.handleGetDeviceToken(authorised(platform::NotificationAuthorization::denied));
  run();
  EXPECT_THAT(page_->scripts, ElementsAre(emptyToken));

  // This desktop has no push service: the registration fails at once and the
  // page hears the empty token, now and on every later request.
  page_->scripts.clear();
  push_.registerForRemoteNotifications();
  push_.handleGetDeviceToken(authorised(platform::NotificationAuthorization::authorized));
  run();
  EXPECT_TRUE(push_.registrationFailed());
  EXPECT_THAT(page_->scripts, ElementsAre(emptyToken, emptyToken));

  // A stored token wins over the failure.
  page_->scripts.clear();
  push_.didRegister(std::string("\x0a\xff", 2));
  push_.handleGetDeviceToken({});
  run();
  const std::string token = platform::pageFunctionCall("onDeviceTokenReceived", {"0aff"});
  EXPECT_THAT(page_->scripts, ElementsAre(token, token));
}

TEST_F(NotificationsTest, OnlyOpeningABannerCountsAsAClick) {
  int badgeClears = 0;
  const json info = {{"chatId", "c1"}, {"n", 2}};
  push_.didReceive({"x", info, platform::NotificationAction::dismiss}, [&] { ++badgeClears; });
  run();
  EXPECT_EQ(raised_, 0);
  EXPECT_EQ(badgeClears, 0);
  EXPECT_THAT(page_->scripts, IsEmpty());

  push_.didReceive({"x", info, platform::NotificationAction::open}, [&] { ++badgeClears; });
  run();
  EXPECT_EQ(raised_, 1);
  EXPECT_EQ(badgeClears, 1);
  EXPECT_THAT(page_->scripts, ElementsAre(platform::pageFunctionCall("onNotificationTapped", {info})));
}

TEST_F(NotificationsTest, AClickWithoutAPageWaitsForTheNextLoadAndOnlyTheLatestIsKept) {
  push_.setPage({});
  push_.handleNotificationTap({{"n", 1}});
  push_.handleNotificationTap({{"n", 2}});
  run();
  EXPECT_EQ(raised_, 2);
  push_.setPage(page_);
  push_.deliverPendingPayload();
  push_.deliverPendingPayload();
  run();
  EXPECT_THAT(page_->scripts, ElementsAre(platform::pageFunctionCall("onNotificationTapped", {json{{"n", 2}}})));
  EXPECT_EQ(push_.pendingNotificationPayload(), std::nullopt);
}

TEST_F(NotificationsTest, IncomingCallPayloadReading) {
  struct Case {
    json payload;
    bool audio;
    const char* number;
    const char* name;
    const char* pushId;
  };
  const Case cases[] = {
      {{{"isAudio", "TRUE"}}, true, "", "Unknown", ""},
      {{{"isAudio", "yes"}}, false, "", "Unknown", ""},
      {{{"isAudio", false}, {"isAudioCall", 1}}, false, "", "Unknown", ""},
      {{{"isAudioCall", 0}}, false, "", "Unknown", ""},
      {{{"isAudioCall", 1}}, true, "", "Unknown", ""},
      {{{"isAudioCall", true}}, true, "", "Unknown", ""},
      {json::object(), true, "", "Unknown", ""},
      {{{"from", "12345_mac"}}, true, "12345", "12345_mac", ""},
      {{{"from", "1_2_3"}, {"title", "T"}}, true, "1", "T", ""},
      {{{"aps", {{"alert", {{"title", "Nested"}}}}}, {"title", "T"}}, true, "", "Nested", ""},
      {{{"pushToken", 5}, {"pushId", "id2"}}, true, "", "Unknown", "id2"},
      {{{"pushToken", "tok"}, {"pushId", "id2"}}, true, "", "Unknown", "tok"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.payload.dump());
    calls_.prepared.clear();
    push_.handleIncomingCallPush(c.payload);
    run();
    ASSERT_EQ(calls_.prepared.size(), 1u);
    EXPECT_EQ(calls_.prepared[0], (IncomingCallPush{c.number, c.name, c.pushId, c.audio}));
  }
}

TEST_F(NotificationsTest, IncomingCallPanelBusyAndSuppression) {
  const json payload = {{"from", "42_desk"}, {"title", "Bo"}, {"pushToken", "p"}};
  push_.handleIncomingCallPush(payload);
  run();
  EXPECT_THAT(calls_.events, ElementsAre("prepare", "panel Bo"));
  EXPECT_THAT(page_->scripts, ElementsAre("window.__nativeCallPanelActive = true;"));
  calls_.acceptPanel();
  EXPECT_EQ(calls_.events.back(), "accept 42 p");
  calls_.declinePanel();
  EXPECT_EQ(calls_.events.back(), "reject");
  EXPECT_EQ(page_->scripts.back(), "window.__nativeCallPanelActive = false;");

  // In a call: a busy reply and nothing else.
  calls_.events.clear();
  page_->scripts.clear();
  calls_.inCall = true;
  push_.handleIncomingCallPush(payload);
  run();
  EXPECT_THAT(calls_.events, ElementsAre("busy 42"));
  EXPECT_THAT(page_->scripts, IsEmpty());

  // The call that rings here, announced again: the panel again, no busy reply.
  calls_.events.clear();
  calls_.ringingPushId = "p";
  push_.handleIncomingCallPush(payload);
  run();
  EXPECT_THAT(calls_.events, ElementsAre("prepare", "panel Bo"));
  calls_.ringingPushId = "none";

  // Decoy or wipe-out: the log line only.
  calls_.events.clear();
  page_->scripts.clear();
  calls_.maskedOrWiped = true;
  push_.handleIncomingCallPush(payload);
  run();
  EXPECT_THAT(calls_.events, IsEmpty());
  EXPECT_THAT(page_->scripts, IsEmpty());
}

}  // namespace
}  // namespace orvik

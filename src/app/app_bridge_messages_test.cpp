#include "app/app_bridge_messages.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <utility>

#include "calls/signaling/test_support/recording_call_credentials_sink.h"
#include "core/incoming_ringtone.h"
#include "core/native_logger.h"
#include "core/theme_manager.h"
#include "core/update_banner.h"
#include "platform/dispatch/virtual_queue.h"
#include "platform/recording_display_sleep_inhibitor.h"
#include "platform/recording_page_script_sink.h"
#include "platform/test_support/temp_dir.h"
#include "platform/user_defaults.h"
#include "web/bridge_dispatcher.h"
#include "web/testing/trusted_bridge_message.h"

namespace orvik {
namespace {

using nlohmann::json;
using ::testing::ElementsAre;

class RecordingUpdateBanner final : public UpdateBanner {
 public:
  void setUserLoggedIn(bool loggedIn) override { events.push_back(std::string("loggedIn=") + (loggedIn ? "1" : "0")); }
  void setBannerAnchorBottom(double points) override { events.push_back("anchor=" + std::to_string(int(points))); }
  void setShowUpdateDialog(bool show) override { events.push_back(std::string("dialog=") + (show ? "1" : "0")); }
  bool hasUpdateInfo() const override { return hasUpdate; }
  void checkForUpdates(bool silent) override { events.push_back(std::string("check silent=") + (silent ? "1" : "0")); }
  std::vector<std::string> events;
  bool hasUpdate = false;
};

class AppBridgeMessagesTest : public ::testing::Test {
 protected:
  AppBridgeMessagesTest() {
    AppBridgeMessages::Collaborators c;
    c.page = page_;
    c.queue = &queue_;
    c.deviceFacts = [] { return DeviceFacts{"Standard PC (Q35)", "box", "Debian GNU/Linux 12 (bookworm)"}; };
    c.deviceUdid = [this](auto done) { done(udid_); };
    c.shortVersion = "1.4.2";
    c.build = "142";
    c.applyInspectorAllowed = [this](bool allowed) {
      inspector_.push_back(allowed);
      return !allowed && std::exchange(inspectorOpen_, false);
    };
    c.setAllowedFileTypes = [this](std::vector<std::string> types) { fileTypes_ = std::move(types); };
    c.displaySleep = &displaySleep_;
    c.tones.setToneVolumes = [this](const json& volumes) { volumes_.push_back(volumes); };
    c.tones.previewRingtone = [this](int index) { previews_.push_back(index); };
    c.calls = &calls_;
    c.theme = &theme_;
    c.defaults = &defaults_;
    c.updates = &updates_;
    c.log = [this](const std::string& line) { logged_.push_back(line); };
    messages_ = std::make_unique<AppBridgeMessages>(std::move(c));
    messages_->publishRoutes(dispatcher_);
  }
  // Posts a trusted "nativeApp" message and runs what it queued.
  void send(const json& body) {
    dispatcher_.didReceive(testing::trustedBridgeMessage("nativeApp", body));
    queue_.runUntilIdle();
  }

  platform::VirtualClock clock_;
  platform::VirtualQueue queue_{&clock_};
  platform::ScopedMainQueue mainQueue_{queue_};
  testing::TempDir dir_;
  platform::UserDefaults defaults_{dir_ / "defaults.json"};
  ThemeManager theme_{defaults_};
  std::shared_ptr<platform::RecordingPageScriptSink> page_ = std::make_shared<platform::RecordingPageScriptSink>();
  RecordingCallCredentialsSink calls_;
  RecordingUpdateBanner updates_;
  std::string udid_ = "0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef";
  std::vector<bool> inspector_;
  std::vector<std::string> fileTypes_{"unset"}, logged_;
  bool inspectorOpen_ = false;
  platform::RecordingDisplaySleepInhibitor displaySleep_;
  std::vector<json> volumes_;
  std::vector<int> previews_;
  BridgeDispatcher dispatcher_{{[](std::string_view host) { return host == "app.orvik.test"; },
                                [] { return true; }, {}, [](const std::string&) {}, nullptr}};
  std::unique_ptr<AppBridgeMessages> messages_;
};

// A name the page's protocol does not have would never reach its handler.
TEST(AppBridgeMessageNames, EveryNameIsOneThePageSends) {
  BridgeDispatcher dispatcher({});
  const auto names = AppBridgeMessages::messageNames();
  EXPECT_EQ(names.size(), 22u);
  for (const auto name : names) EXPECT_TRUE(dispatcher.route(name, [](const json&) {})) << name;
}

TEST_F(AppBridgeMessagesTest, FactsAreRepliedThroughGuardedPageCalls) {
  send("getDeviceInfo");
  send({{"eventType", "getAppVersion"}});
  send("getDeviceUdid");
  udid_.clear();
  send("getDeviceUdid");
  EXPECT_THAT(page_->scripts,
              ElementsAre("if (typeof window.onDeviceResponse === 'function') window.onDeviceResponse("
                          "{\"deviceChannel\":\"macos\",\"deviceModel\":\"Standard PC (Q35)\",\"deviceName\":\"box\","
                          "\"distribution\":\"bucket\",\"version\":\"Debian GNU/Linux 12 (bookworm)\"});",
                          "if (typeof window.onAppVersionResponse === 'function') window.onAppVersionResponse("
                          "{\"build\":\"142\",\"fullVersion\":\"1.4.2 (142)\",\"version\":\"1.4.2\"});",
                          "if (typeof window.onDeviceUdidReceived === 'function') window.onDeviceUdidReceived("
                          "\"0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef\");",
                          "if (typeof window.onDeviceUdidReceived === 'function') window.onDeviceUdidReceived(\"\");"));
  EXPECT_THAT(logged_, ElementsAre("[udid] bridge getDeviceUdid → returning …456789abcdef",
                                   "[udid] bridge getDeviceUdid → returning EMPTY (transient read error)"));
}

TEST_F(AppBridgeMessagesTest, AcceptListsFollowTheFirstRuleThatHolds) {
  const std::vector<std::string> images = {"image/jpeg", "image/png", "image/gif",  "image/webp",
                                           "image/heic", "image/tiff", "image/bmp", "image/svg+xml"};
  send("accept:application/pdf");
  EXPECT_THAT(fileTypes_, ElementsAre("application/pdf"));
  send("accept:application/pdf,image/*");
  EXPECT_EQ(fileTypes_, images);
  send("accept:video/mp4");
  EXPECT_THAT(fileTypes_, ElementsAre("video/mp4", "video/*", "video/quicktime"));
  send("accept:.zip,.txt");
  ASSERT_GE(fileTypes_.size(), 3u);
  EXPECT_THAT(std::vector<std::string>(fileTypes_.begin(), fileTypes_.begin() + 3),
              ElementsAre("application/pdf", "text/plain", "application/rtf"));
  EXPECT_NE(std::find(fileTypes_.begin(), fileTypes_.end(), "application/zip"), fileTypes_.end());
  send("accept:audio/*");
  EXPECT_THAT(fileTypes_, ElementsAre("audio/mpeg", "audio/mp4", "audio/x-wav", "audio/x-aiff"));
  send("accept:");
  EXPECT_TRUE(fileTypes_.empty());
}

TEST_F(AppBridgeMessagesTest, NestedVoiceRecordingsHoldOneActivityUntilTheLastStop) {
  send("voiceRecordingStarted");
  send("voiceRecordingStarted");
  send("voiceRecordingStopped");
  EXPECT_TRUE(messages_->holdsVoiceRecordingActivity());
  send("voiceRecordingStopped");
  EXPECT_FALSE(messages_->holdsVoiceRecordingActivity());
  send("voiceRecordingStopped");  // surplus: nothing
  EXPECT_EQ(messages_->voiceRecordingCount(), 0);
  EXPECT_THAT(displaySleep_.calls, ElementsAre("inhibitSuspend Orvik voice note recording", "uninhibit 1"));
  EXPECT_THAT(logged_, ElementsAre("[VoiceRecording] activity assertion held",
                                   "[VoiceRecording] activity assertion released"));
}

TEST_F(AppBridgeMessagesTest, ARecordingStillHeldWhenTheMessagesGoIsReleased) {
  send("voiceRecordingStarted");
  ASSERT_TRUE(messages_->holdsVoiceRecordingActivity());
  messages_.reset();
  EXPECT_THAT(displaySleep_.calls, ElementsAre("inhibitSuspend Orvik voice note recording", "uninhibit 1"));
}

TEST_F(AppBridgeMessagesTest, UpdateBannerPlacement) {
  EXPECT_EQ(updateAnchorFrom("updateAnchor:10"), 20.0);
  EXPECT_EQ(updateAnchorFrom("updateAnchor:100"), 70.0);
  EXPECT_EQ(updateAnchorFrom("updateAnchor:abc"), std::nullopt);
  EXPECT_EQ(updateAnchorFrom("checkForUpdates"), std::nullopt);
  send("checkForUpdates");
  EXPECT_THAT(updates_.events, ElementsAre("loggedIn=1", "dialog=0", "check silent=0"));
  updates_.events.clear();
  send("checkForUpdates:130");
  EXPECT_THAT(updates_.events, ElementsAre("loggedIn=1", "anchor=100", "dialog=0", "check silent=0"));
  updates_.events.clear();
  send("updateAnchor:x");
  EXPECT_TRUE(updates_.events.empty());
  updates_.hasUpdate = true;
  send("updateAnchor:100");
  send("updateUIHidden");
  EXPECT_THAT(updates_.events, ElementsAre("loggedIn=1", "anchor=70", "loggedIn=0"));
  EXPECT_THAT(page_->scripts, ElementsAre("if (typeof window.__orvikSetUpdateAvailable === 'function') "
                                          "window.__orvikSetUpdateAvailable(true);"));
}

TEST_F(AppBridgeMessagesTest, RevokingTheInspectorSaysAnInspectorClosedOnlyWhenOneWasOpen) {
  std::vector<std::string> printed;
  NativeLogger::shared().setPrintFunction([&](const std::string& line) { printed.push_back(line); });
  const auto closedLines = [&] {
    return std::count_if(printed.begin(), printed.end(), [](const std::string& line) {
      return line.find("[Inspector] access revoked — open inspector closed") != std::string::npos;
    });
  };
  send({{"eventType", "setInspectorAllowed"}, {"allowed", false}});
  EXPECT_EQ(closedLines(), 0);
  send({{"eventType", "setInspectorAllowed"}, {"allowed", true}});
  inspectorOpen_ = true;
  send({{"eventType", "setInspectorAllowed"}, {"allowed", false}});
  EXPECT_EQ(closedLines(), 1);
  send({{"eventType", "setInspectorAllowed"}, {"allowed", false}});  // nothing left to close
  EXPECT_EQ(closedLines(), 1);
  NativeLogger::shared().setPrintFunction({});
}

TEST_F(AppBridgeMessagesTest, SettingsTakeTheirDefaultsForMissingOrMistypedValues) {
  send({{"eventType", "themeChanged"}, {"isDarkMode", false}});
  EXPECT_FALSE(theme_.isDarkMode());
  send({{"eventType", "themeChanged"}});  // missing: dark
  EXPECT_TRUE(theme_.isDarkMode());
  send({{"eventType", "themeChanged"}, {"isDarkMode", 0}});  // a numeric flag
  EXPECT_FALSE(theme_.isDarkMode());

  send({{"eventType", "setInspectorAllowed"}, {"allowed", true}});
  send({{"eventType", "setInspectorAllowed"}});  // missing: off
  EXPECT_THAT(inspector_, ElementsAre(true, false));
  EXPECT_FALSE(messages_->inspectorAllowed());

  send({{"eventType", "securityStateChanged"}, {"maskData", true}});
  EXPECT_THAT(calls_.securityStates, ElementsAre(std::make_pair(true, false)));

  send({{"eventType", "setIncomingRingtone"}, {"ringtone", "Bell"}});
  EXPECT_EQ(defaults_.string(kIncomingRingtoneKey), std::nullopt);
  send({{"eventType", "setIncomingRingtone"}, {"ringtone", "bell"}});
  EXPECT_EQ(defaults_.string(kIncomingRingtoneKey), "bell");
  send({{"eventType", "previewIncomingRingtone"}, {"ringtone", "nope"}});
  send({{"eventType", "previewIncomingRingtone"}, {"ringtone", "calm"}});
  EXPECT_THAT(previews_, ElementsAre(7));

  send({{"eventType", "setRingtoneVolumes"}, {"volumes", {{"incomingRingtone", 40}}}});
  send({{"eventType", "setRingtoneVolumes"}, {"volumes", "loud"}});
  EXPECT_THAT(volumes_, ElementsAre(json{{"incomingRingtone", 40}}, json::object()));

  send({{"eventType", "setScreenshotProtected"}, {"protected", true}});
  send({{"eventType", "setScreenshotProtected"}, {"protected", false}});
  EXPECT_EQ(std::count_if(logged_.begin(), logged_.end(),
                          [](const std::string& line) { return line.find("setScreenshotProtected") != line.npos; }),
            1);
}

}  // namespace
}  // namespace orvik

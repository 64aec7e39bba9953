// Activation, the stale reload and the safety net on virtual time.
#include "app/app_activation.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "core/native_logger.h"
#include "platform/dispatch/virtual_queue.h"
#include "platform/recording_page_script_sink.h"
#include "platform/test_support/temp_dir.h"
#include "platform/user_defaults.h"

namespace orvik {
namespace {

using ::testing::ElementsAre;

class AppActivationTest : public ::testing::Test {
 protected:
  AppActivationTest() {
    NativeLogger::shared().setPrintFunction([this](const std::string& line) { printed_.push_back(line); });
    // The program starts in front.
    activation_.windowActivityChanged(true);
    queue_.advance(1);
    page_->scripts.clear();
    badgeClears_ = bannerChecks_ = 0;
  }
  ~AppActivationTest() override { NativeLogger::shared().setPrintFunction({}); }

  bool logged(std::string_view text) const {
    return std::any_of(printed_.begin(), printed_.end(),
                       [&](const std::string& line) { return line.find(text) != std::string::npos; });
  }
  // Focus leaves the program, `seconds` pass, focus comes back.
  void awayFor(double seconds) {
    activation_.windowActivityChanged(false);
    queue_.advance(AppActivation::kActivityDebounceSeconds);
    queue_.advance(seconds);
    activation_.windowActivityChanged(true);
    queue_.advance(AppActivation::kActivityDebounceSeconds);
  }

  platform::VirtualClock clock_;
  platform::VirtualQueue queue_{&clock_};
  platform::ScopedMainQueue mainQueue_{queue_};
  std::vector<std::string> printed_;
  testing::TempDir dir_;
  platform::UserDefaults defaults_{dir_ / "defaults.json"};
  std::shared_ptr<platform::RecordingPageScriptSink> page_ = std::make_shared<platform::RecordingPageScriptSink>();
  bool inCall_ = false;
  bool mainShown_ = true;
  bool hasWebView_ = true;
  int reloads_ = 0;
  int restores_ = 0;
  int badgeClears_ = 0;
  int bannerChecks_ = 0;
  AppActivation activation_{{queue_, clock_, defaults_, [this] { return page_; }, [this] { return inCall_; },
                             [this] { ++badgeClears_; }, [this] { ++bannerChecks_; }, [this] { return mainShown_; },
                             [this] {
                               ++restores_;
                               return true;
                             },
                             [this] {
                               if (hasWebView_) ++reloads_;
                               return hasWebView_;
                             }}};
};

TEST_F(AppActivationTest, FocusMovingBetweenTheProgramsWindowsIsNoChange) {
  // One window loses the focus, another takes it at once.
  activation_.windowActivityChanged(false);
  activation_.windowActivityChanged(true);
  queue_.advance(1);
  EXPECT_TRUE(page_->scripts.empty());

  activation_.windowActivityChanged(false);
  queue_.advance(1);
  activation_.windowActivityChanged(true);
  queue_.advance(1);
  EXPECT_THAT(page_->scripts, ElementsAre(platform::pageFunctionCall("__orvikAppActiveChanged", {false}),
                                          platform::pageFunctionCall("__orvikAppActiveChanged", {true})));
  EXPECT_EQ(badgeClears_, 1);
  EXPECT_EQ(bannerChecks_, 1);
}

TEST_F(AppActivationTest, StaleReloadTable) {
  struct Case {
    const char* name;
    std::optional<double> threshold;
    double away;
    bool inCall;
    bool webView;
    int reloads;
    const char* line;
  };
  const Case cases[] = {
      {"short absence", std::nullopt, 119, false, true, 0, "[StaleReload] regained focus after 119s (threshold 7200s)"},
      {"minutes", std::nullopt, 150, false, true, 0, "[StaleReload] regained focus after 2m (threshold 7200s)"},
      // The timer fires in the background; coming back has nothing to do.
      {"background reload", std::nullopt, 7300, false, true, 1,
       "[StaleReload] already reloaded in the background — nothing to do"},
      {"zero threshold means two hours", 0.0, 7199, false, true, 0, "(threshold 7200s)"},
      {"negative threshold means two hours", -5.0, 7201, false, true, 1, "[StaleReload] timer fired while unfocused — reloading the web app"},
      {"own threshold", 60.0, 61, false, true, 1, "[StaleReload] timer fired while unfocused — reloading the web app"},
      {"during a call", 60.0, 61, true, true, 0,
       "[StaleReload] timer fired while unfocused, but a call is active — skipping reload"},
      {"no web view", 60.0, 61, false, false, 0,
       "[StaleReload] timer fired while unfocused, but there is no web view to reload"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.threshold) {
      defaults_.setDouble(AppActivation::kStaleReloadSecondsKey, *c.threshold);
    } else {
      defaults_.remove(AppActivation::kStaleReloadSecondsKey);
    }
    inCall_ = c.inCall;
    hasWebView_ = c.webView;
    reloads_ = 0;
    printed_.clear();
    awayFor(c.away);
    EXPECT_EQ(reloads_, c.reloads);
    EXPECT_TRUE(logged(c.line));
  }
}

TEST_F(AppActivationTest, ASkippedBackgroundReloadHappensOnRefocus) {
  defaults_.setDouble(AppActivation::kStaleReloadSecondsKey, 60);
  inCall_ = true;
  activation_.windowActivityChanged(false);
  queue_.advance(61);
  EXPECT_EQ(reloads_, 0);
  inCall_ = false;
  activation_.windowActivityChanged(true);
  queue_.advance(1);
  EXPECT_EQ(reloads_, 1);
  EXPECT_TRUE(logged("[StaleReload] on refocus, background reload never ran — reloading the web app"));
}

TEST_F(AppActivationTest, TheSafetyNetRestoresTheMainWindowButNeverOverACall) {
  mainShown_ = false;
  awayFor(5);
  EXPECT_EQ(restores_, 1);
  EXPECT_TRUE(logged("[Reopen] became active with no visible main window — restoring (safety net)"));
  inCall_ = true;
  awayFor(5);
  EXPECT_EQ(restores_, 1);
  inCall_ = false;
  mainShown_ = true;
  awayFor(5);
  EXPECT_EQ(restores_, 1);
}

}  // namespace
}  // namespace orvik

#include "app/media_permission_manager.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>
#include <set>

#include "platform/capture_authorization.h"
#include "platform/dispatch/virtual_queue.h"
#include "platform/recording_page_script_sink.h"
#include "platform/test_support/temp_dir.h"
#include "platform/user_defaults.h"
#include "web/bridge_dispatcher.h"
#include "web/testing/trusted_bridge_message.h"

namespace orvik {
namespace {

using nlohmann::json;
using platform::CaptureDevice;
using Status = platform::CaptureAuthorizationStatus;
constexpr auto C = CaptureDevice::camera;
constexpr auto M = CaptureDevice::microphone;

// Answers prompts later, as the desktop would: the answers wait until the
// test releases them.
class FakeCaptureAuthorization final : public platform::CaptureAuthorization {
 public:
  Status status(CaptureDevice device) const override {
    consulted.insert(device);
    return statuses.at(device);
  }
  void request(CaptureDevice device, std::function<void(bool)> done) override {
    asked.push_back(device);
    pending.emplace_back(device, std::move(done));
  }
  // Answers every prompt, including those asked while answering.
  void answerAll() {
    while (!pending.empty()) {
      auto [device, done] = std::move(pending.front());
      pending.erase(pending.begin());
      done(answers.at(device));
      if (answered) answered();
    }
  }
  std::map<CaptureDevice, Status> statuses;
  std::map<CaptureDevice, bool> answers;
  mutable std::set<CaptureDevice> consulted;
  std::vector<CaptureDevice> asked;
  std::vector<std::pair<CaptureDevice, std::function<void(bool)>>> pending;
  std::function<void()> answered;
};

class RecordingAlerts final : public MediaPermissionAlerts {
 public:
  void showMicrophoneAccessAlert() override { shown.push_back("microphone"); }
  void showCameraAccessAlert() override { shown.push_back("camera"); }
  std::vector<std::string> shown;
};

std::string resultCall(bool granted) {
  return platform::pageFunctionCall("onMediaPermissionResult", {granted});
}

class MediaPermissionTest : public ::testing::Test {
 protected:
  MediaPermissionTest() {
    authorization_.answered = [this] { queue_.runUntilIdle(); };
    manager_->publishRoutes(dispatcher_);
  }

  void send(const json& body) {
    dispatcher_.didReceive(testing::trustedBridgeMessage("nativeApp", body));
    queue_.runUntilIdle();
  }

  platform::VirtualQueue queue_;
  platform::ScopedMainQueue mainQueue_{queue_};
  testing::TempDir dir_;
  platform::UserDefaults defaults_{dir_ / "defaults.json"};
  FakeCaptureAuthorization authorization_;
  RecordingAlerts alerts_;
  std::shared_ptr<platform::RecordingPageScriptSink> page_ = std::make_shared<platform::RecordingPageScriptSink>();
  std::unique_ptr<MediaPermissionManager> manager_ =
      std::make_unique<MediaPermissionManager>(MediaPermissionManager::Collaborators{
          queue_, authorization_, defaults_, alerts_, page_});
  BridgeDispatcher dispatcher_{{[](std::string_view host) { return host == "app.orvik.test"; },
                                [] { return true; }, {}, [](const std::string&) {}, nullptr}};
};

TEST_F(MediaPermissionTest, AnswersOncePerRequestFromTheDevicesTheCallNeeds) {
  struct Case {
    const char* name;
    bool isVideo, fresh;
    Status camera, microphone;
    bool cameraAnswer, microphoneAnswer;
    bool granted;
    std::vector<CaptureDevice> asked;
    std::vector<std::string> alerts;
    bool freshAfter;
    bool cameraConsulted;
  };
  const auto A = Status::authorized, D = Status::denied, R = Status::restricted, N = Status::notDetermined;
  const std::vector<Case> cases = {
      // An audio call never depends on the camera.
      {"audio, microphone authorised", false, false, D, A, false, false, true, {}, {}, false, false},
      {"audio, microphone denied", false, false, A, D, false, false, false, {}, {"microphone"}, false, false},
      {"audio, microphone restricted", false, false, A, R, false, false, false, {}, {"microphone"}, false, false},
      {"audio, microphone allowed when asked", false, true, A, N, false, true, true, {M}, {}, false, false},
      {"audio, microphone refused when asked", false, true, A, N, false, false, false, {M}, {}, true, false},
      {"audio, fresh flag with the microphone authorised", false, true, D, A, false, false, true, {}, {}, true, false},
      {"video, both authorised", true, false, A, A, false, false, true, {}, {}, false, true},
      {"video, camera denied", true, false, D, A, false, false, false, {}, {"camera"}, false, true},
      {"video, camera restricted", true, false, R, N, false, false, false, {}, {"camera"}, false, true},
      {"video, both asked and allowed", true, true, N, N, true, true, true, {C, M}, {}, false, true},
      {"video, camera refused when asked", true, true, N, N, false, true, false, {C}, {}, true, true},
      {"video, camera allowed, microphone refused", true, true, N, N, true, false, false, {C, M}, {}, false, true},
      {"video, camera allowed, microphone denied", true, true, N, D, true, false, false, {C}, {"microphone"}, false,
       true},
      {"video, camera authorised, microphone denied", true, false, A, D, false, false, false, {}, {"microphone"},
       false, true},
      {"video, fresh flag with both authorised", true, true, A, A, false, false, true, {}, {}, true, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    defaults_.setBool(MediaPermissionManager::kNeedsFreshPermissionKey, c.fresh);
    authorization_.statuses = {{C, c.camera}, {M, c.microphone}};
    authorization_.answers = {{C, c.cameraAnswer}, {M, c.microphoneAnswer}};
    authorization_.consulted.clear();
    authorization_.asked.clear();
    alerts_.shown.clear();
    page_->scripts.clear();

    manager_->requestMediaPermission(c.isVideo);
    queue_.runUntilIdle();
    authorization_.answerAll();
    queue_.runUntilIdle();

    EXPECT_THAT(page_->scripts, ::testing::ElementsAre(resultCall(c.granted)));
    EXPECT_EQ(authorization_.asked, c.asked);
    EXPECT_EQ(alerts_.shown, c.alerts);
    EXPECT_EQ(defaults_.boolValue(MediaPermissionManager::kNeedsFreshPermissionKey), c.freshAfter);
    EXPECT_EQ(authorization_.consulted.count(C) == 1, c.cameraConsulted);
  }
}

TEST_F(MediaPermissionTest, TheAnswerWaitsForThePromptAndIsGivenOnTheQueue) {
  authorization_.answered = nullptr;
  authorization_.statuses = {{C, Status::notDetermined}, {M, Status::authorized}};
  authorization_.answers = {{C, true}, {M, true}};
  manager_->requestMediaPermission(true);
  queue_.runUntilIdle();
  EXPECT_TRUE(page_->scripts.empty());

  authorization_.answerAll();
  EXPECT_TRUE(page_->scripts.empty()) << "answered outside the queue";
  queue_.runUntilIdle();
  EXPECT_THAT(page_->scripts, ::testing::ElementsAre(resultCall(true)));
}

TEST_F(MediaPermissionTest, TheBridgeReadsTheVideoFlagStrictly) {
  struct Case {
    json body;
    bool cameraConsulted;
  };
  const std::vector<Case> cases = {
      {{{"eventType", "requestMediaPermission"}, {"isVideo", true}}, true},
      {{{"eventType", "requestMediaPermission"}, {"isVideo", false}}, false},
      {{{"eventType", "requestMediaPermission"}}, false},
      {{{"eventType", "requestMediaPermission"}, {"isVideo", "true"}}, false},
  };
  authorization_.statuses = {{C, Status::authorized}, {M, Status::authorized}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.body.dump());
    authorization_.consulted.clear();
    page_->scripts.clear();
    send(c.body);
    EXPECT_THAT(page_->scripts, ::testing::ElementsAre(resultCall(true)));
    EXPECT_EQ(authorization_.consulted.count(C) == 1, c.cameraConsulted);
  }
}

TEST_F(MediaPermissionTest, NothingIsAskedOrAnsweredWithoutAPage) {
  authorization_.statuses = {{C, Status::notDetermined}, {M, Status::notDetermined}};
  page_.reset();
  send({{"eventType", "requestMediaPermission"}, {"isVideo", true}});
  EXPECT_TRUE(authorization_.consulted.empty());
  EXPECT_TRUE(authorization_.asked.empty());
}

TEST_F(MediaPermissionTest, APromptAnsweredAfterTheManagerWentIsDropped) {
  authorization_.answered = nullptr;
  authorization_.statuses = {{C, Status::authorized}, {M, Status::notDetermined}};
  authorization_.answers = {{C, true}, {M, true}};
  defaults_.setBool(MediaPermissionManager::kNeedsFreshPermissionKey, true);
  manager_->requestMediaPermission(false);
  queue_.runUntilIdle();
  manager_.reset();
  authorization_.answerAll();
  queue_.runUntilIdle();
  EXPECT_TRUE(page_->scripts.empty());
  EXPECT_TRUE(defaults_.boolValue(MediaPermissionManager::kNeedsFreshPermissionKey));
}

}  // namespace
}  // namespace orvik

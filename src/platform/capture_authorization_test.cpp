#include "platform/capture_authorization.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace orvik::platform {
namespace {

using Status = CaptureAuthorizationStatus;

class FakeCaptureAuthorization final : public CaptureAuthorization {
 public:
  Status status(CaptureDevice device) const override { return statuses.at(device); }
  void request(CaptureDevice device, std::function<void(bool)> done) override {
    asked.push_back(device);
    done(answers.at(device));
  }
  std::map<CaptureDevice, Status> statuses;
  std::map<CaptureDevice, bool> answers;
  std::vector<CaptureDevice> asked;
};

TEST(MediaCaptureDecision, GrantsOnlyWhenEveryNeededDeviceIsAuthorised) {
  struct Case {
    const char* name;
    bool camera;
    Status cameraStatus, microphoneStatus;
    bool cameraAnswer, microphoneAnswer;
    bool grant;
    std::vector<CaptureDevice> asked;
  };
  const auto C = CaptureDevice::camera, M = CaptureDevice::microphone;
  const std::vector<Case> cases = {
      {"mic authorised", false, Status::denied, Status::authorized, false, false, true, {}},
      {"mic denied", false, Status::authorized, Status::denied, false, false, false, {}},
      {"mic asked, yes", false, Status::authorized, Status::notDetermined, false, true, true, {M}},
      {"camera ok, mic denied", true, Status::authorized, Status::denied, false, false, false, {}},
      {"both authorised", true, Status::authorized, Status::authorized, false, false, true, {}},
      {"both asked, camera first", true, Status::notDetermined, Status::notDetermined, true, true, true, {C, M}},
      {"camera refused when asked", true, Status::notDetermined, Status::authorized, false, true, false, {C}},
      {"camera denied still settles mic", true, Status::restricted, Status::notDetermined, true, true, false, {M}},
  };
  for (const auto& c : cases) {
    FakeCaptureAuthorization authorization;
    authorization.statuses = {{C, c.cameraStatus}, {M, c.microphoneStatus}};
    authorization.answers = {{C, c.cameraAnswer}, {M, c.microphoneAnswer}};
    int calls = 0;
    bool granted = false;
    decideMediaCapture(authorization, c.camera, [&](bool grant) {
      ++calls;
      granted = grant;
    });
    EXPECT_EQ(calls, 1) << c.name;
    EXPECT_EQ(granted, c.grant) << c.name;
    EXPECT_EQ(authorization.asked, c.asked) << c.name;
  }
}

TEST(MediaCaptureDecision, TheCallPageIsRefusedAtOnceWhenItsCameraIsDeniedAndNeverPrompted) {
  struct Case {
    const char* name;
    bool camera;
    Status cameraStatus, microphoneStatus;
    bool cameraAnswer, microphoneAnswer;
    bool grant;
    std::vector<CaptureDevice> asked;
  };
  const auto C = CaptureDevice::camera, M = CaptureDevice::microphone;
  const std::vector<Case> cases = {
      {"both authorised", true, Status::authorized, Status::authorized, false, false, true, {}},
      {"camera ok, mic denied", true, Status::authorized, Status::denied, false, false, false, {}},
      {"camera ok, mic restricted", true, Status::authorized, Status::restricted, false, false, false, {}},
      {"camera ok, mic asked, yes", true, Status::authorized, Status::notDetermined, false, true, true, {M}},
      {"camera ok, mic asked, no", true, Status::authorized, Status::notDetermined, false, false, false, {M}},
      {"camera asked, yes, mic authorised", true, Status::notDetermined, Status::authorized, true, false, true, {C}},
      {"camera asked, no, mic authorised", true, Status::notDetermined, Status::authorized, false, false, false, {C}},
      {"both asked, both yes", true, Status::notDetermined, Status::notDetermined, true, true, true, {C, M}},
      {"both asked, mic no", true, Status::notDetermined, Status::notDetermined, true, false, false, {C, M}},
      {"camera asked, mic denied", true, Status::notDetermined, Status::denied, true, false, false, {C}},
      {"camera denied, mic undetermined: no prompt", true, Status::denied, Status::notDetermined, true, true, false,
       {}},
      {"camera restricted, mic authorised", true, Status::restricted, Status::authorized, true, true, false, {}},
      {"mic only ignores a denied camera", false, Status::denied, Status::authorized, false, false, true, {}},
      {"mic only, asked, yes", false, Status::denied, Status::notDetermined, false, true, true, {M}},
      {"mic only, denied", false, Status::authorized, Status::denied, false, false, false, {}},
  };
  for (const auto& c : cases) {
    FakeCaptureAuthorization authorization;
    authorization.statuses = {{C, c.cameraStatus}, {M, c.microphoneStatus}};
    authorization.answers = {{C, c.cameraAnswer}, {M, c.microphoneAnswer}};
    int calls = 0;
    bool granted = false;
    decideCallPageCapture(authorization, c.camera, [&](bool grant) {
      ++calls;
      granted = grant;
    });
    EXPECT_EQ(calls, 1) << c.name;
    EXPECT_EQ(granted, c.grant) << c.name;
    EXPECT_EQ(authorization.asked, c.asked) << c.name;
  }
}

TEST(WhenAuthorized, RunsExactlyOneOutcomeAndAsksOnlyWhenNeverDecided) {
  struct Case {
    Status status;
    bool answer;
    const char* outcome;
    bool asks;
  };
  const Case cases[] = {
      {Status::authorized, false, "granted", false},  {Status::notDetermined, true, "granted", true},
      {Status::notDetermined, false, "refused", true}, {Status::denied, true, "refused", false},
      {Status::restricted, true, "refused", false},
  };
  for (const Case& c : cases) {
    FakeCaptureAuthorization access;
    access.statuses[CaptureDevice::microphone] = c.status;
    access.answers[CaptureDevice::microphone] = c.answer;
    std::vector<std::string> outcomes;
    whenAuthorized(access, CaptureDevice::microphone, [&] { outcomes.push_back("granted"); },
                   [&] { outcomes.push_back("refused"); });
    EXPECT_EQ(outcomes, std::vector<std::string>{c.outcome}) << static_cast<int>(c.status) << " " << c.answer;
    EXPECT_EQ(access.asked.size(), c.asks ? 1u : 0u) << static_cast<int>(c.status);
  }
}

}  // namespace
}  // namespace orvik::platform

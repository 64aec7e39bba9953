#include "platform/capture_authorization.h"

#include <gtest/gtest.h>

#include <map>

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

}  // namespace
}  // namespace orvik::platform

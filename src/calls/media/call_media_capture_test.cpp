// The camera's prewarm, take-over, time-out and start/stop races on virtual
// time, against a camera backend that records and answers when told.
#include "calls/media/call_media_capture.h"

#include <gtest/gtest.h>

#include <deque>
#include <thread>

#include "calls/media/call_peer_connection_internal.h"
#include "calls/media/camera_format.h"
#include "platform/dispatch/virtual_queue.h"

namespace orvik {
namespace {

// A camera whose starts complete only when the test says so.
struct ScriptedCamera final : CameraSource {
  struct Capturer final : CameraCapturer {
    explicit Capturer(ScriptedCamera& camera, int id) : camera(camera), id(id) {}
    void setTarget(VideoSourceHandle newTarget) override {
      target = std::move(newTarget);
      camera.events.push_back("target " + std::to_string(id) + (target ? " call" : " none"));
    }
    void start(const CameraDevice&, const CameraFormat& format, int fps, StartCompletion completion) override {
      camera.events.push_back("start " + std::to_string(id) + " " + std::to_string(format.width) + "x" +
                              std::to_string(format.height) + "@" + std::to_string(fps));
      camera.pending.push_back(std::move(completion));
    }
    void stop(std::function<void()> completion) override {
      camera.events.push_back("stop " + std::to_string(id));
      if (completion) completion();
    }
    CameraSessionHandle session() override { return session_; }
    ScriptedCamera& camera;
    int id;
    VideoSourceHandle target;
    CameraSessionHandle session_ = std::make_shared<CameraSessionRef>();
  };

  std::vector<CameraDevice> captureDevices() override { return devices; }
  std::shared_ptr<CameraCapturer> makeCapturer() override { return std::make_shared<Capturer>(*this, ++made); }

  // Completes the oldest pending start, on another thread as a driver would.
  void finishStart(std::optional<std::string> error = std::nullopt) {
    auto completion = std::move(pending.front());
    pending.pop_front();
    std::thread([completion, error] { completion(error); }).join();
  }

  std::vector<CameraDevice> devices{
      {"cam0", "Cam", CameraPosition::unspecified, {{640, 480, {{1, 60}}}, {1280, 720, {{1, 60}}}}}};
  std::vector<std::string> events;
  std::deque<CameraCapturer::StartCompletion> pending;
  int made = 0;
};

class CallMediaCaptureTest : public ::testing::Test {
 protected:
  CallMediaCaptureTest() {
    capture.videoSource = source;
  }
  // Starts with video; the outcome lands in `outcomes`.
  void startVideo() {
    capture.startCapture(true, [this](const std::optional<CaptureError>& error) {
      outcomes.push_back(error ? error->description : "ok");
    });
  }

  platform::VirtualQueue queue;
  platform::ScopedMainQueue main{queue};
  ScriptedCamera camera;
  std::vector<std::pair<std::string, std::string>> alerts;
  std::vector<std::string> lines;
  CallMediaCapture capture{camera, [this](const std::string& t, const std::string& m) { alerts.emplace_back(t, m); },
                           [this](const std::string& line) { lines.push_back(line); }};
  VideoSourceHandle source = std::make_shared<VideoSourceRef>();
  std::vector<std::string> outcomes;
};

TEST_F(CallMediaCaptureTest, APrewarmRunsAt15FpsAndIsTakenOverWithoutARestart) {
  capture.prewarmCamera();
  capture.prewarmCamera();  // the first capturer exists: nothing
  EXPECT_EQ(camera.events, (std::vector<std::string>{"start 1 1280x720@15"}));
  camera.finishStart();
  queue.runUntilIdle();

  queue.advance(5.0);
  startVideo();
  EXPECT_EQ(outcomes, (std::vector<std::string>{"ok"}));
  EXPECT_TRUE(capture.isCapturing);
  // Past the 20 s a taken-over camera keeps running.
  queue.advance(30.0);
  EXPECT_EQ(camera.events, (std::vector<std::string>{"start 1 1280x720@15", "target 1 call"}));
  EXPECT_TRUE(capture.hasCapturer());
}

TEST_F(CallMediaCaptureTest, APrewarmNoCallTookOverStopsAfter20Seconds) {
  capture.prewarmCamera();
  camera.finishStart();
  queue.runUntilIdle();
  queue.advance(19.9);
  EXPECT_TRUE(capture.hasCapturer());
  queue.advance(0.2);
  EXPECT_FALSE(capture.hasCapturer());
  EXPECT_EQ(camera.events.back(), "stop 1");
}

TEST_F(CallMediaCaptureTest, AnOldPrewarmTimeOutLeavesALaterPrewarmItsOwn20Seconds) {
  capture.prewarmCamera();
  camera.finishStart();
  queue.runUntilIdle();
  queue.advance(10.0);
  capture.stopCapture();  // the call was declined
  capture.prewarmCamera();
  camera.finishStart();
  queue.runUntilIdle();
  queue.advance(15.0);  // the first prewarm's time-out has passed
  EXPECT_TRUE(capture.hasCapturer());
  queue.advance(5.1);
  EXPECT_FALSE(capture.hasCapturer());
}

TEST_F(CallMediaCaptureTest, AFailedPrewarmIsDroppedSoTheCallOpensTheCameraAgain) {
  capture.prewarmCamera();
  camera.finishStart("device busy");
  queue.runUntilIdle();
  EXPECT_FALSE(capture.hasCapturer());

  startVideo();
  EXPECT_EQ(camera.events.back(), "start 2 1280x720@30");
  EXPECT_TRUE(outcomes.empty());  // only once the camera runs
  camera.finishStart();
  queue.runUntilIdle();
  EXPECT_EQ(outcomes, (std::vector<std::string>{"ok"}));
  EXPECT_TRUE(capture.isCapturing);
}

TEST_F(CallMediaCaptureTest, AFailedCallStartReportsTheErrorAndTheNextStartTriesAgain) {
  startVideo();
  camera.finishStart("no permission");
  queue.runUntilIdle();
  EXPECT_EQ(outcomes, (std::vector<std::string>{"no permission"}));
  EXPECT_FALSE(capture.isCapturing);
  EXPECT_FALSE(capture.hasCapturer());

  startVideo();
  camera.finishStart();
  queue.runUntilIdle();
  EXPECT_EQ(outcomes.back(), "ok");
  EXPECT_EQ(camera.made, 2);
}

TEST_F(CallMediaCaptureTest, AStopDuringAPendingStartWinsAndNothingReportsARunningCamera) {
  startVideo();
  capture.stopCapture();
  camera.finishStart();
  queue.runUntilIdle();
  EXPECT_FALSE(capture.isCapturing);
  EXPECT_FALSE(capture.hasCapturer());
  ASSERT_EQ(outcomes.size(), 1u);
  EXPECT_NE(outcomes[0], "ok");
}

TEST_F(CallMediaCaptureTest, StartWithoutSourceWithoutCameraOrWithoutVideo) {
  struct Case {
    const char* name;
    bool withVideo;
    bool attachSource;
    bool hasCamera;
    std::string outcome;
    bool capturing;
  };
  const Case cases[] = {
      {"audio only", false, false, true, "ok", true},
      {"no source attached", true, false, true, CallMediaCapture::kNoVideoSourceError, false},
      {"no camera on this machine", true, true, false, "ok", true},
  };
  for (const auto& c : cases) {
    CallMediaCapture fresh{camera, {}, [](const std::string&) {}};
    if (c.attachSource) fresh.videoSource = source;
    auto devices = camera.devices;
    if (!c.hasCamera) camera.devices.clear();
    std::optional<CaptureError> error;
    bool called = false;
    fresh.startCapture(c.withVideo, [&](const std::optional<CaptureError>& e) {
      called = true;
      error = e;
    });
    camera.devices = devices;
    EXPECT_TRUE(called) << c.name << ": reported before returning";
    EXPECT_EQ(error ? error->description : "ok", c.outcome) << c.name;
    if (error) {
      EXPECT_EQ(error->domain, "CallMediaCapture");
      EXPECT_EQ(error->code, -1);
    }
    EXPECT_EQ(fresh.isCapturing, c.capturing) << c.name;
    EXPECT_FALSE(fresh.hasCapturer()) << c.name;
  }
}

TEST_F(CallMediaCaptureTest, AStartWhileCapturingOnlyMovesTheFramesToTheNewSource) {
  startVideo();
  camera.finishStart();
  queue.runUntilIdle();
  auto upgraded = std::make_shared<VideoSourceRef>();
  capture.videoSource = upgraded;
  startVideo();
  EXPECT_EQ(camera.made, 1);
  EXPECT_EQ(camera.events.back(), "target 1 call");
  EXPECT_EQ(outcomes, (std::vector<std::string>{"ok", "ok"}));
}

TEST_F(CallMediaCaptureTest, TheMicrophoneAlertAskedFromAnotherThreadIsShownOnceOnTheMainQueue) {
  std::thread([&] { capture.showMicrophonePermissionAlert(); }).join();
  EXPECT_TRUE(alerts.empty());
  queue.runUntilIdle();
  ASSERT_EQ(alerts.size(), 1u);
  EXPECT_EQ(alerts[0].first, "Microphone Access Needed");

  std::optional<bool> granted;
  std::thread([&] { CallMediaCapture::microphoneAccessCompletion(true, [&](bool g) { granted = g; }); }).join();
  EXPECT_FALSE(granted);
  queue.runUntilIdle();
  EXPECT_EQ(granted, true);
}

}  // namespace
}  // namespace orvik

// Local video on two real WebRTC peers in one process: a frame-generator
// camera's frames reach the other side, an audio call becomes a video call
// by an upgrade offer and answer, and an unanswered upgrade is undone so the
// connection can still restart ICE.
#include <gtest/gtest.h>

#include <api/media_stream_interface.h>

#include "calls/media/call_media_capture.h"
#include "calls/media/call_peer_connection_internal.h"
#include "calls/media/frame_generator_camera.h"
#include "calls/media/local_video_source.h"
#include "calls/media/test_support/frame_counter.h"
#include "calls/media/test_support/loopback_call.h"
#include "platform/dispatch/virtual_queue.h"

namespace orvik {
namespace {

using namespace std::chrono_literals;
using orvik::testing::FrameCounter;
using orvik::testing::onPeerQueue;

rtc::scoped_refptr<webrtc::VideoTrackInterface> remoteVideoTrack(CallPeerConnection& side) {
  return onPeerQueue(side, [&]() -> rtc::scoped_refptr<webrtc::VideoTrackInterface> {
    for (const auto& receiver : webrtcConnection(side)->GetReceivers()) {
      if (receiver->media_type() == cricket::MEDIA_TYPE_VIDEO && receiver->track()) {
        return rtc::scoped_refptr<webrtc::VideoTrackInterface>(
            static_cast<webrtc::VideoTrackInterface*>(receiver->track().get()));
      }
    }
    return nullptr;
  });
}

webrtc::PeerConnectionInterface::SignalingState signalingState(CallPeerConnection& side) {
  return onPeerQueue(side, [&] { return webrtcConnection(side)->signaling_state(); });
}

class VideoCaptureIntegration : public ::testing::Test {
 protected:
  ~VideoCaptureIntegration() override {
    if (watched) watched->RemoveSink(&frames);
    watched = nullptr;
    capture.stopCapture();
  }

  // The caller's camera track and source (the call's own, or an upgrade's).
  std::pair<VideoTrackHandle, VideoSourceHandle> addCameraTrack() {
    VideoTrackHandle track;
    VideoSourceHandle source;
    call.caller->addLocalVideoTrack([&](VideoTrackHandle t, VideoSourceHandle s) {
      track = std::move(t);
      source = std::move(s);
    });
    EXPECT_TRUE(call.pumpUntil([&] { return track != nullptr; }, 10s));
    return {track, source};
  }
  void startCamera(const VideoSourceHandle& source) {
    capture.videoSource = source;
    std::optional<std::optional<CaptureError>> outcome;
    capture.startCapture(true, [&](const std::optional<CaptureError>& error) { outcome = error; });
    ASSERT_TRUE(call.pumpUntil([&] { return outcome.has_value(); }, 10s));
    ASSERT_FALSE(*outcome);
  }
  void watchCalleeVideo() {
    ASSERT_TRUE(call.pumpUntil([&] { return (watched = remoteVideoTrack(*call.callee)) != nullptr; }, 10s));
    watched->AddOrUpdateSink(&frames, rtc::VideoSinkWants());
  }

  platform::VirtualQueue main;
  platform::ScopedMainQueue scopedMain{main};
  orvik::testing::LoopbackCall call{main};
  FrameGeneratorCamera camera;
  CallMediaCapture capture{camera, {}, [](const std::string&) {}};
  FrameCounter frames;
  rtc::scoped_refptr<webrtc::VideoTrackInterface> watched;
};

TEST_F(VideoCaptureIntegration, AFrameGeneratorCamerasFramesReachTheOtherSideOfAVideoCall) {
  ASSERT_EQ(call.connect({}, /*allowAllCandidates=*/true), "");
  auto [track, source] = addCameraTrack();
  startCamera(source);
  EXPECT_EQ(camera.lastFormat().width, 1280);
  EXPECT_EQ(camera.lastFramesPerSecond(), 30);
  watchCalleeVideo();
  ASSERT_TRUE(call.pumpUntil([&] { return frames.count() >= 10; }, 20s)) << frames.count();
  EXPECT_GT(frames.width(), 0);
  EXPECT_GT(frames.meanLuma(), 40.0) << "the generator's frames are never black";
  // The preview of the running camera gets the same frames.
  FrameCounter preview;
  auto previewSource = capture.cameraSession()->preview->source;
  previewSource->AddOrUpdateSink(&preview, rtc::VideoSinkWants());
  EXPECT_TRUE(call.pumpUntil([&] { return preview.count() >= 3; }, 5s));
  previewSource->RemoveSink(&preview);
}

TEST_F(VideoCaptureIntegration, AnUpgradeOfferAndAnswerTurnAnAudioCallIntoAVideoCall) {
  call.isVideo = false;
  ASSERT_EQ(call.connect({}, /*allowAllCandidates=*/true), "");
  auto [track, source] = addCameraTrack();
  startCamera(source);
  call.caller->createOffer();
  ASSERT_TRUE(call.pumpUntil([&] { return call.callerEvents->offers.size() == 2; }, 10s));
  const auto offer = orvik::testing::sdpOf(call.callerEvents->offers.back());
  ASSERT_NE(offer.find("m=video"), std::string::npos);

  bool applied = false;
  call.callee->setRemoteDescription({"offer", offer, std::nullopt}, [&] { applied = true; });
  call.callee->createAnswer();
  ASSERT_TRUE(call.pumpUntil([&] { return applied && call.calleeEvents->answers.size() == 2; }, 10s));
  bool answered = false;
  call.caller->setRemoteDescription({"answer", orvik::testing::sdpOf(call.calleeEvents->answers.back()), std::nullopt},
                                    [&] { answered = true; });
  ASSERT_TRUE(call.pumpUntil([&] { return answered; }, 10s));
  watchCalleeVideo();
  EXPECT_TRUE(call.pumpUntil([&] { return frames.count() >= 5; }, 20s)) << frames.count();
}

TEST_F(VideoCaptureIntegration, AnUnansweredUpgradeIsUndoneAndTheConnectionCanStillRestartIce) {
  call.isVideo = false;
  ASSERT_EQ(call.connect({}, /*allowAllCandidates=*/true), "");
  auto [track, source] = addCameraTrack();
  call.caller->createOffer();
  ASSERT_TRUE(call.pumpUntil([&] { return call.callerEvents->offers.size() == 2; }, 10s));
  EXPECT_EQ(signalingState(*call.caller), webrtc::PeerConnectionInterface::kHaveLocalOffer);

  track.reset();
  source.reset();
  bool undone = false;
  call.caller->cancelVideoUpgrade([&] { undone = true; });
  ASSERT_TRUE(call.pumpUntil([&] { return undone; }, 10s));
  EXPECT_EQ(signalingState(*call.caller), webrtc::PeerConnectionInterface::kStable);
  onPeerQueue(*call.caller, [&] { EXPECT_FALSE(call.caller->hasLocalVideoTrack()); });
  EXPECT_EQ(call.restartIce(), "");
  // A later upgrade adds a fresh camera track.
  auto [again, againSource] = addCameraTrack();
  EXPECT_TRUE(again && again->track);
}

}  // namespace
}  // namespace orvik

// The pre-call window's camera over a real CameraSource backend (the frame
// generator camera): the medium preview format, a session that runs until
// it is stopped, and the answers without a camera or when starting fails.
#include "calls/windows/pre_call_camera.h"

#include <gtest/gtest.h>

#include "calls/media/frame_generator_camera.h"
#include "platform/dispatch/virtual_queue.h"
#include "platform/test_support/wait_for.h"

namespace orvik {
namespace {

TEST(PreCallCameraFormat, TheFormatNearestSixForty) {
  const std::vector<CameraFormat> formats = {{1920, 1080, {}}, {1280, 720, {}}, {640, 360, {}}, {640, 480, {}}};
  EXPECT_EQ(previewFormat(formats)->height, 480);
  EXPECT_EQ(previewFormat({{1920, 1080, {}}, {1280, 720, {}}})->width, 1280);
  EXPECT_EQ(previewFormat({{800, 600, {}}, {480, 360, {}}})->width, 800) << "the first among equals";
  EXPECT_FALSE(previewFormat({}).has_value());
}

class PreCallCameraTest : public ::testing::Test {
 protected:
  // Starts the camera and waits for its answer on the virtual main queue.
  CameraSessionHandle startAndWait(SourcePreCallCamera& camera) {
    bool answered = false;
    CameraSessionHandle session;
    camera.start([&](CameraSessionHandle s) {
      answered = true;
      session = std::move(s);
    });
    EXPECT_TRUE(testing::waitFor([&] { return answered; }, [&] { queue.runUntilIdle(); }));
    return session;
  }

  platform::VirtualQueue queue;
};

TEST_F(PreCallCameraTest, StartsTheFirstCameraAtThePreviewFormatUntilStopped) {
  FrameGeneratorCamera cameras;
  SourcePreCallCamera camera(cameras, queue);
  CameraSessionHandle session = startAndWait(camera);
  ASSERT_NE(session, nullptr);
  EXPECT_NE(session->preview, nullptr);
  EXPECT_EQ(cameras.lastFormat().width, 640);
  EXPECT_EQ(cameras.lastFormat().height, 480);
  EXPECT_EQ(camera.runningCount(), 1u);
  camera.stop(session);
  EXPECT_EQ(camera.runningCount(), 0u);
  camera.stop(session);  // a second stop of the same session does nothing
  EXPECT_EQ(camera.runningCount(), 0u);
}

TEST_F(PreCallCameraTest, WithoutACameraOrWhenItFailsTheAnswerIsNoSession) {
  FrameGeneratorCamera none(std::vector<CameraDevice>{});
  SourcePreCallCamera withoutCamera(none, queue);
  EXPECT_EQ(startAndWait(withoutCamera), nullptr);

  FrameGeneratorCamera failing;
  failing.failNextStart("device busy");
  SourcePreCallCamera camera(failing, queue);
  EXPECT_EQ(startAndWait(camera), nullptr);
  EXPECT_EQ(camera.runningCount(), 0u);
}

}  // namespace
}  // namespace orvik

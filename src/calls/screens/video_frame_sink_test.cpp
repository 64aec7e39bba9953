#include "calls/screens/video_frame_sink.h"

#include <api/video/i420_buffer.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <thread>
#include <vector>

#include "calls/control/test_support/recording_call_ports.h"
#include "calls/media/call_peer_connection_internal.h"
#include "calls/screens/camera_preview_view.h"
#include "calls/screens/remote_video_view.h"
#include "calls/screens/test_support/synthetic_video_source.h"
#include "calls/screens/video_frame_sink_internal.h"
#include "calls/screens/video_paintable.h"
#include "platform/dispatch/virtual_queue.h"

namespace orvik {
namespace {

using orvik::testing::colourBarAt;
using orvik::testing::colourBarsFrame;
using orvik::testing::kColourBars;
using orvik::testing::Rgb;
using orvik::testing::SyntheticVideoSource;

// BT.601 limited range after a round trip through 8-bit I420.
constexpr int kTolerance = 4;

Rgb pixelAt(const RgbaVideoFrame& frame, int x, int y) {
  const std::uint8_t* p = frame.pixels->data() + static_cast<std::size_t>(y) * frame.stride + x * 4;
  return {p[0], p[1], p[2]};
}
int alphaAt(const RgbaVideoFrame& frame, int x, int y) {
  return frame.pixels->data()[static_cast<std::size_t>(y) * frame.stride + x * 4 + 3];
}
bool near(Rgb a, Rgb b, int tolerance = kTolerance) {
  return std::abs(a.r - b.r) <= tolerance && std::abs(a.g - b.g) <= tolerance && std::abs(a.b - b.b) <= tolerance;
}
std::string text(Rgb c) { return std::to_string(c.r) + "," + std::to_string(c.g) + "," + std::to_string(c.b); }

I420Planes planesOf(const webrtc::I420BufferInterface& buffer) {
  return {buffer.width(), buffer.height(), buffer.DataY(), buffer.DataU(), buffer.DataV(),
          buffer.StrideY(), buffer.StrideU(), buffer.StrideV()};
}

webrtc::VideoFrame frameOf(rtc::scoped_refptr<webrtc::VideoFrameBuffer> buffer,
                           webrtc::VideoRotation rotation = webrtc::kVideoRotation_0) {
  return webrtc::VideoFrame::Builder().set_video_frame_buffer(std::move(buffer)).set_rotation(rotation).build();
}

TEST(I420ToRgbaConverter, FlatFramesOfKnownYuvGiveTheirRgb) {
  struct Case {
    const char* name;
    std::uint8_t y, u, v;
    Rgb rgb;
  };
  const std::vector<Case> cases = {
      {"black", 16, 128, 128, {0, 0, 0}},
      {"white", 235, 128, 128, {255, 255, 255}},
      {"mid grey", 126, 128, 128, {128, 128, 128}},
      {"red", 81, 90, 240, {255, 0, 0}},
      {"green", 145, 54, 34, {0, 255, 0}},
      {"blue", 41, 240, 110, {0, 0, 255}},
  };
  I420ToRgbaConverter converter;
  for (const Case& c : cases) {
    // Padded rows: strides wider than the picture.
    auto buffer = webrtc::I420Buffer::Create(6, 4, 16, 8, 8);
    webrtc::I420Buffer::SetBlack(buffer.get());
    for (int row = 0; row < 4; ++row) std::fill_n(buffer->MutableDataY() + row * 16, 6, c.y);
    for (int row = 0; row < 2; ++row) {
      std::fill_n(buffer->MutableDataU() + row * 8, 3, c.u);
      std::fill_n(buffer->MutableDataV() + row * 8, 3, c.v);
    }
    auto frame = converter.convert(planesOf(*buffer), 0);
    ASSERT_TRUE(frame) << c.name;
    EXPECT_EQ(frame->stride, 24);
    for (int y = 0; y < 4; ++y) {
      for (int x = 0; x < 6; ++x) {
        EXPECT_TRUE(near(pixelAt(*frame, x, y), c.rgb)) << c.name << " at " << x << "," << y << ": " << text(pixelAt(*frame, x, y));
        EXPECT_EQ(alphaAt(*frame, x, y), 255);
      }
    }
  }
}

TEST(I420ToRgbaConverter, ColourBarsOfEvenAndOddSizesComeOutBarByBar) {
  struct Size {
    int width, height, shift;
  };
  I420ToRgbaConverter converter;
  for (const Size& s : std::vector<Size>{{64, 8, 0}, {64, 8, 8}, {33, 7, 0}, {17, 5, 3}, {9, 3, 0}, {1, 1, 0}, {2, 3, 1}}) {
    auto buffer = colourBarsFrame(s.width, s.height, s.shift);
    auto frame = converter.convert(planesOf(*buffer), 0);
    ASSERT_TRUE(frame);
    EXPECT_EQ(frame->width, s.width);
    EXPECT_EQ(frame->height, s.height);
    int checked = 0;
    for (int y = 0; y < s.height; ++y) {
      for (int x = 0; x < s.width; ++x) {
        // A pixel whose chroma pair belongs to another bar mixes two colours.
        const int bar = colourBarAt(x, s.width, s.shift);
        if (bar != colourBarAt(x - x % 2, s.width, s.shift)) continue;
        ++checked;
        EXPECT_TRUE(near(pixelAt(*frame, x, y), kColourBars[bar]))
            << s.width << "x" << s.height << " at " << x << "," << y << ": " << text(pixelAt(*frame, x, y))
            << " want " << text(kColourBars[bar]);
      }
    }
    EXPECT_GE(checked, s.width * s.height / 2) << s.width << "x" << s.height;
  }
}

TEST(I420ToRgbaConverter, AnEmptyPictureGivesNothing) {
  I420ToRgbaConverter converter;
  std::uint8_t plane[4] = {};
  EXPECT_EQ(converter.convert({0, 4, plane, plane, plane, 1, 1, 1}, 0), nullptr);
  EXPECT_EQ(converter.convert({4, 0, plane, plane, plane, 4, 2, 2}, 0), nullptr);
  EXPECT_EQ(converter.allocations(), 0u);
}

TEST(I420ToRgbaConverter, TheBufferIsReusedForOneSizeOnceReleasedAndReplacedOnASizeChange) {
  I420ToRgbaConverter converter;
  auto small = colourBarsFrame(32, 18, 0);
  auto first = converter.convert(planesOf(*small), 0);
  const auto* firstPixels = first->pixels.get();
  first.reset();  // nobody shows it any more
  auto second = converter.convert(planesOf(*small), 0);
  EXPECT_EQ(second->pixels.get(), firstPixels);
  EXPECT_EQ(converter.allocations(), 1u);
  // While the second is still shown, the next one gets a buffer of its own.
  auto third = converter.convert(planesOf(*small), 0);
  EXPECT_NE(third->pixels.get(), second->pixels.get());
  EXPECT_EQ(converter.allocations(), 2u);
  second.reset();
  third.reset();
  // Another size replaces the pool.
  auto large = colourBarsFrame(64, 36, 0);
  auto fourth = converter.convert(planesOf(*large), 0);
  EXPECT_EQ(converter.allocations(), 3u);
  EXPECT_EQ(fourth->pixels->size(), 64u * 36u * 4u);
  fourth.reset();
  converter.convert(planesOf(*large), 0);
  EXPECT_EQ(converter.allocations(), 3u);
}

TEST(RgbaVideoFrame, AQuarterTurnSwapsTheBounds) {
  struct Case {
    int rotation;
    StageSize display;
  };
  for (const Case& c : std::vector<Case>{{0, {64, 36}}, {90, {36, 64}}, {180, {64, 36}}, {270, {36, 64}}}) {
    RgbaVideoFrame frame;
    frame.width = 64;
    frame.height = 36;
    frame.rotation = c.rotation;
    EXPECT_EQ(frame.displaySize(), c.display) << c.rotation;
  }
}

TEST(VideoFrameSinkLog, OneLinePer150Frames) {
  struct Case {
    std::uint64_t count;
    bool logs;
  };
  for (const Case& c : std::vector<Case>{{0, true}, {1, false}, {149, false}, {150, true}, {151, false}, {299, false}, {300, true}}) {
    EXPECT_EQ(shouldLogVideoFrame(c.count), c.logs) << c.count;
  }
}

// A hardware-style buffer that only converts on request.
class NativeBuffer : public webrtc::VideoFrameBuffer {
 public:
  explicit NativeBuffer(rtc::scoped_refptr<webrtc::I420Buffer> inner) : inner_(std::move(inner)) {}
  Type type() const override { return Type::kNative; }
  int width() const override { return inner_->width(); }
  int height() const override { return inner_->height(); }
  rtc::scoped_refptr<webrtc::I420BufferInterface> ToI420() override {
    ++conversions;
    return inner_;
  }
  int conversions = 0;

 private:
  rtc::scoped_refptr<webrtc::I420Buffer> inner_;
};

class VideoFrameSinkTest : public ::testing::Test {
 protected:
  platform::VirtualQueue queue;
  platform::ScopedMainQueue main{queue};
  std::vector<std::string> lines;
  VideoFrameSink::Options options() {
    return {"[RemoteVideo]", [this](const std::string& line) { lines.push_back(line); }};
  }
};

TEST_F(VideoFrameSinkTest, TheLatestFrameWinsAndOnlyItReachesTheMainQueue) {
  VideoFrameSink sink(options());
  std::vector<std::shared_ptr<const RgbaVideoFrame>> shown;
  sink.setFrameHandler([&](auto frame) { shown.push_back(std::move(frame)); });
  auto& webrtc = webrtcSinkOf(sink);
  for (int shift : {0, 8, 16}) webrtc.OnFrame(frameOf(colourBarsFrame(64, 8, shift)));
  EXPECT_TRUE(shown.empty()) << "nothing is shown off the main queue";
  EXPECT_EQ(queue.runUntilIdle(), 1u) << "one hop for the three frames";
  ASSERT_EQ(shown.size(), 1u);
  // The last frame's pattern: moved by 16 px, column 0 shows bar 2 (cyan).
  EXPECT_TRUE(near(pixelAt(*shown[0], 0, 0), kColourBars[2])) << text(pixelAt(*shown[0], 0, 0));
  const auto stats = sink.stats();
  EXPECT_EQ(stats.received, 3u);
  EXPECT_EQ(stats.converted, 3u);
  EXPECT_EQ(stats.superseded, 2u);
  EXPECT_EQ(stats.shown, 1u);
}

TEST_F(VideoFrameSinkTest, NativeBuffersGoThroughToI420AndTheLogNamesTheirKindEvery150Frames) {
  VideoFrameSink sink(options());
  int shown = 0;
  sink.setFrameHandler([&](auto) { ++shown; });
  auto native = rtc::make_ref_counted<NativeBuffer>(colourBarsFrame(64, 36, 0));
  webrtcSinkOf(sink).OnFrame(frameOf(native));
  for (int i = 1; i <= 300; ++i) webrtcSinkOf(sink).OnFrame(frameOf(colourBarsFrame(48, 20, 0)));
  queue.runUntilIdle();
  EXPECT_EQ(native->conversions, 1);
  EXPECT_EQ(lines, (std::vector<std::string>{"[RemoteVideo] frame #0 buffer=Native(HW) 64x36",
                                             "[RemoteVideo] frame #150 buffer=I420 48x20",
                                             "[RemoteVideo] frame #300 buffer=I420 48x20"}));
  EXPECT_EQ(shown, 1);
}

TEST_F(VideoFrameSinkTest, TheAspectRatioIsTheUprightPicturesAndIsReportedWhenItChanges) {
  VideoFrameSink sink(options());
  std::vector<double> ratios;
  std::vector<int> rotations;
  sink.setAspectRatioHandler([&](double ratio) { ratios.push_back(ratio); });
  sink.setFrameHandler([&](auto frame) { rotations.push_back(frame->rotation); });
  auto deliver = [&](int width, int height, webrtc::VideoRotation rotation) {
    webrtcSinkOf(sink).OnFrame(frameOf(colourBarsFrame(width, height, 0), rotation));
    queue.runUntilIdle();
  };
  deliver(1280, 720, webrtc::kVideoRotation_0);
  deliver(1280, 720, webrtc::kVideoRotation_0);  // unchanged: no report
  deliver(1280, 720, webrtc::kVideoRotation_90);
  deliver(1280, 720, webrtc::kVideoRotation_180);
  deliver(640, 480, webrtc::kVideoRotation_270);
  ASSERT_EQ(ratios.size(), 4u);
  EXPECT_DOUBLE_EQ(ratios[0], 1280.0 / 720.0);
  EXPECT_DOUBLE_EQ(ratios[1], 720.0 / 1280.0);
  EXPECT_DOUBLE_EQ(ratios[2], 1280.0 / 720.0);
  EXPECT_DOUBLE_EQ(ratios[3], 480.0 / 640.0);
  EXPECT_EQ(rotations, (std::vector<int>{0, 0, 90, 180, 270}));
}

// A video track that counts its sinks, over a synthetic source.
class CountingTrack : public webrtc::VideoTrackInterface {
 public:
  explicit CountingTrack(rtc::scoped_refptr<SyntheticVideoSource> source) : source_(std::move(source)) {}
  void AddOrUpdateSink(rtc::VideoSinkInterface<webrtc::VideoFrame>* sink, const rtc::VideoSinkWants& wants) override {
    ++adds;
    static_cast<webrtc::VideoTrackSourceInterface*>(source_.get())->AddOrUpdateSink(sink, wants);
  }
  void RemoveSink(rtc::VideoSinkInterface<webrtc::VideoFrame>* sink) override {
    ++removes;
    static_cast<webrtc::VideoTrackSourceInterface*>(source_.get())->RemoveSink(sink);
  }
  webrtc::VideoTrackSourceInterface* GetSource() const override { return source_.get(); }
  std::string kind() const override { return kVideoKind; }
  std::string id() const override { return "counting"; }
  bool enabled() const override { return true; }
  bool set_enabled(bool) override { return true; }
  TrackState state() const override { return kLive; }
  void RegisterObserver(webrtc::ObserverInterface*) override {}
  void UnregisterObserver(webrtc::ObserverInterface*) override {}
  std::atomic<int> adds{0}, removes{0};

 private:
  rtc::scoped_refptr<SyntheticVideoSource> source_;
};

VideoTrackHandle handleOf(rtc::scoped_refptr<webrtc::VideoTrackInterface> track) {
  return std::make_shared<VideoTrackRef>(VideoTrackRef{std::move(track)});
}

TEST_F(VideoFrameSinkTest, TheSameTrackIsNotAddedAgainAndANewOneMovesTheSink) {
  auto source = rtc::make_ref_counted<SyntheticVideoSource>(32, 18);
  auto first = rtc::make_ref_counted<CountingTrack>(source);
  auto second = rtc::make_ref_counted<CountingTrack>(source);
  RemoteVideoFeed feed(options());
  EXPECT_TRUE(feed.attach(handleOf(first)));
  // Another handle of the very same track object.
  EXPECT_FALSE(feed.attach(handleOf(first)));
  EXPECT_EQ(first->adds, 1);
  EXPECT_EQ(first->removes, 0);
  EXPECT_TRUE(feed.attach(handleOf(second)));
  EXPECT_EQ(first->removes, 1);
  EXPECT_EQ(second->adds, 1);
  source->deliver(0);
  queue.runUntilIdle();
  EXPECT_EQ(feed.sink().stats().shown, 1u);
  feed.attach(nullptr);
  EXPECT_EQ(second->removes, 1);
  source->deliver(1);
  queue.runUntilIdle();
  EXPECT_EQ(feed.sink().stats().received, 1u);
}

TEST_F(VideoFrameSinkTest, FramesPostedBeforeTheSinkWentAreDroppedOnTheMainQueue) {
  auto source = rtc::make_ref_counted<SyntheticVideoSource>(32, 18);
  int shown = 0;
  {
    VideoFrameSink sink(options());
    sink.setFrameHandler([&](auto) { ++shown; });
    sink.attachSource(std::make_shared<VideoSourceRef>(VideoSourceRef{source}));
    source->deliver(0);
    EXPECT_EQ(queue.pendingCount(), 1u);
  }
  queue.runUntilIdle();  // the posted picture finds the sink gone
  EXPECT_EQ(shown, 0);
  source->deliver(1);  // nobody is attached any more
  EXPECT_EQ(queue.pendingCount(), 0u);
}

// Frames pour in on their own thread while the main queue attaches,
// detaches and throws sinks away: no frame may reach a freed sink or
// handler (run under AddressSanitizer to see it).
TEST_F(VideoFrameSinkTest, DetachingAndDestroyingWhileFramesFlowIsSafe) {
  auto source = rtc::make_ref_counted<SyntheticVideoSource>(64, 36);
  std::atomic<bool> running{true};
  std::thread pump([&] {
    for (int i = 0; running; ++i) source->deliver(i);
  });
  auto handle = std::make_shared<VideoSourceRef>(VideoSourceRef{source});
  int shown = 0;
  for (int round = 0; round < 200; ++round) {
    auto sink = std::make_unique<VideoFrameSink>(options());
    auto counter = std::make_shared<int>(0);
    sink->setFrameHandler([&shown, counter](auto frame) {
      ++*counter;
      shown += frame->width == 64 ? 1 : 0;
    });
    sink->attachSource(handle);
    while (sink->stats().received < 2) std::this_thread::yield();
    if (round % 2 == 0) queue.runUntilIdle();
    if (round % 3 == 0) sink->detach();
    sink.reset();  // frames still posted for it are dropped
    queue.runUntilIdle();
  }
  running = false;
  pump.join();
  queue.runUntilIdle();
  EXPECT_GT(shown, 0);
}

TEST_F(VideoFrameSinkTest, TheCameraPreviewIsASecondMirroredSinkAndTheSameSessionDoesNotRebind) {
  auto source = rtc::make_ref_counted<SyntheticVideoSource>(64, 36);
  auto otherSource = rtc::make_ref_counted<SyntheticVideoSource>(32, 18);
  auto session = std::make_shared<CameraSessionRef>();
  auto otherSession = std::make_shared<CameraSessionRef>();
  int resolved = 0;
  CameraPreviewFeed preview([&](const CameraSessionHandle& s) -> VideoSourceHandle {
    ++resolved;
    return std::make_shared<VideoSourceRef>(VideoSourceRef{s == session ? source : otherSource});
  });
  EXPECT_TRUE(videoPaintableIsMirrored(preview.paintable()));
  // The sender's own sink stays on the source beside the preview's.
  VideoFrameSink sender(options());
  sender.attachSource(std::make_shared<VideoSourceRef>(VideoSourceRef{source}));

  EXPECT_TRUE(preview.update(session, /*fill=*/true));
  EXPECT_TRUE(videoPaintableFills(preview.paintable()));
  source->deliver(0);
  queue.runUntilIdle();
  EXPECT_EQ(videoPaintableFrameCount(preview.paintable()), 1u);
  EXPECT_EQ(sender.stats().received, 1u);

  // The same session: only the fill mode is applied.
  EXPECT_FALSE(preview.update(session, /*fill=*/false));
  EXPECT_EQ(resolved, 1);
  EXPECT_FALSE(videoPaintableFills(preview.paintable()));
  EXPECT_TRUE(preview.sink().isAttached());

  // Another session moves the sink; the first source no longer feeds it.
  EXPECT_TRUE(preview.update(otherSession, true));
  EXPECT_EQ(resolved, 2);
  source->deliver(1);
  otherSource->deliver(0);
  queue.runUntilIdle();
  EXPECT_EQ(preview.sink().stats().received, 2u);
  EXPECT_EQ(gdk_texture_get_width(videoPaintableTexture(preview.paintable())), 32);

  // No session: nothing shown.
  preview.update(nullptr, true);
  EXPECT_FALSE(preview.sink().isAttached());
  EXPECT_EQ(videoPaintableTexture(preview.paintable()), nullptr);
}

TEST_F(VideoFrameSinkTest, WithoutAResolverThePreviewShowsTheSessionsOwnPreviewSource) {
  auto source = rtc::make_ref_counted<SyntheticVideoSource>(48, 27);
  auto session = std::make_shared<CameraSessionRef>(
      CameraSessionRef{std::make_shared<VideoSourceRef>(VideoSourceRef{source})});
  CameraPreviewFeed preview;
  EXPECT_TRUE(preview.update(session, /*fill=*/true));
  source->deliver(0);
  queue.runUntilIdle();
  ASSERT_NE(videoPaintableTexture(preview.paintable()), nullptr);
  EXPECT_EQ(gdk_texture_get_width(videoPaintableTexture(preview.paintable())), 48);
  // A session without a preview source shows nothing.
  EXPECT_TRUE(preview.update(std::make_shared<CameraSessionRef>(), true));
  EXPECT_FALSE(preview.sink().isAttached());
}

}  // namespace
}  // namespace orvik

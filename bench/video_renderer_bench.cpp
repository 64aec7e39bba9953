// The call video renderer's cost: CPU per frame from WebRTC's hand-over to
// the paintable's texture (I420 → RGBA with libyuv, the main-queue hop, the
// GdkMemoryTexture), at 720p and 1080p; and, with frames arriving at 30 fps
// while the main queue takes them at a display's 60 Hz, how many frames are
// superseded before they are shown.
//
//   build/bench/bench_video_renderer
#include <benchmark/benchmark.h>

#include <chrono>
#include <thread>
#include <vector>

#include "calls/media/call_peer_connection_internal.h"
#include "calls/screens/test_support/synthetic_video_source.h"
#include "calls/screens/video_frame_sink_internal.h"
#include "calls/screens/video_paintable.h"
#include "platform/dispatch/virtual_queue.h"

namespace {

using namespace orvik;

std::vector<webrtc::VideoFrame> patternFrames(int width, int height) {
  std::vector<webrtc::VideoFrame> frames;
  for (int i = 0; i < 8; ++i) {
    frames.push_back(webrtc::VideoFrame::Builder()
                         .set_video_frame_buffer(testing::colourBarsFrame(width, height, i * testing::kPatternStep))
                         .build());
  }
  return frames;
}

void BM_RendererCpuPerFrame(benchmark::State& state) {
  const int width = static_cast<int>(state.range(0));
  const int height = static_cast<int>(state.range(1));
  platform::VirtualQueue queue;
  platform::ScopedMainQueue main(queue);
  GdkPaintable* paintable = videoPaintableNew();
  {
    VideoFrameSink sink({"", {}});
    sink.setFrameHandler([paintable](auto frame) { videoPaintableShowFrame(paintable, std::move(frame)); });
    const auto frames = patternFrames(width, height);
    std::size_t i = 0;
    for (auto _ : state) {
      webrtcSinkOf(sink).OnFrame(frames[i++ % frames.size()]);
      queue.runUntilIdle();
    }
    state.counters["allocations"] = static_cast<double>(sink.stats().allocations);
  }
  g_object_unref(paintable);
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_RendererCpuPerFrame)->Args({1280, 720})->Args({1920, 1080})->Unit(benchmark::kMillisecond);

// Two seconds of 30 fps video drawn by a 60 Hz main loop.
void BM_RendererDroppedAt30Fps(benchmark::State& state) {
  const int width = static_cast<int>(state.range(0));
  const int height = static_cast<int>(state.range(1));
  for (auto _ : state) {
    platform::VirtualQueue queue;
    platform::ScopedMainQueue main(queue);
    GdkPaintable* paintable = videoPaintableNew();
    VideoFrameSink sink({"", {}});
    sink.setFrameHandler([paintable](auto frame) { videoPaintableShowFrame(paintable, std::move(frame)); });
    auto source = rtc::make_ref_counted<testing::SyntheticVideoSource>(width, height);
    sink.attachSource(std::make_shared<VideoSourceRef>(VideoSourceRef{source}));
    source->start(30);
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (std::chrono::steady_clock::now() < end) {
      queue.runUntilIdle();
      std::this_thread::sleep_for(std::chrono::microseconds(16667));
    }
    source->stop();
    queue.runUntilIdle();
    sink.detach();
    const auto stats = sink.stats();
    state.counters["received"] = static_cast<double>(stats.received);
    state.counters["shown"] = static_cast<double>(stats.shown);
    state.counters["dropped"] = static_cast<double>(stats.superseded + stats.dropped);
    g_object_unref(paintable);
  }
}
BENCHMARK(BM_RendererDroppedAt30Fps)
    ->Args({1280, 720})
    ->Args({1920, 1080})
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();

// The mute test runs on every log call. Lines without a "[" near the start
// must cost no allocation; the "allocs/line" counter shows it.
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdlib>
#include <new>

#include "core/native_logger.h"

namespace {

std::atomic<long> gAllocations{0};

}  // namespace

void* operator new(std::size_t size) {
  gAllocations.fetch_add(1, std::memory_order_relaxed);
  if (void* p = std::malloc(size ? size : 1)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace {

void runMuteTest(benchmark::State& state, const char* line) {
  // Warm up once so that per-thread set-up is not counted.
  benchmark::DoNotOptimize(orvik::isMutedCallLogLine(line));
  const long before = gAllocations.load();
  for (auto _ : state) benchmark::DoNotOptimize(orvik::isMutedCallLogLine(line));
  state.counters["allocs/line"] =
      benchmark::Counter(static_cast<double>(gAllocations.load() - before) / static_cast<double>(state.iterations()));
}

BENCHMARK_CAPTURE(runMuteTest, no_bracket, "Keychain lookup finished in 3 ms with status 0 for the device identity");
BENCHMARK_CAPTURE(runMuteTest, bracket_far_away, "The page finished loading after 1200 ms [WebView]");
BENCHMARK_CAPTURE(runMuteTest, muted_ascii, "[NativeCallMgr] updateState — ringing → connected");
BENCHMARK_CAPTURE(runMuteTest, muted_emoji, "📞 [IncomingCall] offer received from a device");
BENCHMARK_CAPTURE(runMuteTest, unmuted_emoji, "🌐 [WebView] didFinish navigation");

}  // namespace

BENCHMARK_MAIN();

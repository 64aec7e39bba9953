// Recovery of a dropped call through the whole call manager: two call
// engines of this project in a relay-only call through the local call server
// (tools/devservice) and coturn; the relay is killed, both sides reach
// "Reconnecting...", the relay comes back on its port, and the clock runs
// until both managers are connected again (the caller's attempt timer, its
// ICE restart offer over the call socket, the callee's answer, fresh relay
// allocations and connectivity checks). Prints, over N drops, the median and
// the worst of: relay back → connected, and drop noticed → connected.
//   build/bench/bench_ice_recovery [drops]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "calls/control/test_support/relay_call.h"
#include "core/native_logger.h"
#include "platform/dispatch/glib_main_queue.h"

using namespace orvik;
using namespace orvik::testing;

namespace {

using Clock = std::chrono::steady_clock;

double millisSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

void report(const char* what, std::vector<double> millis) {
  if (millis.empty()) {
    std::printf("%-26s no recovery\n", what);
    return;
  }
  std::sort(millis.begin(), millis.end());
  std::printf("%-26s drops=%zu median=%.0f ms worst=%.0f ms\n", what, millis.size(), millis[millis.size() / 2],
              millis.back());
}

}  // namespace

int main(int argc, char** argv) {
  const int drops = argc > 1 ? std::atoi(argv[1]) : 3;
  NativeLogger::shared().setPrintFunction([](const std::string&) {});
  platform::GlibMainQueue queue;
  platform::ScopedMainQueue main(queue);
  std::string error;
  auto call = RelayCall::start(error);
  if (!call) {
    std::fprintf(stderr, "skipped: %s\n", error.c_str());
    return 0;
  }
  if (const auto problem = call->connect(); !problem.empty()) {
    std::fprintf(stderr, "%s\n", problem.c_str());
    return 1;
  }
  std::vector<double> fromRelayBack, fromDrop;
  for (int i = 0; i < drops; ++i) {
    call->relay->stop();
    if (!runMainLoopUntil([&] { return call->ann->isReconnecting() && call->bob->isReconnecting(); }, 30.0)) {
      std::fprintf(stderr, "drop %d: the drop was not noticed\n", i);
      break;
    }
    const auto noticed = Clock::now();
    if (!call->relay->restart()) {
      std::fprintf(stderr, "drop %d: the relay did not come back\n", i);
      break;
    }
    const auto back = Clock::now();
    if (!runMainLoopUntil([&] { return call->bothConnected(); }, 40.0)) {
      std::fprintf(stderr, "drop %d: not connected again\n", i);
      break;
    }
    fromRelayBack.push_back(millisSince(back));
    fromDrop.push_back(millisSince(noticed));
    // Let the call settle before the next drop.
    runMainLoopUntil([] { return false; }, 2.0);
  }
  report("relay back -> connected", fromRelayBack);
  report("drop noticed -> connected", fromDrop);
  return 0;
}

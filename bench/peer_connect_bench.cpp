// Connect time of a call: from the offer being created to both sides
// connected, for the direct (host) path on loopback and the relay-only path
// through a local TURN server. Prints the median and the worst of N calls.
//   build/bench/bench_peer_connect [calls]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "calls/media/test_support/loopback_call.h"
#include "core/native_logger.h"

using namespace orvik;

namespace {

std::vector<double> measure(const std::vector<ICEServer>& servers, bool allowAll, int calls) {
  std::vector<double> millis;
  for (int i = 0; i < calls; ++i) {
    platform::VirtualQueue main;
    platform::ScopedMainQueue scoped(main);
    testing::LoopbackCall call(main);
    const std::string error = call.connect(servers, allowAll);
    const auto end = std::chrono::steady_clock::now();
    if (!error.empty()) {
      std::fprintf(stderr, "call %d: %s\n", i, error.c_str());
      continue;
    }
    millis.push_back(std::chrono::duration<double, std::milli>(end - call.offerRequestedAt).count());
  }
  std::sort(millis.begin(), millis.end());
  return millis;
}

void report(const char* path, const std::vector<double>& millis) {
  if (millis.empty()) {
    std::printf("%-6s no call connected\n", path);
    return;
  }
  std::printf("%-6s calls=%zu median=%.1f ms worst=%.1f ms\n", path, millis.size(), millis[millis.size() / 2],
              millis.back());
}

}  // namespace

int main(int argc, char** argv) {
  const int calls = argc > 1 ? std::atoi(argv[1]) : 10;
  NativeLogger::shared().setPrintFunction([](const std::string&) {});
  report("host", measure({}, /*allowAll=*/true, calls));
  if (auto turn = testing::LocalTurnServer::start()) {
    report("relay", measure(turn->iceServers(), /*allowAll=*/false, calls));
  } else {
    std::printf("relay  skipped: turnserver did not start\n");
  }
  return 0;
}

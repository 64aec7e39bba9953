#include "platform/test_support/wait_for.h"

#include <chrono>
#include <thread>

namespace orvik::testing {

bool waitFor(const std::function<bool()>& done, const std::function<void()>& meanwhile, double seconds) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  for (;;) {
    if (meanwhile) meanwhile();
    if (done()) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

}  // namespace orvik::testing

#include "platform/test_support/main_loop.h"

#include <glib.h>

#include <chrono>

namespace orvik::testing {

bool runMainLoopUntil(const std::function<bool()>& done, double timeoutSeconds) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(timeoutSeconds);
  // Wakes the blocking iteration now and then so that the deadline is seen
  // even when nothing else happens.
  const guint wake = g_timeout_add(50, [](gpointer) -> gboolean { return G_SOURCE_CONTINUE; }, nullptr);
  bool result = done();
  while (!result && std::chrono::steady_clock::now() < deadline) {
    g_main_context_iteration(nullptr, TRUE);
    result = done();
  }
  g_source_remove(wake);
  return result;
}

void drainMainLoop() {
  while (g_main_context_iteration(nullptr, FALSE)) {
  }
}

}  // namespace orvik::testing

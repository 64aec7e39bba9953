#include "platform/dispatch/repeating_timer.h"

#include <glib.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <vector>

#include "platform/dispatch/glib_main_queue.h"
#include "platform/dispatch/virtual_queue.h"

namespace orvik::platform {
namespace {

using Steady = std::chrono::steady_clock;

TEST(RepeatingTimer, ALateTickCountsOnceAndTheNextStaysOnSchedule) {
  VirtualQueue queue;
  const auto origin = queue.monotonicNow();
  std::vector<long> tickedAtMs;
  RepeatingTimer timer(queue, 1.0, [&] {
    tickedAtMs.push_back(std::lround(std::chrono::duration<double, std::milli>(queue.monotonicNow() - origin).count()));
  });
  timer.start();
  // Other work holds the queue: the first tick runs 0.3 s late, and later a
  // stall covers the ticks due at 3 and 4.
  queue.postAfter(0.9, [&] { queue.clock().advance(0.4); });
  queue.postAfter(2.5, [&] { queue.clock().advance(1.7); });
  queue.advance(6.0);
  EXPECT_EQ(tickedAtMs, (std::vector<long>{1300, 2000, 4200, 5000, 6000}));

  // A restart starts a new schedule from its own start.
  tickedAtMs.clear();
  queue.advance(0.5);
  timer.start();
  queue.advance(2.0);
  EXPECT_EQ(tickedAtMs, (std::vector<long>{7500, 8500}));
}

// The real main loop, kept busy as a loaded program keeps it: every tick
// waits behind other work, yet over ten intervals exactly ten ticks run.
TEST(RepeatingTimer, OnABusyGlibMainLoopTicksOncePerIntervalWithoutDrift) {
  constexpr double kInterval = 0.25;
  constexpr int kTicks = 10;
  constexpr auto kBusyTurn = std::chrono::milliseconds(100);

  GMainContext* context = g_main_context_new();
  g_main_context_push_thread_default(context);
  {
    GlibMainQueue queue(context);
    const auto end = Steady::now() + std::chrono::duration_cast<Steady::duration>(
                                         std::chrono::duration<double>(kInterval * (kTicks + 0.5)));
    int ticks = 0;
    RepeatingTimer timer(queue, kInterval, [&] {
      if (Steady::now() <= end) ++ticks;
    });
    timer.start();

    struct Busy {
      Steady::time_point end;
      std::chrono::milliseconds turn;
    } busy{end, kBusyTurn};
    GSource* work = g_idle_source_new();
    g_source_set_callback(
        work,
        [](gpointer data) -> gboolean {
          const auto* busy = static_cast<Busy*>(data);
          const auto until = std::min(Steady::now() + busy->turn, busy->end);
          while (Steady::now() < until) {
          }
          return G_SOURCE_CONTINUE;
        },
        &busy, nullptr);
    g_source_attach(work, context);
    while (Steady::now() < end) g_main_context_iteration(context, TRUE);
    g_source_destroy(work);
    g_source_unref(work);
    timer.stop();
    EXPECT_EQ(ticks, kTicks);
  }
  g_main_context_pop_thread_default(context);
  g_main_context_unref(context);
}

}  // namespace
}  // namespace orvik::platform

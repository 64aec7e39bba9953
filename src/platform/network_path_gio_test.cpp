#include <gio/gio.h>
#include <gtest/gtest.h>

#include "platform/dispatch/virtual_queue.h"
#include "platform/network_path.h"

namespace orvik::platform {
namespace {

TEST(GioNetworkPathIntegration, FirstReportIsWhatGioKnowsAndComesOnTheGivenQueue) {
  VirtualQueue queue;
  std::vector<NetworkPathStatus> reports;
  auto path = makeGioNetworkPath();
  path->start(queue, [&](NetworkPathStatus status) { reports.push_back(status); });
  EXPECT_TRUE(reports.empty()) << "reported inside start";

  queue.runUntilIdle();
  ASSERT_EQ(reports.size(), 1u);
  const bool available = g_network_monitor_get_network_available(g_network_monitor_get_default());
  EXPECT_EQ(reports[0], available ? NetworkPathStatus::satisfied : NetworkPathStatus::unsatisfied);

  // Changes GIO announces after cancel reach nobody.
  path->cancel();
  g_signal_emit_by_name(g_network_monitor_get_default(), "network-changed", !available);
  queue.runUntilIdle();
  EXPECT_EQ(reports.size(), 1u);
}

TEST(GioNetworkPathIntegration, EveryChangeGioAnnouncesIsReported) {
  VirtualQueue queue;
  std::vector<NetworkPathStatus> reports;
  auto path = makeGioNetworkPath();
  path->start(queue, [&](NetworkPathStatus status) { reports.push_back(status); });
  GNetworkMonitor* monitor = g_network_monitor_get_default();
  g_signal_emit_by_name(monitor, "network-changed", FALSE);
  g_signal_emit_by_name(monitor, "network-changed", TRUE);
  queue.runUntilIdle();
  ASSERT_EQ(reports.size(), 3u);
  EXPECT_EQ(reports[1], NetworkPathStatus::unsatisfied);
  EXPECT_EQ(reports[2], NetworkPathStatus::satisfied);
}

}  // namespace
}  // namespace orvik::platform

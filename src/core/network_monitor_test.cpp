#include "core/network_monitor.h"

#include <gio/gio.h>
#include <gtest/gtest.h>

#include "platform/dispatch/virtual_queue.h"
#include "platform/fake_network_path.h"

namespace orvik {
namespace {

using platform::NetworkPathStatus;

class NetworkMonitorTest : public ::testing::Test {
 protected:
  NetworkMonitorTest() {
    auto owned = std::make_unique<platform::FakeNetworkPath>();
    path = owned.get();
    monitor = std::make_unique<NetworkMonitor>(std::move(owned), &pathQueue);
    subscription = monitor->addObserver([this](bool connected) { seen.push_back(connected); });
  }

  platform::VirtualQueue mainQueue;
  platform::ScopedMainQueue main{mainQueue};
  platform::VirtualQueue pathQueue{&mainQueue.clock()};
  platform::FakeNetworkPath* path = nullptr;
  std::unique_ptr<NetworkMonitor> monitor;
  std::vector<bool> seen;
  platform::Subscription subscription;
};

TEST_F(NetworkMonitorTest, ConnectedUntilTheSystemSaysOtherwise) {
  EXPECT_EQ(path->starts, 1);
  EXPECT_TRUE(monitor->isConnected());
  mainQueue.advance(60.0);
  EXPECT_TRUE(monitor->isConnected());
}

TEST_F(NetworkMonitorTest, ReportsArePublishedOnTheMainQueueOnly) {
  path->report(NetworkPathStatus::unsatisfied);
  pathQueue.runUntilIdle();
  EXPECT_TRUE(monitor->isConnected()) << "published before reaching the main queue";
  mainQueue.runUntilIdle();
  EXPECT_FALSE(monitor->isConnected());
}

TEST_F(NetworkMonitorTest, EveryReportIsToldToObservers) {
  for (auto status : {NetworkPathStatus::unsatisfied, NetworkPathStatus::satisfied, NetworkPathStatus::satisfied,
                      NetworkPathStatus::requiresConnection}) {
    path->report(status);
    pathQueue.runUntilIdle();
    mainQueue.runUntilIdle();
  }
  EXPECT_EQ(seen, (std::vector<bool>{false, true, true, false}));
  EXPECT_FALSE(monitor->isConnected());
}

TEST_F(NetworkMonitorTest, AReportOnItsWayWhenTheMonitorGoesFindsNobody) {
  path->report(NetworkPathStatus::unsatisfied);
  pathQueue.runUntilIdle();  // now waiting on the main queue
  monitor.reset();
  mainQueue.runUntilIdle();
  EXPECT_TRUE(seen.empty());
}

TEST(NetworkMonitorIntegration, PublishesWhatGioAnnounces) {
  platform::VirtualQueue mainQueue;
  platform::ScopedMainQueue main{mainQueue};
  platform::VirtualQueue pathQueue{&mainQueue.clock()};
  NetworkMonitor monitor(platform::makeGioNetworkPath(), &pathQueue);
  pathQueue.runUntilIdle();
  mainQueue.runUntilIdle();
  EXPECT_EQ(monitor.isConnected(), g_network_monitor_get_network_available(g_network_monitor_get_default()) != FALSE);

  g_signal_emit_by_name(g_network_monitor_get_default(), "network-changed", FALSE);
  pathQueue.runUntilIdle();
  mainQueue.runUntilIdle();
  EXPECT_FALSE(monitor.isConnected());
}

}  // namespace
}  // namespace orvik

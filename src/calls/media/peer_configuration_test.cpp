#include "calls/media/peer_configuration.h"

#include <arpa/inet.h>
#include <net/if.h>
#include <netinet/in.h>

#include <gtest/gtest.h>

namespace orvik {
namespace {

std::uint32_t ip(const char* text) {
  in_addr address{};
  inet_pton(AF_INET, text, &address);
  return ntohl(address.s_addr);
}

constexpr unsigned kUp = IFF_UP | IFF_RUNNING;

TEST(HasRoutableIPv4, NeedsAnUpRunningNonLoopbackAddressOutsideLinkLocal) {
  EXPECT_FALSE(hasRoutableIPv4({}));
  EXPECT_FALSE(hasRoutableIPv4({{kUp | IFF_LOOPBACK, AF_INET, ip("127.0.0.1")},
                                {kUp, AF_INET, ip("169.254.3.4")},
                                {kUp, AF_INET6, 0},
                                {IFF_UP, AF_INET, ip("192.168.1.2")},
                                {kUp, 0, 0}}));
  EXPECT_TRUE(hasRoutableIPv4({{kUp | IFF_LOOPBACK, AF_INET, ip("127.0.0.1")}, {kUp, AF_INET, ip("10.1.2.3")}}));
}

TEST(PlanPeerConfiguration, RelayOnlyWithATurnServerElseNoHost) {
  const std::vector<ICEServer> stunOnly = {{{"stun:stun.example:3478"}, "", ""}};
  const std::vector<ICEServer> withTurn = {{{"stun:a"}, "", ""}, {{"stun:b", "turns:t:443"}, "u", "p"}};
  EXPECT_EQ(planPeerConfiguration(stunOnly, true).policy, IcePolicy::noHost);
  EXPECT_EQ(planPeerConfiguration(withTurn, false).policy, IcePolicy::relay);
  EXPECT_TRUE(planPeerConfiguration(withTurn, true).ipv6Off);
  EXPECT_FALSE(planPeerConfiguration(withTurn, false).ipv6Off);
  EXPECT_EQ(policyDescription(IcePolicy::relay), "relay (TURN only)");
  EXPECT_EQ(policyDescription(IcePolicy::noHost), "noHost (srflx+relay)");
}

}  // namespace
}  // namespace orvik

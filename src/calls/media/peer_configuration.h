// How a call's peer connection is configured, decided without WebRTC so that
// the rules are tested on synthetic inputs: the transport policy from the ICE
// servers, and IPv6 gathering from the machine's interfaces.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "calls/signaling/call_model.h"

namespace orvik {

// One entry of the machine's interface list, as getifaddrs gives it.
struct InterfaceAddress {
  unsigned int flags = 0;   // IFF_* bits
  int family = 0;           // AF_INET, AF_INET6, or 0 without an address
  std::uint32_t ipv4 = 0;   // host byte order, when family is AF_INET
};

// Whether an interface is up, running, not loopback, and has an IPv4 address
// outside 169.254.0.0/16.
bool hasRoutableIPv4(const std::vector<InterfaceAddress>& interfaces);
// The same over this machine's interfaces; false when they cannot be read.
bool hasRoutableIPv4();

enum class IcePolicy { relay, noHost };

struct PeerConfigurationPlan {
  IcePolicy policy = IcePolicy::noHost;
  bool ipv6Off = false;
};

PeerConfigurationPlan planPeerConfiguration(const std::vector<ICEServer>& servers, bool routableIPv4);

// "relay (TURN only)" / "noHost (srflx+relay)" for the timeline.
std::string policyDescription(IcePolicy policy);

}  // namespace orvik

#include "calls/media/peer_configuration.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>

#include "calls/signaling/ice_config.h"

namespace orvik {

bool hasRoutableIPv4(const std::vector<InterfaceAddress>& interfaces) {
  for (const auto& entry : interfaces) {
    const unsigned int mask = IFF_UP | IFF_LOOPBACK | IFF_RUNNING;
    if ((entry.flags & mask) != (IFF_UP | IFF_RUNNING)) continue;
    if (entry.family != AF_INET) continue;
    if ((entry.ipv4 & 0xFFFF0000u) == 0xA9FE0000u) continue;  // 169.254.0.0/16
    return true;
  }
  return false;
}

bool hasRoutableIPv4() {
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) return false;
  std::vector<InterfaceAddress> interfaces;
  for (ifaddrs* entry = list; entry; entry = entry->ifa_next) {
    InterfaceAddress address;
    address.flags = entry->ifa_flags;
    if (entry->ifa_addr) {
      address.family = entry->ifa_addr->sa_family;
      if (address.family == AF_INET) {
        address.ipv4 = ntohl(reinterpret_cast<const sockaddr_in*>(entry->ifa_addr)->sin_addr.s_addr);
      }
    }
    interfaces.push_back(address);
  }
  freeifaddrs(list);
  return hasRoutableIPv4(interfaces);
}

PeerConfigurationPlan planPeerConfiguration(const std::vector<ICEServer>& servers, bool routableIPv4) {
  return {hasTurnServer(servers) ? IcePolicy::relay : IcePolicy::noHost, routableIPv4};
}

std::string policyDescription(IcePolicy policy) {
  return policy == IcePolicy::relay ? "relay (TURN only)" : "noHost (srflx+relay)";
}

}  // namespace orvik

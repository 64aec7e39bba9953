#include "calls/media/test_support/loopback_peer.h"

#include <future>

#include <api/stats/rtc_stats_collector_callback.h>
#include <api/stats/rtcstats_objects.h>

#include "calls/media/call_peer_connection_internal.h"
#include "calls/media/test_support/loopback_call.h"

namespace orvik::testing {

namespace {

class StatsWaiter : public webrtc::RTCStatsCollectorCallback {
 public:
  void OnStatsDelivered(const rtc::scoped_refptr<const webrtc::RTCStatsReport>& report) override {
    report_.set_value(report);
  }
  std::future<rtc::scoped_refptr<const webrtc::RTCStatsReport>> report() { return report_.get_future(); }

 private:
  std::promise<rtc::scoped_refptr<const webrtc::RTCStatsReport>> report_;
};

}  // namespace

std::shared_ptr<CallPeerConnection> makeLoopbackPeer(bool allowAllCandidates) {
  return CallPeerConnection::create({}, loopbackHooks(allowAllCandidates));
}

std::uint64_t audioPacketsReceived(CallPeerConnection& side) {
  auto waiter = rtc::make_ref_counted<StatsWaiter>();
  auto report = waiter->report();
  const bool asked = onPeerQueue(side, [&] {
    auto* connection = webrtcConnection(side);
    if (connection) connection->GetStats(waiter.get());
    return connection != nullptr;
  });
  if (!asked) return 0;
  std::uint64_t packets = 0;
  for (const auto* inbound : report.get()->GetStatsOfType<webrtc::RTCInboundRTPStreamStats>()) {
    if (inbound->kind.is_defined() && *inbound->kind == "audio" && inbound->packets_received.is_defined()) {
      packets += *inbound->packets_received;
    }
  }
  return packets;
}

void releaseLoopbackPeer(std::shared_ptr<CallPeerConnection>& connection) { closeAndRelease(connection); }

}  // namespace orvik::testing

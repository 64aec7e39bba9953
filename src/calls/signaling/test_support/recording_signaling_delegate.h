// A CallSignalingDelegate for tests: records each call as a short text, in
// order ("connect", "disconnect", "ice 2 relay", "failAuth", "recordId 1001").
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "calls/signaling/call_signaling_service.h"

namespace orvik::testing {

class RecordingSignalingDelegate : public CallSignalingDelegate {
 public:
  void signalingDidConnect() override { record("connect"); }
  void signalingDidDisconnect() override { record("disconnect"); }
  void signalingDidReceiveIceServers(const std::vector<ICEServer>& servers, const std::string& policy) override {
    lastServers = servers;
    record("ice " + std::to_string(servers.size()) + " " + policy);
  }
  void signalingDidFailAuth() override { record("failAuth"); }
  void signalingDidReceiveCallRecordId(std::int64_t recordId) override {
    record("recordId " + std::to_string(recordId));
  }

  std::size_t count(const std::string& event) const {
    std::size_t n = 0;
    for (const auto& e : events) n += e == event;
    return n;
  }
  std::size_t countPrefix(const std::string& prefix) const {
    std::size_t n = 0;
    for (const auto& e : events) n += e.rfind(prefix, 0) == 0;
    return n;
  }

  std::vector<std::string> events;
  std::vector<ICEServer> lastServers;
  // Called after each event is recorded.
  std::function<void()> onEvent;

 private:
  void record(std::string event) {
    events.push_back(std::move(event));
    if (onEvent) onEvent();
  }
};

}  // namespace orvik::testing

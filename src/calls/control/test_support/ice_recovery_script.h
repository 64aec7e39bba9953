// A CalleeScript for the ICE-recovery and mid-call tests: device B answers
// advertising ICE restarts (or not), answers the manager's restart and plain
// re-offers, and trades the candidates of the current ICE generation.
#pragma once

#include <algorithm>
#include <optional>
#include <string>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "calls/control/test_support/callee_script.h"

namespace orvik::testing {

struct IceScript : CalleeScript {
  // A frame's "sdp": the description as JSON text or as an object.
  static nlohmann::json descriptionOf(const nlohmann::json& sdp) {
    return sdp.is_string() ? nlohmann::json::parse(sdp.get<std::string>()) : sdp;
  }
  // B answers the offer; its frames advertise ICE restarts unless told not to.
  void answer(bool advertises = true, const std::string& source = "desktop") {
    const auto offer = frames("offer").back();
    const auto description = descriptionOf(offer["sdp"]);
    callee->setDelegate(calleeDelegate);
    callee->build({{}, "all", false, false}, [](BuildResult) {});
    callee->setRemoteDescription({description["type"], description["sdp"], std::nullopt}, [] {});
    callee->createAnswer();
    queue.advance(0.1);
    ASSERT_TRUE(calleeDelegate->answer);
    nlohmann::json frame = {{"type", "answer"},     {"from", "4712_B"}, {"to", "4711_deskA"},
                  {"sdp", nlohmann::json::parse(*calleeDelegate->answer)}, {"deviceSource", source}};
    if (advertises) frame["iceRestartV1"] = true;
    deliver(frame);
  }
  void connect(bool advertises = true, const std::string& source = "desktop") {
    placeUntilOfferSent();
    answer(advertises, source);
    exchangeCandidates();
    queue.advance(1.0);
    ASSERT_EQ(manager->callState(), CallState(CallState::Kind::connected));
  }
  // B answers our latest restart (or plain re-) offer of `type`.
  void answerRestart(const std::string& type = "iceRestartOffer", std::optional<int> attempt = std::nullopt) {
    const auto offers = frames(type);
    ASSERT_FALSE(offers.empty());
    const auto& offer = offers.back();
    const auto description = descriptionOf(offer["sdp"]);
    std::optional<std::string> answerText;
    callee->answerIceRestartOffer({"offer", description["sdp"], std::nullopt}, {},
                                  [&](const std::optional<std::string>& text) { answerText = text; });
    queue.runUntilIdle();
    ASSERT_TRUE(answerText);
    nlohmann::json frame = {{"type", type == "offer" ? "answer" : "iceRestartAnswer"},
                  {"from", "4712_B"},
                  {"to", "4711_deskA"},
                  {"sdp", nlohmann::json::parse(*answerText)}};
    if (type != "offer") frame["iceRestartV1"] = true;
    if (attempt) {
      frame["iceRestartAttempt"] = *attempt;
    } else if (offer.contains("iceRestartAttempt")) {
      frame["iceRestartAttempt"] = offer["iceRestartAttempt"];
    }
    deliver(frame);
  }
  std::size_t restartOffers() const { return frames("iceRestartOffer").size(); }
  bool portsHave(const std::string& line, std::size_t from = 0) const {
    return std::find(ports.begin() + static_cast<std::ptrdiff_t>(from), ports.end(), line) != ports.end();
  }
  std::size_t commandCount(const std::string& name) const {
    return static_cast<std::size_t>(std::count(peer->commands.begin(), peer->commands.end(), name));
  }
  NativeCallState::PerCall& call() { return manager->stateForTesting().call; }
  // Both sides' candidates of the current generation (gathered 0.05 s after
  // their description) go across, and the path is given time to connect.
  void tradeCandidates() {
    queue.advance(0.1);
    exchangeCandidates();
    queue.advance(1.0);
  }
};


}  // namespace orvik::testing

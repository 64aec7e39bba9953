#include "calls/media/peer_connection_events.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

namespace orvik {
namespace {

TEST(PeerConnectionEvents, IceStatesReachTheCallManagerFolded) {
  struct Case {
    IceConnectionState ice;
    std::optional<PeerConnectionState> told;
  };
  const Case cases[] = {
      {IceConnectionState::newState, std::nullopt},
      {IceConnectionState::checking, std::nullopt},
      {IceConnectionState::connected, PeerConnectionState::connected},
      // Completed after connected is told as connected once more.
      {IceConnectionState::completed, PeerConnectionState::connected},
      {IceConnectionState::disconnected, PeerConnectionState::disconnected},
      {IceConnectionState::failed, PeerConnectionState::failed},
      // A closed transport ends the call like a failure, never as "closed".
      {IceConnectionState::closed, PeerConnectionState::failed},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(forwardedIceState(c.ice), c.told) << static_cast<int>(c.ice);
  }
}

TEST(PeerConnectionEvents, StateNamesByValueAndNumbersBeyondTheTables) {
  struct Case {
    std::string (*name)(int);
    int value;
    const char* expected;
  };
  const Case cases[] = {
      {iceConnectionStateName, 0, "new"},          {iceConnectionStateName, 3, "completed"},
      {iceConnectionStateName, 5, "disconnected"}, {iceConnectionStateName, 7, "count"},
      {iceConnectionStateName, 8, "8"},            {peerConnectionStateName, 1, "connecting"},
      {peerConnectionStateName, 5, "closed"},      {peerConnectionStateName, 6, "6"},
      {iceGatheringStateName, 2, "complete"},      {iceGatheringStateName, 3, "3"},
      {signalingStateName, 1, "haveLocalOffer"},   {signalingStateName, 4, "haveRemotePrAnswer"},
      {signalingStateName, 9, "9"},                {dataChannelStateName, 1, "open"},
      {dataChannelStateName, 4, "4"},              {dataChannelStateName, -1, "-1"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.name(c.value), c.expected) << c.value;
}

TEST(PeerConnectionEvents, GatheringErrorsKeepTheFirstTenDistinct) {
  EXPECT_EQ(gatherErrorEntry("turn:192.0.2.9:3478?transport=udp", 401, "Unauthorized", "192.0.2.1"),
            "turn:192.0.2.9:3478?transport=udp → 401 Unauthorized [local IPv4]");
  EXPECT_EQ(gatherErrorEntry("stun:x", 701, "unreachable", "fe80::1"), "stun:x → 701 unreachable [local IPv6 link-local]");
  EXPECT_EQ(gatherErrorEntry("stun:x", 701, "unreachable", ""), "stun:x → 701 unreachable [local ?]");

  std::vector<std::string> errors;
  struct Step {
    std::string entry;
    bool kept;
  };
  std::vector<Step> steps;
  for (int i = 0; i < 10; ++i) steps.push_back({"e" + std::to_string(i), true});
  steps.insert(steps.begin() + 3, Step{"e1", false});  // a repeat while there is room
  steps.push_back({"e10", false});                      // the eleventh distinct one
  steps.push_back({"e0", false});                       // a repeat once full
  for (const auto& step : steps) EXPECT_EQ(keepGatherError(errors, step.entry), step.kept) << step.entry;
  ASSERT_EQ(errors.size(), kMaxGatherErrors);
  EXPECT_EQ(errors.front(), "e0");
  EXPECT_EQ(errors.back(), "e9");
}

TEST(PeerConnectionEvents, EndOfGatheringWarnings) {
  struct Case {
    CandidateTally local;
    bool relayPolicy;
    std::vector<std::string> errors;
    std::optional<std::string> warning;
  };
  const Case cases[] = {
      {{}, false, {}, "⚠️ gathering finished with NO local candidates — STUN/TURN unreachable"},
      {{}, true, {"a", "b"}, "⚠️ gathering finished with NO local candidates — STUN/TURN unreachable: a; b"},
      {{{"host", 2}}, true, {"x"}, "⚠️ gathering finished with NO relay candidate under relay-only policy — TURN failed: x"},
      {{{"relay", 0}, {"srflx", 1}}, true, {}, "⚠️ gathering finished with NO relay candidate under relay-only policy — TURN failed"},
      {{{"srflx", 1}}, false, {"x"}, std::nullopt},
      {{{"relay", 1}}, true, {}, std::nullopt},
      // An unknown type still counts as a candidate.
      {{{"?", 1}}, false, {}, std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(gatheringCompleteWarning(c.local, c.relayPolicy, c.errors), c.warning);
}

TEST(PeerConnectionEvents, DescriptionJsonAndReceivedText) {
  const auto offer = describeSessionDescription(true, "v=0\r\no=- 1 2 IN IP4 127.0.0.1\r\n");
  ASSERT_TRUE(offer);
  const auto parsed = nlohmann::json::parse(*offer);
  EXPECT_EQ(parsed, (nlohmann::json{{"type", "offer"}, {"sdp", "v=0\r\no=- 1 2 IN IP4 127.0.0.1\r\n"}}));
  EXPECT_EQ(offer->find('\n'), std::string::npos) << "compact";
  EXPECT_EQ(nlohmann::json::parse(*describeSessionDescription(false, "v=0"))["type"], "answer");
  EXPECT_FALSE(describeSessionDescription(true, std::string("v=0\xff", 4)));

  struct Case {
    std::string bytes;
    std::string text;
  };
  const Case cases[] = {
      {"endCall", "endCall"},
      {R"({"type":"AudioToggled","data":{"muted":true}})", R"({"type":"AudioToggled","data":{"muted":true}})"},
      {"gr\xc3\xbc\xc3\x9f \xf0\x9f\x93\x9e", "gr\xc3\xbc\xc3\x9f \xf0\x9f\x93\x9e"},
      {"", ""},
      {"bad \xff", ""},
      {"\xc3", ""},                  // cut short
      {"\xc0\xaf", ""},              // overlong
      {"\xed\xa0\x80", ""},          // a surrogate
      {"\xf4\x90\x80\x80", ""},      // past U+10FFFF
  };
  for (const auto& c : cases) EXPECT_EQ(utf8TextOrEmpty(c.bytes), c.text) << c.bytes;
}

TEST(PeerConnectionEvents, LogLengthsAndPreviewsCountCharacters) {
  EXPECT_EQ(displayLength("a\r\nb"), 3u);
  EXPECT_EQ(displayLength("gr\xc3\xbc\xc3\x9f"), 4u);
  EXPECT_EQ(leadingCharacters("candidate:1", 80), "candidate:1");
  EXPECT_EQ(leadingCharacters("\xc3\xbc\xc3\xbc\xc3\xbc", 2), "\xc3\xbc\xc3\xbc");
  EXPECT_EQ(leadingCharacters("abc", 0), "");
}

TEST(IceUfragOf, ReadsTheFirstFragmentOfADescription) {
  EXPECT_EQ(iceUfragOf("v=0\r\nm=audio 9 UDP 111\r\na=ice-ufrag:Ab+/\r\na=ice-ufrag:second\r\n"), "Ab+/");
  EXPECT_EQ(iceUfragOf("v=0\na=ice-ufrag:lf"), "lf");
  EXPECT_EQ(iceUfragOf("v=0\r\na=ice-ufrag:\r\n"), std::nullopt);
  EXPECT_EQ(iceUfragOf("v=0\r\na=ice-pwd:x\r\n"), std::nullopt);
}

}  // namespace
}  // namespace orvik

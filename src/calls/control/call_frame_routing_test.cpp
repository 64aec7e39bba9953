// The call manager's decisions about the other party's frames, as tables:
// addresses, which answer is taken, and what end and busy frames do.
#include "calls/control/call_frame_routing.h"

#include <gtest/gtest.h>

#include <vector>

namespace orvik {
namespace {

using Kind = CallState::Kind;

TEST(CallFrameRouting, AddressesSplitAtTheFirstUnderscoreOnly) {
  struct Row {
    const char* address;
    SignalingAddress split;
  };
  for (const auto& row : std::vector<Row>{{"4712_B", {"4712", "B"}},
                                          {"4712", {"4712", ""}},
                                          {"4712_dev_ice_2", {"4712", "dev_ice_2"}},
                                          {"4712_", {"4712", ""}},
                                          {"_B", {"", "B"}},
                                          {"", {"", ""}}}) {
    EXPECT_EQ(splitSignalingAddress(row.address), row.split) << row.address;
  }
  EXPECT_EQ(signalingAddress("4712", "B"), "4712_B");
  EXPECT_EQ(signalingAddress("4712", ""), "4712");
}

TEST(CallFrameRouting, OnlyTheCalleesFirstAnswerIsTakenAndARestartAnswerGoesToTheReOffer) {
  struct Row {
    const char* name;
    AnswerFacts facts;
    AnswerRoute route;
  };
  const std::vector<Row> rows = {
      {"first answer while calling", {Kind::calling, "4712_B", "4712", false, false}, AnswerRoute::firstAnswer},
      {"first answer while ringing", {Kind::ringing, "4712_B", "4712", false, false}, AnswerRoute::firstAnswer},
      {"a second device after the first", {Kind::connecting, "4712_C", "4712", false, true}, AnswerRoute::laterAnswer},
      {"the same device again", {Kind::connected, "4712_B", "4712", false, true}, AnswerRoute::laterAnswer},
      {"answer to our plain re-offer", {Kind::connected, "4712_B", "4712", true, true},
       AnswerRoute::plainRestartAnswer},
      {"after the call ended", {Kind::ended, "4712_B", "4712", false, false}, AnswerRoute::ignoredNotInCall},
      {"after busy", {Kind::busy, "4712_B", "4712", true, false}, AnswerRoute::ignoredNotInCall},
      {"idle", {Kind::idle, "4712_B", "4712", false, false}, AnswerRoute::ignoredNotInCall},
      {"another user", {Kind::calling, "4799_X", "4712", false, false}, AnswerRoute::ignoredNotFromCallee},
      {"another user during a re-offer", {Kind::connected, "4799_X", "4712", true, true},
       AnswerRoute::ignoredNotFromCallee},
      {"a user whose number starts like the callee's", {Kind::calling, "47120_B", "4712", false, false},
       AnswerRoute::ignoredNotFromCallee},
      {"no sender", {Kind::calling, std::nullopt, "4712", false, false}, AnswerRoute::ignoredNotFromCallee},
      {"no callee known", {Kind::calling, "4712_B", std::nullopt, false, false}, AnswerRoute::ignoredNotFromCallee},
      {"the callee's bare number", {Kind::calling, "4712", "4712", false, false}, AnswerRoute::firstAnswer},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(answerRouteName(routeAnswer(row.facts)), std::string(answerRouteName(row.route))) << row.name;
  }
}

RemoteEndFacts facts(Kind state, std::optional<std::string> from, bool outgoing, bool answered,
                     std::optional<std::string> device, bool connected = false,
                     std::set<std::string> ignored = {}, double ringing = 0) {
  RemoteEndFacts f;
  f.state = state;
  f.from = std::move(from);
  f.remoteUserNumber = "4712";
  f.remoteDeviceUdid = std::move(device);
  f.ignoredAnswerUdids = std::move(ignored);
  f.outgoing = outgoing;
  f.connected = connected;
  f.remoteAnswerReceived = answered;
  f.ringingSeconds = ringing;
  return f;
}

struct RouteRow {
  const char* name;
  RemoteEndFacts facts;
  RemoteEndRoute route;
};

TEST(CallFrameRouting, EndFramesFollowTheStateTable) {
  using R = RemoteEndRoute;
  const std::vector<RouteRow> rows = {
      {"not in a call", facts(Kind::ended, "4712_B", true, false, "B"), R::ignoredNotInCall},
      {"idle", facts(Kind::idle, "4712_B", true, false, std::nullopt), R::ignoredNotInCall},
      {"another user", facts(Kind::calling, "4799_B", true, false, std::nullopt), R::ignoredOtherPeer},
      {"the callee declines before any answer", facts(Kind::calling, "4712_B", true, false, "B"), R::busyOrDecline},
      {"a ringing device declines, device not known yet", facts(Kind::calling, "4712_C", true, false, std::nullopt),
       R::busyOrDecline},
      {"the callee cancels, no sender", facts(Kind::calling, std::nullopt, true, false, std::nullopt),
       R::busyOrDecline},
      {"the answering device ends before connecting", facts(Kind::connecting, "4712_B", true, true, "B"),
       R::remoteEndForced},
      {"the answering device hangs up", facts(Kind::connected, "4712_B", true, true, "B", true),
       R::remoteEndForced},
      {"a device whose answer was refused", facts(Kind::connected, "4712_C", true, true, "B", true, {"C"}),
       R::ignoredIgnoredAnswer},
      {"a second device declines late, after the answer", facts(Kind::connecting, "4712_C", true, true, "B"),
       R::ignoredNotAnsweringDevice},
      {"a second device's end while connected", facts(Kind::connected, "4712_C", true, true, "B", true),
       R::ignoredNotAnsweringDevice},
      {"a bare user number after the answer", facts(Kind::connected, "4712", true, true, "B", true), R::remoteEnd},
      {"an answer without a device: anyone of the callee", facts(Kind::connected, "4712_C", true, true, std::nullopt, true),
       R::remoteEnd},
      {"incoming ringing, the caller cancels", facts(Kind::ringing, "4712_A", false, false, "A"), R::remoteEndForced},
      {"incoming ringing, caller device not known", facts(Kind::ringing, "4712_A", false, false, std::nullopt),
       R::remoteEnd},
      {"incoming connected, caller hangs up", facts(Kind::connected, "4712_A", false, false, "A", true),
       R::remoteEndForced},
      {"a sender device with an underscore", facts(Kind::connected, "4712_dev_1", true, true, "dev_1", true),
       R::remoteEndForced},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(remoteEndRouteName(routeEndFrame(row.facts)), std::string(remoteEndRouteName(row.route))) << row.name;
  }
}

TEST(CallFrameRouting, BusyAfterTwentyFiveSecondsOfRingingIsNoAnswerAndAfterConnectAHangUp) {
  using R = RemoteEndRoute;
  const std::vector<RouteRow> rows = {
      {"busy at 24.9 s", facts(Kind::calling, "4712_B", true, false, std::nullopt, false, {}, 24.9), R::busyOrDecline},
      {"busy at 25.0 s", facts(Kind::calling, "4712_B", true, false, std::nullopt, false, {}, 25.0), R::noAnswer},
      {"busy at 40 s", facts(Kind::calling, "4712_B", true, false, std::nullopt, false, {}, 40.0), R::noAnswer},
      {"busy from another user", facts(Kind::calling, "4799_B", true, false, std::nullopt), R::ignoredOtherPeer},
      {"busy with no peer known is accepted", [] {
         auto f = facts(Kind::calling, "4799_B", true, false, std::nullopt);
         f.remoteUserNumber.reset();
         return f;
       }(), R::busyOrDecline},
      {"busy after connect", facts(Kind::connected, "4712_B", true, true, "B", true, {}, 300.0), R::remoteEnd},
      {"busy from the answering device before connecting", facts(Kind::connecting, "4712_B", true, true, "B"),
       R::busyOrDecline},
      {"a second device's late busy after the answer", facts(Kind::connecting, "4712_C", true, true, "B"),
       R::ignoredNotAnsweringDevice},
      {"a second device's late busy while connected", facts(Kind::connected, "4712_C", true, true, "B", true),
       R::ignoredNotAnsweringDevice},
      {"incoming call, connected", facts(Kind::connected, "4712_A", false, false, "A", true, {}, 90.0), R::remoteEnd},
      {"incoming call ringing: no no-answer rule", facts(Kind::ringing, "4712_A", false, false, std::nullopt, false, {}, 90.0),
       R::busyOrDecline},
      {"after the end", facts(Kind::missed, "4712_B", true, false, std::nullopt), R::ignoredNotInCall},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(remoteEndRouteName(routeUserBusy(row.facts)), std::string(remoteEndRouteName(row.route))) << row.name;
  }
}

}  // namespace
}  // namespace orvik

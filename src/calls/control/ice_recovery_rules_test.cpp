// The pure decisions of ICE recovery as tables.
#include "calls/control/ice_recovery_rules.h"

#include <gtest/gtest.h>

namespace orvik {
namespace {

using Action = IceFailureAction;
using Text = std::optional<std::string>;

TEST(IceRecoveryRules, TheAttemptTimeOutDependsOnTheRoleAndWhetherThePeerCanRestart) {
  EXPECT_EQ(iceAttemptTimeoutSeconds(/*isCaller=*/false, /*peerCanRestart=*/true), 12.0);
  EXPECT_EQ(iceAttemptTimeoutSeconds(false, false), 45.0);
  EXPECT_EQ(iceAttemptTimeoutSeconds(true, true), 10.0);
  EXPECT_EQ(iceAttemptTimeoutSeconds(true, false), 30.0);
}

TEST(IceRecoveryRules, AFrameIsFromTheCurrentPeerOnlyWhenUserAndKnownDeviceMatch) {
  struct Row {
    Text from, user, device;
    bool current;
  };
  const Row rows[] = {
      {"4712_B", "4712", "B", true},
      {"4712_B", "4712", std::nullopt, true},  // device still to be learned
      {"4712_B", "4712", "", true},
      {"4712", "4712", "B", true},  // a bare user number names no other device
      {"4712_C", "4712", "B", false},
      {"4713_B", "4712", "B", false},
      {"47120_B", "4712", "B", false},
      {"4712_B_2", "4712", "B_2", true},  // the device keeps its own "_"
      {"4712_B_2", "4712", "B", false},
      {std::nullopt, "4712", "B", false},
      {"4712_B", std::nullopt, "B", false},
      {"", "4712", "B", false},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.from.value_or("nil") + " vs " + row.user.value_or("nil") + "_" + row.device.value_or("nil"));
    EXPECT_EQ(isFromCurrentPeer(row.from, row.user, row.device), row.current);
  }
}

TEST(IceRecoveryRules, OnlyTheCallsUserTeachesADeviceAndOnlyANonEmptyOne) {
  EXPECT_EQ(deviceLearnedFromAddress(Text("4712_B"), Text("4712")), Text("B"));
  EXPECT_EQ(deviceLearnedFromAddress(Text("4712_B_2"), Text("4712")), Text("B_2"));
  EXPECT_EQ(deviceLearnedFromAddress(Text("4712_"), Text("4712")), std::nullopt);
  EXPECT_EQ(deviceLearnedFromAddress(Text("4712"), Text("4712")), std::nullopt);
  EXPECT_EQ(deviceLearnedFromAddress(Text("4713_B"), Text("4712")), std::nullopt);
  EXPECT_EQ(deviceLearnedFromAddress(std::nullopt, Text("4712")), std::nullopt);
  EXPECT_EQ(deviceLearnedFromAddress(Text("4712_B"), std::nullopt), std::nullopt);
}

TEST(IceRecoveryRules, AFailureRestartsRequestsWaitsOrGivesUp) {
  struct Row {
    const char* name;
    IceFailureFacts facts;
    Action action;
  };
  // isCaller, peerCanRestart, midCall, restarts, requests, identitiesKnown
  const Row rows[] = {
      {"caller, first failure", {true, true, false, 0, 0, true}, Action::restartAsCaller},
      {"caller, second failure", {true, true, false, 1, 0, true}, Action::restartAsCaller},
      {"caller, two restarts used", {true, true, false, 2, 0, true}, Action::giveUp},
      {"caller mid-call, limit does not bind", {true, true, true, 5, 0, true}, Action::restartAsCaller},
      {"caller, peer cannot restart", {true, false, false, 0, 0, true}, Action::giveUp},
      {"caller mid-call, peer cannot restart", {true, false, true, 0, 0, true}, Action::leaveToReconnectWindow},
      {"callee, first failure", {false, true, false, 0, 0, true}, Action::askCallerToRestart},
      {"callee, two requests used", {false, true, false, 0, 2, true}, Action::giveUp},
      {"callee mid-call, third request", {false, true, true, 0, 2, true}, Action::askCallerToRestart},
      {"callee, identity missing", {false, true, false, 0, 0, false}, Action::giveUp},
      {"callee mid-call, identity missing", {false, true, true, 0, 0, false}, Action::leaveToReconnectWindow},
      {"callee, peer cannot restart", {false, false, false, 0, 0, true}, Action::giveUp},
      // The caller's limit counts its restarts, never the callee's requests.
      {"caller, requests do not count", {true, true, false, 0, 2, true}, Action::restartAsCaller},
  };
  for (const auto& row : rows) {
    EXPECT_STREQ(iceFailureActionName(decideIceFailure(row.facts)), iceFailureActionName(row.action)) << row.name;
  }
  EXPECT_EQ(whenNoRestartStarted(true), Action::leaveToReconnectWindow);
  EXPECT_EQ(whenNoRestartStarted(false), Action::giveUp);
}

}  // namespace
}  // namespace orvik

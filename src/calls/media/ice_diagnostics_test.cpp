#include "calls/media/ice_diagnostics.h"

#include <gtest/gtest.h>

namespace orvik {
namespace {

TEST(IceDiagnosticsText, CandidateWordsAddressFamiliesAndTurnHints) {
  const std::string host = "candidate:1 1 UDP 2122 192.0.2.1 5000 typ host";
  EXPECT_EQ(candidateType(host), "host");
  EXPECT_EQ(candidateTransport(host), "udp");
  EXPECT_EQ(candidateType("candidate:1 1 udp 2122 192.0.2.1 5000"), "?");
  EXPECT_EQ(candidateType("candidate:1 1 udp 2122 192.0.2.1 5000 typ"), "?");
  EXPECT_EQ(candidateTransport("candidate:1 1"), "?");
  EXPECT_EQ(addressFamilyLabel("FE80::1"), "IPv6 link-local");
  EXPECT_EQ(addressFamilyLabel("2001:db8::1"), "IPv6");
  EXPECT_EQ(addressFamilyLabel("192.0.2.1"), "IPv4");
  EXPECT_EQ(addressFamilyLabel(""), "?");
  EXPECT_EQ(turnErrorHint(401), "TURN authentication failed — username/credential rejected or expired");
  EXPECT_EQ(turnErrorHint(999), "STUN/TURN error");
}

TEST(IceDiagnosticsText, SummaryShowsOnlyTheFourKnownTypes) {
  EXPECT_EQ(candidateTypeSummary({{"host", 2}, {"?", 5}}, {{"relay", 1}}),
            "local[host=2 srflx=0 prflx=0 relay=0] remote[host=0 srflx=0 prflx=0 relay=1]");
}

StatsEntry pair(const std::string& state, double sent, double answered, bool nominated = false) {
  return {"candidate-pair", "P" + state,
          {{"state", state}, {"requestsSent", sent}, {"responsesReceived", answered}, {"nominated", nominated},
           {"localCandidateId", "L"}, {"remoteCandidateId", "R"}, {"currentRoundTripTime", 0.0123}}};
}

TEST(IceStatsReading, StatsLineNamesTheSelectedPairAndGatherErrors) {
  IceStatsSnapshot snapshot{"relay", {{"relay", 1}}, {{"relay", 2}}, {"701 stun.example: unreachable"}, true};
  const std::vector<StatsEntry> report = {
      {"local-candidate", "L", {{"candidateType", "relay"}, {"protocol", "udp"}, {"relayProtocol", "udp"}}},
      {"remote-candidate", "R", {{"candidateType", "relay"}, {"protocol", "udp"}}},
      pair("succeeded", 3, 3, true),
      pair("frozen", 0, 0),
  };
  const auto reading = readIceStats("connected", snapshot, report);
  EXPECT_EQ(reading.statsLine,
            "stats (connected) — policy=relay remoteSDP=yes local[host=0 srflx=0 prflx=0 relay=1] "
            "remote[host=0 srflx=0 prflx=0 relay=2] | pairs=2 [succeeded 1, in-progress 0, waiting 0, frozen 1, failed 0] "
            "| checks sent=3 answered=3 | selected: local relay/udp via TURN/udp ⇄ remote relay/udp rtt=12ms "
            "| gather errors: 701 stun.example: unreachable");
  EXPECT_FALSE(reading.diagnosis);
}

struct DiagnosisCase {
  const char* name;
  IceStatsSnapshot snapshot;
  std::vector<StatsEntry> report;
  std::string reason;
};

class IceDiagnosisTest : public ::testing::TestWithParam<DiagnosisCase> {};

TEST_P(IceDiagnosisTest, FirstMatchingRuleExplainsTheFailure) {
  const auto reading = readIceStats("failed", GetParam().snapshot, GetParam().report);
  ASSERT_TRUE(reading.diagnosis);
  EXPECT_EQ(*reading.diagnosis, "❌ WHY it failed: " + GetParam().reason);
  EXPECT_EQ(readIceStats("still not connected", GetParam().snapshot, GetParam().report).diagnosis, reading.diagnosis);
}

INSTANTIATE_TEST_SUITE_P(
    Rules, IceDiagnosisTest,
    ::testing::Values(
        DiagnosisCase{"NoRemoteDescription", {"noHost", {{"host", 3}}, {{"host", 1}}, {}, false}, {pair("failed", 4, 0)},
                      "the other side's offer/answer was never applied here — signaling problem, ICE could not even start"},
        DiagnosisCase{"NoLocalCandidates", {"noHost", {}, {{"host", 1}}, {"401 turn: auth"}, true}, {},
                      "this machine gathered NO candidates — STUN/TURN unreachable from this network (401 turn: auth)"},
        DiagnosisCase{"UnknownTypesStillCount", {"noHost", {{"?", 1}}, {}, {}, true}, {},
                      "NO candidates arrived from the other side — they were not sent or not delivered (check the other "
                      "device's [ICE]/[Signaling] logs and the remote device udid)"},
        DiagnosisCase{"RelayPolicyWithoutRelay", {"relay", {{"host", 2}}, {{"relay", 1}}, {"701 x"}, true}, {},
                      "TURN gave this machine no relay candidate, and relay-only policy allows nothing else (701 x)"},
        DiagnosisCase{"ChecksUnanswered", {"noHost", {{"srflx", 1}}, {{"relay", 2}}, {}, true},
                      {pair("failed", 12, 0)},
                      "12 connectivity checks sent, NONE answered — packets between the two networks are "
                      "blocked/dropped (firewall/NAT/TURN path). remote relay=2"},
        DiagnosisCase{"NoPairs", {"noHost", {{"srflx", 1}}, {{"host", 1}}, {}, true}, {},
                      "no candidate pairs formed — local and remote candidates are incompatible (protocol/IP family)"},
        DiagnosisCase{"NothingSent", {"noHost", {{"srflx", 1}}, {{"host", 1}}, {}, true}, {pair("waiting", 0, 0)},
                      "checks partly answered (0/0) but no pair succeeded before the timeout — very lossy/slow path"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(IceStatsReading, OtherLabelsAreNotDiagnosed) {
  EXPECT_FALSE(readIceStats("disconnected", {"noHost", {}, {}, {}, false}, {}).diagnosis);
}

}  // namespace
}  // namespace orvik

#include "calls/media/ice_timeline.h"

#include <gtest/gtest.h>

#include "core/native_logger.h"
#include "platform/dispatch/virtual_queue.h"

namespace orvik {
namespace {

const std::string kRelay = "candidate:1 1 udp 41885439 10.0.0.1 50000 typ relay raddr 0.0.0.0 rport 0";
const std::string kSrflx = "candidate:2 1 udp 1686052607 10.0.0.2 50001 typ srflx raddr 0.0.0.0 rport 0";

class IceTimelineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    NativeLogger::shared().setPrintFunction([this](const std::string& line) { lines.push_back(line); });
  }
  void TearDown() override { NativeLogger::shared().setPrintFunction({}); }

  bool logged(const std::string& text) const {
    return std::any_of(lines.begin(), lines.end(), [&](const auto& line) { return line.find(text) != std::string::npos; });
  }

  platform::VirtualClock clock;
  IceTimeline timeline{clock};
  std::vector<std::string> lines;
};

TEST_F(IceTimelineTest, LinesAreMeasuredFromTheBuildInTheCallsRole) {
  clock.advance(100.0);
  timeline.startCall(/*isCaller=*/true);
  clock.advance(1.5);
  timeline.line("hello");
  EXPECT_TRUE(logged("[ICE] caller +1.50s · hello"));

  timeline.iceStateChanged(IceConnectionState::checking, "checking");
  clock.advance(0.25);
  timeline.iceStateChanged(IceConnectionState::connected, "connected");
  EXPECT_TRUE(logged("ICE state new → checking"));
  EXPECT_TRUE(logged("ICE state checking → connected after 0.25s of checking"));
  EXPECT_EQ(timeline.lastIceState(), IceConnectionState::connected);

  // The next call starts a fresh timeline in its own role.
  timeline.startCall(/*isCaller=*/false);
  timeline.iceStateChanged(IceConnectionState::connected, "connected");
  EXPECT_TRUE(logged("[ICE] callee +0.00s · ICE state new → connected"));
  EXPECT_FALSE(logged("callee +0.00s · ICE state new → connected after"));
}

TEST_F(IceTimelineTest, ARestartCountsItsOwnCandidatesAndErrorsOnly) {
  timeline.startCall(true);
  EXPECT_EQ(timeline.localCandidate(kRelay), 1);
  EXPECT_EQ(timeline.localCandidate(kSrflx), 2);
  timeline.remoteCandidate(kRelay);
  timeline.gatheringError("turn:x → 701 timeout", "hint");
  timeline.gatheringError("turn:x → 701 timeout", "hint");
  EXPECT_EQ(timeline.gatherErrors().size(), 1u);
  EXPECT_EQ(std::count_if(lines.begin(), lines.end(), [](const auto& l) { return l.find("first LOCAL") != std::string::npos; }), 1);
  const IceStatsSnapshot before = timeline.snapshot("relay", true);
  EXPECT_EQ(before.localTypes.at("relay"), 1);
  EXPECT_EQ(before.remoteTypes.at("relay"), 1);

  timeline.iceStateChanged(IceConnectionState::disconnected, "disconnected");
  timeline.startAttempt();
  EXPECT_EQ(timeline.localCandidatesSent(), 0);
  EXPECT_TRUE(timeline.gatherErrors().empty());
  EXPECT_TRUE(timeline.localTypes().empty());
  // The state is the connection's, not the attempt's.
  EXPECT_EQ(timeline.iceStateName(), "disconnected");
  EXPECT_EQ(timeline.localCandidate(kRelay), 1);
  EXPECT_EQ(std::count_if(lines.begin(), lines.end(), [](const auto& l) { return l.find("first LOCAL") != std::string::npos; }), 2);

  timeline.connectionClosed();
  EXPECT_EQ(timeline.lastIceState(), IceConnectionState::newState);
  EXPECT_EQ(timeline.candidateSummary(), candidateTypeSummary({}, {}));
}

}  // namespace
}  // namespace orvik

#include "core/call_timeline.h"

#include <gtest/gtest.h>

#include "platform/dispatch/virtual_queue.h"

namespace orvik {
namespace {

class CallTimelineTest : public ::testing::Test {
 protected:
  platform::VirtualClock clock;
  std::vector<std::string> lines;
  CallTimeline timeline{&clock, [this](const std::string& line) { lines.push_back(line); }};
};

TEST_F(CallTimelineTest, StepsShowTimeSinceStartAndSincePreviousStep) {
  timeline.begin("OUTGOING", "+4712345678", "audio call placed");
  clock.advance(1.234);
  timeline.step("offer sent");
  clock.advance(0.5);
  timeline.markConnected("ICE connected");
  clock.advance(12.34);
  timeline.end("remote hung up");
  EXPECT_EQ(lines, (std::vector<std::string>{
                       "[CallFlow] OUTGOING +4712345678 · +0.00s (+0.00s) · ▶ START — audio call placed",
                       "[CallFlow] OUTGOING +4712345678 · +1.23s (+1.23s) · offer sent",
                       "[CallFlow] OUTGOING +4712345678 · +1.73s (+0.50s) · ICE connected",
                       "[CallFlow] OUTGOING +4712345678 · +14.07s (+12.34s) · ■ END — remote hung up | talk 12.3s",
                   }));
  EXPECT_FALSE(timeline.isRunning());
}

TEST_F(CallTimelineTest, BeginningWhileRunningClosesThePreviousTimeline) {
  timeline.begin("OUTGOING", "alice", "");
  clock.advance(3);
  timeline.begin("INCOMING", "bob", "push");
  EXPECT_EQ(lines, (std::vector<std::string>{
                       "[CallFlow] OUTGOING alice · +0.00s (+0.00s) · ▶ START",
                       "[CallFlow] OUTGOING alice · ■ (previous timeline closed by a new call)",
                       "[CallFlow] INCOMING bob · +0.00s (+0.00s) · ▶ START — push",
                   }));
}

TEST_F(CallTimelineTest, BeginIfIdleRecordsAnEntryStepWhenRunning) {
  timeline.beginIfIdle("INCOMING", "bob", "socket offer");
  clock.advance(2);
  timeline.beginIfIdle("INCOMING", "bob", "ACCEPT tapped on the incoming panel");
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], "[CallFlow] INCOMING bob · +0.00s (+0.00s) · ▶ START — socket offer");
  EXPECT_EQ(lines[1], "[CallFlow] INCOMING bob · +2.00s (+2.00s) · entry: ACCEPT tapped on the incoming panel");
}

TEST_F(CallTimelineTest, FirstEndReasonWinsAndNeverConnectedCallsSaySo) {
  timeline.begin("OUTGOING", "alice", "video call placed");
  timeline.noteEndReason("callee busy");
  timeline.noteEndReason("ring timeout");
  EXPECT_EQ(timeline.endReason(), "callee busy");
  timeline.end(*timeline.endReason());
  EXPECT_EQ(lines.back(), "[CallFlow] OUTGOING alice · +0.00s (+0.00s) · ■ END — callee busy | never connected");
  EXPECT_EQ(timeline.endReason(), std::nullopt);
}

TEST_F(CallTimelineTest, EndWithoutATimelineWritesNothing) {
  timeline.end("nothing");
  timeline.begin("OUTGOING", "alice", "");
  timeline.end("first");
  const auto count = lines.size();
  timeline.end("second");
  EXPECT_EQ(lines.size(), count);
  timeline.noteEndReason("between calls");
  EXPECT_EQ(timeline.endReason(), std::nullopt);
}

TEST_F(CallTimelineTest, SecondConnectLogsAgainButKeepsTheFirstConnectTime) {
  timeline.begin("OUTGOING", "alice", "");
  timeline.markConnected("connected");
  clock.advance(5);
  timeline.markConnected("connected again");
  clock.advance(5);
  timeline.end("done");
  EXPECT_EQ(lines[2], "[CallFlow] OUTGOING alice · +5.00s (+5.00s) · connected again");
  EXPECT_EQ(lines.back(), "[CallFlow] OUTGOING alice · +10.00s (+5.00s) · ■ END — done | talk 10.0s");
}

TEST_F(CallTimelineTest, StepBetweenCallsStillWritesWithZeroTimes) {
  timeline.begin("OUTGOING", "alice", "");
  clock.advance(4);
  timeline.end("done");
  clock.advance(4);
  timeline.step("stray");
  EXPECT_EQ(lines.back(), "[CallFlow] OUTGOING alice · +0.00s (+0.00s) · stray");
}

}  // namespace
}  // namespace orvik

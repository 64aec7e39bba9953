#include "calls/media/sender_caps.h"

#include <gtest/gtest.h>

namespace orvik {
namespace {

struct CapsCase {
  const char* name;
  std::string kind, trackId;
  int maxBitrateBps;
  bool setsMaxFramerate;
  std::optional<double> maxFramerate;
  SenderPriority priority;
  double bitratePriority;
  std::optional<SenderDegradation> degradation;
};

class SenderCapsTest : public ::testing::TestWithParam<CapsCase> {};

TEST_P(SenderCapsTest, AudioIsProtectedAndVideoYields) {
  const CapsCase& c = GetParam();
  const auto caps = senderCaps(c.kind, c.trackId);
  ASSERT_TRUE(caps);
  EXPECT_EQ(caps->maxBitrateBps, c.maxBitrateBps);
  EXPECT_EQ(caps->setsMaxFramerate, c.setsMaxFramerate);
  EXPECT_EQ(caps->maxFramerate, c.maxFramerate);
  EXPECT_EQ(caps->networkPriority, c.priority);
  EXPECT_EQ(caps->bitratePriority, c.bitratePriority);
  EXPECT_EQ(caps->degradation, c.degradation);
}

INSTANTIATE_TEST_SUITE_P(
    Senders, SenderCapsTest,
    ::testing::Values(
        // Audio leaves the frame rate and the degradation preference alone.
        CapsCase{"Audio", "audio", "audio0", 24000, false, std::nullopt, SenderPriority::high, 4.0, std::nullopt},
        // The camera clears a frame-rate cap a screen share left behind.
        CapsCase{"Camera", "video", "video0", 1500000, true, std::nullopt, SenderPriority::low, 1.0,
                 SenderDegradation::maintainFramerate},
        CapsCase{"Screen", "video", "screen0", 2500000, true, 15.0, SenderPriority::low, 1.0,
                 SenderDegradation::maintainResolution},
        // Only the start of the id marks a screen track.
        CapsCase{"ScreenLaterInTheId", "video", "myscreen", 1500000, true, std::nullopt, SenderPriority::low, 1.0,
                 SenderDegradation::maintainFramerate}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(SenderCaps, OtherKindsAreNotCapped) {
  EXPECT_FALSE(senderCaps("data", "control"));
  EXPECT_FALSE(senderCaps("", "video0"));
}

TEST(SenderCaps, TheLogLineNamesTheVideoKind) {
  EXPECT_EQ(senderCapsLogLine("ICE connected", false),
            "[Media] sender caps applied (ICE connected) — audio 24 kbps high-priority, video camera 1.5 Mbps low-priority");
  EXPECT_EQ(senderCapsLogLine("test", true),
            "[Media] sender caps applied (test) — audio 24 kbps high-priority, video screen 2.5 Mbps/15fps low-priority");
}

}  // namespace
}  // namespace orvik

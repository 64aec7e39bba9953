#include "calls/signaling/call_event_parsers.h"

#include <gtest/gtest.h>

namespace orvik {
namespace {

using nlohmann::json;

TEST(ParseSDPPayload, ObjectsAndJsonTextWithTheInnerDeviceSourceFirst) {
  const json object = {{"type", "offer"}, {"sdp", "v=0"}, {"deviceSource", "inner"}};
  EXPECT_EQ(parseSDPPayload(object, "outer"), (SDPPayload{"offer", "v=0", "inner"}));
  EXPECT_EQ(parseSDPPayload(object.dump(), "outer"), (SDPPayload{"offer", "v=0", "inner"}));
  EXPECT_EQ(parseSDPPayload(json{{"type", "answer"}, {"sdp", "v=0"}}, "outer"), (SDPPayload{"answer", "v=0", "outer"}));
  EXPECT_EQ(parseSDPPayload(json{{"type", "answer"}, {"sdp", "v=0"}}), (SDPPayload{"answer", "v=0", std::nullopt}));
  for (const json& bad : {json("v=0\r\no=- 1 1 IN IP4 0.0.0.0"), json::object(), json{{"type", "offer"}},
                          json{{"type", 1}, {"sdp", "v=0"}}, json(nullptr), json::array(), json("[1]")}) {
    EXPECT_EQ(parseSDPPayload(bad), std::nullopt) << bad.dump();
  }
}

TEST(DeviceUdidFromAddress, EverythingAfterTheFirstUnderscore) {
  EXPECT_EQ(deviceUdidFromAddress("4711_ab_cd"), "ab_cd");
  EXPECT_EQ(deviceUdidFromAddress("4711_"), "");
  EXPECT_EQ(deviceUdidFromAddress("4711"), std::nullopt);
  EXPECT_EQ(deviceUdidFromAddress(std::nullopt), std::nullopt);
}

TEST(ParseCandidate, RequiresTheLineAndDefaultsTheRest) {
  const auto full = parseCandidate(json{{"candidate", "candidate:1"}, {"sdpMid", "0"}, {"sdpMLineIndex", 1}});
  ASSERT_TRUE(full);
  EXPECT_EQ(full->sdpMid, "0");
  EXPECT_EQ(full->sdpMLineIndex, 1);
  const auto bare = parseCandidate(json{{"candidate", "candidate:1"}, {"sdpMid", 5}});
  ASSERT_TRUE(bare);
  EXPECT_EQ(bare->sdpMid, std::nullopt);
  EXPECT_EQ(bare->sdpMLineIndex, 0);
  EXPECT_FALSE(parseCandidate(json{{"candidate", 3}}));
  EXPECT_FALSE(parseCandidate(json{{"sdpMid", "0"}}));
  EXPECT_FALSE(parseCandidate(json{{"candidate", "c"}, {"sdpMLineIndex", 5000000000LL}}));
}

TEST(ReadFlag, TrueOrTheInteger1) {
  const json message = {{"t", true}, {"one", 1}, {"text", "true"}, {"zero", 0}, {"two", 2}, {"f", false}};
  EXPECT_TRUE(readFlag(message, "t"));
  EXPECT_TRUE(readFlag(message, "one"));
  for (const char* key : {"text", "zero", "two", "f", "missing"}) EXPECT_FALSE(readFlag(message, key)) << key;
}

struct AgeCase {
  const char* name;
  json currentTime;
  json dateAdded;
  bool stale;
};

class PendingRecordAgeTest : public ::testing::TestWithParam<AgeCase> {};

TEST_P(PendingRecordAgeTest, StaleOnlyWhenTheAgeIsKnownAndOutOfRange) {
  EXPECT_EQ(isStalePendingRecord(pendingRecordAge(GetParam().currentTime, GetParam().dateAdded)), GetParam().stale);
}

INSTANTIATE_TEST_SUITE_P(
    Records, PendingRecordAgeTest,
    ::testing::Values(AgeCase{"HundredSeconds", 1700000100, 1700000000, true},
                      AgeCase{"Exactly75IsFresh", 1700000075, 1700000000, false},
                      AgeCase{"SeventyFiveAndAHalfIsStale", 1700000075500LL, 1700000000000LL, true},
                      AgeCase{"MillisecondsAgainstSeconds", 1700000074000LL, 1700000000, false},
                      AgeCase{"SeventySixAsText", "1700000076", "2023-11-14T22:13:20Z", true},
                      AgeCase{"ADayOldIsStale", 1700090000, 1700000000, true},
                      AgeCase{"DatedInTheFutureIsStale", 1700000000, 1700000100, true},
                      // A server clock ahead of the one that dated the record, within the window.
                      AgeCase{"FutureBy74IsFresh", 1700000000, 1700000074, false},
                      AgeCase{"FutureByExactly75IsFresh", 1700000000, 1700000075, false},
                      AgeCase{"FutureBy75AndAHalfIsStale", 1700000000000LL, 1700000075500LL, true},
                      // Dates the clock cannot hold are unreadable, so the age is unknown.
                      AgeCase{"CenturiesApartIsUnknown", "2250-01-01T00:00:00Z", "1700-01-01T00:00:00Z", false},
                      AgeCase{"BeyondTheClockIsUnknown", 1700000000, 9.0e10, false},
                      AgeCase{"SecondResolutionSlack", 1700000000, 1700000000500LL, false},
                      AgeCase{"UnreadableIsFresh", 1700000000, "yesterday", false},
                      AgeCase{"MissingIsFresh", 1700000000, nullptr, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ShouldApplyVideoUpgradeAnswer, OnlyOurOutstandingOfferFromTheCurrentPeerDevice) {
  EXPECT_TRUE(shouldApplyVideoUpgradeAnswer(true, "peer-1", "peer-1"));
  EXPECT_FALSE(shouldApplyVideoUpgradeAnswer(false, "peer-1", "peer-1"));
  EXPECT_FALSE(shouldApplyVideoUpgradeAnswer(true, "peer-1", "peer-2"));
  EXPECT_FALSE(shouldApplyVideoUpgradeAnswer(true, "peer-1", std::nullopt));
  EXPECT_TRUE(shouldApplyVideoUpgradeAnswer(true, std::nullopt, "peer-2"));
}

}  // namespace
}  // namespace orvik

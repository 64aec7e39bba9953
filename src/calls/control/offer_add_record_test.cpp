#include "calls/control/offer_add_record.h"

#include <gtest/gtest.h>

#include <set>

#include "calls/control/test_support/manager_harness.h"

namespace orvik {
namespace {

using nlohmann::json;

OfferAddRecordInputs inputs(bool isAudio, std::string displayName) {
  return OfferAddRecordInputs{"apns-token-1234567890", "4711", "deskA", "4712", std::move(displayName),
                              "https://a/ann.png", isAudio, "rabbit_6F9619FF-8B86-D011-B42D-00C04FC964FF",
                              1767225600123};
}

TEST(OfferAddRecord, AnAudioRecordMatchesTheWireFormatLevelByLevel) {
  const json record = buildOfferAddRecord(inputs(true, "Ann"));
  const json golden = json::parse(R"({
    "to": "4712", "from": "4711_deskA", "isAudio": true, "isAudioCall": true, "caller": "4711", "callerName": "Ann",
    "pushData": {
      "title": "4711", "message": "📞 is trying to call you.", "deviceToken": "apns-token-1234567890",
      "pushData": "{\"caller\":\"{\\\"OrvikNumber\\\":\\\"4711\\\",\\\"imHisFriend\\\":true,\\\"name\\\":\\\"Ann\\\",\\\"profileImage\\\":\\\"https://a/ann.png\\\"}\",\"dateAdded\":\"1767225600123\",\"deviceUDID\":\"deskA\",\"isAudio\":true}",
      "badge": "0", "userNumber": "4712"},
    "isNotificationEnabled": true,
    "pushToken": "rabbit_6F9619FF-8B86-D011-B42D-00C04FC964FF", "pushId": "rabbit_6F9619FF-8B86-D011-B42D-00C04FC964FF",
    "tokenBasePush": true, "pushType": "AudioCall", "status": "pending", "receiverName": "4712",
    "callerProfileImage": "https://a/ann.png", "callContainIDs": ["4712", "4711"], "isPushTokenV2": true
  })");
  EXPECT_EQ(record, golden) << record.dump(2);
  EXPECT_EQ(record.size(), 17u);
  // Two levels of quoting: level 3 is text, its "caller" is text again.
  const json level3 = json::parse(record["pushData"]["pushData"].get<std::string>());
  EXPECT_EQ(json::parse(level3["caller"].get<std::string>())["name"], "Ann");
}

TEST(OfferAddRecord, AVideoRecordWithoutADisplayNameUsesTheUserNumber) {
  const json record = buildOfferAddRecord(inputs(false, ""));
  EXPECT_EQ(record["pushType"], "VideoCall");
  EXPECT_EQ(record["isAudio"], false);
  EXPECT_EQ(record["callerName"], "4711");
  const json level3 = json::parse(record["pushData"]["pushData"].get<std::string>());
  EXPECT_EQ(level3["isAudio"], false);
  EXPECT_EQ(json::parse(level3["caller"].get<std::string>())["name"], "4711");
}

TEST(OfferAddRecord, TextThatIsNotUtf8BecomesAnEmptyObjectAtItsLevel) {
  auto in = inputs(true, "Ann");
  in.myDisplayName = "bad \xff name";
  const json record = buildOfferAddRecord(in);
  const json level3 = json::parse(record["pushData"]["pushData"].get<std::string>());
  EXPECT_EQ(level3["caller"], "{}");
}

TEST(OfferAddRecord, PushIdsAreFreshUpperCaseUuidsAfterTheWirePrefix) {
  std::set<std::string> seen;
  for (int i = 0; i < 50; ++i) {
    const auto id = makeOfferPushId();
    ASSERT_EQ(id.size(), 43u);
    EXPECT_TRUE(id.starts_with("rabbit_"));
    EXPECT_EQ(id.substr(7).find_first_of("abcdef"), std::string::npos) << id;
    seen.insert(id);
  }
  EXPECT_EQ(seen.size(), 50u);
}

TEST(OfferAddRecord, OnlyANonEmptyTextTokenBuildsARecord) {
  struct Row {
    const char* name;
    std::optional<json> device;
    bool built;
  };
  const std::vector<Row> rows = {
      {"no record", std::nullopt, false},
      {"no token", json{{"deviceUdid", "B"}}, false},
      {"empty token", json{{"deviceToken", ""}}, false},
      {"numeric token", json{{"deviceToken", 42}}, false},
      {"not an object", json::array({json{{"deviceToken", "t"}}}), false},
      {"text token", json{{"deviceToken", "apns-token-1234567890"}}, true},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    testing::ManagerHarness h;
    h.signIn();
    h.placeCall(CallType::video);
    h.manager->buildAddRecord(row.device);
    const auto& record = h.manager->state().call.outgoingAddRecord;
    EXPECT_EQ(record.has_value(), row.built);
    EXPECT_EQ(h.logged("[NativeCallMgr] buildAddRecord — skipped (no device token)"), !row.built);
    if (!record) continue;
    EXPECT_EQ((*record)["pushType"], "VideoCall");
    EXPECT_EQ((*record)["pushId"], (*record)["pushToken"]);
    EXPECT_TRUE(h.logged("[NativeCallMgr] addRecord built — token=apns-token-1… pushId=rabbit_"));
    const json level3 = json::parse((*record)["pushData"]["pushData"].get<std::string>());
    EXPECT_EQ(level3["dateAdded"].get<std::string>().size(), 13u);
  }
  // Without a session (and so without a remote party) nothing is built.
  testing::ManagerHarness idle;
  idle.signIn();
  idle.manager->buildAddRecord(json{{"deviceToken", "t"}});
  EXPECT_FALSE(idle.manager->state().call.outgoingAddRecord);
}

}  // namespace
}  // namespace orvik

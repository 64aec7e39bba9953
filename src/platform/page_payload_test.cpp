#include "platform/page_payload.h"

#include <gtest/gtest.h>

namespace orvik::platform {
namespace {

using nlohmann::json;

TEST(PagePayload, FlagsAreBooleansOrExactlyZeroAndOne) {
  const json payload = {{"t", true}, {"f", false}, {"one", 1}, {"zero", 0}, {"oneFloat", 1.0}, {"two", 2},
                        {"half", 0.5}, {"text", "true"}, {"null", nullptr}};
  EXPECT_EQ(payloadFlag(payload, "t"), true);
  EXPECT_EQ(payloadFlag(payload, "f"), false);
  EXPECT_EQ(payloadFlag(payload, "one"), true);
  EXPECT_EQ(payloadFlag(payload, "zero"), false);
  EXPECT_EQ(payloadFlag(payload, "oneFloat"), true);
  for (const char* absent : {"two", "half", "text", "null", "missing"}) {
    EXPECT_EQ(payloadFlag(payload, absent), std::nullopt) << absent;
  }
}

TEST(PagePayload, MistypedOrMissingValuesReadAsAbsent) {
  const json payload = {{"s", "x"}, {"n", 2.5}, {"i", 3}, {"b", true}, {"o", {{"k", 1}}}, {"a", {1, 2}}};
  EXPECT_EQ(payloadString(payload, "s"), "x");
  EXPECT_EQ(payloadString(payload, "n"), std::nullopt);
  EXPECT_EQ(payloadNumber(payload, "n"), 2.5);
  EXPECT_EQ(payloadNumber(payload, "i"), 3.0);
  EXPECT_EQ(payloadNumber(payload, "b"), std::nullopt);  // a boolean is never a number
  EXPECT_EQ(payloadInteger(payload, "i"), 3);
  EXPECT_EQ(payloadInteger(payload, "n"), std::nullopt);
  const json huge = json::parse(R"({"u": 18446744073709551615, "past": 1e19})");
  EXPECT_EQ(payloadInteger(huge, "u"), std::nullopt);
  EXPECT_EQ(payloadInteger(huge, "past"), std::nullopt);
  EXPECT_EQ(payloadObject(payload, "o"), (json{{"k", 1}}));
  EXPECT_EQ(payloadObject(payload, "a"), std::nullopt);
  EXPECT_EQ(payloadArray(payload, "a"), (json{1, 2}));
  EXPECT_EQ(payloadArray(payload, "o"), std::nullopt);
  // A payload that is not an object holds no keys at all.
  EXPECT_EQ(payloadString(json("s"), "s"), std::nullopt);
  EXPECT_EQ(payloadFlag(json::array({true}), "0"), std::nullopt);
}

}  // namespace
}  // namespace orvik::platform

#include "platform/json_limits.h"

#include <gtest/gtest.h>

#include <limits>

namespace orvik::platform {
namespace {

using nlohmann::json;

std::string nested(std::size_t depth, char open = '[', char close = ']') {
  return std::string(depth, open) + std::string(depth, close);
}

TEST(JsonLimits, NestingIsCountedOutsideStringsOnly) {
  struct Case {
    std::string text;
    std::size_t depth;
  };
  const Case cases[] = {
      {"1", 0},
      {"[]", 1},
      {"{\"a\":[1,{\"b\":[]}]}", 4},
      {"[\"[[[[\"]", 1},
      {"[\"\\\"[[[\"]", 1},  // an escaped quote does not end the string
      {"[\"\\\\\",[[]]]", 3},  // an escaped backslash does
      {"]]]]", 0},
      {nested(64), 64},
      {nested(65), 65},
      {nested(100000), 65},  // the scan stops past the limit
  };
  for (const auto& c : cases) EXPECT_EQ(jsonNestingDepth(c.text), c.depth) << c.text.substr(0, 40);
}

TEST(JsonLimits, OutsideTextBeyondTheDepthOrSizeIsRefusedUnparsed) {
  EXPECT_EQ(parseOutsideJson(nested(64), 1024), json::parse(nested(64)));
  EXPECT_EQ(parseOutsideJson(nested(65), 1024), std::nullopt);
  EXPECT_EQ(parseOutsideJson(nested(200000, '{', '}'), 1 << 20), std::nullopt);
  EXPECT_EQ(parseOutsideJson(nested(300000), 1 << 20), std::nullopt);
  EXPECT_EQ(parseOutsideJson("[1,2,3]", 7), json({1, 2, 3}));
  EXPECT_EQ(parseOutsideJson("[1,2,3]", 6), std::nullopt);
  EXPECT_EQ(parseOutsideJson("[1,", 100), std::nullopt);
  EXPECT_EQ(parseOutsideJson("", 100), std::nullopt);
}

TEST(JsonLimits, DescribingAValueStopsAtTheDepthLimit) {
  EXPECT_EQ(describeJson(json{{"a", {1, "\xff"}}}), "{\"a\":[1,\"\xEF\xBF\xBD\"]}");
  const json shallow = json::parse(nested(64));
  EXPECT_EQ(describeJson(shallow), nested(64));
  // Built in code, as a value handed on by anything that skipped the parse check.
  json deep = json::array();
  for (int i = 0; i < 200000; ++i) deep = json::array({std::move(deep)});
  EXPECT_EQ(describeJson(deep), "<nested too deeply>");
  EXPECT_TRUE(isNestedDeeperThan(deep));
  EXPECT_FALSE(isNestedDeeperThan(shallow));
}

TEST(JsonLimits, IntegersBeyondSixtyFourBitsAreAbsent) {
  struct Case {
    json value;
    std::optional<std::int64_t> integer;
    std::optional<std::int64_t> integerPart;
  };
  constexpr auto kMax = std::numeric_limits<std::int64_t>::max();
  constexpr auto kMin = std::numeric_limits<std::int64_t>::min();
  const Case cases[] = {
      {json(42), 42, 42},
      {json(-7), -7, -7},
      {json::parse("9223372036854775807"), kMax, kMax},
      {json::parse("-9223372036854775808"), kMin, kMin},
      {json::parse("9223372036854775808"), std::nullopt, std::nullopt},   // unsigned, past the signed range
      {json::parse("18446744073709551615"), std::nullopt, std::nullopt},
      {json::parse("18446744073709551616"), std::nullopt, std::nullopt},  // beyond 64 bits: a double
      {json::parse("-1e19"), std::nullopt, std::nullopt},
      {json::parse("1e300"), std::nullopt, std::nullopt},
      {json(42.9), std::nullopt, 42},
      {json(-42.9), std::nullopt, -42},
      {json(9223372036854775808.0), std::nullopt, std::nullopt},
      {json(-9223372036854775808.0), std::nullopt, kMin},
      {json(std::numeric_limits<double>::infinity()), std::nullopt, std::nullopt},
      {json(std::numeric_limits<double>::quiet_NaN()), std::nullopt, std::nullopt},
      {json("42"), std::nullopt, std::nullopt},
      {json(true), std::nullopt, std::nullopt},
      {json(nullptr), std::nullopt, std::nullopt},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(jsonInteger(c.value), c.integer) << c.value.dump();
    EXPECT_EQ(jsonIntegerPart(c.value), c.integerPart) << c.value.dump();
  }
}

}  // namespace
}  // namespace orvik::platform

#include "updater/app_update_info.h"

#include <gtest/gtest.h>

namespace orvik {
namespace {

constexpr const char* kFullFeed =
    R"({"version":"2.4.0","buildVersion":"240","downloadUrl":"https://u.example/a.tar","releaseNotes":"Fixes","sha256":"AB12"})";

TEST(AppUpdateInfoTest, DecodesEveryFieldOfAFullFeed) {
  const auto info = decodeAppUpdateInfo(kFullFeed);
  ASSERT_TRUE(info);
  EXPECT_EQ(*info, (AppUpdateInfo{"2.4.0", "240", "https://u.example/a.tar", "Fixes", std::string("AB12")}));
}

struct DecodeCase {
  const char* name;
  const char* body;
  bool valid;
  std::optional<std::string> sha256;
};

class AppUpdateInfoDecodeTest : public ::testing::TestWithParam<DecodeCase> {};

TEST_P(AppUpdateInfoDecodeTest, AcceptsOnlyWellTypedFeeds) {
  const auto& c = GetParam();
  const auto info = decodeAppUpdateInfo(c.body);
  ASSERT_EQ(info.has_value(), c.valid) << c.body;
  if (info) {
    EXPECT_EQ(info->sha256, c.sha256);
  }
}

#define FEED(extra) R"({"version":"1","buildVersion":"2","downloadUrl":"https://h/x","releaseNotes":"n")" extra "}"
INSTANTIATE_TEST_SUITE_P(
    Table, AppUpdateInfoDecodeTest,
    ::testing::Values(
        DecodeCase{"noChecksum", FEED(""), true, std::nullopt},
        DecodeCase{"nullChecksum", FEED(R"(,"sha256":null)"), true, std::nullopt},
        DecodeCase{"emptyChecksumKeptEmpty", FEED(R"(,"sha256":"")"), true, std::string()},
        DecodeCase{"unknownKeysIgnored", FEED(R"(,"channel":{"a":[1,2]},"minimumOS":7)"), true, std::nullopt},
        DecodeCase{"numericChecksum", FEED(R"(,"sha256":12)"), false, std::nullopt},
        DecodeCase{"objectChecksum", FEED(R"(,"sha256":{})"), false, std::nullopt},
        DecodeCase{"missingReleaseNotes",
                   R"({"version":"1","buildVersion":"2","downloadUrl":"https://h/x"})", false, std::nullopt},
        DecodeCase{"nullVersion",
                   R"({"version":null,"buildVersion":"2","downloadUrl":"https://h/x","releaseNotes":"n"})", false,
                   std::nullopt},
        DecodeCase{"numericBuild",
                   R"({"version":"1","buildVersion":2,"downloadUrl":"https://h/x","releaseNotes":"n"})", false,
                   std::nullopt},
        DecodeCase{"arrayURL",
                   R"({"version":"1","buildVersion":"2","downloadUrl":["https://h/x"],"releaseNotes":"n"})", false,
                   std::nullopt},
        DecodeCase{"topLevelArray", R"([{"version":"1"}])", false, std::nullopt},
        DecodeCase{"topLevelString", R"("version")", false, std::nullopt},
        DecodeCase{"htmlErrorPage", "<html><body>404 Not Found</body></html>", false, std::nullopt},
        DecodeCase{"truncatedJSON", R"({"version":"1","buildVersion":"2","downloadUrl":"https://h/x","relea)",
                   false, std::nullopt},
        DecodeCase{"trailingGarbage", FEED("") "}", false, std::nullopt},
        DecodeCase{"emptyBody", "", false, std::nullopt},
        DecodeCase{"invalidUTF8", "{\"version\":\"\xff\xfe\",\"buildVersion\":\"2\"}", false, std::nullopt},
        DecodeCase{"deepNesting", "[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[]]]]", false,
                   std::nullopt}),
    [](const auto& info) { return std::string(info.param.name); });
#undef FEED

struct CompareCase {
  const char* remote;
  const char* running;
  bool newer;
};

class BuildComparisonTest : public ::testing::TestWithParam<CompareCase> {};

TEST_P(BuildComparisonTest, OrdersDigitRunsByValue) {
  const auto& c = GetParam();
  EXPECT_EQ(isNewerBuild(c.remote, c.running), c.newer) << c.remote << " vs " << c.running;
}

INSTANTIATE_TEST_SUITE_P(Table, BuildComparisonTest,
                         ::testing::Values(CompareCase{"10", "9", true}, CompareCase{"9", "10", false},
                                           CompareCase{"1.10", "1.9", true}, CompareCase{"1.9", "1.10", false},
                                           CompareCase{"240", "240", false}, CompareCase{"1", "0", true},
                                           CompareCase{"0", "0", false}, CompareCase{"1.2.1", "1.2", true},
                                           CompareCase{"1.2", "1.2.1", false}, CompareCase{"007", "7", false},
                                           CompareCase{"b2", "a9", true}, CompareCase{"B2", "a2", false},
                                           CompareCase{"99999999999999999999999", "99999999999999999999998", true},
                                           CompareCase{"18446744073709551616", "18446744073709551615", true},
                                           CompareCase{"2-rc1", "2", true}, CompareCase{"", "0", false}));

TEST(BuildComparisonTest, IsAntisymmetric) {
  const char* builds[] = {"9", "10", "1.9", "1.10", "007", "7", "a", "b2", "", "0.0.1"};
  for (const char* a : builds) {
    for (const char* b : builds) {
      EXPECT_EQ(compareBuildNumbers(a, b), -compareBuildNumbers(b, a)) << a << " vs " << b;
    }
  }
}

}  // namespace
}  // namespace orvik

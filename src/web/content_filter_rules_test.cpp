#include "web/content_filter_rules.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace orvik {
namespace {

namespace filter = web_content_filter;

TEST(WebContentFilter, BlocksEveryRawLoadFirstThenLiftsTheBlockInOrder) {
  const auto rules = nlohmann::json::parse(filter::rulesJSON(std::nullopt));
  ASSERT_EQ(rules.size(), 19u);
  for (const auto& rule : rules) {
    ASSERT_EQ(rule.size(), 2u);
    EXPECT_EQ(rule["trigger"]["resource-type"], nlohmann::json::array({"raw"}));
    EXPECT_EQ(rule["trigger"].size(), 2u);
    EXPECT_EQ(rule["action"].size(), 1u);
  }
  EXPECT_EQ(rules[0]["trigger"]["url-filter"], ".*");
  EXPECT_EQ(rules[0]["action"]["type"], "block");
  EXPECT_EQ(rules[1]["trigger"]["url-filter"], "^orvikupload:");
  EXPECT_EQ(rules[4]["trigger"]["url-filter"], "^data:");
  EXPECT_EQ(rules[5]["trigger"]["url-filter"], R"(^[a-z]+://([^/]+\.)?orvikdesk\.example[:/])");
  for (std::size_t i = 1; i < rules.size(); ++i) EXPECT_EQ(rules[i]["action"]["type"], "ignore-previous-rules");
  EXPECT_EQ(filter::trustedHostPatterns.size(), 14u);
}

TEST(WebContentFilter, TheStartURLAddsARuleOnlyForAPlainHost) {
  struct Case {
    std::optional<std::string> url;
    std::optional<std::string> pattern;
  };
  const std::vector<Case> cases = {
      {"https://App.Orvik.TEST:4443/x?y", R"(app\.orvik\.test)"},
      {"https://127.0.0.1:40443/", R"(127\.0\.0\.1)"},
      {"file:///home/u/index.html", std::nullopt},
      {"https://bad_host.example/", std::nullopt},
      {"not a url", std::nullopt},
      {std::nullopt, std::nullopt},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(filter::startHostPattern(c.url), c.pattern) << c.url.value_or("(none)");
    const auto rules = nlohmann::json::parse(filter::rulesJSON(c.url));
    ASSERT_EQ(rules.size(), c.pattern ? 20u : 19u);
    if (c.pattern) {
      EXPECT_EQ(rules[19]["trigger"]["url-filter"], "^[a-z]+://" + *c.pattern + "[:/]");
    }
  }
}

}  // namespace
}  // namespace orvik

#include "core/service_config.h"

#include <gtest/gtest.h>

#include "platform/test_support/temp_dir.h"

namespace orvik {
namespace {

using testing::TempDir;

constexpr const char* kPin = "XN7p+p2K9oxHnWDGaDvEHu3y2KiQ3tTC/x/uvA4QomY=";

class ServiceConfigTest : public ::testing::Test {
 protected:
  std::optional<ServiceConfig> loadText(const std::string& text) {
    TempDir::writeFile(file_, text);
    return ServiceConfig::load(file_, error_);
  }
  TempDir dir_;
  std::filesystem::path file_ = dir_ / "service.json";
  std::string error_;
};

TEST_F(ServiceConfigTest, OverrideReplacesOnlyTheKeysItHolds) {
  const auto config = loadText(R"({"webAppURL": "https://127.0.0.1:4443/", "webHosts": ["127.0.0.1"],
      "pinnedWebHost": "127.0.0.1", "webPins": [")" + std::string(kPin) + R"("],
      "extraCAFile": "/tmp/ca.pem", "contentHostURL": "http://127.0.0.1:8081", "someLaterKey": 3})");
  ASSERT_TRUE(config) << error_;
  EXPECT_EQ(config->webAppURL, "https://127.0.0.1:4443/");
  EXPECT_EQ(config->webHosts, std::vector<std::string>{"127.0.0.1"});
  EXPECT_EQ(config->pinnedWebHost, "127.0.0.1");
  EXPECT_EQ(config->webPins, std::vector<std::string>{kPin});
  EXPECT_EQ(config->extraCAFile, "/tmp/ca.pem");
  EXPECT_EQ(config->contentHostURL, "http://127.0.0.1:8081");
  EXPECT_EQ(config->callServerURL, ServiceConfig::defaults().callServerURL);
  EXPECT_EQ(config->updatePins, ServiceConfig::defaults().updatePins);
}

TEST_F(ServiceConfigTest, MalformedFilesNameTheFileAndTheKey) {
  struct Case {
    std::string text;
    std::string key;
  };
  const std::vector<Case> cases = {
      {R"({"webAppURL": 3})", "\"webAppURL\""},
      {R"({"webAppURL": ""})", "\"webAppURL\""},
      {R"({"webHosts": "127.0.0.1"})", "\"webHosts\""},
      {R"({"webHosts": ["127.0.0.1", 4]})", "\"webHosts\""},
      {R"({"webPins": ["not a pin"]})", "\"webPins\""},
      {R"({"updatePins": ["AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA"]})", "\"updatePins\""},
      {R"({"extraCAFile": "relative/ca.pem"})", "\"extraCAFile\""},
      {R"({"callServerURL": null})", "\"callServerURL\""},
      {R"({"contentHostURL": 1})", "\"contentHostURL\""},
      {R"([1, 2])", "not a JSON object"},
      {R"({"webAppURL": )", "not a JSON object"},
  };
  for (const auto& c : cases) {
    error_.clear();
    EXPECT_FALSE(loadText(c.text)) << c.text;
    EXPECT_NE(error_.find(file_.string()), std::string::npos) << error_;
    EXPECT_NE(error_.find(c.key), std::string::npos) << c.text << " → " << error_;
  }
}

TEST_F(ServiceConfigTest, AMissingFileIsAnError) {
  EXPECT_FALSE(ServiceConfig::load(dir_ / "absent.json", error_));
  EXPECT_NE(error_.find("absent.json"), std::string::npos);
}

TEST(ServiceConfig, TheFixedCallServerIsASecureHostWithoutPath) {
  const std::string url = ServiceConfig::defaults().callServerURL;
  EXPECT_EQ(url.rfind("https://", 0), 0u);
  EXPECT_EQ(url.find('/', 8), std::string::npos);
}

TEST(ServiceConfig, DefaultsHoldFourWellFormedPinsAndThePinnedHostIsTrusted) {
  const auto config = ServiceConfig::defaults();
  EXPECT_EQ(config.webPins.size(), 4u);
  EXPECT_EQ(config.webHosts.size(), 3u);
  EXPECT_TRUE(isTrustedWebHost(config.webHosts, config.pinnedWebHost, false));
}

TEST(ServiceConfig, TrustedHostsMatchExactlyAndLoopbackOnlyWhenTheBuildAllowsIt) {
  const std::vector<std::string> hosts = {"app.orvikdesk.example"};
  EXPECT_TRUE(isTrustedWebHost(hosts, "app.orvikdesk.example", false));
  for (const char* host : {"APP.orvikdesk.example", "evil.app.orvikdesk.example", "app.orvikdesk.example.evil",
                           "orvikdesk.example", ""}) {
    EXPECT_FALSE(isTrustedWebHost(hosts, host, true)) << host;
  }
  for (const char* host : {"127.0.0.1", "localhost"}) {
    EXPECT_FALSE(isTrustedWebHost(hosts, host, false)) << host;
    EXPECT_TRUE(isTrustedWebHost(hosts, host, true)) << host;
  }
  EXPECT_FALSE(isTrustedWebHost(hosts, "127.0.0.2", true));
  EXPECT_EQ(ServiceConfig::defaults().isTrustedWebHost("127.0.0.1"), serviceOverrideBuild());
}

}  // namespace
}  // namespace orvik

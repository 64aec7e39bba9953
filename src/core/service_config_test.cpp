#include "core/service_config.h"

#include <gtest/gtest.h>

#include "platform/test_support/temp_dir.h"

namespace orvik {
namespace {

using orvik::testing::TempDir;

TEST(ServiceConfig, TheOverrideFileReplacesTheKeysItNames) {
  TempDir dir;
  TempDir::writeFile(dir / "service.json", R"({"callServerURL":"http://127.0.0.1:4000","webAppURL":"https://x"})");
  std::string error;
  const auto config = ServiceConfig::load(dir / "service.json", error);
  ASSERT_TRUE(config) << error;
  EXPECT_EQ(config->callServerURL, "http://127.0.0.1:4000");

  TempDir::writeFile(dir / "empty.json", "{}");
  EXPECT_EQ(ServiceConfig::load(dir / "empty.json", error)->callServerURL, ServiceConfig::defaults().callServerURL);
}

TEST(ServiceConfig, ABadFileIsRefusedNamingTheFileAndTheKey) {
  TempDir dir;
  struct Case {
    const char* contents;
    const char* errorPart;
  };
  const Case cases[] = {
      {"[1]", "not a JSON object"},
      {"{broken", "not a JSON object"},
      {R"({"callServerURL": 5})", "\"callServerURL\""},
      {R"({"callServerURL": ""})", "\"callServerURL\""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.contents);
    TempDir::writeFile(dir / "service.json", c.contents);
    std::string error;
    EXPECT_FALSE(ServiceConfig::load(dir / "service.json", error));
    EXPECT_NE(error.find((dir / "service.json").string()), std::string::npos) << error;
    EXPECT_NE(error.find(c.errorPart), std::string::npos) << error;
  }
  std::string error;
  EXPECT_FALSE(ServiceConfig::load(dir / "missing.json", error));
  EXPECT_NE(error.find("cannot be read"), std::string::npos);
}

TEST(ServiceConfig, TheFixedCallServerIsASecureHostWithoutPath) {
  const std::string url = ServiceConfig::defaults().callServerURL;
  EXPECT_EQ(url.rfind("https://", 0), 0u);
  EXPECT_EQ(url.find('/', 8), std::string::npos);
}

}  // namespace
}  // namespace orvik

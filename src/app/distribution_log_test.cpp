#include "app/distribution_log.h"

#include <gtest/gtest.h>

#include "app/testing/log_capture.h"
#include "platform/test_support/temp_dir.h"

namespace orvik {
namespace {

class DistributionLogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setDistributionSystemLog([this](const std::string& message) { systemLog.push_back(message); });
  }
  void TearDown() override { setDistributionSystemLog(nullptr); }

  DistributionFacts facts(std::optional<std::string> marker, bool installer) {
    return {std::move(marker), "com.orvik.desk", "1.4.2", "142", installer};
  }

  orvik::testing::LogCapture log;
  std::vector<std::string> systemLog;
};

TEST_F(DistributionLogTest, AMatchingMarkerLogsOneLineAndNoError) {
  logDistributionSelfCheck(facts("bucket", true));
  const std::string line =
      "build=bucket (Info.plist marker=bucket) id=com.orvik.desk v1.4.2 (142) | self-updater compiled in: true | "
      "OrvikInstaller embedded: true";
  EXPECT_EQ(log.lines(), std::vector<std::string>{"[Distribution] " + line});
  EXPECT_EQ(systemLog, std::vector<std::string>{line});
}

TEST_F(DistributionLogTest, AMissingOrForeignMarkerIsReportedAsAnError) {
  for (const std::optional<std::string>& marker : {std::optional<std::string>(), std::optional<std::string>("store")}) {
    orvik::testing::LogCapture caseLog;
    logDistributionSelfCheck(facts(marker, false));
    const std::string shown = marker.value_or("missing");
    const auto lines = caseLog.lines("log");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("(Info.plist marker=" + shown + ")"), std::string::npos) << lines[0];
    EXPECT_NE(lines[0].find("| OrvikInstaller embedded: false"), std::string::npos) << lines[0];
    EXPECT_EQ(caseLog.lines("error"), std::vector<std::string>{"[Distribution] Info.plist marker '" + shown +
                                                               "' does not match compiled build 'bucket'"});
  }
}

TEST_F(DistributionLogTest, MutedCallChatterStillReachesTheSystemLogOnly) {
  logDistribution("[Signaling] connected");
  EXPECT_TRUE(log.lines().empty());
  EXPECT_EQ(systemLog, std::vector<std::string>{"[Signaling] connected"});
}

TEST(DistributionMarker, IsTheFirstLineOfThePackagedFile) {
  orvik::testing::TempDir dir;
  EXPECT_EQ(readDistributionMarker(dir.path()), std::nullopt);
  orvik::testing::TempDir::writeFile(dir / "distribution", "  bucket \nother\n");
  EXPECT_EQ(readDistributionMarker(dir.path()), "bucket");
  orvik::testing::TempDir::writeFile(dir / "distribution", "\n");
  EXPECT_EQ(readDistributionMarker(dir.path()), std::nullopt);
}

TEST(DistributionMarker, ShipsWithTheCompiledFlavour) {
  EXPECT_EQ(readDistributionMarker(std::filesystem::path(ORVIK_SOURCE_DIR) / "resources"), kCompiledDistribution);
}

}  // namespace
}  // namespace orvik

#include "app/instance_settler.h"

#include <glib.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "app/instance_bus.h"
#include "app/launch_steps.h"
#include "app/testing/log_capture.h"
#include "platform/test_support/temp_dir.h"

namespace orvik {
namespace {

TEST(CompareVersionsNumerically, OrdersDigitRunsAsNumbers) {
  struct Case {
    const char* a;
    const char* b;
    int order;
  };
  const Case cases[] = {
      {"1.10", "1.9", 1}, {"1.9", "1.10", -1}, {"2.0", "2.0", 0},   {"2.0.1", "2.0", 1},
      {"1.02", "1.2", 0}, {"10", "9", 1},      {"1.0b2", "1.0b10", -1}, {"1.0", "1.0a", -1},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(compareVersionsNumerically(c.a, c.b), c.order) << c.a << " vs " << c.b;
  }
}

class FakeChannel final : public RunningInstanceChannel {
 public:
  std::optional<OtherInstance> findOther() override { return other; }
  void askToQuit() override { calls.push_back("askToQuit"); }
  bool waitForExit(double seconds) override {
    calls.push_back("wait " + std::to_string(static_cast<int>(seconds)));
    if (exitsAfterAsking && calls.size() == 2) return true;
    return forced && exitsAfterForce;
  }
  void forceTerminate() override {
    calls.push_back("forceTerminate");
    forced = true;
  }

  std::optional<OtherInstance> other;
  bool exitsAfterAsking = true;
  bool exitsAfterForce = true;
  bool forced = false;
  std::vector<std::string> calls;
};

TEST(InstanceSettler, WithNoOtherInstanceTheLaunchGoesOn) {
  FakeChannel channel;
  EXPECT_EQ(InstanceSettler(channel, "2.0").settle(), InstanceSettlement::noOtherInstance);
  EXPECT_TRUE(channel.calls.empty());
}

TEST(InstanceSettler, AnEqualOlderOrUnknownCopyHandsBackWithoutDisturbingTheRunningOne) {
  const std::pair<const char*, const char*> cases[] = {{"2.0", "2.0"}, {"1.9", "1.10"}, {"2.0", ""}, {"", "1.0"}};
  for (const auto& [own, running] : cases) {
    FakeChannel channel;
    channel.other = OtherInstance{running, "/opt/orvikdesk/orvikdesk"};
    EXPECT_EQ(InstanceSettler(channel, own).settle(), InstanceSettlement::handBack) << own << " vs " << running;
    EXPECT_TRUE(channel.calls.empty());
  }
}

TEST(InstanceSettler, ANewerCopyAsksTheOldOneToQuitAndGoesOn) {
  orvik::testing::LogCapture log;
  FakeChannel channel;
  channel.other = OtherInstance{"1.9", "/opt/orvikdesk/orvikdesk"};
  EXPECT_EQ(InstanceSettler(channel, "1.10").settle(), InstanceSettlement::tookOver);
  EXPECT_EQ(channel.calls, (std::vector<std::string>{"askToQuit", "wait 3"}));
  EXPECT_EQ(log.lines(), (std::vector<std::string>{
                             "[NATIVE] [Launch] another instance running (v1.9, /opt/orvikdesk/orvikdesk) — taking over "
                             "(storeOverWebsite=false newerBuild=true)",
                             "[NATIVE] [Launch] old instance closed — continuing launch"}));
}

TEST(InstanceSettler, AnOldInstanceThatIgnoresTheRequestIsEndedOnlyAfterTheGracePeriod) {
  FakeChannel channel;
  channel.other = OtherInstance{"1.0", std::nullopt};
  channel.exitsAfterAsking = false;
  orvik::testing::LogCapture log;
  EXPECT_EQ(InstanceSettler(channel, "2.0").settle(), InstanceSettlement::tookOver);
  EXPECT_EQ(channel.calls, (std::vector<std::string>{"askToQuit", "wait 3", "forceTerminate", "wait 2"}));
  EXPECT_TRUE(log.contains(
      "[NATIVE] [Launch] another instance running (v1.0, ?) — taking over (storeOverWebsite=false newerBuild=true)"));
}

TEST(InstanceSettler, AnOldInstanceThatCannotBeEndedIsHandedBackTo) {
  FakeChannel channel;
  channel.other = OtherInstance{"1.0", std::nullopt};
  channel.exitsAfterAsking = false;
  channel.exitsAfterForce = false;
  orvik::testing::LogCapture log;
  EXPECT_EQ(InstanceSettler(channel, "2.0").settle(), InstanceSettlement::handBack);
  EXPECT_TRUE(log.contains("[NATIVE] [Launch] could not close the other instance — handing back to it"));
}

TEST(InstanceBus, TheObjectPathIsTheOneGApplicationDerives) {
  EXPECT_EQ(applicationObjectPath("com.orvik.desk"), "/com/orvik/desk");
  EXPECT_EQ(applicationObjectPath("org.example.my-app"), "/org/example/my_app");
}

TEST(ReadOnlyImage, OnlyAReadOnlyMountUnderTheTemporaryFolderCounts) {
  orvik::testing::TempDir dir;
  const auto writableMount = std::filesystem::path(g_get_tmp_dir()) / (".mount_orvik" + dir.path().filename().string());
  std::filesystem::create_directories(writableMount);
  EXPECT_FALSE(isRunningFromReadOnlyImage(writableMount));  // a writable folder of that name is no image
  std::filesystem::remove(writableMount);
  EXPECT_FALSE(isRunningFromReadOnlyImage("/usr/lib/orvikdesk"));
  EXPECT_FALSE(isRunningFromReadOnlyImage(dir.path()));
}

}  // namespace
}  // namespace orvik

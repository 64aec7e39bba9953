#include "core/launch_at_login_manager.h"

#include <gtest/gtest.h>

#include "platform/fake_login_item.h"
#include "platform/test_support/temp_dir.h"

namespace orvik {
namespace {

using platform::LoginItemStatus;

constexpr const char* kPath = "/usr/lib/orvikdesk";
constexpr const char* kKey = LaunchAtLoginManager::lastRegisteredPathKey;

struct Line {
  std::string level;
  std::string message;
  bool operator==(const Line&) const = default;
};
std::ostream& operator<<(std::ostream& out, const Line& line) { return out << line.level << ": " << line.message; }

class LaunchAtLoginManagerTest : public ::testing::Test {
 protected:
  void run(const std::string& appPath = kPath) {
    LaunchAtLoginManager manager(item, defaults, appPath, [this](std::string_view message, std::string_view level) {
      lines.push_back({std::string(level), std::string(message)});
    });
    manager.registerLaunchAtLogin();
  }

  orvik::testing::TempDir dir;
  platform::UserDefaults defaults{dir / "defaults.json"};
  platform::FakeLoginItem item;
  std::vector<Line> lines;
};

TEST_F(LaunchAtLoginManagerTest, FirstLaunchRegistersAndRemembersThePath) {
  run();
  EXPECT_EQ(item.unregisters, 0);
  EXPECT_EQ(item.registers, 1);
  EXPECT_EQ(defaults.string(kKey), kPath);
  EXPECT_EQ(lines, (std::vector<Line>{{"log", "Current status: notRegistered"},
                                      {"log", "App path: /usr/lib/orvikdesk"},
                                      {"log", "Registered successfully from: /usr/lib/orvikdesk"}}));
}

TEST_F(LaunchAtLoginManagerTest, EnabledAtTheRememberedPathIsLeftAlone) {
  item.currentStatus = LoginItemStatus::enabled;
  defaults.setString(kKey, kPath);
  run();
  EXPECT_EQ(item.registers + item.unregisters, 0);
  EXPECT_EQ(lines.back(), (Line{"log", "Already enabled at the current path — skipping re-register"}));
}

TEST_F(LaunchAtLoginManagerTest, AnEntryOfAnotherCopyIsReplaced) {
  for (const std::optional<std::string>& remembered : {std::optional<std::string>(), std::optional<std::string>("/opt/old")}) {
    platform::FakeLoginItem fresh;
    item = fresh;
    item.currentStatus = LoginItemStatus::enabled;
    if (remembered) defaults.setString(kKey, *remembered); else defaults.remove(kKey);
    lines.clear();
    run();
    EXPECT_EQ(item.unregisters, 1);
    EXPECT_EQ(item.registers, 1);
    EXPECT_EQ(defaults.string(kKey), kPath);
    EXPECT_EQ(lines, (std::vector<Line>{{"log", "Current status: enabled"},
                                        {"log", "App path: /usr/lib/orvikdesk"},
                                        {"log", "Unregistered old entry"},
                                        {"log", "Registered successfully from: /usr/lib/orvikdesk"}}));
  }
}

TEST_F(LaunchAtLoginManagerTest, FailuresAreLoggedAndLeaveTheRememberedPath) {
  item.currentStatus = LoginItemStatus::enabled;
  defaults.setString(kKey, "/opt/old");
  item.unregisterError = "Could not remove it";
  item.registerError = "Could not write it";
  run();
  EXPECT_EQ(item.registers, 1) << "a failed unregister does not stop the register";
  EXPECT_EQ(defaults.string(kKey), "/opt/old");
  EXPECT_EQ(lines[2], (Line{"error", "Unregister failed: Could not remove it"}));
  EXPECT_EQ(lines[3], (Line{"error", "Registration failed: Could not write it"}));
}

TEST_F(LaunchAtLoginManagerTest, EveryStatusButEnabledRegistersAgain) {
  for (auto status : {LoginItemStatus::requiresApproval, LoginItemStatus::notFound, static_cast<LoginItemStatus>(7)}) {
    item.currentStatus = status;
    lines.clear();
    const int before = item.registers;
    run();
    EXPECT_EQ(item.registers, before + 1);
  }
  EXPECT_EQ(lines.front(), (Line{"log", "Current status: unknown(7)"}));
  EXPECT_EQ(LaunchAtLoginManager::statusName(LoginItemStatus::requiresApproval), "requiresApproval");
  EXPECT_EQ(LaunchAtLoginManager::statusName(LoginItemStatus::notFound), "notFound");
}

TEST_F(LaunchAtLoginManagerTest, ATranslocatedCopyRegistersNothing) {
  run("/private/var/folders/x/AppTranslocation/ABC/d/Orvik.app");
  EXPECT_EQ(item.registers + item.unregisters, 0);
  EXPECT_EQ(lines.back(), (Line{"warn", "App is translocated — skipping registration. Run: xattr -cr "
                                        "/Applications/Orvik-Reveraraz.app"}));
}

}  // namespace
}  // namespace orvik

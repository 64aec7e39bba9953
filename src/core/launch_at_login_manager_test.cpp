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
  void run(const std::string& appPath = kPath, bool installed = true) {
    LaunchAtLoginManager manager(item, defaults, appPath, installed,
                                 [this](std::string_view message, std::string_view level) {
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

// What the user did to the entry outlives launches: only a first run, or an
// enabled entry of another copy, leads to a register.
TEST_F(LaunchAtLoginManagerTest, TheUsersChoiceIsKept) {
  struct Case {
    LoginItemStatus status;
    std::optional<std::string> remembered;
    int registers;
    int unregisters;
    std::string lastLine;
  };
  const std::string registered = "Registered successfully from: /usr/lib/orvikdesk";
  const std::string switchedOff = "Switched off by the user — leaving it off";
  const std::string removed = "Removed by the user — leaving it off";
  const Case cases[] = {
      {LoginItemStatus::notRegistered, std::nullopt, 1, 0, registered},
      {LoginItemStatus::notRegistered, kPath, 0, 0, removed},
      {LoginItemStatus::notRegistered, "/opt/old", 0, 0, removed},
      {LoginItemStatus::requiresApproval, std::nullopt, 0, 0, switchedOff},
      {LoginItemStatus::requiresApproval, kPath, 0, 0, switchedOff},
      {LoginItemStatus::requiresApproval, "/opt/old", 0, 0, switchedOff},
      {LoginItemStatus::notFound, std::nullopt, 1, 0, registered},
      {LoginItemStatus::notFound, kPath, 0, 0, removed},
      {static_cast<LoginItemStatus>(7), std::nullopt, 1, 0, registered},
      {LoginItemStatus::enabled, kPath, 0, 0, "Already enabled at the current path — skipping re-register"},
      {LoginItemStatus::enabled, "/opt/old", 1, 1, registered},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(LaunchAtLoginManager::statusName(c.status) + " " + c.remembered.value_or("(none)"));
    item = platform::FakeLoginItem();
    item.currentStatus = c.status;
    if (c.remembered) defaults.setString(kKey, *c.remembered); else defaults.remove(kKey);
    lines.clear();
    run();
    EXPECT_EQ(item.registers, c.registers);
    EXPECT_EQ(item.unregisters, c.unregisters);
    EXPECT_EQ(lines.back().message, c.lastLine);
    EXPECT_EQ(defaults.string(kKey), c.registers ? std::optional<std::string>(kPath) : c.remembered);
  }
  EXPECT_EQ(LaunchAtLoginManager::statusName(static_cast<LoginItemStatus>(7)), "unknown(7)");
  EXPECT_EQ(LaunchAtLoginManager::statusName(LoginItemStatus::requiresApproval), "requiresApproval");
  EXPECT_EQ(LaunchAtLoginManager::statusName(LoginItemStatus::notFound), "notFound");
}

TEST_F(LaunchAtLoginManagerTest, ABuildTreeProgramRegistersNothing) {
  for (auto status : {LoginItemStatus::notRegistered, LoginItemStatus::enabled}) {
    item.currentStatus = status;
    lines.clear();
    run("/home/dev/orvikdesk/build/src/app", false);
    EXPECT_EQ(item.registers + item.unregisters, 0);
    EXPECT_FALSE(defaults.string(kKey));
    EXPECT_EQ(lines.back(), (Line{"warn", "Not an installed copy — skipping registration"}));
  }
}

TEST_F(LaunchAtLoginManagerTest, ATranslocatedCopyRegistersNothing) {
  run("/private/var/folders/x/AppTranslocation/ABC/d/Orvik.app");
  EXPECT_EQ(item.registers + item.unregisters, 0);
  EXPECT_EQ(lines.back(), (Line{"warn", "App is translocated — skipping registration. Run: xattr -cr "
                                        "/Applications/Orvik-Reveraraz.app"}));
}

}  // namespace
}  // namespace orvik

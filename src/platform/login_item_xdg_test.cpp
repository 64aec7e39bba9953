#include <gio/gdesktopappinfo.h>
#include <sys/wait.h>

#include <gtest/gtest.h>

#include "platform/login_item.h"
#include "platform/test_support/scoped_environment.h"

namespace orvik::platform {
namespace {

using orvik::testing::TempDir;
using orvik::testing::TestHome;

class XdgAutostartLoginItemIntegration : public ::testing::Test {
 protected:
  std::filesystem::path entry() const { return home.configHome() / "autostart" / "com.orvik.desk.desktop"; }
  std::unique_ptr<LoginItem> makeItem(const std::filesystem::path& program) {
    return makeXdgAutostartLoginItem(home.configHome(), "com.orvik.desk", "OrvikDesk", program);
  }

  TestHome home;
};

TEST_F(XdgAutostartLoginItemIntegration, RegisterWritesAnEntryThatStartsTheProgram) {
  // A path with every character the Exec rules give a meaning to.
  const auto folder = home.path() / "my \"apps\" $HOME `x` \\ here";
  std::filesystem::create_directories(folder);
  const auto program = folder / "orvik desk";
  TempDir::writeFile(program, "#!/bin/sh\necho started > \"$(dirname \"$0\")/ran\"\n");
  std::filesystem::permissions(program, std::filesystem::perms::owner_all);

  auto item = makeItem(program);
  EXPECT_EQ(item->status(), LoginItemStatus::notRegistered);
  ASSERT_TRUE(item->registerItem().succeeded);
  EXPECT_EQ(item->status(), LoginItemStatus::enabled);

  // Launch the entry the way a session starts it, and wait for the program.
  GDesktopAppInfo* info = g_desktop_app_info_new_from_filename(entry().c_str());
  ASSERT_NE(info, nullptr);
  GPid pid = 0;
  ASSERT_TRUE(g_desktop_app_info_launch_uris_as_manager(
      info, nullptr, nullptr, G_SPAWN_DO_NOT_REAP_CHILD,
      nullptr, nullptr, [](GDesktopAppInfo*, GPid launched, gpointer out) { *static_cast<GPid*>(out) = launched; },
      &pid, nullptr));
  g_object_unref(info);
  ASSERT_GT(pid, 0);
  int status = 0;
  ::waitpid(pid, &status, 0);
  EXPECT_EQ(TempDir::readFile(folder / "ran"), "started\n");
}

TEST_F(XdgAutostartLoginItemIntegration, HiddenEntryIsNotEnabledAndRegisteringShowsItAgain) {
  auto item = makeItem("/usr/lib/orvikdesk/orvikdesk");
  ASSERT_TRUE(item->registerItem().succeeded);
  TempDir::writeFile(entry(), TempDir::readFile(entry()) + "Hidden=true\n");
  EXPECT_EQ(item->status(), LoginItemStatus::notRegistered);

  ASSERT_TRUE(item->registerItem().succeeded);
  EXPECT_EQ(item->status(), LoginItemStatus::enabled);
  EXPECT_EQ(TempDir::readFile(entry()).find("Hidden"), std::string::npos);
}

TEST_F(XdgAutostartLoginItemIntegration, UnregisterRemovesTheEntry) {
  auto item = makeItem("/usr/lib/orvikdesk/orvikdesk");
  ASSERT_TRUE(item->registerItem().succeeded);
  ASSERT_TRUE(item->unregisterItem().succeeded);
  EXPECT_FALSE(std::filesystem::exists(entry()));
  EXPECT_EQ(item->status(), LoginItemStatus::notRegistered);
  EXPECT_TRUE(item->unregisterItem().succeeded) << "nothing registered is no error";
}

TEST_F(XdgAutostartLoginItemIntegration, FailuresCarryADescription) {
  // The autostart folder's place is taken by a file.
  TempDir::writeFile(home.configHome() / "autostart", "not a folder");
  auto item = makeItem("/usr/lib/orvikdesk/orvikdesk");
  const LoginItemResult result = item->registerItem();
  EXPECT_FALSE(result.succeeded);
  EXPECT_NE(result.errorDescription.find("autostart"), std::string::npos) << result.errorDescription;
  EXPECT_EQ(item->status(), LoginItemStatus::notRegistered);
}

TEST(LoginItem, RunningProgramPathIsThisTestProgram) {
  EXPECT_EQ(runningProgramPath().filename(), "platform_tests");
}

}  // namespace
}  // namespace orvik::platform

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

// How desktops record an entry the user switched off, and what is not that.
TEST_F(XdgAutostartLoginItemIntegration, SwitchedOffEntriesAreToldApartAndRegisteringSwitchesThemOn) {
  struct Case {
    const char* line;
    LoginItemStatus status;
  };
  const Case cases[] = {
      {"Hidden=true\n", LoginItemStatus::requiresApproval},
      {"X-GNOME-Autostart-enabled=false\n", LoginItemStatus::requiresApproval},
      {"Hidden=false\n", LoginItemStatus::enabled},
      {"Hidden=perhaps\n", LoginItemStatus::enabled},
      {"", LoginItemStatus::enabled},
  };
  auto item = makeItem("/usr/lib/orvikdesk/orvikdesk");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    ASSERT_TRUE(item->registerItem().succeeded);
    std::string text = TempDir::readFile(entry());
    // The last of a repeated key wins in GKeyFile; drop ours so the case's line is the only one.
    const auto ours = text.find("X-GNOME-Autostart-enabled=true\n");
    if (std::string(c.line).starts_with("X-GNOME") && ours != std::string::npos) text.erase(ours, 31);
    TempDir::writeFile(entry(), text + c.line);
    EXPECT_EQ(item->status(), c.status);

    ASSERT_TRUE(item->registerItem().succeeded);
    EXPECT_EQ(item->status(), LoginItemStatus::enabled);
    EXPECT_EQ(TempDir::readFile(entry()).find("Hidden"), std::string::npos);
  }
}

TEST_F(XdgAutostartLoginItemIntegration, TheEntryIsACopyOfTheInstalledOneStartingTheGivenProgram) {
  const auto installed = home.path() / "share" / "applications" / "com.orvik.desk.desktop";
  std::filesystem::create_directories(installed.parent_path());
  TempDir::writeFile(installed,
                     "[Desktop Entry]\nType=Application\nName=OrvikDesk\nName[de]=OrvikDesk DE\n"
                     "Icon=com.orvik.desk\nExec=/somewhere/else %U\nTryExec=/somewhere/else\n"
                     "StartupWMClass=com.orvik.desk\nCategories=Network;InstantMessaging;\n");
  auto item = makeXdgAutostartLoginItem(home.configHome(), "com.orvik.desk", "OrvikDesk",
                                        "/opt/orvik/bin/orvikdesk", installed);
  ASSERT_TRUE(item->registerItem().succeeded);

  GKeyFile* keyFile = g_key_file_new();
  ASSERT_TRUE(g_key_file_load_from_file(keyFile, entry().c_str(), G_KEY_FILE_KEEP_TRANSLATIONS, nullptr));
  auto value = [&](const char* key) {
    gchar* text = g_key_file_get_value(keyFile, G_KEY_FILE_DESKTOP_GROUP, key, nullptr);
    std::string result = text ? text : "<none>";
    g_free(text);
    return result;
  };
  EXPECT_EQ(value("Exec"), "\"/opt/orvik/bin/orvikdesk\"");
  EXPECT_EQ(value("TryExec"), "<none>");
  EXPECT_EQ(value("Icon"), "com.orvik.desk");
  EXPECT_EQ(value("StartupWMClass"), "com.orvik.desk");
  EXPECT_EQ(value("Name[de]"), "OrvikDesk DE");
  EXPECT_EQ(value("X-GNOME-Autostart-enabled"), "true");
  g_key_file_free(keyFile);
  EXPECT_EQ(item->status(), LoginItemStatus::enabled);
}

TEST_F(XdgAutostartLoginItemIntegration, AMissingInstalledEntryGivesAMinimalOne) {
  auto item = makeXdgAutostartLoginItem(home.configHome(), "com.orvik.desk", "OrvikDesk",
                                        "/opt/orvik/bin/orvikdesk", home.path() / "nowhere.desktop");
  ASSERT_TRUE(item->registerItem().succeeded);
  const std::string text = TempDir::readFile(entry());
  EXPECT_NE(text.find("Name=OrvikDesk\n"), std::string::npos) << text;
  EXPECT_NE(text.find("Exec=\"/opt/orvik/bin/orvikdesk\"\n"), std::string::npos) << text;
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

#include "platform/app_info.h"

#include <gtest/gtest.h>

#include "platform/user_defaults.h"
#include "platform/test_support/temp_dir.h"

namespace orvik::platform {
namespace {

TEST(AppInfo, CompiledInIdentity) {
  const AppInfo info = AppInfo::compiledIn();
  EXPECT_EQ(info.bundleIdentifier, "com.orvik.desk");
  EXPECT_EQ(info.displayName, "OrvikDesk");
  EXPECT_FALSE(info.shortVersion.empty());
  EXPECT_FALSE(info.build.empty());
  EXPECT_TRUE(std::filesystem::is_directory(info.installFolder));
}

// Where the folders come from, by where the program lies: an install
// folder (manifest beside the program, reached through the launcher's link
// or not), the build tree, or a bare copy in a shared folder.
TEST(AppInfo, FoldersFollowWhereTheProgramLies) {
  orvik::testing::TempDir dir;
  const auto prefix = dir / "prefix";
  const auto install = prefix / "lib" / "orvikdesk";
  std::filesystem::create_directories(install / "resources");
  orvik::testing::TempDir::writeFile(install / "manifest.json", "{}");
  std::filesystem::create_directories(dir / "build" / "src" / "app");
  std::filesystem::create_directories(dir / "usr" / "bin");
  std::filesystem::create_directory_symlink(install, dir / "linked");
  const auto sources = dir / "source" / "resources";

  struct Case {
    const char* name;
    std::filesystem::path folder;
    bool installed;
    std::filesystem::path installFolder;
    std::filesystem::path resources;
    std::filesystem::path icons;
  };
  const Case cases[] = {
      {"install folder", install, true, install, install / "resources", prefix / "share" / "icons"},
      {"install folder through a link", dir / "linked", true, install, install / "resources",
       prefix / "share" / "icons"},
      {"build tree", dir / "build" / "src" / "app", false, dir / "build" / "src" / "app", sources,
       dir / "build" / "share" / "icons"},
      {"shared system folder", dir / "usr" / "bin", false, {}, sources, {}},
      {"a sibling of the build tree", dir / "build-other", false, {}, sources, {}},
      {"unknown", {}, false, {}, sources, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const AppInfo info = AppInfo::forProgramFolder(c.folder, dir / "build", sources);
    EXPECT_EQ(info.isInstalled, c.installed);
    EXPECT_EQ(info.installFolder, c.installFolder);
    EXPECT_EQ(info.resourcesFolder, c.resources);
    EXPECT_EQ(info.iconsFolder, c.icons);
    EXPECT_EQ(info.bundleIdentifier, "com.orvik.desk");
    if (c.installed) {
      EXPECT_EQ(info.launcher, prefix / "bin" / "orvikdesk");
      EXPECT_EQ(info.desktopEntry, prefix / "share" / "applications" / "com.orvik.desk.desktop");
    } else {
      EXPECT_TRUE(info.launcher.empty());
      EXPECT_TRUE(info.desktopEntry.empty());
    }
  }
}

TEST(AppInfo, TheTestsRunFromTheBuildTree) {
  const AppInfo info = AppInfo::compiledIn();
  EXPECT_FALSE(info.isInstalled);
  EXPECT_EQ(info.resourcesFolder, std::filesystem::path(ORVIK_SOURCE_DIR) / "resources");
  EXPECT_EQ(info.iconsFolder, std::filesystem::weakly_canonical(ORVIK_BINARY_DIR) / "share" / "icons");
}

TEST(AppInfo, SettingsLiveInTheXdgConfigFolderNamedAfterTheIdentifier) {
  orvik::testing::TempDir dir;
  const char* previous = std::getenv("XDG_CONFIG_HOME");
  std::string saved = previous ? previous : "";
  setenv("XDG_CONFIG_HOME", dir.path().c_str(), 1);
  EXPECT_EQ(UserDefaults::standardPath(), dir.path() / "com.orvik.desk/defaults.json");
  if (previous) setenv("XDG_CONFIG_HOME", saved.c_str(), 1); else unsetenv("XDG_CONFIG_HOME");
}

// An update replaces the install folder, manifest and all: the copy reports
// the version and build its manifest names, and keeps the compiled-in ones
// for anything the manifest lacks or mistypes. A build-tree program has no
// manifest to read.
TEST(AppInfo, AnInstalledCopyReportsTheVersionAndBuildOfItsManifest) {
  const AppInfo compiled = AppInfo::compiledIn();
  struct Case {
    const char* name;
    const char* manifest;
    std::string version, build;
  };
  const Case cases[] = {
      {"both", R"({"identifier":"com.orvik.desk","version":"2.0.1","build":"201"})", "2.0.1", "201"},
      {"build only", R"({"build":"7"})", compiled.shortVersion, "7"},
      {"a number is no build", R"({"version":"3.0.0","build":7})", "3.0.0", compiled.build},
      {"not JSON", "version 9", compiled.shortVersion, compiled.build},
      {"not an object", R"(["2.0.1","201"])", compiled.shortVersion, compiled.build},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    orvik::testing::TempDir dir;
    const auto install = dir / "prefix" / "lib" / "orvikdesk";
    std::filesystem::create_directories(install);
    orvik::testing::TempDir::writeFile(install / "manifest.json", c.manifest);
    const AppInfo info = AppInfo::forProgramFolder(install, dir / "build", dir / "resources");
    EXPECT_EQ(info.shortVersion, c.version);
    EXPECT_EQ(info.build, c.build);
  }
  orvik::testing::TempDir dir;
  std::filesystem::create_directories(dir / "build" / "src" / "app");
  const AppInfo fromBuildTree = AppInfo::forProgramFolder(dir / "build" / "src" / "app", dir / "build", dir / "r");
  EXPECT_EQ(fromBuildTree.build, compiled.build);
}

}  // namespace
}  // namespace orvik::platform

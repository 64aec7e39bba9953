#include "installer/install_job.h"

#include <gtest/gtest.h>

#include "installer/installer_paths.h"
#include "installer/testing/test_package.h"

namespace orvik::installer {
namespace {

using testing::TempFolder;

TEST(InstallJob, ParsesOnlyAnObjectOfStringsHoldingTheThreeKeys) {
  struct Case {
    const char* text;
    bool valid;
  } cases[] = {
      {R"({"dmgPath":"\/a\/b.tar","installPath":"/opt/o","mainBundleID":"com.orvik.desk"})", true},
      {R"({"mainBundleID":"x","installPath":"/i","dmgPath":"/d","extra":"ok"})", true},
      {R"({"dmgPath":"/d","installPath":"/i"})", false},
      {R"({"dmgPath":"/d","installPath":"/i","mainBundleID":"x","n":1})", false},
      {R"({"dmgPath":"/d","installPath":"/i","mainBundleID":true})", false},
      {R"(["/d","/i","x"])", false},
      {R"({})", false},
      {"not json", false},
      {"", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(parseInstallJob(c.text).has_value(), c.valid) << c.text;
  }
  auto job = parseInstallJob(cases[0].text);
  ASSERT_TRUE(job);
  EXPECT_EQ(job->dmgPath, "/a/b.tar");  // the escaped solidus is read as a slash
  EXPECT_EQ(job->installPath, "/opt/o");
  EXPECT_EQ(job->mainBundleID, "com.orvik.desk");
}

TEST(InstallJob, TakesOnlyAnExistingNormalisedInstallFolderOfThisApplication) {
  TempFolder temp;
  auto good = temp.path / "lib" / "orvikdesk";
  testing::makeInstallFolder(good, "1");
  testing::makeInstallFolder(temp.path / "other", "1", "org.example.other");
  std::filesystem::create_directories(temp.path / "empty");
  std::filesystem::create_symlink(good, temp.path / "link");
  testing::writeFile(temp.path / "file", "x");
  struct Case {
    std::string path;
    InstallPathCheck expected;
  } cases[] = {
      {good.string(), InstallPathCheck::ok},
      {"lib/orvikdesk", InstallPathCheck::notAbsolute},
      {"", InstallPathCheck::notAbsolute},
      {good.string() + "/", InstallPathCheck::notNormalised},
      {(temp.path / "lib" / ".." / "lib" / "orvikdesk").string(), InstallPathCheck::notNormalised},
      {(temp.path / "lib" / "." / "orvikdesk").string(), InstallPathCheck::notNormalised},
      {temp.path.string() + "//lib/orvikdesk", InstallPathCheck::notNormalised},
      {"/", InstallPathCheck::notNormalised},
      {(temp.path / "missing").string(), InstallPathCheck::notAFolder},
      {(temp.path / "file").string(), InstallPathCheck::notAFolder},
      {(temp.path / "link").string(), InstallPathCheck::notAFolder},
      {(temp.path / "empty").string(), InstallPathCheck::noManifest},
      {(temp.path / "other").string(), InstallPathCheck::wrongIdentifier},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(checkInstallPath(c.path, kAppIdentifier), c.expected) << c.path;
  }
}

TEST(InstallJob, AcceptsOnlyTheArchiveStagedInThePendingFolder) {
  TempFolder temp;
  auto pending = temp.path / "pending";
  testing::writeFile(pending / kStagedArchiveName, "x");
  testing::writeFile(temp.path / "elsewhere.tar", "x");
  EXPECT_TRUE(isStagedArchive((pending / kStagedArchiveName).string(), pending));
  EXPECT_FALSE(isStagedArchive((temp.path / "elsewhere.tar").string(), pending));
  EXPECT_FALSE(isStagedArchive((pending / ".." / "pending" / kStagedArchiveName).string(), pending));
  std::filesystem::remove(pending / kStagedArchiveName);
  EXPECT_FALSE(isStagedArchive((pending / kStagedArchiveName).string(), pending));
}

TEST(InstallerPaths, JobFolderAndLogFollowTheXdgVariablesWithHomeFallbacks) {
  struct Case {
    EnvironmentFolders env;
    const char* folder;
    const char* log;
  } cases[] = {
      {{"", "", "/home/u"}, "/home/u/.cache/com.orvik.desk/pending-update",
       "/home/u/.local/state/com.orvik.desk/OrvikUpdateInstaller.log"},
      {{"/c", "/s", "/home/u"}, "/c/com.orvik.desk/pending-update", "/s/com.orvik.desk/OrvikUpdateInstaller.log"},
      {{"relative", "rel", "/home/u"}, "/home/u/.cache/com.orvik.desk/pending-update",
       "/home/u/.local/state/com.orvik.desk/OrvikUpdateInstaller.log"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(pendingUpdateFolder(c.env), c.folder);
    EXPECT_EQ(installerLogPath(c.env), c.log);
  }
}

TEST(InstallerPaths, QuotesEveryPathAsOneShellWord) {
  struct Case {
    const char* in;
    const char* out;
  } cases[] = {
      {"/opt/orvik", "'/opt/orvik'"},
      {"/my prefix/o", "'/my prefix/o'"},
      {"/it's", "'/it'\\''s'"},
      {"/a\"b$c`d`\\", "'/a\"b$c`d`\\'"},
      {"", "''"},
  };
  for (const auto& c : cases) EXPECT_EQ(shellQuote(c.in), c.out) << c.in;
}

}  // namespace
}  // namespace orvik::installer

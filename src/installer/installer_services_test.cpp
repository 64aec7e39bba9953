#include "installer/installer_services.h"

#include <gtest/gtest.h>

#include "installer/install_sequence.h"
#include "installer/testing/test_package.h"

namespace orvik::installer {
namespace {

TEST(InstallerLog, LinesCarryAnIso8601UtcStampAndAppend) {
  EXPECT_EQ(InstallerLog::line("hello", 0), "[1970-01-01T00:00:00Z] hello\n");
  EXPECT_EQ(InstallerLog::line("x", 1781150400), "[2026-06-11T04:00:00Z] x\n");
  testing::TempFolder temp;
  auto file = temp.path / "state" / "com.orvik.desk" / "OrvikUpdateInstaller.log";
  InstallerLog log(file);
  log.write("first");
  log.write("second");
  auto text = testing::readFile(file);
  EXPECT_NE(text.find("] first\n["), std::string::npos) << text;
  EXPECT_EQ(text.substr(text.size() - 8), " second\n");
}

TEST(ShellRunner, DrainsBothPipesAndReportsTheExitStatus) {
  // More than a pipe's buffer on each stream at once: a runner reading one
  // stream to its end before the other would hang here.
  auto big = runShell("head -c 200000 /dev/zero | tr '\\0' a; head -c 200000 /dev/zero | tr '\\0' b >&2; exit 3");
  EXPECT_TRUE(big.started);
  EXPECT_EQ(big.exitStatus, 3);
  EXPECT_EQ(big.out.size(), 200000u);
  EXPECT_EQ(big.err.size(), 200000u);

  auto blank = runShell("printf '\\n  \\n\\t'; exit 1");
  EXPECT_EQ(blank.out, "");
  EXPECT_EQ(blank.err, "");
  EXPECT_EQ(blank.exitStatus, 1);

  EXPECT_EQ(runShell("printf '  two words \\n'").out, "two words");
  EXPECT_EQ(runShell("printf '\\377\\376'").out, "");  // not UTF-8
  EXPECT_FALSE(runCommand({"/nonexistent/program"}).started);
}

TEST(Elevator, ResultsAreClassifiedByExitStatusNotByWords) {
  struct Case {
    CommandResult result;
    bool success;
    const char* error;
  } cases[] = {
      {{true, 0, "", "warning: harmless"}, true, ""},
      {{true, 126, "", ""}, false, "cancelled"},
      {{true, 127, "", "Not authorized"}, false, "Not authorised to replace the application"},
      {{true, 1, "", "mv: cannot move: canceled by nothing"}, false, "mv: cannot move: canceled by nothing"},
      {{true, 2, "", ""}, false, "Installation failed (exit status 2)"},
      {{false, -1, "", ""}, false, "Could not ask for administrator rights"},
  };
  for (const auto& c : cases) {
    auto verdict = classifyElevatedResult(c.result);
    EXPECT_EQ(verdict.success, c.success) << c.error;
    EXPECT_EQ(verdict.error, c.error);
  }
}

TEST(Elevator, TheReplaceCommandQuotesEveryPathAndRestoresOnAFailedMove) {
  EXPECT_EQ(elevatedReplaceCommand("/tmp/r/orvikdesk", "/opt/it's"),
            "rm -rf '/opt/it'\\''s.orvik-update-staging' '/opt/it'\\''s.orvik-update-old'"
            " && cp -R '/tmp/r/orvikdesk' '/opt/it'\\''s.orvik-update-staging'"
            " && chmod -R u+rwX,go+rX,go-w '/opt/it'\\''s.orvik-update-staging'"
            " && mv -T '/opt/it'\\''s' '/opt/it'\\''s.orvik-update-old'"
            " && if mv -T '/opt/it'\\''s.orvik-update-staging' '/opt/it'\\''s';"
            " then rm -rf '/opt/it'\\''s.orvik-update-old';"
            " else mv -T '/opt/it'\\''s.orvik-update-old' '/opt/it'\\''s';"
            " rm -rf '/opt/it'\\''s.orvik-update-staging'; exit 1; fi");
}

// The elevated command run for real by /bin/sh (as this user) does what it
// says: the new folder in place, nothing left beside it.
TEST(Elevator, TheReplaceCommandReplacesTheFolderWhenRunByAShell) {
  testing::TempFolder temp;
  testing::makeInstallFolder(temp.path / "new" / "orvikdesk", "2");
  testing::makeInstallFolder(temp.path / "my apps" / "orvik's", "1");
  auto install = temp.path / "my apps" / "orvik's";
  auto result = runShell(elevatedReplaceCommand(temp.path / "new" / "orvikdesk", install));
  EXPECT_EQ(result.exitStatus, 0) << result.err;
  EXPECT_EQ(testing::readFile(install / "resources" / "readme.txt"), "version 2\n");
  EXPECT_FALSE(std::filesystem::exists(asidePathOf(install)));
  EXPECT_FALSE(std::filesystem::exists(stagingPathOf(install)));
}

TEST(ReplaceFolder, RestoresTheOldFolderWhenTheNewOneCannotMoveIn) {
  testing::TempFolder temp;
  auto install = temp.path / "orvikdesk";
  testing::makeInstallFolder(install, "1");
  auto error = replaceFolder(temp.path / "no-such-staging", install);
  EXPECT_NE(error.find("Could not move the new version into place"), std::string::npos) << error;
  EXPECT_EQ(testing::readFile(install / "resources" / "readme.txt"), "version 1\n");
  EXPECT_FALSE(std::filesystem::exists(asidePathOf(install)));
}

}  // namespace
}  // namespace orvik::installer

#include "core/file_security.h"

#include <sys/xattr.h>

#include <cerrno>
#include <string>
#include <utility>

#include <gtest/gtest.h>

#include "platform/app_folders.h"
#include "platform/app_info.h"
#include "platform/recording_system_opener.h"
#include "platform/test_support/scoped_environment.h"

namespace orvik {
namespace {

namespace fs = std::filesystem;
using orvik::testing::TempDir;
using orvik::testing::TestHome;

std::string fileURL(const fs::path& path) { return "file://" + path.string(); }

class AppFoldersContainmentTest : public ::testing::Test {
 protected:
  AppFoldersContainmentTest() {
    app.installFolder = home.path() / "install";
    fs::create_directories(app.installFolder);
    platform::AppInfo::setCurrent(app);
  }
  ~AppFoldersContainmentTest() override { platform::AppInfo::setCurrent(saved); }

  TestHome home;
  const platform::AppInfo saved = platform::AppInfo::current();
  platform::AppInfo app = saved;
  fs::path documents() const { return platform::documentsFolder(); }
};

TEST_F(AppFoldersContainmentTest, InsideMeansTheFoldersThemselvesOrBelowThem) {
  const fs::path docs = documents();
  const fs::path outside = home.path() / "elsewhere";
  fs::create_directories(outside);
  fs::create_directories(docs.parent_path() / "OrvikOther");
  struct Case {
    std::string url;
    bool inside;
  };
  const Case cases[] = {
      {"https://example.org/a.png", false},
      {fileURL(docs), true},  // made by the test itself when missing
      {fileURL(docs / "a" / "b.pdf"), true},
      {fileURL(app.installFolder / "orvikdesk"), true},
      {fileURL(docs.parent_path() / "OrvikOther" / "x"), false},  // a sibling sharing the name's start
      {fileURL(docs / ".." / ".." / ".." / "elsewhere" / "x"), false},
      {fileURL(outside / (docs / "x").lexically_relative(outside)), true},  // "../" back inside
      {"file://localhost" + (docs / "x").string(), true},
      {"file://otherhost" + (docs / "x").string(), false},
      {"file://" + docs.string() + "/with%20space.txt", true},
      {"not a url", false},
      {"", false},
  };
  for (const Case& c : cases) EXPECT_EQ(FileSecurity::isFileInsideAppFolders(c.url), c.inside) << c.url;
}

TEST_F(AppFoldersContainmentTest, SymbolicLinksAreJudgedByWhereTheyLead) {
  const fs::path docs = documents();
  fs::create_directories(docs);
  const fs::path secret = home.path() / "secret";
  fs::create_directories(secret);
  TempDir::writeFile(secret / "key", "k");
  fs::create_directory_symlink(secret, docs / "innocent");
  EXPECT_FALSE(FileSecurity::isFileInsideAppFolders(fileURL(docs / "innocent" / "key")));

  // And a link from elsewhere into the documents folder leads inside.
  TempDir::writeFile(docs / "received.pdf", "%PDF");
  fs::create_symlink(docs / "received.pdf", home.path() / "shortcut.pdf");
  EXPECT_TRUE(FileSecurity::isFileInsideAppFolders(fileURL(home.path() / "shortcut.pdf")));
}

// The program's own folder is its install folder, never the shared folder its
// launcher or a bare copy lies in.
TEST_F(AppFoldersContainmentTest, TheInstallFolderCountsButNoSharedSystemFolder) {
  const fs::path prefix = home.path() / "usr";
  const fs::path install = prefix / "lib" / "orvikdesk";
  fs::create_directories(install / "resources");
  fs::create_directories(prefix / "bin");
  TempDir::writeFile(install / "manifest.json", "{}");
  TempDir::writeFile(install / "orvikdesk", "");
  TempDir::writeFile(prefix / "bin" / "other-program", "");
  fs::create_symlink(install / "orvikdesk", prefix / "bin" / "orvikdesk");

  // Installed: the launcher's folder is someone else's.
  const fs::path build = home.path() / "build";
  const fs::path sources = home.path() / "src";
  platform::AppInfo::setCurrent(platform::AppInfo::forProgramFolder(install, build, sources));
  EXPECT_TRUE(FileSecurity::isFileInsideAppFolders(fileURL(install / "resources")));
  EXPECT_FALSE(FileSecurity::isFileInsideAppFolders(fileURL(prefix / "bin" / "other-program")));
  EXPECT_FALSE(FileSecurity::isFileInsideAppFolders(fileURL(prefix / "bin")));

  // A bare copy in the shared folder has no folder of its own there.
  fs::remove(install / "manifest.json");
  platform::AppInfo::setCurrent(platform::AppInfo::forProgramFolder(prefix / "bin", build, sources));
  EXPECT_FALSE(FileSecurity::isFileInsideAppFolders(fileURL(prefix / "bin" / "other-program")));
  EXPECT_TRUE(FileSecurity::isFileInsideAppFolders(fileURL(documents() / "x.pdf")));
}

TEST(FileSecurity, SanitizedFileNameKeepsOnlyAUsableLastComponent) {
  struct Case {
    const char* name;
    const char* sanitized;
  };
  for (const Case& c : {Case{"../../etc/passwd", "passwd"}, Case{"a/b/c.txt", "c.txt"}, Case{"dir/", "dir"},
                        Case{"report.pdf", "report.pdf"}, Case{"..", "file"}, Case{".", "file"}, Case{"", "file"},
                        Case{"/", "file"}, Case{"//", "file"}, Case{"a/..", "file"}, Case{"a\\b.txt", "a\\b.txt"}}) {
    EXPECT_EQ(FileSecurity::sanitizedFileName(c.name), c.sanitized) << c.name;
  }
}

TEST(FileSecurity, SanitizedFileNamesNeverCarryControlCharacters) {
  using namespace std::string_literals;
  const std::pair<std::string, std::string> cases[] = {
      {".\0"s, "file"},
      {"..\0"s, "file"},
      {"\0"s, "file"},
      {"report.pdf\0.sh"s, "report.pdf.sh"},
      {"a/\0/b\0c.txt"s, "bc.txt"},
      {"line\nbreak\r\t.txt", "linebreak.txt"},
      {"bell\x07\x1b[31m.txt", "bell[31m.txt"},
      {"del\x7f.txt", "del.txt"},
      {"c1\xc2\x85\xc2\x9f.txt", "c1.txt"},
      {"caf\xc3\xa9 \xc2\xa0ok.txt", "caf\xc3\xa9 \xc2\xa0ok.txt"},  // é and a no-break space stay
      {"trailing\xc2", "trailing\xc2"},
  };
  for (const auto& [name, sanitized] : cases) {
    const std::string result = FileSecurity::sanitizedFileName(name);
    EXPECT_EQ(result, sanitized) << name;
    for (const char c : result) EXPECT_FALSE(static_cast<unsigned char>(c) < 0x20 || c == 0x7F) << name;
  }
}

TEST(FileSecurity, QuarantineValueCarriesTheTimeInHex) {
  const auto at = platform::Clock::WallTime(std::chrono::seconds(1700000000));
  EXPECT_EQ(FileSecurity::quarantineValue(at), "0001;6553f100;OrvikReveraraz;");
  EXPECT_EQ(FileSecurity::quarantineValue(platform::Clock::WallTime(std::chrono::seconds(5))),
            "0001;00000005;OrvikReveraraz;");
}

TEST(FileSecurity, MarkQuarantinedSetsTheAttributeWithoutTerminatingZero) {
  TempDir dir;
  const fs::path file = dir / "received.pdf";
  TempDir::writeFile(file, "%PDF");
  FileSecurity::markQuarantined(file);
  char value[64] = {};
  const ssize_t length = ::getxattr(file.c_str(), FileSecurity::quarantineAttribute, value, sizeof value);
  if (length < 0 && errno == ENOTSUP) GTEST_SKIP() << "no user extended attributes on this file system";
  ASSERT_EQ(length, 29);
  const std::string text(value, static_cast<std::size_t>(length));
  EXPECT_TRUE(text.starts_with("0001;")) << text;
  EXPECT_TRUE(text.ends_with(";OrvikReveraraz;")) << text;

  FileSecurity::markQuarantined(dir / "missing");  // ignored
}

TEST(FileSecurity, BlockedExtensionsAreExecutablesAndInstallersOnly) {
  const auto& blocked = blockedFileExtensions();
  EXPECT_EQ(blocked.size(), 33u);
  // Linux launchables as well: desktop entries, self-running images and
  // installers, package files and store references.
  for (const char* extension : {"app", "pkg", "sh", "command", "exe", "jar", "dmg", "mpkg", "desktop", "appimage",
                                "run", "deb", "rpm", "flatpakref", "snap"}) {
    EXPECT_TRUE(blocked.contains(extension)) << extension;
  }
  for (const char* extension : {"zip", "pdf", "png", "txt", "APP"}) EXPECT_FALSE(blocked.contains(extension)) << extension;
}

TEST(SafeURLOpener, OnlyWebMailAndTelephoneLinksLeave) {
  struct Case {
    const char* url;
    bool opened;
  };
  const Case cases[] = {
      {"https://example.org/x?y=1", true}, {"HTTPS://EXAMPLE.ORG/", true}, {"http://example.org", true},
      {"mailto:someone@example.org", true}, {"tel:+4712345678", true},     {"Tel:+47", true},
      {"file:///etc/passwd", false},        {"javascript:alert(1)", false}, {"example.org/no-scheme", false},
      {"orvikfile://x", false},              {"", false},                   {" https://example.org", false},
      {"ftp://example.org", false},          {"https", false},
  };
  for (const Case& c : cases) {
    platform::RecordingSystemOpener opener;
    EXPECT_EQ(SafeURLOpener::open(c.url, opener), c.opened) << c.url;
    EXPECT_EQ(opener.openedURLs, c.opened ? std::vector<std::string>{c.url} : std::vector<std::string>{}) << c.url;
  }
}

TEST(SafeURLOpener, ALinkNoApplicationTakesIsNotReportedAsOpened) {
  platform::RecordingSystemOpener opener;
  opener.openResult = false;
  EXPECT_FALSE(SafeURLOpener::open("https://example.org", opener));
  EXPECT_EQ(opener.openedURLs.size(), 1u);
}

}  // namespace
}  // namespace orvik

#include "installer/safe_unpack.h"

#include <sys/stat.h>

#include <gtest/gtest.h>

#include "installer/testing/test_package.h"

namespace orvik::installer {
namespace {

using testing::TarEntry;
using testing::TempFolder;

TEST(SafeUnpack, EntryPathsAndLinkTargetsAsATable) {
  struct PathCase {
    const char* name;
    UnpackStatus expected;
  } paths[] = {
      {"orvikdesk/bin", UnpackStatus::ok},          {"./orvikdesk", UnpackStatus::ok},
      {"/etc/passwd", UnpackStatus::absolutePath},  {"../x", UnpackStatus::parentReference},
      {"a/../../x", UnpackStatus::parentReference}, {"a/..", UnpackStatus::parentReference},
      {"a..b/c", UnpackStatus::ok},
  };
  for (const auto& c : paths) EXPECT_EQ(checkEntryPath(c.name), c.expected) << c.name;

  struct LinkCase {
    const char* entry;
    const char* target;
    bool inside;
  } links[] = {
      {"orvikdesk/bin/app", "../orvikdesk", true}, {"orvikdesk/a", "b/c", true},
      {"orvikdesk/a", "/usr/bin/sh", false},       {"orvikdesk/a", "../../etc", false},
      {"a", "..", false},                          {"orvikdesk/a", "", false},
      {"orvikdesk/a", ".", true},
  };
  for (const auto& c : links) EXPECT_EQ(linkStaysInside(c.entry, c.target), c.inside) << c.entry << " " << c.target;
}

TEST(SafeUnpack, UnpacksFilesFoldersAndInnerLinksWithTheirModes) {
  TempFolder temp;
  auto archive = temp.path / "good.tar";
  testing::writeTar(archive, {{"./orvikdesk", TarEntry::folder, "", 0755},
                              {"./orvikdesk/orvikdesk", TarEntry::file, "#!/bin/sh\n", 0755},
                              {"./orvikdesk/res/a.txt", TarEntry::file, "a", 0644},
                              {"./orvikdesk/res/b.txt", TarEntry::hardlink, "orvikdesk/res/a.txt"},
                              {"./orvikdesk/launcher", TarEntry::symlink, "orvikdesk", 0777}});
  auto root = temp.path / "root";
  std::filesystem::create_directories(root);
  auto result = unpackArchive(archive, root);
  ASSERT_EQ(result.status, UnpackStatus::ok) << result.entry;
  EXPECT_EQ(testing::readFile(root / "orvikdesk/res/a.txt"), "a");
  EXPECT_EQ(testing::readFile(root / "orvikdesk/res/b.txt"), "a");
  EXPECT_EQ(std::filesystem::read_symlink(root / "orvikdesk/launcher"), "orvikdesk");
  struct stat info {};
  stat((root / "orvikdesk/orvikdesk").c_str(), &info);
  EXPECT_TRUE(info.st_mode & S_IXUSR);
}

// Each archive holds one harmless file and then one hostile entry; nothing
// may appear outside the root, and the archive is refused as a whole.
TEST(SafeUnpack, RefusesEntriesThatLeaveTheTreeOrCarryPrivileges) {
  struct Case {
    const char* what;
    TarEntry hostile;
    UnpackStatus expected;
  } cases[] = {
      {"absolute path", {"/tmp/orvik-unpack-escape", TarEntry::file, "x"}, UnpackStatus::absolutePath},
      {"parent reference", {"orvikdesk/../../escape", TarEntry::file, "x"}, UnpackStatus::parentReference},
      {"symlink out", {"orvikdesk/out", TarEntry::symlink, "../../../etc"}, UnpackStatus::linkOutside},
      {"absolute symlink", {"orvikdesk/out", TarEntry::symlink, "/etc/passwd"}, UnpackStatus::linkOutside},
      {"hard link out", {"orvikdesk/h", TarEntry::hardlink, "/etc/passwd"}, UnpackStatus::linkOutside},
      {"hard link up", {"orvikdesk/h", TarEntry::hardlink, "../escape"}, UnpackStatus::linkOutside},
      {"device node", {"orvikdesk/null", TarEntry::device, "", 0666}, UnpackStatus::specialFile},
      {"setuid", {"orvikdesk/su", TarEntry::file, "x", 04755}, UnpackStatus::privilegeBits},
      {"setgid", {"orvikdesk/sg", TarEntry::file, "x", 02755}, UnpackStatus::privilegeBits},
  };
  for (const auto& c : cases) {
    TempFolder temp;
    auto archive = temp.path / "hostile.tar";
    testing::writeTar(archive, {{"orvikdesk/ok.txt", TarEntry::file, "ok"}, c.hostile});
    auto root = temp.path / "a" / "b" / "root";
    std::filesystem::create_directories(root);
    auto result = unpackArchive(archive, root);
    EXPECT_EQ(result.status, c.expected) << c.what;
    EXPECT_FALSE(std::filesystem::exists(temp.path / "a" / "escape")) << c.what;
    EXPECT_FALSE(std::filesystem::exists(temp.path / "a" / "b" / "escape")) << c.what;
  }
  EXPECT_FALSE(std::filesystem::exists("/tmp/orvik-unpack-escape"));
}

TEST(SafeUnpack, ANonArchiveOrMissingFileIsUnreadable) {
  TempFolder temp;
  testing::writeFile(temp.path / "junk.tar", std::string(2048, 'j'));
  EXPECT_EQ(unpackArchive(temp.path / "junk.tar", temp.path).status, UnpackStatus::unreadable);
  EXPECT_EQ(unpackArchive(temp.path / "missing.tar", temp.path).status, UnpackStatus::unreadable);
}

}  // namespace
}  // namespace orvik::installer

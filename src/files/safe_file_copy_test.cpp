#include "files/safe_file_copy.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "platform/test_support/temp_dir.h"

namespace orvik {
namespace {
namespace fs = std::filesystem;
using orvik::testing::TempDir;

TEST(SafeFileCopy, ReplacesTheDestinationWithTheWholeSourceAndLeavesNoStagingFile) {
  TempDir dir;
  const std::string bytes(3 * (1 << 20) + 17, 'x');  // more than one read of the copy loop
  TempDir::writeFile(dir / "source.bin", bytes);
  fs::create_directory(dir / "out");
  TempDir::writeFile(dir / "out/saved.bin", "old contents");

  EXPECT_EQ(copyFileReplacing(dir / "source.bin", dir / "out/saved.bin"), SaveCopyStatus::saved);
  EXPECT_EQ(TempDir::readFile(dir / "out/saved.bin"), bytes);
  EXPECT_EQ(TempDir::listing(dir / "out"), std::vector<std::string>{"saved.bin"});
  EXPECT_EQ(TempDir::readFile(dir / "source.bin"), bytes);
}

TEST(SafeFileCopy, AFailedCopyLeavesTheExistingDestinationAsItWas) {
  struct Case {
    const char* label;
    std::function<fs::path(const TempDir&)> source;
  };
  const std::vector<Case> cases = {
      {"source missing", [](const TempDir& d) { return d / "gone.bin"; }},
      {"source is a folder", [](const TempDir& d) {
         fs::create_directory(d / "folder");
         return d / "folder";
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    TempDir dir;
    fs::create_directory(dir / "out");
    TempDir::writeFile(dir / "out/keep.txt", "the user's file");
    EXPECT_EQ(copyFileReplacing(c.source(dir), dir / "out/keep.txt"), SaveCopyStatus::failed);
    EXPECT_EQ(TempDir::readFile(dir / "out/keep.txt"), "the user's file");
    EXPECT_EQ(TempDir::listing(dir / "out"), std::vector<std::string>{"keep.txt"});
  }
}

TEST(SafeFileCopy, ADestinationFolderThatDoesNotExistFails) {
  TempDir dir;
  TempDir::writeFile(dir / "source.bin", "bytes");
  EXPECT_EQ(copyFileReplacing(dir / "source.bin", dir / "missing/saved.bin"), SaveCopyStatus::failed);
  EXPECT_FALSE(fs::exists(dir / "missing"));
}

TEST(SafeFileCopy, PickingTheSourceItselfAsDestinationKeepsIt) {
  struct Case {
    const char* label;
    std::function<fs::path(const TempDir&)> destination;
  };
  const std::vector<Case> cases = {
      {"same path", [](const TempDir& d) { return d / "photo.jpg"; }},
      {"through ..", [](const TempDir& d) {
         fs::create_directory(d / "sub");
         return d / "sub/../photo.jpg";
       }},
      {"through a link", [](const TempDir& d) {
         fs::create_symlink(d / "photo.jpg", d / "link.jpg");
         return d / "link.jpg";
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    TempDir dir;
    TempDir::writeFile(dir / "photo.jpg", "picture bytes");
    EXPECT_EQ(copyFileReplacing(dir / "photo.jpg", c.destination(dir)), SaveCopyStatus::sameFile);
    EXPECT_EQ(TempDir::readFile(dir / "photo.jpg"), "picture bytes");
  }
}

TEST(SafeFileCopy, FreeNamesNumberTakenNamesAndNeverReplaceAnything) {
  struct Case {
    const char* name;
    std::vector<std::string> existing;
    const char* saved;
  };
  const std::vector<Case> cases = {
      {"photo.jpg", {}, "photo.jpg"},
      {"photo.jpg", {"photo.jpg", "photo 2.jpg"}, "photo 3.jpg"},
      {"photo.jpg", {"photo.jpg", "photo 3.jpg"}, "photo 2.jpg"},
      {"README", {"README"}, "README 2"},
      {"archive.tar.gz", {"archive.tar.gz"}, "archive.tar 2.gz"},
      {".profile", {".profile"}, ".profile 2"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    TempDir::writeFile(dir / "source", "new");
    fs::create_directory(dir / "out");
    for (const auto& name : c.existing) TempDir::writeFile(dir / "out" / name, "existing " + name);

    const auto saved = copyFileUnderFreeName(dir / "source", dir / "out", c.name);
    ASSERT_TRUE(saved);
    EXPECT_EQ(*saved, dir / "out" / c.saved);
    EXPECT_EQ(TempDir::readFile(*saved), "new");
    for (const auto& name : c.existing) EXPECT_EQ(TempDir::readFile(dir / "out" / name), "existing " + name);
    EXPECT_EQ(TempDir::listing(dir / "out").size(), c.existing.size() + 1);
  }
}

TEST(SafeFileCopy, ALinkAtTheNameCountsAsTakenAndIsNeverWrittenThrough) {
  TempDir dir;
  TempDir::writeFile(dir / "source", "new");
  fs::create_directory(dir / "out");
  fs::create_symlink(dir / "elsewhere.txt", dir / "out/notes.txt");  // dangling

  const auto saved = copyFileUnderFreeName(dir / "source", dir / "out", "notes.txt");
  ASSERT_TRUE(saved);
  EXPECT_EQ(*saved, dir / "out/notes 2.txt");
  EXPECT_FALSE(fs::exists(dir / "elsewhere.txt"));
}

TEST(SafeFileCopy, TwoFilesOfOneNameLandUnderTheNameAndTheNumberedName) {
  TempDir dir;
  TempDir::writeFile(dir / "first", "one");
  TempDir::writeFile(dir / "second", "two");
  fs::create_directory(dir / "out");
  EXPECT_EQ(copyFileUnderFreeName(dir / "first", dir / "out", "a.png"), dir / "out/a.png");
  EXPECT_EQ(copyFileUnderFreeName(dir / "second", dir / "out", "a.png"), dir / "out/a 2.png");
  EXPECT_EQ(TempDir::readFile(dir / "out/a.png"), "one");
  EXPECT_EQ(TempDir::readFile(dir / "out/a 2.png"), "two");
}

TEST(SafeFileCopy, AFreeNameCopyOfAMissingSourceWritesNothing) {
  TempDir dir;
  fs::create_directory(dir / "out");
  EXPECT_FALSE(copyFileUnderFreeName(dir / "gone", dir / "out", "a.png"));
  EXPECT_TRUE(TempDir::listing(dir / "out").empty());
}

}  // namespace
}  // namespace orvik

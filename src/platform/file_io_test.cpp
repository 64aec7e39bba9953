#include "platform/file_io.h"

#include <gtest/gtest.h>

#include "platform/test_support/temp_dir.h"

namespace orvik::platform {
namespace {

using orvik::testing::TempDir;

TEST(FileIo, AtomicWriteReplacesTheFileAndLeavesNoTemporaryBehind) {
  TempDir dir;
  const auto file = dir / "a.txt";
  ASSERT_TRUE(writeFileAtomically(file, "first"));
  ASSERT_TRUE(writeFileAtomically(file, std::string("sec\0ond", 7)));
  const FileContents contents = readWholeFile(file);
  EXPECT_EQ(contents.status, ReadStatus::ok);
  EXPECT_EQ(contents.bytes, std::string("sec\0ond", 7));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
}

TEST(FileIo, ReadTellsMissingFromUnreadable) {
  TempDir dir;
  EXPECT_EQ(readWholeFile(dir / "none").status, ReadStatus::missing);
  EXPECT_EQ(readWholeFile(dir.path()).status, ReadStatus::failed);  // a folder
  EXPECT_FALSE(writeFileAtomically(dir / "no/such/folder/file", "x"));
}

TEST(FileIo, Utf8Validation) {
  EXPECT_TRUE(isValidUtf8(""));
  EXPECT_TRUE(isValidUtf8("plain ✓ 📱"));
  EXPECT_TRUE(isValidUtf8(std::string("nul\0inside", 10)));
  EXPECT_FALSE(isValidUtf8("\xff\xfe"));
  EXPECT_FALSE(isValidUtf8(std::string("ok\0\xc3", 4)));  // cut after a NUL
  EXPECT_FALSE(isValidUtf8("\xed\xa0\x80"));             // a lone surrogate
}

}  // namespace
}  // namespace orvik::platform

#include "platform/crypto.h"

#include <gtest/gtest.h>

namespace orvik::platform::crypto {
namespace {

TEST(Crypto, Sha256MatchesKnownDigests) {
  EXPECT_EQ(hexString(sha256("abc")), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  EXPECT_EQ(hexString(sha256("")), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
}

TEST(Crypto, RandomBytesHaveTheAskedLengthAndDiffer) {
  auto first = randomBytes(32);
  auto second = randomBytes(32);
  ASSERT_TRUE(first && second);
  EXPECT_EQ(first->size(), 32u);
  EXPECT_NE(*first, *second);
  EXPECT_EQ(randomBytes(0)->size(), 0u);
}

TEST(Crypto, HexStringIsLowerCaseTwoDigitsPerByte) {
  const std::uint8_t bytes[] = {0x00, 0x0f, 0xa0, 0xff};
  EXPECT_EQ(hexString(bytes), "000fa0ff");
}

}  // namespace
}  // namespace orvik::platform::crypto

#include "platform/base64.h"

#include <gtest/gtest.h>

namespace orvik::platform {
namespace {

TEST(Base64, EncodesWithPaddingAndRoundTripsEveryLengthAndByte) {
  EXPECT_EQ(encodeBase64(""), "");
  EXPECT_EQ(encodeBase64("f"), "Zg==");
  EXPECT_EQ(encodeBase64("fo"), "Zm8=");
  EXPECT_EQ(encodeBase64("foo"), "Zm9v");
  EXPECT_EQ(encodeBase64("\xff\xfe\xfd"), "//79");
  std::string bytes;
  for (int i = 0; i < 256; ++i) {
    bytes.push_back(static_cast<char>(i));
    EXPECT_EQ(decodeBase64Strict(encodeBase64(bytes)), bytes) << i;
  }
}

}  // namespace
}  // namespace orvik::platform

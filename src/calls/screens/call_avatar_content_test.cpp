#include "calls/screens/call_avatar_content.h"

#include <gtest/gtest.h>

#include "core/service_config.h"

namespace orvik {
namespace {

constexpr const char* kDefault = "https://cdn.test/ndx_8_copy.png";

TEST(CallAvatarContent, ChoosesThePictureTheDefaultPictureOrTheInitials) {
  struct Case {
    const char* what;
    const char* imageUrl;
    const char* name;
    bool subscribed;
    std::optional<std::string> picture;
    AvatarGradient gradient;
    bool initialOver;
    const char* initial;
  };
  const Case cases[] = {
      {"own picture", "https://img.test/a.png", "anna_lee", false, "https://img.test/a.png", AvatarGradient::purple,
       false, "A"},
      {"own picture of a subscriber: purple while it loads", "http://img.test/a.png", "bob", true,
       "http://img.test/a.png", AvatarGradient::purple, false, "B"},
      {"no picture", "", "bob", false, std::nullopt, AvatarGradient::purple, false, "B"},
      {"no picture, subscriber: default picture, gold until it shows", "", "bob", true, kDefault, AvatarGradient::gold,
       true, "B"},
      {"a local file is never loaded", "file:///etc/passwd", "bob", false, std::nullopt, AvatarGradient::purple, false,
       "B"},
      {"a local file of a subscriber falls to the default picture", "file:///tmp/x.png", "bob", true, kDefault,
       AvatarGradient::gold, true, "B"},
      {"malformed address", "not a url", "", false, std::nullopt, AvatarGradient::purple, false, "?"},
      {"other schemes", "data:image/png;base64,AAAA", "_x", false, std::nullopt, AvatarGradient::purple, false, "?"},
      {"no host", "https:///a.png", "bob", false, std::nullopt, AvatarGradient::purple, false, "B"},
  };
  for (const auto& c : cases) {
    const AvatarContent content = chooseAvatarContent(c.imageUrl, c.name, 56, c.subscribed, kDefault);
    EXPECT_EQ(content.pictureURL, c.picture) << c.what;
    EXPECT_EQ(content.gradient, c.gradient) << c.what;
    EXPECT_EQ(content.initialOverPicture, c.initialOver) << c.what;
    EXPECT_EQ(content.initial, c.initial) << c.what;
    EXPECT_DOUBLE_EQ(content.initialPointSize, 22.4) << c.what;
  }
}

TEST(CallAvatarContent, ASubscriberWithoutAUsableDefaultPictureGetsTheGoldInitials) {
  const AvatarContent content = chooseAvatarContent("", "bob", 130, true, "");
  EXPECT_FALSE(content.pictureURL);
  EXPECT_EQ(content.gradient, AvatarGradient::gold);
  EXPECT_FALSE(content.initialOverPicture);
}

TEST(CallAvatarContent, SharedPicturesComeFromTheServicesContentHost) {
  ServiceConfig service = ServiceConfig::defaults();
  EXPECT_TRUE(isLoadableImageURL(defaultAvatarPictureURL(service)));
  service.contentHostURL = "http://127.0.0.1:8081";
  EXPECT_EQ(defaultAvatarPictureURL(service), "http://127.0.0.1:8081/ndx_8_copy.png");
  EXPECT_EQ(subscriberBadgeImageURL(service), "http://127.0.0.1:8081/subscriber_badge.png");
}

}  // namespace
}  // namespace orvik

#include "calls/screens/call_avatar_content.h"

#include <glib.h>

#include "calls/screens/call_display_name.h"
#include "core/service_config.h"

namespace orvik {

bool isLoadableImageURL(std::string_view url) {
  if (url.empty()) return false;
  const std::string text(url);
  GUri* uri = g_uri_parse(text.c_str(), G_URI_FLAGS_NONE, nullptr);
  if (!uri) return false;
  const char* scheme = g_uri_get_scheme(uri);
  const char* host = g_uri_get_host(uri);
  const bool ok = scheme && (g_ascii_strcasecmp(scheme, "https") == 0 || g_ascii_strcasecmp(scheme, "http") == 0) &&
                  host && *host;
  g_uri_unref(uri);
  return ok;
}

std::string defaultAvatarPictureURL(const ServiceConfig& service) { return service.contentHostURL + "/ndx_8_copy.png"; }

std::string subscriberBadgeImageURL(const ServiceConfig& service) {
  return service.contentHostURL + "/subscriber_badge.png";
}

AvatarContent chooseAvatarContent(std::string_view imageUrl, std::string_view name, double size, bool isSubscribed,
                                  std::string_view defaultPictureURL) {
  AvatarContent content;
  content.initial = avatarInitial(name);
  content.initialPointSize = 0.4 * size;
  if (isLoadableImageURL(imageUrl)) {
    content.pictureURL = std::string(imageUrl);
    content.gradient = AvatarGradient::purple;
  } else if (isSubscribed && isLoadableImageURL(defaultPictureURL)) {
    content.pictureURL = std::string(defaultPictureURL);
    content.initialOverPicture = true;
    content.gradient = AvatarGradient::gold;
  } else {
    content.gradient = isSubscribed ? AvatarGradient::gold : AvatarGradient::purple;
  }
  return content;
}

}  // namespace orvik

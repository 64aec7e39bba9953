// What a call avatar shows, decided from its inputs: the party's own picture
// (loaded from an http or https address only, never a local file), the
// subscribers' default picture, or the initial on a gradient. CallAvatarView
// renders the decision.
//
// THREAD-SAFETY: pure.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace orvik {

struct ServiceConfig;

// The gradients behind an initial.
enum class AvatarGradient { purple, gold };

struct AvatarContent {
  // The picture to load, when there is one.
  std::optional<std::string> pictureURL;
  // While the picture loads, after it failed, and when there is none: the
  // initial on this gradient.
  AvatarGradient gradient = AvatarGradient::purple;
  // The subscribers' default picture carries the white initial on top once
  // it is shown.
  bool initialOverPicture = false;
  std::string initial;
  double initialPointSize = 0;  // 0.4 × size, bold, white

  bool operator==(const AvatarContent&) const = default;
};

// True for an absolute http or https address with a host.
bool isLoadableImageURL(std::string_view url);

// The subscribers' default picture on the service's content-delivery host.
std::string defaultAvatarPictureURL(const ServiceConfig& service);
// The subscriber badge's image on the same host.
std::string subscriberBadgeImageURL(const ServiceConfig& service);

// The party's own picture when `imageUrl` is loadable; else, for a
// subscriber, the default picture with the initial drawn over it; else the
// initial alone. A subscriber's default picture that is still loading or
// failed shows the gold initials picture, never a bare white initial on the
// screen's background.
AvatarContent chooseAvatarContent(std::string_view imageUrl, std::string_view name, double size, bool isSubscribed,
                                  std::string_view defaultPictureURL);

}  // namespace orvik

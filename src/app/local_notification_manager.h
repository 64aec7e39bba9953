// Turns the page's notification requests into desktop banners while the
// program is in the background, keeps the launcher badge, withdraws a chat's
// banners when the user reads it, and owns the notification-sound setting.
// A call request also opens the native incoming-call panel, in front or not.
//
//   LocalNotificationManager local({notifier, badge, defaults, sounds, push, opener,
//                                   resources, desktopEntry, isActive, ringtoneGain});
//   local.publishRoutes(routes);
//
// Owner: the composition root. THREAD-SAFETY: main queue only.
#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "platform/notifier.h"

namespace orvik {

class PushNotificationManager;
namespace platform {
class MessageRoutes;
class Sound;
class SoundPlayer;
class SystemOpener;
class UserDefaults;
}  // namespace platform

class LocalNotificationManager {
 public:
  static constexpr const char* kNotificationSoundKey = "orvik.notificationSound";

  struct Collaborators {
    platform::Notifier& notifier;
    platform::Badge& badge;
    platform::UserDefaults& defaults;
    platform::SoundPlayer& sounds;
    PushNotificationManager& push;
    platform::SystemOpener& opener;
    // Where "message_banner_*.wav" and "callringtone.wav" are.
    std::filesystem::path soundsFolder;
    // The program's desktop entry id, as the desktop's settings name it.
    std::string desktopEntry;
    // Whether one of the program's windows is the active one.
    std::function<bool()> isAppActive;
    // The incoming ringtone's gain: a call banner is silent at zero.
    std::function<float()> incomingRingtoneGain;
  };

  explicit LocalNotificationManager(Collaborators collaborators);
  ~LocalNotificationManager();

  // "showLocalNotification:", "setUnreadTotal:", "clearBadge",
  // "clearChatNotifications:", "setNotificationSound", "previewNotificationSound".
  void publishRoutes(platform::MessageRoutes& routes);

  void handleShowLocalNotification(const std::string& message);
  void handleSetUnreadTotal(const std::string& message);
  void clearBadge();
  void clearChatNotifications(const std::string& message);
  void setNotificationSound(bool enabled, const std::string& level);
  void handlePreviewNotificationSound();
  void postBackgroundNotification(const std::string& title, const std::string& body, const nlohmann::json& userInfo);
  void openNotificationSettings();

  static bool isCallNotification(const std::string& body);
  // "message_banner_<level>", or none when the user turned banner sounds off.
  std::optional<std::string> notificationSoundFileName() const;
  const std::optional<long long>& latestUnreadTotal() const { return latestUnreadTotal_; }

 private:
  void showCallBanner(const std::string& title, const std::string& body, const nlohmann::json& data);
  void showMessageBanner(const std::string& title, const std::string& body, const nlohmann::json& data);
  void handleBannerPosted(const std::optional<std::string>& error);
  void bumpBadgeAfterBanner();
  void applyUnreadTotal(long long total);
  void playBannerSound(const std::string& name);
  std::unique_ptr<platform::Sound> loadSound(const std::string& name) const;

  Collaborators c_;
  std::optional<long long> latestUnreadTotal_;
  std::unique_ptr<platform::Sound> bannerSound_;
  std::unique_ptr<platform::Sound> previewSound_;
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace orvik

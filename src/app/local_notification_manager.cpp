#include "app/local_notification_manager.h"

#include <glib.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <utility>

#include "app/push_notification_manager.h"
#include "core/native_logger.h"
#include "platform/audio/sound_player.h"
#include "platform/dispatch/task_queue.h"
#include "platform/message_routes.h"
#include "platform/system_opener.h"
#include "platform/user_defaults.h"

namespace orvik {
namespace {

constexpr std::array<const char*, 3> kNotificationSoundLevels = {"low", "medium", "high"};
constexpr const char* kCallRingtoneFile = "callringtone.wav";

bool isSoundLevel(const std::string& level) {
  return std::find(kNotificationSoundLevels.begin(), kNotificationSoundLevels.end(), level) !=
         kNotificationSoundLevels.end();
}

std::string lowercased(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

// The text after the message's name: the prefix is taken off once, so the
// same words later in the text stay.
std::string afterPrefix(const std::string& message, std::string_view prefix) {
  return message.rfind(prefix, 0) == 0 ? message.substr(prefix.size()) : message;
}

std::string newIdentifier() {
  char* made = g_uuid_string_random();
  std::string identifier(made);
  g_free(made);
  return identifier;
}

// A whole decimal number with an optional sign and nothing else.
std::optional<long long> parseWholeNumber(std::string_view text) {
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  if (text.empty()) return std::nullopt;
  long long value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

std::string trimmedExceptLineBreaks(std::string_view text) {
  auto isBlank = [](char c) { return c == ' ' || c == '\t' || c == '\v' || c == '\f'; };
  while (!text.empty() && isBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && isBlank(text.back())) text.remove_suffix(1);
  return std::string(text);
}

std::string textFrom(const nlohmann::json& body) { return body.is_string() ? body.get<std::string>() : std::string(); }

}  // namespace

LocalNotificationManager::LocalNotificationManager(Collaborators collaborators) : c_(std::move(collaborators)) {}

LocalNotificationManager::~LocalNotificationManager() = default;

void LocalNotificationManager::publishRoutes(platform::MessageRoutes& routes) {
  auto route = [&](std::string_view name, platform::MessageRoutes::Handler handler) {
    [[maybe_unused]] const bool known = routes.route(name, std::move(handler));
  };
  route("showLocalNotification:", [this](const nlohmann::json& body) { handleShowLocalNotification(textFrom(body)); });
  route("setUnreadTotal:", [this](const nlohmann::json& body) { handleSetUnreadTotal(textFrom(body)); });
  route("clearBadge", [this](const nlohmann::json&) { clearBadge(); });
  route("clearChatNotifications:", [this](const nlohmann::json& body) { clearChatNotifications(textFrom(body)); });
  route("setNotificationSound", [this](const nlohmann::json& body) {
    const auto enabled = body.is_object() && body.contains("enabled") && body["enabled"].is_boolean()
                             ? body["enabled"].get<bool>()
                             : true;
    const auto level = body.is_object() && body.contains("level") && body["level"].is_string()
                           ? body["level"].get<std::string>()
                           : std::string("medium");
    setNotificationSound(enabled, level);
  });
  route("previewNotificationSound", [this](const nlohmann::json&) { handlePreviewNotificationSound(); });
}

bool LocalNotificationManager::isCallNotification(const std::string& body) {
  const std::string lower = lowercased(body);
  return lower.find("incoming") != std::string::npos && lower.find("call") != std::string::npos;
}

void LocalNotificationManager::handleShowLocalNotification(const std::string& message) {
  const nlohmann::json request =
      nlohmann::json::parse(afterPrefix(message, "showLocalNotification:"), nullptr, /*allow_exceptions=*/false);
  if (!request.is_object()) return;
  auto text = [&](const char* key, const char* fallback) {
    auto it = request.find(key);
    return it != request.end() && it->is_string() ? it->get<std::string>() : std::string(fallback);
  };
  const std::string title = text("title", "Notification");
  const std::string body = text("body", "");
  auto data = request.find("data");
  const nlohmann::json userInfo = data != request.end() && data->is_object() ? *data : nlohmann::json::object();
  if (isCallNotification(body)) {
    showCallBanner(title, body, userInfo);
  } else {
    showMessageBanner(title, body, userInfo);
  }
}

void LocalNotificationManager::showCallBanner(const std::string& title, const std::string& body,
                                              const nlohmann::json& data) {
  auto nested = data.find("data");
  const nlohmann::json& callData = nested != data.end() && nested->is_object() ? *nested : data;
  auto text = [&](const char* key) -> std::optional<std::string> {
    auto it = callData.find(key);
    if (it == callData.end() || !it->is_string()) return std::nullopt;
    return it->get<std::string>();
  };
  const bool video = lowercased(body).find("video") != std::string::npos;
  // The caller comes from the call's data: the banner title is display text,
  // and a reply or an accept sent to it would go to no one.
  const std::optional<std::string> caller = text("from");
  if (caller && !caller->empty()) {
    c_.push.handleIncomingCallPush(
        {{"isAudio", !video}, {"pushToken", text("pushToken").value_or("")}, {"title", title}, {"from", *caller}});
  } else {
    nativeLog("[LOCAL-NOTIF] call notification without a caller — no incoming-call panel");
  }
  if (c_.isAppActive && c_.isAppActive()) return;

  platform::NotificationRequest request;
  request.identifier = "call-" + newIdentifier();
  request.title = title;
  request.body = body;
  request.userInfo = data;
  if (!c_.incomingRingtoneGain || c_.incomingRingtoneGain() > 0.0f) request.sound = c_.soundsFolder / kCallRingtoneFile;
  request.category = "CALL";
  request.timeSensitive = true;
  c_.notifier.add(std::move(request));
  bumpBadgeAfterBanner();
}

void LocalNotificationManager::showMessageBanner(const std::string& title, const std::string& body,
                                                 const nlohmann::json& data) {
  if (c_.isAppActive && c_.isAppActive()) return;
  platform::NotificationRequest request;
  request.identifier = newIdentifier();
  request.title = title;
  request.body = body;
  request.userInfo = data;
  request.category = "MESSAGE";
  c_.notifier.add(std::move(request), [this, alive = std::weak_ptr<bool>(alive_)](const auto& error) {
    if (!alive.expired()) handleBannerPosted(error);
  });
  bumpBadgeAfterBanner();
}

void LocalNotificationManager::postBackgroundNotification(const std::string& title, const std::string& body,
                                                          const nlohmann::json& userInfo) {
  if (c_.isAppActive && c_.isAppActive()) return;
  platform::NotificationRequest request;
  request.identifier = newIdentifier();
  request.title = title;
  request.body = body;
  request.userInfo = userInfo.is_object() ? userInfo : nlohmann::json::object();
  c_.notifier.add(std::move(request), [this, alive = std::weak_ptr<bool>(alive_)](const auto& error) {
    if (!alive.expired()) handleBannerPosted(error);
  });
  bumpBadgeAfterBanner();
}

void LocalNotificationManager::handleBannerPosted(const std::optional<std::string>& error) {
  if (error) {
    nativeLog("[LOCAL-NOTIF] banner not posted: " + *error);
    return;
  }
  const std::optional<std::string> sound = notificationSoundFileName();
  if (!sound) return;
  c_.notifier.settings([this, alive = std::weak_ptr<bool>(alive_), name = *sound](const auto& settings) {
    if (alive.expired()) return;
    if (settings.authorization != platform::NotificationAuthorization::authorized || !settings.alertsEnabled ||
        !settings.soundsEnabled) {
      return;
    }
    platform::mainQueue().post([this, alive, name] {
      if (!alive.expired()) playBannerSound(name);
    });
  });
}

std::optional<std::string> LocalNotificationManager::notificationSoundFileName() const {
  const std::optional<nlohmann::json> setting = c_.defaults.dictionary(kNotificationSoundKey);
  std::string level = "medium";
  if (setting && setting->is_object()) {
    auto enabled = setting->find("enabled");
    if (enabled != setting->end() && enabled->is_boolean() && !enabled->get<bool>()) return std::nullopt;
    auto stored = setting->find("level");
    if (stored != setting->end() && stored->is_string() && isSoundLevel(stored->get<std::string>())) {
      level = stored->get<std::string>();
    }
  }
  return "message_banner_" + level;
}

std::unique_ptr<platform::Sound> LocalNotificationManager::loadSound(const std::string& name) const {
  return c_.sounds.load(c_.soundsFolder / (name + ".wav"));
}

void LocalNotificationManager::playBannerSound(const std::string& name) {
  std::unique_ptr<platform::Sound> sound = loadSound(name);
  if (!sound) {
    nativeLog("[LOCAL-NOTIF] banner sound " + name + ".wav missing");
    return;
  }
  if (bannerSound_) bannerSound_->stop();
  sound->play();
  bannerSound_ = std::move(sound);
}

void LocalNotificationManager::bumpBadgeAfterBanner() {
  platform::mainQueue().post([this, alive = std::weak_ptr<bool>(alive_)] {
    if (alive.expired()) return;
    long long next = 0;
    if (latestUnreadTotal_ && *latestUnreadTotal_ >= 1) {
      next = *latestUnreadTotal_;
    } else {
      const std::optional<std::string> label = c_.badge.label();
      next = (label ? parseWholeNumber(*label).value_or(0) : 0) + 1;
    }
    c_.badge.setLabel(std::to_string(next));
  });
}

void LocalNotificationManager::handleSetUnreadTotal(const std::string& message) {
  const std::string text = trimmedExceptLineBreaks(afterPrefix(message, "setUnreadTotal:"));
  if (text.empty()) return;
  const std::optional<long long> total = parseWholeNumber(text == "-" ? "x" : text);
  if (!total || *total < 0) return;
  platform::mainQueue().post([this, alive = std::weak_ptr<bool>(alive_), total = *total] {
    if (!alive.expired()) applyUnreadTotal(total);
  });
}

void LocalNotificationManager::applyUnreadTotal(long long total) {
  latestUnreadTotal_ = total;
  if (c_.isAppActive && c_.isAppActive()) return;
  if (!c_.badge.label()) return;
  c_.badge.setLabel(total >= 1 ? std::optional<std::string>(std::to_string(total)) : std::nullopt);
}

void LocalNotificationManager::clearBadge() {
  platform::mainQueue().post([this, alive = std::weak_ptr<bool>(alive_)] {
    if (alive.expired()) return;
    c_.badge.setLabel(std::nullopt);
    c_.notifier.removeAllDelivered();
  });
}

void LocalNotificationManager::clearChatNotifications(const std::string& message) {
  const std::string chatId = afterPrefix(message, "clearChatNotifications:");
  if (chatId.empty()) return;
  std::vector<std::string> identifiers;
  for (const platform::NotificationRequest& shown : c_.notifier.delivered()) {
    const nlohmann::json& info = shown.userInfo;
    std::optional<std::string> id;
    if (auto nested = info.find("data"); nested != info.end() && nested->is_object()) {
      if (auto chat = nested->find("chatId"); chat != nested->end() && chat->is_string()) id = chat->get<std::string>();
    }
    if (!id) {
      if (auto chat = info.find("chatId"); chat != info.end() && chat->is_string()) id = chat->get<std::string>();
    }
    if (id == chatId) identifiers.push_back(shown.identifier);
  }
  if (!identifiers.empty()) c_.notifier.removeDelivered(identifiers);
}

void LocalNotificationManager::setNotificationSound(bool enabled, const std::string& level) {
  const std::string stored = isSoundLevel(level) ? level : "medium";
  c_.defaults.setDictionary(kNotificationSoundKey, {{"enabled", enabled}, {"level", stored}});
  nativeLog(std::string("[LOCAL-NOTIF] notification sound → ") + (enabled ? stored : "off"));
}

void LocalNotificationManager::handlePreviewNotificationSound() {
  const std::optional<std::string> name = notificationSoundFileName();
  platform::mainQueue().post([this, alive = std::weak_ptr<bool>(alive_), name] {
    if (alive.expired()) return;
    if (previewSound_) previewSound_->stop();
    previewSound_.reset();
    if (!name) return;
    previewSound_ = loadSound(*name);
    if (!previewSound_) {
      nativeLog("[LOCAL-NOTIF] banner sound preview: " + *name + ".wav missing");
      return;
    }
    previewSound_->play();
  });
}

void LocalNotificationManager::openNotificationSettings() {
  // GNOME's notification panel lists each program with its own switch; other
  // desktops keep them in their notification daemon's configuration.
  if (c_.opener.openDesktopApplication({"gnome-notifications-panel.desktop", "org.kde.kcm_notifications.desktop"})) return;
  nativeLog("[LOCAL-NOTIF] this desktop has no notification settings to open");
}

}  // namespace orvik

// The desktop's notification banners: post one, withdraw some or all of the
// program's, read whether the user lets the program notify, and learn which
// banner the user opened or dismissed.
//
// Linux backend: org.freedesktop.Notifications over GDBus (makeFreedesktopNotifier).
// The server cannot list what it shows, so the backend keeps its own table
// from our identifier to the server's id and the banner's user info; a banner
// leaves the table when the server reports it closed.
// Test double: RecordingNotifier (recording_notifier.h).
// THREAD-SAFETY: main queue; completions and responses arrive on the main queue.
#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace orvik::platform {

enum class NotificationAuthorization { notDetermined, denied, authorized };

struct NotificationSettings {
  NotificationAuthorization authorization = NotificationAuthorization::notDetermined;
  bool alertsEnabled = false;
  bool soundsEnabled = false;
  friend bool operator==(const NotificationSettings&, const NotificationSettings&) = default;
};

struct NotificationRequest {
  // Ours, unique per banner.
  std::string identifier;
  std::string title;
  std::string body;
  // Handed back when the user opens the banner.
  nlohmann::json userInfo = nlohmann::json::object();
  // A sound file the notification server plays with the banner; none: silent.
  std::optional<std::filesystem::path> sound;
  // "CALL", "MESSAGE" or empty.
  std::string category;
  // Shown until the user acts on it (an incoming call).
  bool timeSensitive = false;
};

// What the user did with a banner: opened it (its default action) or closed it.
enum class NotificationAction { open, dismiss };

struct NotificationResponse {
  std::string identifier;
  nlohmann::json userInfo;
  NotificationAction action = NotificationAction::open;
};

class Notifier {
 public:
  // The error text when the banner could not be posted, none on success.
  using Completion = std::function<void(const std::optional<std::string>& error)>;
  using ResponseHandler = std::function<void(const NotificationResponse& response)>;

  virtual ~Notifier() = default;

  virtual void add(NotificationRequest request, Completion completion = {}) = 0;
  virtual void settings(std::function<void(const NotificationSettings&)> completion) = 0;
  // The banners still shown, oldest first.
  virtual std::vector<NotificationRequest> delivered() const = 0;
  virtual void removeDelivered(const std::vector<std::string>& identifiers) = 0;
  virtual void removeAllDelivered() = 0;
  // One handler; a later one replaces it.
  virtual void setResponseHandler(ResponseHandler handler) = 0;
};

// `appName` and `desktopEntry` name the program to the server.
std::unique_ptr<Notifier> makeFreedesktopNotifier(std::string appName, std::string desktopEntry);

// The program's unread badge on its launcher icon: a label that is a number
// or nothing.
// Linux backend: the com.canonical.Unity.LauncherEntry "Update" signal
// (count, count-visible) on the session bus, for docks and panels that show it.
class Badge {
 public:
  virtual ~Badge() = default;
  virtual std::optional<std::string> label() const = 0;
  virtual void setLabel(std::optional<std::string> label) = 0;
};

// `desktopFileName` like "com.orvik.desk.desktop".
std::unique_ptr<Badge> makeLauncherEntryBadge(std::string desktopFileName);

}  // namespace orvik::platform

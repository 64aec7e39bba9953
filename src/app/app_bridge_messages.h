// The page's messages for device and application facts and for the native
// settings it keeps in step with its own: device information, identifier and
// version, the file-open accept list, voice-recording activity, ringtones and
// tone volumes, the update banner's placement, the inspector,
// screen-capture protection, the security state, opening links, the debug
// log and the theme. Replies are calls of page functions through the
// page-call helper, every argument JSON-encoded.
//
//   AppBridgeMessages messages(collaborators);
//   messages.publishRoutes(dispatcher);
//
// Owner: the main web view's wiring. THREAD-SAFETY: main queue only.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "platform/dispatch/task_queue.h"
#include "platform/lifetime_token.h"
#include "platform/page_call.h"

namespace orvik {

class CallCredentialsSink;
class DebugLogManager;
class ThemeManager;
class UpdateBanner;
namespace platform {
class DisplaySleepInhibitor;
class MessageRoutes;
class SystemOpener;
class UserDefaults;
}  // namespace platform

// The call audio's settings as the page drives them.
struct CallToneSettings {
  std::function<void(const nlohmann::json& volumes)> setToneVolumes;
  std::function<void(int ringtone)> previewRingtone;  // an index 0 to 8
  std::function<void()> stopRingtonePreview;
};

// What "getDeviceInfo" tells about this machine.
struct DeviceFacts {
  std::string model;      // DMI product name, else the device-tree model, else the machine type
  std::string name;       // the host name
  std::string osVersion;  // os-release's PRETTY_NAME, else "Linux"
};
DeviceFacts readDeviceFacts();

// The MIME types the page's file input offers for an "accept:" message text;
// empty offers every file.
std::vector<std::string> allowedFileTypesFor(std::string_view messageText);

// The banner's bottom offset from the text after the first ":": the number
// less 30, at least 20. None without a ":" or a number.
std::optional<double> updateAnchorFrom(std::string_view messageText);

class AppBridgeMessages {
 public:
  static constexpr const char* kVoiceRecordingReason = "Orvik voice note recording";

  struct Collaborators {
    std::weak_ptr<platform::PageScriptSink> page;
    platform::TaskQueue* queue = nullptr;  // empty: the main queue
    std::function<DeviceFacts()> deviceFacts;
    // Asks for the device identifier; the answer comes later, on the main
    // queue (the keyring is never read there).
    std::function<void(std::function<void(const std::string& udid)> done)> deviceUdid;
    std::string shortVersion;
    std::string build;
    // The web view's inspector setting; closes an open inspector when false
    // and answers whether it closed one.
    std::function<bool(bool allowed)> applyInspectorAllowed;
    std::function<void(std::vector<std::string> mimeTypes)> setAllowedFileTypes;
    // Keeps the machine from suspending while a voice note is recorded (the
    // screen may still lock); none: nothing.
    platform::DisplaySleepInhibitor* displaySleep = nullptr;
    CallToneSettings tones;
    CallCredentialsSink* calls = nullptr;
    ThemeManager* theme = nullptr;
    DebugLogManager* debugLog = nullptr;
    platform::UserDefaults* defaults = nullptr;
    platform::SystemOpener* opener = nullptr;
    // None until the updater is built: its messages are then not handled yet.
    UpdateBanner* updates = nullptr;
    std::function<void(const std::string& line)> log;  // empty: nativeLog
  };

  explicit AppBridgeMessages(Collaborators collaborators);
  ~AppBridgeMessages();
  AppBridgeMessages(const AppBridgeMessages&) = delete;
  AppBridgeMessages& operator=(const AppBridgeMessages&) = delete;

  // The names handled here, as the page sends them, from the one table of
  // this subsystem's messages.
  static std::vector<std::string_view> messageNames();
  // Routes the names handled here (the update banner's only when the program
  // has an update service).
  void publishRoutes(platform::MessageRoutes& routes);

  // Whether the page allowed the web inspector; false at start. Read by the
  // call-window views when they are built.
  bool inspectorAllowed() const { return inspectorAllowed_; }

  void sendDeviceInfo();
  void sendDeviceUdid();
  void sendAppVersion();
  void setAllowedFileTypes(const std::string& messageText);
  void setVoiceRecordingActive(bool active);
  void handleCheckForUpdates(const std::string& messageText);
  void setUpdateUIVisible(bool visible);
  void setUpdateAnchor(const std::string& messageText);
  void setInspectorAllowed(const nlohmann::json& payload);
  void setScreenshotProtected(const nlohmann::json& payload);
  void securityStateChanged(const nlohmann::json& payload);
  void setIncomingRingtone(const nlohmann::json& payload);
  void previewIncomingRingtone(const nlohmann::json& payload);
  void setRingtoneVolumes(const nlohmann::json& payload);
  void openURL(const nlohmann::json& payload);
  void writeDebugLog(const nlohmann::json& payload);
  void getDebugLogSize();
  void getDebugLogContent();
  void clearDebugLog();
  void themeChanged(const nlohmann::json& payload);

  int voiceRecordingCount() const { return voiceRecordingCount_; }
  bool holdsVoiceRecordingActivity() const { return voiceRecordingActivity_.has_value(); }

 private:
  struct Message {
    std::string_view name;
    void (*handle)(AppBridgeMessages& self, const nlohmann::json& body);
    bool needsUpdates = false;
  };
  static std::span<const Message> messages();
  void postVoiceRecordingActive(bool active);

  platform::TaskQueue& queue() const;
  void log(const std::string& line) const;
  void reply(std::string_view function, std::initializer_list<nlohmann::json> args) const;

  Collaborators collaborators_;
  int voiceRecordingCount_ = 0;
  std::optional<unsigned> voiceRecordingActivity_;
  bool screenshotProtectionLogged_ = false;
  bool inspectorAllowed_ = false;
  // Posted work finds the object gone. Last member.
  platform::LifetimeToken lifetime_;
};

}  // namespace orvik

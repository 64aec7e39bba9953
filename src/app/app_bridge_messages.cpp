#include "app/app_bridge_messages.h"

#include <sys/utsname.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <fstream>

#include <gio/gio.h>

#include "calls/signaling/call_credentials_sink.h"
#include "core/debug_log_manager.h"
#include "core/file_security.h"
#include "core/incoming_ringtone.h"
#include "core/native_logger.h"
#include "core/theme_manager.h"
#include "core/update_banner.h"
#include "platform/base64.h"
#include "platform/display_sleep_inhibitor.h"
#include "platform/message_routes.h"
#include "platform/page_payload.h"
#include "platform/queue_checker.h"

namespace orvik {
namespace {

std::string firstLineOf(const std::string& file) {
  std::ifstream in(file);
  std::string line;
  std::getline(in, line, '\0');  // the device-tree model ends in a zero byte
  if (const auto end = line.find('\n'); end != std::string::npos) line.erase(end);
  while (!line.empty() && (line.back() == ' ' || line.back() == '\r')) line.pop_back();
  return line;
}

bool contains(std::string_view text, std::string_view part) { return text.find(part) != std::string_view::npos; }

// The system's MIME type for a file-name extension; none when it only guesses.
std::optional<std::string> mimeTypeForExtension(const std::string& extension) {
  gboolean uncertain = FALSE;
  const std::string name = "file." + extension;
  char* type = g_content_type_guess(name.c_str(), nullptr, 0, &uncertain);
  std::optional<std::string> mime;
  if (type && !uncertain) {
    if (char* made = g_content_type_get_mime_type(type)) {
      if (std::string_view(made) != "application/octet-stream") mime = made;
      g_free(made);
    }
  }
  g_free(type);
  return mime;
}

}  // namespace

DeviceFacts readDeviceFacts() {
  DeviceFacts facts;
  facts.model = firstLineOf("/sys/class/dmi/id/product_name");
  if (facts.model.empty()) facts.model = firstLineOf("/proc/device-tree/model");
  if (facts.model.empty()) {
    // Containers and some virtual machines expose neither.
    struct utsname names {};
    if (::uname(&names) == 0) facts.model = names.machine;
  }
  const char* host = g_get_host_name();
  facts.name = host && *host ? host : "Unknown Mac";
  char* pretty = g_get_os_info(G_OS_INFO_KEY_PRETTY_NAME);
  facts.osVersion = pretty && *pretty ? pretty : "Linux";
  g_free(pretty);
  return facts;
}

std::vector<std::string> allowedFileTypesFor(std::string_view messageText) {
  std::string accept(messageText);
  for (std::size_t at; (at = accept.find("accept:")) != std::string::npos;) accept.erase(at, 7);
  if (contains(accept, "image/")) {
    return {"image/jpeg", "image/png", "image/gif", "image/webp", "image/heic", "image/tiff", "image/bmp",
            "image/svg+xml"};
  }
  if (contains(accept, "video/")) return {"video/mp4", "video/*", "video/quicktime"};
  if (accept == "application/pdf") return {"application/pdf"};
  for (const char* document : {"application/pdf", "application/zip", "application/msword", "application/vnd.",
                               "text/plain", ".zip", ".txt"}) {
    if (!contains(accept, document)) continue;
    std::vector<std::string> types = {"application/pdf", "text/plain", "application/rtf"};
    for (const char* extension : {"zip", "7z", "rar", "tar", "gz", "doc", "docx", "xls", "xlsx", "ppt", "pptx",
                                  "txt", "csv", "html", "htm", "xml", "json"}) {
      auto type = mimeTypeForExtension(extension);
      if (type && std::find(types.begin(), types.end(), *type) == types.end()) types.push_back(*type);
    }
    return types;
  }
  if (contains(accept, "audio/")) return {"audio/mpeg", "audio/mp4", "audio/x-wav", "audio/x-aiff"};
  return {};
}

std::optional<double> updateAnchorFrom(std::string_view messageText) {
  const auto colon = messageText.find(':');
  if (colon == std::string_view::npos) return std::nullopt;
  const std::string number(messageText.substr(colon + 1));
  if (number.empty()) return std::nullopt;
  char* end = nullptr;
  const double value = std::strtod(number.c_str(), &end);
  if (end == number.c_str()) return std::nullopt;
  return std::max(value - 30.0, 20.0);
}

AppBridgeMessages::AppBridgeMessages(Collaborators collaborators) : collaborators_(std::move(collaborators)) {}

AppBridgeMessages::~AppBridgeMessages() {
  if (voiceRecordingActivity_ && collaborators_.displaySleep) {
    collaborators_.displaySleep->uninhibit(*voiceRecordingActivity_);
  }
}

platform::TaskQueue& AppBridgeMessages::queue() const {
  return collaborators_.queue ? *collaborators_.queue : platform::mainQueue();
}

void AppBridgeMessages::log(const std::string& line) const {
  if (collaborators_.log) {
    collaborators_.log(line);
  } else {
    nativeLog(line);
  }
}

void AppBridgeMessages::reply(std::string_view function, std::initializer_list<nlohmann::json> args) const {
  platform::callPage(collaborators_.page, platform::pageFunctionCall(function, args));
}

namespace {

std::string bodyText(const nlohmann::json& body) { return body.is_string() ? body.get<std::string>() : std::string(); }

}  // namespace

// The application's page messages: the one table of their names.
std::span<const AppBridgeMessages::Message> AppBridgeMessages::messages() {
  using json = nlohmann::json;
  using M = AppBridgeMessages;
  static constexpr std::array<Message, 22> kMessages = {{
      {"getDeviceInfo", [](M& m, const json&) { m.sendDeviceInfo(); }},
      {"getDeviceUdid", [](M& m, const json&) { m.sendDeviceUdid(); }},
      {"getAppVersion", [](M& m, const json&) { m.sendAppVersion(); }},
      {"accept:", [](M& m, const json& body) { m.setAllowedFileTypes(bodyText(body)); }},
      // Posted: the page's call returns before the activity changes, as the page expects.
      {"voiceRecordingStarted", [](M& m, const json&) { m.postVoiceRecordingActive(true); }},
      {"voiceRecordingStopped", [](M& m, const json&) { m.postVoiceRecordingActive(false); }},
      {"setInspectorAllowed", [](M& m, const json& body) { m.setInspectorAllowed(body); }},
      {"setScreenshotProtected", [](M& m, const json& body) { m.setScreenshotProtected(body); }},
      {"securityStateChanged", [](M& m, const json& body) { m.securityStateChanged(body); }},
      {"setIncomingRingtone", [](M& m, const json& body) { m.setIncomingRingtone(body); }},
      {"previewIncomingRingtone", [](M& m, const json& body) { m.previewIncomingRingtone(body); }},
      {"setRingtoneVolumes", [](M& m, const json& body) { m.setRingtoneVolumes(body); }},
      {"stopRingtonePreview",
       [](M& m, const json&) {
         if (m.collaborators_.tones.stopRingtonePreview) m.collaborators_.tones.stopRingtonePreview();
       }},
      {"openURL", [](M& m, const json& body) { m.openURL(body); }},
      {"writeDebugLog", [](M& m, const json& body) { m.writeDebugLog(body); }},
      {"getDebugLogSize", [](M& m, const json&) { m.getDebugLogSize(); }},
      {"getDebugLogContent", [](M& m, const json&) { m.getDebugLogContent(); }},
      {"clearDebugLog", [](M& m, const json&) { m.clearDebugLog(); }},
      {"themeChanged", [](M& m, const json& body) { m.themeChanged(body); }},
      {"checkForUpdates", [](M& m, const json& body) { m.handleCheckForUpdates(bodyText(body)); }, true},
      {"updateUIHidden", [](M& m, const json&) { m.setUpdateUIVisible(false); }, true},
      {"updateAnchor:", [](M& m, const json& body) { m.setUpdateAnchor(bodyText(body)); }, true},
  }};
  return kMessages;
}

std::vector<std::string_view> AppBridgeMessages::messageNames() {
  std::vector<std::string_view> names;
  for (const auto& message : messages()) names.push_back(message.name);
  return names;
}

void AppBridgeMessages::publishRoutes(platform::MessageRoutes& routes) {
  ORVIK_ASSERT_ON_QUEUE(queue());
  for (const auto& message : messages()) {
    // The update banner's messages belong to whoever shows it.
    if (message.needsUpdates && !collaborators_.updates) continue;
    [[maybe_unused]] const bool known =
        routes.route(message.name, [this, handle = message.handle](const nlohmann::json& body) { handle(*this, body); });
  }
}

void AppBridgeMessages::postVoiceRecordingActive(bool active) {
  queue().post([weak = lifetime_.weak(this), active] {
    if (auto* self = weak.get()) self->setVoiceRecordingActive(active);
  });
}

void AppBridgeMessages::sendDeviceInfo() {
  ORVIK_ASSERT_ON_QUEUE(queue());
  const DeviceFacts facts = collaborators_.deviceFacts ? collaborators_.deviceFacts() : readDeviceFacts();
  if (facts.model.empty()) return;
  reply("onDeviceResponse", {nlohmann::json{{"deviceModel", facts.model},
                                            {"deviceName", facts.name},
                                            {"deviceChannel", "macos"},
                                            {"distribution", "bucket"},
                                            {"version", facts.osVersion}}});
}

void AppBridgeMessages::sendDeviceUdid() {
  ORVIK_ASSERT_ON_QUEUE(queue());
  // The answer may come after this object is gone: it holds only the page
  // (weakly) and the log path.
  auto answer = [page = collaborators_.page, logTo = collaborators_.log](const std::string& udid) {
    // The identifier is ASCII hex: cutting bytes cuts characters.
    const std::string line = "[udid] bridge getDeviceUdid → returning " +
                             (udid.empty() ? std::string("EMPTY (transient read error)")
                                           : "…" + udid.substr(udid.size() > 12 ? udid.size() - 12 : 0));
    if (logTo) {
      logTo(line);
    } else {
      nativeLog(line);
    }
    platform::callPage(page, platform::pageFunctionCall("onDeviceUdidReceived", {udid}));
  };
  if (collaborators_.deviceUdid) {
    collaborators_.deviceUdid(std::move(answer));
  } else {
    answer({});
  }
}

void AppBridgeMessages::sendAppVersion() {
  ORVIK_ASSERT_ON_QUEUE(queue());
  const std::string version = collaborators_.shortVersion.empty() ? "1.0" : collaborators_.shortVersion;
  const std::string build = collaborators_.build.empty() ? "1" : collaborators_.build;
  reply("onAppVersionResponse",
        {nlohmann::json{{"version", version}, {"build", build}, {"fullVersion", version + " (" + build + ")"}}});
}

void AppBridgeMessages::setAllowedFileTypes(const std::string& messageText) {
  ORVIK_ASSERT_ON_QUEUE(queue());
  if (collaborators_.setAllowedFileTypes) collaborators_.setAllowedFileTypes(allowedFileTypesFor(messageText));
}

void AppBridgeMessages::setVoiceRecordingActive(bool active) {
  ORVIK_ASSERT_ON_QUEUE(queue());
  if (active) {
    ++voiceRecordingCount_;
    if (voiceRecordingActivity_) return;
    voiceRecordingActivity_ =
        collaborators_.displaySleep ? collaborators_.displaySleep->inhibitSuspend(kVoiceRecordingReason) : 0u;
    log("[VoiceRecording] activity assertion held");
    return;
  }
  voiceRecordingCount_ = std::max(voiceRecordingCount_ - 1, 0);
  if (voiceRecordingCount_ < 1 && voiceRecordingActivity_) {
    if (collaborators_.displaySleep) collaborators_.displaySleep->uninhibit(*voiceRecordingActivity_);
    voiceRecordingActivity_.reset();
    log("[VoiceRecording] activity assertion released");
  }
}

void AppBridgeMessages::handleCheckForUpdates(const std::string& messageText) {
  ORVIK_ASSERT_ON_QUEUE(queue());
  const auto anchor = updateAnchorFrom(messageText);
  queue().post([updates = collaborators_.updates, anchor] {
    updates->setUserLoggedIn(true);
    if (anchor) updates->setBannerAnchorBottom(*anchor);
    updates->setShowUpdateDialog(false);
    updates->checkForUpdates(false);
  });
}

void AppBridgeMessages::setUpdateUIVisible(bool visible) {
  ORVIK_ASSERT_ON_QUEUE(queue());
  queue().post([updates = collaborators_.updates, visible] { updates->setUserLoggedIn(visible); });
}

void AppBridgeMessages::setUpdateAnchor(const std::string& messageText) {
  ORVIK_ASSERT_ON_QUEUE(queue());
  const auto anchor = updateAnchorFrom(messageText);
  if (!anchor) return;
  queue().post([updates = collaborators_.updates, anchor = *anchor, page = collaborators_.page] {
    updates->setUserLoggedIn(true);
    updates->setBannerAnchorBottom(anchor);
    if (updates->hasUpdateInfo()) platform::callPage(page, platform::pageFunctionCall("__orvikSetUpdateAvailable", {true}));
  });
}

void AppBridgeMessages::setInspectorAllowed(const nlohmann::json& payload) {
  ORVIK_ASSERT_ON_QUEUE(queue());
  const bool allowed = platform::payloadFlag(payload, "allowed").value_or(false);
  inspectorAllowed_ = allowed;
  const bool closedOne = collaborators_.applyInspectorAllowed && collaborators_.applyInspectorAllowed(allowed);
  NativeLogger::shared().setWebConsoleAllowed(allowed);
  if (closedOne) {
    NativeLogger::shared().log("[Inspector] access revoked — open inspector closed", "NATIVE",
                               NativeLogger::ForwardToWeb{true});
  }
}

void AppBridgeMessages::setScreenshotProtected(const nlohmann::json&) {
  ORVIK_ASSERT_ON_QUEUE(queue());
  // Nothing on Linux keeps a window out of other programs' screen captures.
  if (screenshotProtectionLogged_) return;
  screenshotProtectionLogged_ = true;
  log("[WebView] setScreenshotProtected ignored — window capture protection is not available on Linux");
}

void AppBridgeMessages::securityStateChanged(const nlohmann::json& payload) {
  ORVIK_ASSERT_ON_QUEUE(queue());
  if (!collaborators_.calls) return;
  collaborators_.calls->setSecurityState(platform::payloadFlag(payload, "maskData").value_or(false),
                                         platform::payloadFlag(payload, "isReversePinTriggered").value_or(false));
}

void AppBridgeMessages::setIncomingRingtone(const nlohmann::json& payload) {
  ORVIK_ASSERT_ON_QUEUE(queue());
  const auto name = platform::payloadString(payload, "ringtone");
  if (!name || !collaborators_.defaults) return;
  const int index = incomingRingtoneIndex(*name);
  if (index == kUnknownIncomingRingtone) return;
  orvik::setIncomingRingtone(*collaborators_.defaults, index);
}

void AppBridgeMessages::previewIncomingRingtone(const nlohmann::json& payload) {
  ORVIK_ASSERT_ON_QUEUE(queue());
  const auto name = platform::payloadString(payload, "ringtone");
  if (!name) return;
  const int index = incomingRingtoneIndex(*name);
  if (index == kUnknownIncomingRingtone) return;
  if (collaborators_.tones.previewRingtone) collaborators_.tones.previewRingtone(index);
}

void AppBridgeMessages::setRingtoneVolumes(const nlohmann::json& payload) {
  ORVIK_ASSERT_ON_QUEUE(queue());
  if (collaborators_.tones.setToneVolumes) {
    collaborators_.tones.setToneVolumes(platform::payloadObject(payload, "volumes").value_or(nlohmann::json::object()));
  }
}

void AppBridgeMessages::openURL(const nlohmann::json& payload) {
  ORVIK_ASSERT_ON_QUEUE(queue());
  const auto url = platform::payloadString(payload, "url");
  if (!url || url->empty()) return;
  if (collaborators_.opener) {
    SafeURLOpener::open(*url, *collaborators_.opener);
  } else {
    SafeURLOpener::open(*url);
  }
}

void AppBridgeMessages::writeDebugLog(const nlohmann::json& payload) {
  ORVIK_ASSERT_ON_QUEUE(queue());
  if (!collaborators_.debugLog || !payload.is_object()) return;
  nlohmann::json entry = payload;
  entry.erase("eventType");
  collaborators_.debugLog->writeEntry(std::move(entry));
}

void AppBridgeMessages::getDebugLogSize() {
  ORVIK_ASSERT_ON_QUEUE(queue());
  if (!collaborators_.debugLog) return;
  collaborators_.debugLog->getLogSize([page = collaborators_.page](std::int64_t size) {
    platform::callPage(page, platform::pageFunctionCall("onDebugLogSizeReceived", {size}));
  });
}

void AppBridgeMessages::getDebugLogContent() {
  ORVIK_ASSERT_ON_QUEUE(queue());
  if (!collaborators_.debugLog) return;
  collaborators_.debugLog->getLogContent([page = collaborators_.page](std::optional<std::string> content) {
    platform::callPage(page, platform::pageFunctionCall("onDebugLogContentReceived",
                                                        {platform::encodeBase64(content.value_or(""))}));
  });
}

void AppBridgeMessages::clearDebugLog() {
  ORVIK_ASSERT_ON_QUEUE(queue());
  if (!collaborators_.debugLog) return;
  collaborators_.debugLog->clearLogs(
      [page = collaborators_.page] { platform::callPage(page, platform::pageFunctionCall("onDebugLogCleared")); });
}

void AppBridgeMessages::themeChanged(const nlohmann::json& payload) {
  ORVIK_ASSERT_ON_QUEUE(queue());
  if (collaborators_.theme) collaborators_.theme->setDarkMode(platform::payloadFlag(payload, "isDarkMode").value_or(true));
}

}  // namespace orvik

#include "web/credential_fetcher.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <system_error>

#include "core/native_logger.h"
#include "files/documents_folder.h"
#include "platform/base64.h"
#include "platform/json_limits.h"
#include "platform/message_routes.h"
#include "platform/page_payload.h"
#include "platform/queue_checker.h"

namespace orvik {
namespace {

bool equalIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

// Reads the signed-in user from the web application's database and posts it
// as "nativeAuthData"; every outcome is posted, failures with a "_debug"
// reason. A database that does not exist is not created: the upgrade that
// opening would start is aborted, and the open fails.
constexpr const char* kAuthDataScript = R"JS((function () {
  function post(result) {
    try { window.webkit.messageHandlers.nativeApp.postMessage(result); } catch (e) {}
  }
  function postEmpty(debug) {
    post({ eventType: 'nativeAuthData', userNumber: '', deviceUdid: '', authToken: '', _debug: debug });
  }
  function firstOf(values) {
    for (var i = 0; i < values.length; i++) {
      var v = values[i];
      if (v !== undefined && v !== null && v !== '') return String(v);
    }
    return '';
  }
  async function decryptedProfileImage(field) {
    try {
      if (typeof field !== 'string' || !field) return '';
      var text = field.indexOf('v2:') === 0 ? field.slice(3) : field;
      var udid = localStorage.getItem('orvik_udid');
      if (!udid) return '';
      var bytes = Uint8Array.from(atob(text), function (c) { return c.charCodeAt(0); });
      if (bytes.length <= 12) return '';
      var salt = [navigator.vendor || '', navigator.language || '', navigator.doNotTrack || ''].join('|') +
        '|orvik-profile-v2';
      var encoder = new TextEncoder();
      var base = await crypto.subtle.importKey('raw', encoder.encode(udid), 'PBKDF2', false, ['deriveKey']);
      var key = await crypto.subtle.deriveKey(
        { name: 'PBKDF2', hash: 'SHA-256', salt: encoder.encode(salt), iterations: 100000 },
        base, { name: 'AES-GCM', length: 256 }, false, ['decrypt']);
      var plain = await crypto.subtle.decrypt({ name: 'AES-GCM', iv: bytes.slice(0, 12) }, key, bytes.slice(12));
      return new TextDecoder().decode(plain);
    } catch (e) {
      return '';
    }
  }
  async function postUser(u) {
    var avatar = firstOf([u.imageUrl, u.imageURL, u.profileImage, u.profileImageUrl, u.avatar, u.avatarUrl,
      u.thumbLocalUrl]);
    if (!avatar) {
      var images = document.getElementsByTagName('img');
      for (var i = 0; i < images.length; i++) {
        if (images[i].alt === 'Profile') { avatar = images[i].currentSrc || images[i].src || ''; break; }
      }
    }
    if (!avatar) avatar = await decryptedProfileImage(u.oihsnsuei);
    var fresh = null;
    if (typeof window.__orvikGetAuthToken === 'function') {
      try { fresh = await window.__orvikGetAuthToken(); } catch (e) { fresh = null; }
    }
    if (!fresh || typeof fresh !== 'object') fresh = {};
    post({
      eventType: 'nativeAuthData',
      fresh: !!(fresh.authToken),
      userNumber: firstOf([fresh.userNumber, u.userNumber, u.OrvikID]),
      deviceUdid: firstOf([fresh.deviceUdid, u.udid, u.deviceUdid, u.deviceUDID]),
      authToken: firstOf([fresh.authToken, u.authToken, u.token]),
      displayName: firstOf([u.name, u.fullName, u.userName, u.username]),
      avatarURL: avatar
    });
  }
  var request;
  try { request = indexedDB.open('OrvikDb13'); } catch (e) { postEmpty('db_open_error'); return; }
  request.onupgradeneeded = function () { try { request.transaction.abort(); } catch (e) {} };
  request.onerror = function () { postEmpty('db_open_error'); };
  request.onsuccess = function () {
    var db = request.result;
    var stores = Array.prototype.join.call(db.objectStoreNames, ',');
    try {
      var all = db.transaction('user', 'readonly').objectStore('user').getAll();
      all.onerror = function () { db.close(); postEmpty('getAll_error stores=' + stores); };
      all.onsuccess = function () {
        db.close();
        var records = all.result || [];
        if (!records.length) { postEmpty('empty stores=' + stores); return; }
        postUser(records[0] || {});
      };
    } catch (e) {
      db.close();
      postEmpty('tx_error=' + (e && e.message) + ' stores=' + stores);
    }
  };
})();)JS";

}  // namespace

CredentialFetcher::CredentialFetcher(platform::TaskQueue& queue, platform::Clock& clock, CallCredentialsSink& calls,
                                     std::weak_ptr<platform::PageScriptSink> page, Collaborators collaborators)
    : queue_(queue), clock_(clock), calls_(calls), page_(std::move(page)), collaborators_(std::move(collaborators)) {}

CredentialFetcher::~CredentialFetcher() {
  if (retry_) retry_->cancel();
}

namespace {

struct CredentialMessage {
  std::string_view name;
  void (*handle)(CredentialFetcher& fetcher, const nlohmann::json& body);
};
// The credential messages of the page: the one table of their names.
constexpr std::array<CredentialMessage, 3> kCredentialMessages = {{
    {"nativeAuthData", [](CredentialFetcher& f, const nlohmann::json& body) { f.handleNativeAuthData(body); }},
    {"userLoggedIn", [](CredentialFetcher& f, const nlohmann::json&) { f.handleUserLoggedIn(); }},
    {"userSignedOut", [](CredentialFetcher& f, const nlohmann::json&) { f.handleUserSignedOut(); }},
}};

constexpr std::array<std::string_view, kCredentialMessages.size()> kCredentialMessageNames = [] {
  std::array<std::string_view, kCredentialMessages.size()> names{};
  for (std::size_t i = 0; i < kCredentialMessages.size(); ++i) names[i] = kCredentialMessages[i].name;
  return names;
}();

}  // namespace

std::span<const std::string_view> CredentialFetcher::messageNames() { return kCredentialMessageNames; }

void CredentialFetcher::publishRoutes(platform::MessageRoutes& routes) {
  ORVIK_ASSERT_ON_QUEUE(queue_);
  for (const auto& message : kCredentialMessages) {
    [[maybe_unused]] const bool known =
        routes.route(message.name, [this, handle = message.handle](const nlohmann::json& body) { handle(*this, body); });
  }
}

const std::string& CredentialFetcher::authDataScript() {
  static const std::string script = kAuthDataScript;
  return script;
}

void CredentialFetcher::log(const std::string& line) const {
  if (collaborators_.log) {
    collaborators_.log(line);
  } else {
    nativeLog(line);
  }
}

void CredentialFetcher::runAuthDataScript() {
  if (auto page = page_.lock()) page->evaluateScript(authDataScript());
}

void CredentialFetcher::fetchCredentials(const std::string& reason) {
  ORVIK_ASSERT_ON_QUEUE(queue_);
  if (page_.expired()) {
    log("[WebView] credential fetch (" + reason + ") skipped — no webView");
    return;
  }
  if (calls_.hasCredentials() || authFetchInFlight_) return;
  const auto now = clock_.monotonicNow();
  if (lastAuthFetchAt_ && std::chrono::duration<double>(now - *lastAuthFetchAt_).count() < kMinFetchIntervalSeconds) {
    return;
  }
  lastAuthFetchAt_ = now;
  authFetchRetries_ = 0;
  authFetchInFlight_ = true;
  log("[WebView] credential fetch requested — reason=" + reason);
  runAuthDataScript();
}

void CredentialFetcher::resetForNewLoad() {
  ORVIK_ASSERT_ON_QUEUE(queue_);
  authFetchRetries_ = 0;
  lastAuthFetchAt_.reset();
}

void CredentialFetcher::fetchAfterLoad() {
  ORVIK_ASSERT_ON_QUEUE(queue_);
  if (calls_.hasCredentials()) return;
  log("[WebView] didFinish — fetching credentials (session restore)");
  lastAuthFetchAt_ = clock_.monotonicNow();
  runAuthDataScript();
}

void CredentialFetcher::handleUserLoggedIn() {
  ORVIK_ASSERT_ON_QUEUE(queue_);
  queue_.post([setUserLoggedIn = collaborators_.setUserLoggedIn] {
    if (setUserLoggedIn) setUserLoggedIn(true);
  });
  log("[WebView] userLoggedIn — fetching credentials");
  // Outside the fetch's guards and state: the page has just told us.
  runAuthDataScript();
}

void CredentialFetcher::handleNativeAuthData(const nlohmann::json& payload) {
  ORVIK_ASSERT_ON_QUEUE(queue_);
  auto text = [&payload](const char* key) { return platform::payloadString(payload, key).value_or(""); };
  CallCredentials credentials{text("userNumber"), text("deviceUdid"), text("authToken"), text("displayName"),
                              text("avatarURL")};
  const auto claim = decodeTokenDeviceUdid(credentials.authToken);
  const bool tokenMatches =
      !claim || credentials.deviceUdid.empty() || equalIgnoringCase(*claim, credentials.deviceUdid);
  if (!credentials.userNumber.empty() && tokenMatches) {
    authFetchRetries_ = 0;
    authFetchInFlight_ = false;
    calls_.setCredentials(credentials);
    log("[WebView] nativeAuthData — credentials SET ✅");
    return;
  }
  if (calls_.hasCredentials() || authFetchRetries_ >= kMaxAuthFetchRetries) {
    authFetchInFlight_ = false;
    return;
  }
  ++authFetchRetries_;
  authFetchInFlight_ = true;
  if (retry_) retry_->cancel();
  retry_ = std::make_shared<platform::WorkItem>([this] {
    if (!calls_.hasCredentials() && !page_.expired()) runAuthDataScript();
  });
  queue_.postAfter(kRetryDelaySeconds, retry_);
}

void CredentialFetcher::handleUserSignedOut() {
  ORVIK_ASSERT_ON_QUEUE(queue_);
  calls_.clearCredentials();
  const auto folder = collaborators_.documentsFolder ? collaborators_.documentsFolder() : documentsDirectory();
  std::error_code error;
  // Only what lies in the folder itself goes; a folder that is a link leads
  // somewhere else and is left alone.
  if (folder.empty() || std::filesystem::is_symlink(folder, error)) return;
  std::filesystem::directory_iterator entries(folder, error);
  if (error) return;
  for (const auto& entry : entries) {
    std::error_code ignored;
    std::filesystem::remove_all(entry.path(), ignored);  // links are removed, never followed
  }
}

std::optional<std::string> CredentialFetcher::decodeTokenDeviceUdid(std::string_view token) {
  std::vector<std::string_view> pieces;
  for (std::size_t start = 0; start <= token.size();) {
    const auto dot = token.find('.', start);
    const auto end = dot == std::string_view::npos ? token.size() : dot;
    if (end > start) pieces.push_back(token.substr(start, end - start));
    start = end + 1;
  }
  if (pieces.size() < 2) return std::nullopt;
  std::string payload(pieces[1]);
  std::replace(payload.begin(), payload.end(), '-', '+');
  std::replace(payload.begin(), payload.end(), '_', '/');
  while (payload.size() % 4 != 0) payload.push_back('=');
  const auto bytes = platform::decodeBase64Strict(payload);
  if (!bytes) return std::nullopt;
  const auto claims = platform::parseOutsideJson(*bytes, bytes->size()).value_or(nullptr);
  if (!claims.is_object()) return std::nullopt;
  auto claim = platform::payloadString(claims, "deviceUdid");
  if (!claim) claim = platform::payloadString(claims, "Udid");
  if (!claim || claim->empty()) return std::nullopt;
  return claim;
}

}  // namespace orvik

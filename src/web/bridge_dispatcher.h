// The single entry point of page messages: refuses messages that do not
// come from the service's own top document, echoes the page's console lines
// ("logger"), makes sure call credentials are being fetched, matches the
// message name in one fixed order and hands the message to its handler.
//
// "nativeApp" bodies come in two forms, separate name spaces:
//   text        "getDeviceInfo", or a prefix name with its payload: "setUnreadTotal:3"
//   dictionary  { eventType: "themeChanged", isDarkMode: true }
// Every name of both tables is known from the start; the subsystem that owns
// a name routes it here (route()). A known name nobody routed yet is logged as
// not handled yet; an unknown name is dropped without a word.
//
//   dispatcher.route("getAppVersion", [&](const nlohmann::json& body) { messages.sendAppVersion(); });
//   host.setBridgeMessageHandler([&](const BridgeMessage& m) { dispatcher.didReceive(m); });
//
// Owner: the main web view's wiring. THREAD-SAFETY: main queue only.
#pragma once

#include <functional>
#include <map>
#include <span>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "platform/message_routes.h"
#include "web/bridge_message.h"

namespace orvik {

class NativeLogger;

class BridgeDispatcher final : public platform::MessageRoutes {
 public:
  enum class Match { exact, prefix };
  struct TextName {
    std::string_view name;
    Match match;
  };
  // Text-form names in test order (prefix names include their ":", except
  // "checkForUpdates", which takes an optional ":" and anchor).
  static std::span<const TextName> textNames();
  // Dictionary-form names ("eventType"), all exact, in test order.
  static std::span<const std::string_view> dictionaryNames();

  // The handler gets the whole body: the text of a text-form message, the
  // dictionary of a dictionary-form one.
  using Handler = platform::MessageRoutes::Handler;

  struct Collaborators {
    // Whether a host is one of the service's trusted web hosts.
    std::function<bool(std::string_view host)> isTrustedHost;
    // Whether the call engine holds credentials, and the fetch to start when not.
    std::function<bool()> hasCredentials;
    std::function<void(const std::string& reason)> fetchCredentials;
    // Standard output, one line (empty: std::cout).
    std::function<void(const std::string& line)> print;
    // Empty: NativeLogger::shared().
    NativeLogger* logger = nullptr;
  };

  explicit BridgeDispatcher(Collaborators collaborators);

  // Routes a name of either table to `handler`, replacing an earlier route.
  // False (and nothing routed) for a name of neither table.
  [[nodiscard]] bool route(std::string_view name, Handler handler) override;

  void didReceive(const BridgeMessage& message);

  // The top document, of a trusted host (exact, case-sensitive), over https,
  // and verified by the pin test.
  bool isTrustedBridgeOrigin(const BridgeMessage& message) const;

 private:
  void echoConsoleLine(const nlohmann::json& body);
  void dispatch(std::string_view name, const nlohmann::json& body);
  NativeLogger& logger() const;
  void print(const std::string& line) const;

  Collaborators collaborators_;
  std::map<std::string, Handler, std::less<>> routes_;
};

}  // namespace orvik

// Where a subsystem publishes the page messages it answers: the bridge
// dispatcher (src/web) implements it, and files, calls and the updater route
// their names through it without knowing the web layer, the way
// PageScriptSink carries their calls the other way.
//
//   messages.publishRoutes(routes);   // done once by the composition root
//
// THREAD-SAFETY: main queue only; handlers run on the main queue.
#pragma once

#include <functional>
#include <string_view>

#include <nlohmann/json.hpp>

namespace orvik::platform {

class MessageRoutes {
 public:
  // The whole message body: the text of a text-form message ("accept:…"),
  // the dictionary of a dictionary-form one ({eventType: …}).
  using Handler = std::function<void(const nlohmann::json& body)>;

  virtual ~MessageRoutes() = default;
  // Routes `name` to `handler`, replacing an earlier route. False (and nothing
  // routed) when the page never sends `name`.
  [[nodiscard]] virtual bool route(std::string_view name, Handler handler) = 0;
};

}  // namespace orvik::platform

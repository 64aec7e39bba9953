#include "web/call_window_handlers.h"

#include "calls/windows/call_page_view.h"

namespace orvik {

bool CallWindowLogHandler::didReceive(const nlohmann::json& body) const {
  if (!body.is_object() || body.empty()) return false;
  const auto level = body.find("level");
  const auto msg = body.find("msg");
  return level != body.end() && level->is_string() && msg != body.end() && msg->is_string();
}

void CallWindowReadyHandler::didReceive(const nlohmann::json& body) const {
  if (body.is_string() && body.get_ref<const std::string&>() == "cameraReady") {
    window_.cameraReady();
  } else {
    window_.revealWindow();
  }
}

}  // namespace orvik

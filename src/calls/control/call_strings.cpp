#include "calls/control/call_strings.h"

#include <nlohmann/json.hpp>

#include "core/native_logger.h"

namespace orvik {
namespace {

bool isBlankOrTabs(std::string_view text) { return text.find_first_not_of(" \t") == std::string_view::npos; }

}  // namespace

CallStrings::CallStrings(LogFunction log) : log_(std::move(log)) {}

void CallStrings::log(const std::string& line) const {
  if (log_) {
    log_(line);
  } else {
    nativeLog(line);
  }
}

void CallStrings::setCallStrings(std::string_view message) {
  // Only the leading prefix is the message name: the same text inside a
  // value is the page's text and stays as it is.
  std::string_view payload = message;
  if (payload.starts_with(kMessagePrefix)) payload.remove_prefix(std::char_traits<char>::length(kMessagePrefix));

  const auto parsed = nlohmann::json::parse(payload, nullptr, /*allow_exceptions=*/false);
  if (!parsed.is_object()) {
    log("[CallStrings] invalid payload — keeping current strings");
    return;
  }
  std::map<std::string, std::string, std::less<>> table;
  for (const auto& [key, value] : parsed.items()) {
    if (!value.is_string()) continue;
    const auto& text = value.get_ref<const std::string&>();
    if (!isBlankOrTabs(text)) table.emplace(key, text);
  }
  const std::size_t entries = table.size();
  const auto lang = table.find("lang");
  const std::string language = lang != table.end() ? lang->second : "?";
  {
    std::lock_guard lock(mutex_);
    table_.swap(table);
  }
  log("[CallStrings] updated — " + std::to_string(entries) + " strings, lang=" + language);
}

std::string CallStrings::string(std::string_view key, std::string_view fallback) const {
  std::lock_guard lock(mutex_);
  const auto found = table_.find(key);
  return found != table_.end() ? found->second : std::string(fallback);
}

std::size_t CallStrings::count() const {
  std::lock_guard lock(mutex_);
  return table_.size();
}

}  // namespace orvik

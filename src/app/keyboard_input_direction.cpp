#include "app/keyboard_input_direction.h"

#include <algorithm>
#include <set>
#include <utility>

namespace orvik {
namespace {

std::string lowercased(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

const std::set<std::string>& rtlLanguageCodes() {
  static const std::set<std::string> codes = {"ar", "fa", "ur", "he", "ps", "sd", "ug", "yi", "dv"};
  return codes;
}

}  // namespace

std::optional<InputDirection> inputDirectionFor(const std::vector<std::string>& languages) {
  if (languages.empty() || languages.front().empty()) return std::nullopt;
  const std::string& first = languages.front();
  const std::string lower = lowercased(first);
  std::string code;
  if (lower.starts_with("zh")) {
    code = lower.find("hant") != std::string::npos || lower.ends_with("-tw") ? "zh-TW" : "zh-CN";
  } else {
    // The first non-empty piece before a "-", in the case the source gives.
    std::size_t start = 0;
    while (start < first.size() && first[start] == '-') ++start;
    const std::size_t end = first.find('-', start);
    code = start < first.size() ? first.substr(start, end - start) : first;
  }
  const std::string dir = rtlLanguageCodes().contains(lowercased(code)) ? "rtl" : "ltr";
  return InputDirection{dir, code};
}

KeyboardInputDirection::KeyboardInputDirection(InputSource& source,
                                               std::function<std::weak_ptr<platform::PageScriptSink>()> page)
    : source_(source), page_(std::move(page)) {}

void KeyboardInputDirection::start() {
  source_.start([this] { forwardKeyboardInputDirection(); });
}

void KeyboardInputDirection::forwardKeyboardInputDirection() {
  std::optional<InputDirection> direction = inputDirectionFor(source_.currentLanguages());
  // A desktop that names no language still tells the direction.
  if (!direction) {
    const std::optional<bool> rtl = source_.isRightToLeft();
    if (!rtl) return;
    direction = InputDirection{*rtl ? "rtl" : "ltr", ""};
  }
  platform::callPage(page_(), platform::pageFunctionCall("orvikSetInputDirection", {direction->dir, direction->code}));
}

}  // namespace orvik

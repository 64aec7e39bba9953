#include "calls/screens/call_display_name.h"

#include <memory>

#include <unicode/brkiter.h>
#include <unicode/locid.h>
#include <unicode/unistr.h>

namespace orvik {

std::string callDisplayName(std::string_view name) {
  return std::string(name.substr(0, name.find('_')));
}

std::string avatarInitial(std::string_view name) {
  const std::string shown = callDisplayName(name);
  if (shown.empty()) return "?";
  const icu::UnicodeString text = icu::UnicodeString::fromUTF8(shown);
  UErrorCode status = U_ZERO_ERROR;
  std::unique_ptr<icu::BreakIterator> characters(icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
  std::int32_t end = text.length() > 1 ? text.moveIndex32(0, 1) : text.length();
  if (U_SUCCESS(status)) {
    characters->setText(text);
    characters->first();
    if (const std::int32_t next = characters->next(); next != icu::BreakIterator::DONE) end = next;
  }
  icu::UnicodeString first(text, 0, end);
  first.toUpper(icu::Locale::getRoot());
  std::string initial;
  first.toUTF8String(initial);
  return initial.empty() ? "?" : initial;
}

}  // namespace orvik

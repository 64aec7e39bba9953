#include "core/incoming_ringtone.h"

#include <algorithm>

#include "core/native_logger.h"

namespace orvik {

int incomingRingtoneIndex(std::string_view name) {
  const auto found = std::find(kIncomingRingtoneNames.begin(), kIncomingRingtoneNames.end(), name);
  return found == kIncomingRingtoneNames.end() ? kUnknownIncomingRingtone
                                               : static_cast<int>(found - kIncomingRingtoneNames.begin());
}

std::optional<std::string> storedIncomingRingtoneName(const platform::UserDefaults& defaults) {
  auto stored = defaults.string(kIncomingRingtoneKey);
  if (!stored || incomingRingtoneIndex(*stored) == kUnknownIncomingRingtone) return std::nullopt;
  return stored;
}

int storedIncomingRingtone(const platform::UserDefaults& defaults) {
  const auto name = storedIncomingRingtoneName(defaults);
  return name ? incomingRingtoneIndex(*name) : 0;
}

void setIncomingRingtone(platform::UserDefaults& defaults, int index) {
  if (index < 0 || index >= static_cast<int>(kIncomingRingtoneNames.size())) return;
  const auto name = kIncomingRingtoneNames[static_cast<std::size_t>(index)];
  defaults.setString(kIncomingRingtoneKey, name);
  nativeLog("[CallAudio] incoming ringtone → " + std::string(name));
}

std::string ringtoneFileName(int index) {
  const auto at = static_cast<std::size_t>(std::clamp(index, 0, static_cast<int>(kIncomingRingtoneNames.size()) - 1));
  return "ringtone_" + std::string(kIncomingRingtoneNames[at]);
}

}  // namespace orvik

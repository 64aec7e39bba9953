// The incoming-call ringtone the user chose in the web application: nine
// ringtones, stored by name under "orvik.incomingCallRingtone". Missing or
// unknown stored text reads as "default"; unknown names are refused when
// writing. The call audio finds each ringtone's sound file by
// ringtoneFileName ("ringtone_<name>", mp3 then wav, falling back to the
// default ringtone).
//
// THREAD-SAFETY: the table is constant; the readers and the setter use the
// user defaults, which may be used from any thread.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

#include "platform/user_defaults.h"

namespace orvik {

inline constexpr const char* kIncomingRingtoneKey = "orvik.incomingCallRingtone";

// The nine ringtones by index; the index is what passes between the page's
// messages and the call audio.
inline constexpr std::array<std::string_view, 9> kIncomingRingtoneNames = {
    "default", "original", "bling", "arcade", "amiable", "bell", "metro", "calm", "caribbean"};
// The index that names no ringtone (never stored).
inline constexpr int kUnknownIncomingRingtone = 9;

// The index of `name` (0 to 8, exact and case-sensitive), or 9.
int incomingRingtoneIndex(std::string_view name);
// The stored ringtone's index; 0 ("default") when nothing or an unknown name is stored.
int storedIncomingRingtone(const platform::UserDefaults& defaults);
// The stored name, or none when nothing or an unknown name is stored.
std::optional<std::string> storedIncomingRingtoneName(const platform::UserDefaults& defaults);
// Stores the name of ringtone `index` (0 to 8; others are ignored) and logs it.
void setIncomingRingtone(platform::UserDefaults& defaults, int index);
// "ringtone_" + the ringtone's name.
std::string ringtoneFileName(int index);

}  // namespace orvik

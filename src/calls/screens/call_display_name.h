// Short forms of a party's name on the call screens. Names of the service
// carry a suffix after "_" ("anna_lee"); the screens show what comes before.
//
// THREAD-SAFETY: pure; any thread.
#pragma once

#include <string>
#include <string_view>

namespace orvik {

// The text before the first "_"; a name without "_" whole; a name that
// starts with "_" gives the empty text.
std::string callDisplayName(std::string_view name);

// The avatar's initial: the first character of callDisplayName(name),
// upper-cased ("anna_lee" → "A"); "?" when that is empty. One character as
// a person reads it (a letter with its combining marks, an emoji), whose
// upper case may be longer ("ß" → "SS").
std::string avatarInitial(std::string_view name);

}  // namespace orvik

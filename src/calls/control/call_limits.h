// The service's limits on calls of free accounts, as decisions the call
// manager applies on each tick of the call-duration timer (call_limits.cpp
// holds the manager's side):
//   - an account with special calling access, a peer that said it has it,
//     and a peer on the special-access list: no limit;
//   - a video call between two free accounts: a daily video budget of
//     1800 s per device, kept in the user defaults per local day;
//   - every other call: 3600 s, extended twice by 1200 s on request.
// Warnings come 600, 300 and 180 s before the end.
//
// Pure functions, apart from the three on the user defaults; any thread.
#pragma once

#include <set>
#include <string>
#include <vector>

#include "platform/dispatch/clock.h"

namespace orvik {

namespace platform {
class UserDefaults;
}  // namespace platform

namespace callLimits {
inline constexpr int kCallCapSeconds = 3600;
inline constexpr int kExtensionSeconds = 1200;
inline constexpr int kMaxExtensions = 2;
inline constexpr int kDailyVideoBudgetSeconds = 1800;
inline constexpr int kWarningThresholds[] = {600, 300, 180};
inline constexpr int kExemptSendSeconds[] = {3, 30};
inline constexpr const char* kNoticeTitle = "Orvik Call";
inline constexpr const char* kExtendedNotice = "Call extended — 20 minutes added.";
inline constexpr const char* kDayKey = "videoDailyDate";
inline constexpr const char* kUsedSecondsKey = "videoDailyUsedSeconds";
}  // namespace callLimits

// What one tick is decided on.
struct CallLimitFacts {
  int elapsedSeconds = 0;
  bool callLimitExempt = false;
  bool peerCallLimitExempt = false;
  bool peerOnSpecialList = false;
  // A video call, neither side subscribed.
  bool freeToFreeVideo = false;
  // Seconds of the daily budget used before this call drew on it, and the
  // call second from which it draws (0 for a call that was video from its
  // start).
  int dailyVideoUsedBefore = 0;
  int dailyVideoCountedFrom = 0;
  int callCapSeconds = callLimits::kCallCapSeconds;
  int callExtendCount = 0;
  std::set<int> sentCallLimitExemptAt;
  std::set<int> firedCallLimitWarnings;
  std::set<int> firedDailyVideoWarnings;
};

struct CallLimitWarning {
  int threshold = 0;
  std::string text;
  bool canExtend = false;
  friend bool operator==(const CallLimitWarning&, const CallLimitWarning&) = default;
};

struct CallLimitDecision {
  enum class Rule { specialAccess, peerSaidExempt, peerOnList, dailyVideo, perCallCap };
  Rule rule = Rule::perCallCap;
  // Tell the peer about our special access now (3 s and 30 s, once each).
  bool sendExempt = false;
  // The daily video seconds used by now (daily-video rule only).
  int dailyVideoUsedSeconds = 0;
  bool endCall = false;
  // To show in this order; their thresholds count as fired.
  std::vector<CallLimitWarning> warnings;
};

// The first rule that applies decides.
CallLimitDecision decideCallLimits(const CallLimitFacts& facts);

// "10 minutes left for free video call" and its 5- and 3-minute forms.
std::string dailyVideoWarningText(int threshold);
// The per-call cap's warning at `threshold`; only the 600-s one offers an
// extension, and only while one is left.
CallLimitWarning callCapWarning(int threshold, int callExtendCount);
// "mm:ss", minutes not wrapped into hours ("75:00").
std::string callDurationText(int seconds);

// A wall time's local calendar day: its key "yyyy-MM-dd" and the seconds
// since that day's midnight.
struct LocalDay {
  std::string key;
  int secondsSinceMidnight = 0;
  friend bool operator==(const LocalDay&, const LocalDay&) = default;
};
// In the time zone `timeZone` (an identifier such as "Europe/Berlin"), or in
// the device's current one when it is empty.
LocalDay localDayOf(platform::Clock::WallTime time, const std::string& timeZone = "");

// The daily video seconds in the user defaults. `dayKey` is today's: a
// stored count of another day reads as 0, and the defaults are rewritten
// with today's key and 0.
int dailyVideoUsedSeconds(platform::UserDefaults& defaults, const std::string& dayKey);
// Writes `dayKey` and `seconds` (0 when negative).
void setDailyVideoUsedSeconds(platform::UserDefaults& defaults, const std::string& dayKey, int seconds);

}  // namespace orvik

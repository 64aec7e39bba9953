// Account-tier call limits: the decisions (pure), the local day of the daily
// video budget, and the call manager's side: each tick of the duration timer
// publishes the call time and applies the limits, warnings show on both call
// screens (and as a notice while the program is in the background), and
// extensions and special access reach the peer over the data channel.
#include "calls/control/call_limits.h"

#include <glib.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>

#include "calls/control/data_channel_messages.h"
#include "calls/control/native_call_manager.h"
#include "core/native_logger.h"
#include "platform/queue_checker.h"
#include "platform/user_defaults.h"

namespace orvik {

namespace {

const char* boolText(bool value) { return value ? "true" : "false"; }

// N of "N minutes": from the threshold, never from the actual time left.
int thresholdMinutes(int threshold) { return std::max(1, (threshold + 59) / 60); }

}  // namespace

std::string dailyVideoWarningText(int threshold) {
  const int minutes = thresholdMinutes(threshold);
  return std::to_string(minutes) + " minute" + (threshold + 59 < 120 ? "" : "s") + " left for free video call";
}

CallLimitWarning callCapWarning(int threshold, int callExtendCount) {
  const int minutes = thresholdMinutes(threshold);
  if (threshold == 600 && callExtendCount < callLimits::kMaxExtensions) {
    return {threshold, std::to_string(minutes) + " minutes left — extend the call, or it will end.", true};
  }
  return {threshold,
          "This call will end in " + std::to_string(minutes) + " " + (minutes == 1 ? "minute" : "minutes") + ".",
          false};
}

std::string callDurationText(int seconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%02d:%02d", seconds / 60, seconds % 60);
  return text;
}

CallLimitDecision decideCallLimits(const CallLimitFacts& f) {
  using Rule = CallLimitDecision::Rule;
  CallLimitDecision decision;
  const int s = f.elapsedSeconds;
  if (f.callLimitExempt) {
    decision.rule = Rule::specialAccess;
    decision.sendExempt = std::ranges::find(callLimits::kExemptSendSeconds, s) != std::end(callLimits::kExemptSendSeconds) &&
                          !f.sentCallLimitExemptAt.contains(s);
    return decision;
  }
  if (f.peerCallLimitExempt) {
    decision.rule = Rule::peerSaidExempt;
    return decision;
  }
  if (f.peerOnSpecialList) {
    decision.rule = Rule::peerOnList;
    return decision;
  }
  if (f.freeToFreeVideo) {
    decision.rule = Rule::dailyVideo;
    decision.dailyVideoUsedSeconds = f.dailyVideoUsedBefore + (s - f.dailyVideoCountedFrom);
    const int remaining = callLimits::kDailyVideoBudgetSeconds - decision.dailyVideoUsedSeconds;
    if (remaining < 1) {
      decision.endCall = true;
      return decision;
    }
    for (const int t : callLimits::kWarningThresholds) {
      if (t >= remaining && !f.firedDailyVideoWarnings.contains(t)) {
        decision.warnings.push_back({t, dailyVideoWarningText(t), false});
      }
    }
    return decision;
  }
  decision.rule = Rule::perCallCap;
  const int remaining = f.callCapSeconds - s;
  if (remaining <= 0) {
    decision.endCall = true;
    return decision;
  }
  for (const int t : callLimits::kWarningThresholds) {
    if (t >= remaining && !f.firedCallLimitWarnings.contains(t)) decision.warnings.push_back(callCapWarning(t, f.callExtendCount));
  }
  return decision;
}

namespace {

// A named zone's rules are read from the system's zone files once per
// thread; the device's own zone is asked of GLib each time, which reads it
// again when it changed.
GTimeZone* timeZoneNamed(const std::string& identifier) {
  struct Cached {
    std::string identifier;
    GTimeZone* zone = nullptr;
    ~Cached() {
      if (zone) g_time_zone_unref(zone);
    }
  };
  thread_local Cached cached;
  if (!cached.zone || cached.identifier != identifier) {
    if (cached.zone) g_time_zone_unref(cached.zone);
    cached.zone = g_time_zone_new_identifier(identifier.c_str());
    if (!cached.zone) cached.zone = g_time_zone_new_utc();
    cached.identifier = identifier;
  }
  return g_time_zone_ref(cached.zone);
}

}  // namespace

LocalDay localDayOf(platform::Clock::WallTime time, const std::string& timeZone) {
  GTimeZone* zone = timeZone.empty() ? g_time_zone_new_local() : timeZoneNamed(timeZone);
  const auto micros = std::chrono::duration_cast<std::chrono::microseconds>(time.time_since_epoch()).count();
  GDateTime* utc = g_date_time_new_from_unix_utc(micros / G_USEC_PER_SEC);
  GDateTime* local = utc ? g_date_time_to_timezone(utc, zone) : nullptr;
  LocalDay day;
  if (local) {
    char key[16];
    std::snprintf(key, sizeof key, "%04d-%02d-%02d", g_date_time_get_year(local), g_date_time_get_month(local),
                  g_date_time_get_day_of_month(local));
    day.key = key;
    day.secondsSinceMidnight =
        g_date_time_get_hour(local) * 3600 + g_date_time_get_minute(local) * 60 + g_date_time_get_second(local);
    g_date_time_unref(local);
  }
  if (utc) g_date_time_unref(utc);
  g_time_zone_unref(zone);
  return day;
}

int dailyVideoUsedSeconds(platform::UserDefaults& defaults, const std::string& dayKey) {
  if (defaults.string(callLimits::kDayKey) == dayKey) {
    return static_cast<int>(std::clamp<std::int64_t>(defaults.integer(callLimits::kUsedSecondsKey), 0, INT32_MAX));
  }
  setDailyVideoUsedSeconds(defaults, dayKey, 0);
  return 0;
}

void setDailyVideoUsedSeconds(platform::UserDefaults& defaults, const std::string& dayKey, int seconds) {
  // Each change is a write of the whole file: the day's key only when it
  // changes.
  if (defaults.string(callLimits::kDayKey) != dayKey) defaults.setString(callLimits::kDayKey, dayKey);
  defaults.setInteger(callLimits::kUsedSecondsKey, std::max(0, seconds));
}

// ---- The call manager's side ----

void NativeCallManager::callTimerDidTick(double elapsedSeconds) {
  const int s = static_cast<int>(std::max(0.0, elapsedSeconds));
  publishCallDuration(callDurationText(s));
  checkCallLimits(s);
}

void NativeCallManager::beginCallLimits() {
  auto& call = state_.call;
  const auto today = localDayOf(clock().now(), c_.timeZone);
  call.dailyVideoDay = today.key;
  call.videoDailyUsedAtStart = orvik::dailyVideoUsedSeconds(c_.defaults, today.key);
  logCallLimitRule();
}

int NativeCallManager::dailyVideoUsedSeconds() {
  // What a running call used so far counts too.
  saveDailyVideoUsage();
  return orvik::dailyVideoUsedSeconds(c_.defaults, localDayOf(clock().now(), c_.timeZone).key);
}

void NativeCallManager::saveDailyVideoUsage() {
  auto& call = state_.call;
  if (!call.unsavedDailyVideoSeconds) return;
  setDailyVideoUsedSeconds(c_.defaults, call.dailyVideoDay, *call.unsavedDailyVideoSeconds);
  call.unsavedDailyVideoSeconds.reset();
}

bool NativeCallManager::startDailyVideoCount(int s) {
  auto& call = state_.call;
  // The budget is drawn on from the tick the rule first applies: a call
  // upgraded to video counts from the upgrade, not from its start.
  if (!call.dailyVideoCountedFrom) call.dailyVideoCountedFrom = std::max(0, s - 1);
  const auto today = localDayOf(clock().now(), c_.timeZone);
  if (call.dailyVideoDay.empty()) call.dailyVideoDay = today.key;
  if (call.dailyVideoDay == today.key) return false;
  // Midnight passed: the new day's budget starts with this call's seconds
  // after midnight; the old day's are done with.
  const int afterMidnight = std::clamp(today.secondsSinceMidnight, 0, s - *call.dailyVideoCountedFrom);
  call.dailyVideoDay = today.key;
  call.unsavedDailyVideoSeconds.reset();
  call.videoDailyUsedAtStart = orvik::dailyVideoUsedSeconds(c_.defaults, today.key);
  call.dailyVideoCountedFrom = s - afterMidnight;
  log("[CallLimit] a new day began during the call — daily video budget counts from " +
      std::to_string(call.videoDailyUsedAtStart + afterMidnight) + "s");
  if (!call.firedDailyVideoWarnings.empty()) {
    call.firedDailyVideoWarnings.clear();
    hideCallLimitBanner();
  }
  return true;
}

void NativeCallManager::checkCallLimits(int s) {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  using Rule = CallLimitDecision::Rule;
  auto& call = state_.call;
  const auto& kept = state_.kept;
  const auto& session = call.currentSession;
  CallLimitFacts facts;
  facts.elapsedSeconds = s;
  facts.callLimitExempt = kept.callLimitExempt;
  facts.peerCallLimitExempt = call.peerCallLimitExempt;
  facts.peerOnSpecialList = call.remoteUserNumber && kept.specialCallingNumbers.contains(*call.remoteUserNumber);
  facts.freeToFreeVideo =
      session && session->type == CallType::video && !kept.localIsSubscribed && !session->remoteUser.isSubscribed;
  bool newDay = false;
  if (facts.freeToFreeVideo && !facts.callLimitExempt && !facts.peerCallLimitExempt && !facts.peerOnSpecialList) {
    newDay = startDailyVideoCount(s);
    facts.dailyVideoCountedFrom = *call.dailyVideoCountedFrom;
  }
  facts.dailyVideoUsedBefore = call.videoDailyUsedAtStart;
  facts.callCapSeconds = call.callCapSeconds;
  facts.callExtendCount = call.callExtendCount;
  facts.sentCallLimitExemptAt = call.sentCallLimitExemptAt;
  facts.firedCallLimitWarnings = call.firedCallLimitWarnings;
  facts.firedDailyVideoWarnings = call.firedDailyVideoWarnings;
  const auto decision = decideCallLimits(facts);

  const auto endAtLimit = [this](const std::string& line) {
    log(line);
    platform::mainQueue().post([weak = weak_from_this()] {
      if (auto self = weak.lock()) self->hideCallLimitBanner();
    });
    endCall();
  };
  switch (decision.rule) {
    case Rule::specialAccess:
      if (decision.sendExempt) {
        call.sentCallLimitExemptAt.insert(s);
        log("[CallLimit] telling the peer I have special calling access (at " + std::to_string(s) + "s)");
        if (peerConn_) peerConn_->sendDataChannelMessage(dataChannelFlagMessage(dataChannelText::kCallLimitExempt, true));
      }
      return;
    case Rule::peerSaidExempt:
    case Rule::peerOnList:
      return;
    case Rule::dailyVideo: {
      // Kept in memory each tick; the defaults are written every few
      // seconds, at a new day, at the end and when the call is torn down.
      call.unsavedDailyVideoSeconds = decision.dailyVideoUsedSeconds;
      if (newDay || decision.endCall || !call.dailyVideoSavedAtSecond ||
          s - *call.dailyVideoSavedAtSecond >= kDailyVideoUsageWriteEverySeconds) {
        saveDailyVideoUsage();
        call.dailyVideoSavedAtSecond = s;
      }
      if (decision.endCall) return endAtLimit("[CallLimit] free↔free daily 30-min video budget spent — ending call");
      for (const auto& warning : decision.warnings) {
        call.firedDailyVideoWarnings.insert(warning.threshold);
        showCallLimitWarning(warning.text, warning.canExtend);
      }
      return;
    }
    case Rule::perCallCap:
      if (decision.endCall) {
        return endAtLimit("[CallLimit] call cap (" + std::to_string(call.callCapSeconds) + "s) reached — ending call");
      }
      for (const auto& warning : decision.warnings) {
        call.firedCallLimitWarnings.insert(warning.threshold);
        showCallLimitWarning(warning.text, warning.canExtend);
      }
      return;
  }
}

void NativeCallManager::extendCall(bool sendToPeer) {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  auto& call = state_.call;
  if (call.callExtendCount >= callLimits::kMaxExtensions) return;
  call.callExtendCount += 1;
  call.callCapSeconds += callLimits::kExtensionSeconds;
  call.firedCallLimitWarnings.clear();
  // Hiding also withdraws the Extend button on both screens.
  platform::mainQueue().post([weak = weak_from_this()] {
    if (auto self = weak.lock()) self->hideCallLimitBanner();
  });
  log("[CallLimit] call extended by 20 min (" + std::to_string(call.callExtendCount) + "/2) — new cap " +
      std::to_string(call.callCapSeconds) + "s (sentToPeer=" + boolText(sendToPeer) + ")");
  if (sendToPeer && peerConn_) {
    peerConn_->sendDataChannelMessage(dataChannelFlagMessage(dataChannelText::kCallExtended, true));
  }
  if (c_.postBackgroundNotification) c_.postBackgroundNotification(callLimits::kNoticeTitle, callLimits::kExtendedNotice);
}

void NativeCallManager::showCallLimitWarning(const std::string& text, bool canExtend) {
  log("[CallLimit] warning shown: \"" + text + "\" (extend offered=" + boolText(canExtend) + ")");
  platform::mainQueue().post([weak = weak_from_this(), text, canExtend] {
    if (auto self = weak.lock()) self->presentCallLimitWarning(text, canExtend);
  });
  if (c_.postBackgroundNotification) c_.postBackgroundNotification(callLimits::kNoticeTitle, text);
}

void NativeCallManager::presentCallLimitWarning(const std::string& text, bool canExtend) {
  auto& reshow = state_.call.callLimitReshowTimer;
  if (!reshow && !c_.windows.isCallLimitBannerShown()) {
    c_.windows.showCallLimitBanner(text, canExtend);
    return;
  }
  // A banner is up (or about to come back): it goes and returns with the
  // new text, so the change is seen. A re-show still pending gives way to
  // this one.
  if (reshow) reshow->cancel();
  c_.windows.clearCallLimitWarningText();
  auto identity = std::make_shared<platform::WorkItem*>(nullptr);
  reshow = std::make_shared<platform::WorkItem>(
      [weak = weak_from_this(), generation = state_.kept.callGeneration, identity, text, canExtend] {
        auto manager = weak.lock();
        // Only this call's latest re-show, and only while nothing hid the
        // banner meanwhile (a hide, the call's end, a newer warning).
        if (!manager || manager->state_.kept.callGeneration != generation ||
            manager->state_.call.callLimitReshowTimer.get() != *identity) {
          return;
        }
        manager->state_.call.callLimitReshowTimer.reset();
        manager->c_.windows.showCallLimitBanner(text, canExtend);
      });
  *identity = reshow.get();
  platform::mainQueue().postAfter(kCallLimitReshowSeconds, reshow);
}

void NativeCallManager::hideCallLimitBanner() {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  if (auto reshow = std::exchange(state_.call.callLimitReshowTimer, nullptr)) reshow->cancel();
  c_.windows.hideCallLimitBanner();
}

void NativeCallManager::logCallLimitRule() {
  const auto& call = state_.call;
  const auto& kept = state_.kept;
  const auto& session = call.currentSession;
  const bool video = session && session->type == CallType::video;
  const bool peerGold = session && session->remoteUser.isSubscribed;
  const bool peerOnList = call.remoteUserNumber && kept.specialCallingNumbers.contains(*call.remoteUserNumber);
  std::string rule;
  if (kept.callLimitExempt || peerOnList || call.peerCallLimitExempt) {
    rule = std::string("NO LIMIT (special access: me=") + boolText(kept.callLimitExempt) +
           " peerOnList=" + boolText(peerOnList) + " peerSaid=" + boolText(call.peerCallLimitExempt) + ")";
  } else if (video && !kept.localIsSubscribed && !peerGold) {
    rule = "free↔free video — daily 30 min (used today " + std::to_string(call.videoDailyUsedAtStart) + "s)";
  } else {
    rule = std::to_string(call.callCapSeconds / 60) + " min per call, up to 2 extends of 20 min";
  }
  log(std::string("[CallLimit] call connected — ") + (video ? "video" : "audio") + " with " +
      call.remoteUserNumber.value_or("?") + " | me gold=" + boolText(kept.localIsSubscribed) +
      " peer gold=" + boolText(peerGold) + " | rule: " + rule);
}

}  // namespace orvik

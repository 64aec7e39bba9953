#include "calls/media/screen_share_capture.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "core/native_logger.h"
#include "platform/dispatch/repeating_timer.h"
#include "platform/dispatch/task_queue.h"
#include "platform/queue_checker.h"

namespace orvik {
namespace {

const char* boolText(bool value) { return value ? "true" : "false"; }

// Window numbers that are no X11 window id (none yet, or out of range) match
// no window.
std::set<std::uint32_t> windowIds(const std::vector<std::uint64_t>& numbers) {
  std::set<std::uint32_t> ids;
  for (auto number : numbers) {
    if (number > 0 && number <= std::numeric_limits<std::uint32_t>::max()) ids.insert(static_cast<std::uint32_t>(number));
  }
  return ids;
}

int truncatedSize(double points) {
  if (!std::isfinite(points) || points < 2) return 2;
  return static_cast<int>(std::min(points, 16384.0));
}

}  // namespace

bool OwnApplicationIdentity::owns(const ShareableWindow& window) const {
  if (!window.owner) return false;
  if (processId != 0 && window.owner->processId == processId) return true;
  return !applicationId.empty() && window.owner->applicationId == applicationId;
}

std::vector<ShareableWindow> filterShareableWindows(const std::vector<ShareableWindow>& windows,
                                                    const std::vector<std::uint64_t>& leaveOut, bool allowOwnWindows,
                                                    const OwnApplicationIdentity& own) {
  const auto left = windowIds(leaveOut);
  std::vector<ShareableWindow> kept;
  for (const auto& window : windows) {
    if (!window.owner || window.layer != 0) continue;
    if (own.owns(window) && (!allowOwnWindows || left.contains(window.id))) continue;
    if (!(window.width > 100 && window.height > 100)) continue;
    kept.push_back(window);
  }
  return kept;
}

std::string screenShareWindowTitle(const ShareableWindow& window) {
  // An owner known only by its process (no WM_CLASS) has no name to show.
  std::string label = window.owner && !window.owner->name.empty() ? window.owner->name : "Window";
  if (!window.title.empty()) label += " — " + window.title;
  return label;
}

std::pair<int, int> windowCaptureSize(const ShareableWindow& window) {
  return {truncatedSize(window.width), truncatedSize(window.height)};
}

ScreenShareCapture::ScreenShareCapture(ScreenSource& source, OwnApplicationIdentity own, LogFunction log)
    : source_(source), own_(std::move(own)), log_(std::move(log)) {}

ScreenShareCapture::~ScreenShareCapture() {
  stopOwnWindowWatch();
  // Nobody may keep capturing the screen for an owner that is gone.
  if (stream_) stream_->stop({});
}

void ScreenShareCapture::log(const std::string& line) const {
  if (log_) {
    log_(line);
  } else {
    nativeLog(line);
  }
}

void ScreenShareCapture::onMain(std::function<void(ScreenShareCapture&)> work) {
  platform::mainQueue().post([weak = std::weak_ptr<ScreenShareCapture*>(alive_), work = std::move(work)] {
    if (auto self = weak.lock()) work(**self);
  });
}

void ScreenShareCapture::fetchShareableContent(const std::vector<std::uint64_t>& leaveOut, bool allowOwnWindows,
                                               ContentCompletion completion) {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  source_.listContent(/*onScreenOnly=*/true, [weak = std::weak_ptr<ScreenShareCapture*>(alive_), leaveOut,
                                              allowOwnWindows, completion = std::move(completion)](
                                                 std::optional<ShareableContent> content, const std::string& error) {
    platform::mainQueue().post([weak, leaveOut, allowOwnWindows, completion, content = std::move(content), error] {
      auto self = weak.lock();
      if (!self) return;
      if (!content) return completion(std::nullopt, error.empty() ? "no shareable content" : error);
      ShareableContent offered = *content;
      offered.windows = filterShareableWindows(content->windows, leaveOut, allowOwnWindows, (*self)->own_);
      completion(std::move(offered), "");
    });
  });
}

void ScreenShareCapture::startCapture(const ShareTarget& target, const std::vector<std::uint64_t>& excludeWindows,
                                      bool excludeAllOwnWindows, Completion completion) {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  if (isCapturing_ || starting_) {
    // To change the target the caller stops first.
    if (completion) completion(std::string(kAlreadyCapturing));
    return;
  }
  starting_ = true;
  const std::uint64_t token = ++startToken_;
  ScreenSource::StreamConfig config{target, 0, 0, kTargetFPS, {}};

  if (const auto* window = std::get_if<ShareableWindow>(&target)) {
    sharedDisplay_.reset();
    isSharingOwnWindow_ = window->owner && own_.processId != 0 && window->owner->processId == own_.processId;
    std::tie(config.width, config.height) = windowCaptureSize(*window);
    return startStream(std::move(config), token, /*watchAfterStart=*/false, std::move(completion));
  }

  const auto& display = std::get<ShareableDisplay>(target);
  sharedDisplay_ = display;
  isSharingOwnWindow_ = false;
  excludeWindowIDs_ = excludeWindows;
  excludeAllOwnWindows_ = excludeAllOwnWindows;
  config.width = std::max(2, display.width);
  config.height = std::max(2, display.height);
  if (excludeWindows.empty() && !excludeAllOwnWindows) {
    appliedExcludedIDs_.clear();
    return startStream(std::move(config), token, false, std::move(completion));
  }
  buildExclusion(excludeWindows, excludeAllOwnWindows,
                 [this, token, config, excludeAllOwnWindows, completion = std::move(completion)](Exclusion exclusion) mutable {
                   if (token != startToken_) {
                     if (completion) completion(std::string(kStartCancelled));
                     return;
                   }
                   if (exclusion.error) {
                     log("[ScreenShare] window-exclude enumerate failed: " + *exclusion.error +
                         " — refusing to share the display with the call windows on it");
                     starting_ = false;
                     sharedDisplay_.reset();
                     if (completion) completion(std::string(kExclusionUnavailable));
                     return;
                   }
                   appliedExcludedIDs_ = exclusion.ids;
                   config.excludedWindows = exclusion.ids;
                   log("[ScreenShare] excluding " + std::to_string(exclusion.ids.size()) +
                       " window(s) — allOwn: " + boolText(excludeAllOwnWindows));
                   startStream(std::move(config), token, excludeAllOwnWindows, std::move(completion));
                 });
}

void ScreenShareCapture::buildExclusion(const std::vector<std::uint64_t>& numbers, bool excludeAll,
                                        std::function<void(Exclusion)> done) {
  // With every own window excluded, hidden ones count too: they may be shown
  // before the next check.
  source_.listContent(!excludeAll, [weak = std::weak_ptr<ScreenShareCapture*>(alive_), ids = windowIds(numbers),
                                    excludeAll, done = std::move(done)](std::optional<ShareableContent> content,
                                                                        const std::string& error) {
    platform::mainQueue().post([weak, ids, excludeAll, done, content = std::move(content), error] {
      auto self = weak.lock();
      if (!self) return;
      if (!content) return done(Exclusion{{}, error.empty() ? std::string("no window list") : error});
      Exclusion exclusion;
      const auto& own = (*self)->own_;
      for (const auto& window : content->windows) {
        const bool ours = excludeAll && window.owner && own.processId != 0 && window.owner->processId == own.processId;
        if (ids.contains(window.id) || ours) exclusion.ids.insert(window.id);
      }
      done(std::move(exclusion));
    });
  });
}

void ScreenShareCapture::startStream(ScreenSource::StreamConfig config, std::uint64_t token, bool watchAfterStart,
                                     Completion completion) {
  const int width = config.width, height = config.height;
  const std::weak_ptr<ScreenShareCapture*> weak = alive_;
  auto stopped = [weak, token](const std::string& error) {
    platform::mainQueue().post([weak, token, error] {
      auto self = weak.lock();
      if (self && (*self)->startToken_ == token && (*self)->isCapturing_) (*self)->streamStoppedBySystem(error, nullptr);
    });
  };
  source_.startStream(
      config, delegate_, std::move(stopped),
      [weak, token, watchAfterStart, width, height, completion = std::move(completion)](
          std::shared_ptr<ScreenStream> stream, const std::optional<std::string>& error) {
        platform::mainQueue().post([weak, token, watchAfterStart, width, height, completion, stream, error] {
          auto self = weak.lock();
          if (!self || (*self)->startToken_ != token) {
            // The user stopped (or the owner went) while the stream started:
            // it must not keep capturing.
            if (stream) stream->stop({});
            if (completion) completion(std::string(kStartCancelled));
            return;
          }
          ScreenShareCapture& capture = **self;
          capture.starting_ = false;
          if (error || !stream) {
            const std::string text = error.value_or("no stream");
            capture.log("[ScreenShare] start failed: " + text);
            capture.sharedDisplay_.reset();
            capture.isSharingOwnWindow_ = false;
            capture.appliedExcludedIDs_.clear();
            if (completion) completion(text);
            return;
          }
          capture.stream_ = stream;
          capture.isCapturing_ = true;
          capture.log("[ScreenShare] Capture started — " + std::to_string(width) + "x" + std::to_string(height));
          if (watchAfterStart) capture.startOwnWindowWatch();
          if (completion) completion(std::nullopt);
        });
      });
}

void ScreenShareCapture::setExcludedWindows(const std::vector<std::uint64_t>& windows, bool excludeAllOwnWindows) {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  if (!isCapturing_ || !sharedDisplay_ || !stream_) return;
  excludeWindowIDs_ = windows;
  excludeAllOwnWindows_ = excludeAllOwnWindows;
  if (excludeAllOwnWindows) {
    startOwnWindowWatch();
  } else {
    stopOwnWindowWatch();
  }
  if (exclusionRefreshInFlight_) {
    exclusionRefreshPending_ = true;
    return;
  }
  exclusionRefreshInFlight_ = true;
  buildExclusion(windows, excludeAllOwnWindows, [this, stream = stream_, excludeAllOwnWindows](Exclusion exclusion) {
    if (exclusion.error) {
      // The running filter stays: better the last known exclusion than none.
      log("[ScreenShare] window-exclude enumerate failed: " + *exclusion.error + " — keeping the current filter");
      return finishExclusionRefresh();
    }
    if (exclusion.ids == appliedExcludedIDs_ || !isCapturing_ || stream_ != stream) return finishExclusionRefresh();
    stream->updateExclusions(exclusion.ids, [weak = std::weak_ptr<ScreenShareCapture*>(alive_), ids = exclusion.ids,
                                             excludeAllOwnWindows](const std::optional<std::string>& error) {
      platform::mainQueue().post([weak, ids, excludeAllOwnWindows, error] {
        auto self = weak.lock();
        if (!self) return;
        ScreenShareCapture& capture = **self;
        if (error) {
          capture.log("[ScreenShare] updateContentFilter failed: " + *error);
        } else {
          capture.appliedExcludedIDs_ = ids;
          capture.log("[ScreenShare] filter updated — excluding " + std::to_string(ids.size()) +
                      " window(s), allOwn: " + boolText(excludeAllOwnWindows));
        }
        capture.finishExclusionRefresh();
      });
    });
  });
}

void ScreenShareCapture::finishExclusionRefresh() {
  exclusionRefreshInFlight_ = false;
  if (exclusionRefreshPending_) {
    exclusionRefreshPending_ = false;
    setExcludedWindows(excludeWindowIDs_, excludeAllOwnWindows_);
  }
}

void ScreenShareCapture::startOwnWindowWatch() {
  if (ownWindowTimer_) return;
  lastCheckedVisibleIDs_.clear();
  ownWindowTimer_ = std::make_unique<platform::RepeatingTimer>(
      platform::mainQueue(), kOwnWindowWatchSeconds, [weak = std::weak_ptr<ScreenShareCapture*>(alive_)] {
        if (auto self = weak.lock()) (*self)->checkOwnWindows();
      });
  ownWindowTimer_->start();
}

void ScreenShareCapture::stopOwnWindowWatch() {
  if (!ownWindowTimer_) return;
  ownWindowTimer_->stop();
  ownWindowTimer_.reset();
}

void ScreenShareCapture::checkOwnWindows() {
  if (!isCapturing_ || !excludeAllOwnWindows_) return;
  const auto visible = source_.ownVisibleWindows();
  const bool allExcluded = std::all_of(visible.begin(), visible.end(),
                                       [&](std::uint32_t id) { return appliedExcludedIDs_.contains(id); });
  if (allExcluded || visible == lastCheckedVisibleIDs_) return;
  lastCheckedVisibleIDs_ = visible;
  setExcludedWindows(excludeWindowIDs_, true);
}

void ScreenShareCapture::stopCapture(std::function<void()> completion) {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  isCapturing_ = false;
  isSharingOwnWindow_ = false;
  starting_ = false;
  ++startToken_;
  stopOwnWindowWatch();
  sharedDisplay_.reset();
  appliedExcludedIDs_.clear();
  exclusionRefreshPending_ = false;
  if (!stream_) {
    if (completion) completion();
    return;
  }
  auto stream = std::move(stream_);
  stream_.reset();
  stream->stop([weak = std::weak_ptr<ScreenShareCapture*>(alive_), completion = std::move(completion)](
                   const std::optional<std::string>& error) {
    platform::mainQueue().post([weak, completion, error] {
      if (auto self = weak.lock()) {
        if (error) (*self)->log("[ScreenShare] stopCapture error: " + *error);
        (*self)->log("[ScreenShare] Capture stopped");
      }
      if (completion) completion();
    });
  });
}

void ScreenShareCapture::streamStoppedBySystem(const std::string& error, const std::shared_ptr<ScreenStream>&) {
  log("[ScreenShare] stream stopped with error: " + error);
  isCapturing_ = false;
  stream_.reset();
  ++startToken_;
  stopOwnWindowWatch();
  if (streamDidStop_) streamDidStop_();
}

}  // namespace orvik

// ScreenShareCapture: captures a display or one window into the call's
// screen video source ("screen0"), lists what the screen-share picker may
// offer, and keeps the program's own windows out of a shared display,
// following them as they appear (a 1 s watch) with overlapping refreshes
// collapsed into one.
//
// Sound behaviour beyond the plain flow:
// - A stop while a start is pending wins: each start carries a token; a
//   stream that starts after the user stopped is stopped at once and the
//   start completes with kStartCancelled.
// - When our windows must be kept out of a shared display and the window
//   list cannot be read, the share is refused (kExclusionUnavailable): the
//   whole display with the call windows on it is never sent instead.
// - A start while capturing (or starting) completes with kAlreadyCapturing
//   and changes nothing.
//
// The call manager owns one for the life of the process.
// THREAD-SAFETY: main queue only; completions run on the main queue.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "calls/media/screen_source.h"

namespace orvik {

namespace platform {
class RepeatingTimer;
}

// Who "we" are when windows are filtered: this process, and the identity the
// desktop gives this program's windows.
struct OwnApplicationIdentity {
  std::int64_t processId = 0;
  std::string applicationId;
  bool owns(const ShareableWindow& window) const;
};

// The picker's windows: with an owner, of the normal layer, larger than
// 100×100 (both strictly), and the program's own only when `allowOwnWindows`
// and not among `leaveOut` (the video call window and its picture-in-
// picture panel). Order kept.
std::vector<ShareableWindow> filterShareableWindows(const std::vector<ShareableWindow>& windows,
                                                    const std::vector<std::uint64_t>& leaveOut, bool allowOwnWindows,
                                                    const OwnApplicationIdentity& own);

// "<application>", "<application> — <title>", "Window" or "Window — <title>".
std::string screenShareWindowTitle(const ShareableWindow& window);

// A window's capture size: its frame truncated, at least 2×2.
std::pair<int, int> windowCaptureSize(const ShareableWindow& window);

class ScreenShareCapture {
 public:
  static constexpr int kTargetFPS = 15;
  static constexpr double kOwnWindowWatchSeconds = 1.0;
  static constexpr const char* kAlreadyCapturing = "already capturing";
  static constexpr const char* kStartCancelled = "screen share stopped before it started";
  static constexpr const char* kExclusionUnavailable =
      "the window list could not be read, so the call windows cannot be kept out of the shared screen";

  using LogFunction = std::function<void(const std::string& line)>;
  using Completion = std::function<void(const std::optional<std::string>& error)>;
  using ContentCompletion = std::function<void(std::optional<ShareableContent> content, const std::string& error)>;

  ScreenShareCapture(ScreenSource& source, OwnApplicationIdentity own, LogFunction log = {});
  ~ScreenShareCapture();
  ScreenShareCapture(const ScreenShareCapture&) = delete;
  ScreenShareCapture& operator=(const ScreenShareCapture&) = delete;

  // The source that receives the frames.
  void setDelegate(VideoSourceHandle frames) { delegate_ = std::move(frames); }
  // Our in-process notice "orvik.screenShareStreamDidStop": the stream ended
  // on its own. Runs on the main queue.
  void setStreamDidStopHandler(std::function<void()> handler) { streamDidStop_ = std::move(handler); }

  void fetchShareableContent(const std::vector<std::uint64_t>& leaveOut, bool allowOwnWindows,
                             ContentCompletion completion);
  void startCapture(const ShareTarget& target, const std::vector<std::uint64_t>& excludeWindows,
                    bool excludeAllOwnWindows, Completion completion);
  void setExcludedWindows(const std::vector<std::uint64_t>& windows, bool excludeAllOwnWindows);
  // The completion runs at once when no stream runs.
  void stopCapture(std::function<void()> completion = {});

  bool isCapturing() const { return isCapturing_; }
  bool isStarting() const { return starting_; }
  bool isSharingOwnWindow() const { return isSharingOwnWindow_; }
  const std::set<std::uint32_t>& appliedExcludedIDs() const { return appliedExcludedIDs_; }
  bool isWatchingOwnWindows() const { return ownWindowTimer_ != nullptr; }
  // Runs the own-window check now (the key-window and occlusion triggers).
  void checkOwnWindows();

 private:
  struct Exclusion {
    std::set<std::uint32_t> ids;
    std::optional<std::string> error;  // the window list could not be read
  };
  void log(const std::string& line) const;
  // Lists the windows to keep out of a display share; `done` on the main queue.
  void buildExclusion(const std::vector<std::uint64_t>& numbers, bool excludeAll, std::function<void(Exclusion)> done);
  void startStream(ScreenSource::StreamConfig config, std::uint64_t token, bool watchAfterStart, Completion completion);
  void startOwnWindowWatch();
  void stopOwnWindowWatch();
  void streamStoppedBySystem(const std::string& error, const std::shared_ptr<ScreenStream>& stream);
  // Runs `work` in a later turn of the main queue while this object exists.
  void onMain(std::function<void(ScreenShareCapture&)> work);
  void finishExclusionRefresh();

  ScreenSource& source_;
  OwnApplicationIdentity own_;
  LogFunction log_;
  VideoSourceHandle delegate_;
  std::function<void()> streamDidStop_;

  std::shared_ptr<ScreenStream> stream_;
  bool isCapturing_ = false;
  bool starting_ = false;
  // Moves on at every start and every stop: a start whose token is no longer
  // current was overtaken by a stop.
  std::uint64_t startToken_ = 0;
  bool isSharingOwnWindow_ = false;
  std::optional<ShareableDisplay> sharedDisplay_;
  std::vector<std::uint64_t> excludeWindowIDs_;
  bool excludeAllOwnWindows_ = false;
  std::set<std::uint32_t> appliedExcludedIDs_;
  std::unique_ptr<platform::RepeatingTimer> ownWindowTimer_;
  std::set<std::uint32_t> lastCheckedVisibleIDs_;
  bool exclusionRefreshInFlight_ = false;
  bool exclusionRefreshPending_ = false;
  std::shared_ptr<ScreenShareCapture*> alive_ = std::make_shared<ScreenShareCapture*>(this);
};

}  // namespace orvik

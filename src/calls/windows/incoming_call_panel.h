// IncomingCallPanel: the small floating window in the top-right corner of
// the work area that rings an incoming call: the caller's name, OrvikID and
// picture, the camera preview of a video call, and Decline and Accept. The
// panel decides only when its window shows and goes; what Accept, Decline
// and an unanswered ring do is decided by the callbacks of each show
// (showForRingingCall routes them to the call manager).
//
//   auto panel = IncomingCallPanel::create({calls, strings, IncomingCallPanelGtk::factory(placement, strings)});
//   panel->showForRingingCall({"anna_lee", "15551234567", "", true, false});
//   panel->identityResolved();   // reveals a panel waiting for the caller
//
// A panel whose caller is only guessed and has no proper name stays hidden
// until the identity is resolved, at most kRevealTimeout. The no-answer
// timer starts when the panel comes on screen.
//
// Owner: the composition root. THREAD-SAFETY: main queue only; delayed work
// holds the panel weakly.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "calls/control/call_ports.h"
#include "platform/observer_list.h"

namespace orvik {

class CallControl;
class CallStrings;
namespace platform {
class WorkItem;
}

// What the panel shows of the caller and of the camera; the window observes
// it and the call manager changes it through the panel.
struct IncomingCallIdentity {
  std::string callerName;
  std::string userNumber;
  std::string imageUrl;
  bool isSubscribed = false;
  // The running camera preview of a video call; none before it starts.
  CameraSessionHandle preview;
  bool operator==(const IncomingCallIdentity&) const = default;
};

class IncomingCallIdentityBox {
 public:
  using Observers = platform::ObserverList<>;
  const IncomingCallIdentity& state() const { return state_; }
  // Observers hear of a change once when anything changed.
  void update(const std::function<void(IncomingCallIdentity&)>& change);
  [[nodiscard]] platform::Subscription addObserver(Observers::Observer observer) {
    return observers_.add(std::move(observer));
  }

 private:
  IncomingCallIdentity state_;
  Observers observers_;
};

// The panel's texts and symbols for one identity: what the window draws.
struct IncomingCallContent {
  std::string shownName;     // the name before the first "_"
  std::string orvikIdLine;   // "OrvikID: 155 512 345 67", or " " to keep the height
  std::string avatarInitial;
  std::string badge;         // audio calls only
  std::string acceptSymbol;  // "phone.fill" or "video.fill"
  bool goldRing = false;     // a subscribed caller
  bool showsPreview = false; // a video call whose camera preview runs
  bool showsPreviewPlaceholder = false;
};
IncomingCallContent presentIncomingCall(const IncomingCallIdentity& identity, bool isAudio,
                                        const CallStrings& strings);

struct IncomingCallPanelSpec {
  std::string title;
  bool isAudio = true;
  bool isDarkMode = true;
  int width = 0;
  int height = 0;
  int margin = 0;
};

// What the window tells the panel: the user closed it with its close button.
class IncomingCallPanelDelegate {
 public:
  virtual ~IncomingCallPanelDelegate() = default;
  virtual void windowWillClose() = 0;
};

// One built panel window, hidden until revealed.
class IncomingCallPanelSurface {
 public:
  virtual ~IncomingCallPanelSurface() = default;
  // Puts the window at the work area's top-right corner, above other
  // windows and on every desktop, without the focus. `capturable`: whether
  // screen captures may show it.
  virtual void reveal(bool capturable) = 0;
  // Closes the window without telling the delegate.
  virtual void close() = 0;
};

struct IncomingCallPanelActions {
  std::function<void()> accept;
  std::function<void()> decline;
};

using IncomingCallPanelFactory = std::function<std::unique_ptr<IncomingCallPanelSurface>(
    const IncomingCallPanelSpec& windowSpec, IncomingCallIdentityBox& identity, IncomingCallPanelActions actions,
    IncomingCallPanelDelegate& delegate)>;

// The camera preview of a video call's panel. `start` hands the running
// session to `ready` on the main queue (never, without a camera or its
// permission); `stop` stops a session on a background queue.
class IncomingCameraPreview {
 public:
  virtual ~IncomingCameraPreview() = default;
  virtual void start(std::function<void(CameraSessionHandle)> ready) = 0;
  virtual void stop(CameraSessionHandle session) = 0;
};

struct IncomingCallRequest {
  std::string callerName;
  std::string userNumber;
  std::string imageUrl;  // empty: none
  bool isAudio = true;
  bool isSubscribed = false;
  bool isDarkMode = true;
  // The name and number are a first guess the call manager will confirm or
  // correct.
  bool identityGuessed = false;
};

struct IncomingCallCallbacks {
  std::function<void()> onAccept;
  // Decline and the window's close button.
  std::function<void()> onDecline;
  // Nobody answered within kNoAnswerTimeout: the ring ends as missed, not
  // as declined by this user.
  std::function<void()> onNoAnswer;
};

class IncomingCallPanel final : public IncomingCallPanelDelegate,
                                public std::enable_shared_from_this<IncomingCallPanel> {
 public:
  static constexpr int kWidth = 380;
  static constexpr int kAudioHeight = 360;
  static constexpr int kVideoHeight = 410;
  static constexpr int kMargin = 16;
  static constexpr double kRevealTimeout = 3.0;
  static constexpr double kNoAnswerTimeout = 30.0;
  static constexpr const char* kUnknownCaller = "Unknown Caller";
  static constexpr const char* kTitle = "Orvik";

  using LogFunction = std::function<void(const std::string& line)>;

  struct Collaborators {
    CallControl& calls;
    IncomingCallPanelFactory makeWindow;
    // Null: video calls ring without a preview.
    IncomingCameraPreview* camera = nullptr;
    // Empty: nativeLog.
    LogFunction log{};
  };

  static std::shared_ptr<IncomingCallPanel> create(Collaborators collaborators);
  ~IncomingCallPanel() override;
  IncomingCallPanel(const IncomingCallPanel&) = delete;
  IncomingCallPanel& operator=(const IncomingCallPanel&) = delete;

  // Replaces any panel (without its callbacks) on the next main-queue turn.
  void show(const IncomingCallRequest& request, IncomingCallCallbacks callbacks);
  // Accept and Decline go to the call manager; an unanswered ring is left to
  // the manager's own ring timer, which ends it as missed.
  void showForRingingCall(const IncomingCallRequest& request);
  // Closes the panel on the next main-queue turn; no callback runs.
  void dismiss();
  void identityResolved();
  // Only while a panel exists; absent values keep what is shown.
  void updateIdentity(const std::string& callerName, const std::string& userNumber,
                      const std::optional<std::string>& imageUrl, std::optional<bool> isSubscribed);

  bool hasWindow() const { return window_ != nullptr; }
  bool isRevealed() const { return hasWindow() && !revealPending_; }
  const IncomingCallIdentityBox& identity() const { return *identity_; }

  // The names that count as no proper name: "", "Unknown", "Unknown Caller".
  static bool isProperName(const std::string& name);

  // IncomingCallPanelDelegate: the close button.
  void windowWillClose() override;

 private:
  explicit IncomingCallPanel(Collaborators collaborators);
  void log(const std::string& line) const;
  void build(const IncomingCallRequest& request, IncomingCallCallbacks callbacks);
  void reveal();
  void accept();
  void decline();
  void noAnswer();
  void cleanupSync();
  void retireWindow();
  void startPreview();
  void stopPreview();
  void onMain(std::function<void(IncomingCallPanel&)> step);

  Collaborators c_;
  // Replaced at every show: a late camera session finds its own box gone.
  std::shared_ptr<IncomingCallIdentityBox> identity_ = std::make_shared<IncomingCallIdentityBox>();
  std::unique_ptr<IncomingCallPanelSurface> window_;
  IncomingCallCallbacks callbacks_;
  bool handled_ = false;
  std::uint64_t generation_ = 0;
  bool revealPending_ = false;
  std::shared_ptr<platform::WorkItem> revealTimer_;
  std::shared_ptr<platform::WorkItem> dismissTimer_;
};

}  // namespace orvik

// NativeCallManager: the one owner of a call. One state machine on the main
// queue that places, ends and tears down audio and video calls, keeps every
// per-call field in one state record (NativeCallState), and drives the
// signalling client, the peer connection, tones, timers and, through ports
// (call_ports.h), the windows, alerts, capture and screen share.
//
// Every call attempt gets a new `callGeneration`. Delayed steps of a call
// (the connecting watchdog, the window close and clean-up after an end, the
// media teardown) capture the generation and the manager weakly, and do
// nothing once a later call has begun: they are retired, not cancelled. Only
// the timers kept in the record are cancellable work items, cancelled by
// their owners and by cleanup().
//
// The behaviour is split by concern over several files of this class:
//   native_call_manager.cpp  state, updateState, watchdog, cleanup, helpers
//   call_placing.cpp         makeCall and the side effects of an active call
//   call_ending.cpp          endCall and cancelRingingDevices
//   call_credentials.cpp     the page's credentials and security state
//   outgoing_negotiation.cpp, candidate_exchange.cpp, connection_states.cpp,
//   remote_endings.cpp       the call's negotiation and how it ends
//   incoming_intake.cpp, incoming_offers.cpp, call_answering.cpp,
//   caller_identity.cpp      incoming calls
//   data_channel_messages.cpp, in_call_controls.cpp, call_limits.cpp
//                            the running call's controls and limits
//   ice_recovery.cpp, mid_call_offers.cpp
//                            reconnection, ICE restarts and re-offers
//
//   auto manager = NativeCallManager::create(collaborators);
//   manager->setCredentials({"4711", "deskA", token, "Ann", ""});
//   manager->makeCall(callee, CallType::audio);
//   manager->endCall();
//
// Owner: the composition root (app/app_services.h), for the life of the
// process; windows, the bridge and the shell reach the call engine only
// through it. THREAD-SAFETY: main queue only, except endCall and
// showCallAlert, which move there themselves.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "calls/control/call_frame_routing.h"
#include "calls/control/call_ports.h"
#include "calls/control/call_strings.h"
#include "calls/media/call_ice_manager.h"
#include "calls/media/call_timer_manager.h"
#include "calls/media/peer_connection.h"
#include "calls/signaling/call_credentials_sink.h"
#include "calls/signaling/call_model.h"
#include "calls/signaling/call_signaling_service.h"
#include "calls/signaling/native_call_log_bridge.h"
#include "core/call_timeline.h"
#include "platform/dispatch/clock.h"
#include "platform/dispatch/task_queue.h"

namespace orvik {

namespace platform {
class DisplaySleepInhibitor;
class PageScriptSink;
class UserDefaults;
}  // namespace platform

namespace platform {
class CaptureAuthorization;
}  // namespace platform

// The caller's offer kept until the call is accepted.
struct PendingRemoteOffer {
  std::string from;
  SDPPayload sdp;
  bool isAudio = true;
  std::optional<std::string> remoteDeviceUdid;
  friend bool operator==(const PendingRemoteOffer&, const PendingRemoteOffer&) = default;
};

// The one incoming call parked until the page hands credentials over.
struct DeferredIncoming {
  std::string from;
  std::string fromName;
  bool isAudio = true;
  std::string pushId;
  std::string imageUrl;
  bool fromPush = false;
  bool remoteIsSubscribed = false;
  bool isDarkMode = true;
  bool identityGuessed = false;
  bool acceptWhenReady = false;
  platform::Clock::WallTime at{};
  friend bool operator==(const DeferredIncoming&, const DeferredIncoming&) = default;
};

// A local candidate held back until the answer arrives.
struct HeldLocalCandidate {
  std::string sdpMid;
  int sdpMLineIndex = 0;
  std::string candidate;
  friend bool operator==(const HeldLocalCandidate&, const HeldLocalCandidate&) = default;
};

// The manager's fields: what survives cleanup() (`kept`) and what a call
// owns (`call`, every value back to its default at cleanup()).
struct NativeCallState {
  using WallTime = platform::Clock::WallTime;
  using Timer = std::shared_ptr<platform::WorkItem>;

  struct Kept {
    // Grows by one whenever a call attempt starts; never reset.
    std::int64_t callGeneration = 0;
    bool otherDeviceBusy = false;
    // The page's call credentials.
    std::optional<std::string> myUserNumber;
    std::optional<std::string> myDeviceUdid;
    std::optional<std::string> myAuthToken;
    std::optional<WallTime> lastCredentialsSetAt;
    std::string myDisplayName;
    std::string myAvatarURL;
    // The page's security flags, persisted in the user defaults.
    bool isMasked = false;
    bool isWiped = false;
    bool isScreenshotAccessAllowed = false;
    bool pendingIsDarkMode = true;
    std::optional<WallTime> screenShareStartedAt;
    // Video upgrade.
    bool isSendingVideoUpgradeOffer = false;
    bool isAnsweringVideoUpgrade = false;
    std::optional<std::pair<SDPPayload, std::string>> pendingVideoUpgradeOffer;
    std::optional<std::string> pendingUpgradeAnswerTarget;
    Timer videoUpgradeAnswerTimer;
    std::optional<DeferredIncoming> deferredIncoming;
    std::optional<WallTime> outgoingRingStartedAt;
    // Call limits set by the page.
    bool callLimitExempt = false;
    std::set<std::string> specialCallingNumbers;
    bool localIsSubscribed = false;
    friend bool operator==(const Kept&, const Kept&) = default;
  };

  struct PerCall {
    // Identity and state.
    std::shared_ptr<CallSession> currentSession;
    CallState callState;
    std::optional<std::int64_t> currentCallId;
    std::optional<std::string> remoteUserNumber;
    std::optional<std::string> remoteDeviceUdid;
    std::optional<nlohmann::json> outgoingAddRecord;
    bool incomingFromPush = false;
    bool reauthAttempted = false;
    bool awaitingReauth = false;
    // Display sleep: the inhibition held for the call (0: none).
    unsigned powerAssertionID = 0;
    bool powerAssertionActive = false;
    // Local media.
    bool localMuted = false;
    bool localCameraOff = false;
    // Screen share.
    VideoTrackHandle savedCameraVideoTrack;
    bool isScreenSharing = false;
    // Answering side.
    std::optional<PendingRemoteOffer> pendingRemoteOffer;
    bool captureReadyForAnswer = false;
    bool answerInProgress = false;
    bool pendingAutoAccept = false;
    bool peerConnIsReady = false;
    // An accepted video call's capture waits for the connection's camera source.
    bool answerCaptureWaitsForConnection = false;
    bool acceptBroadcastSent = false;
    bool localAnswerSent = false;
    Timer acceptWatchdogTimer;
    // Outgoing negotiation.
    std::optional<std::string> pendingOfferSDP;
    bool deviceFetchDone = false;
    std::set<std::string> ringingDeviceUdids;
    std::set<std::string> ignoredAnswerUdids;
    bool remoteAnswerReceived = false;
    // Candidates.
    std::vector<HeldLocalCandidate> pendingLocalCandidates;
    std::vector<HeldLocalCandidate> localCandidatesThisGeneration;
    int remoteCandidatesReceived = 0;
    Timer candidateResendTimer;
    int candidateResendsDone = 0;
    // ICE recovery.
    Timer iceAttemptTimer;
    Timer iceDisconnectTimer;
    Timer iceWatchdogTimer;
    std::optional<WallTime> iceAttemptStartedAt;
    std::optional<WallTime> lastIceRecoverAt;
    std::optional<WallTime> lastPeerMidCallOfferAt;
    std::optional<WallTime> serverCallFinishedAt;
    int iceRestartCount = 0;
    int iceRestartRequestsSent = 0;
    int callSocketConnects = 0;
    bool iceRestartInFlight = false;
    bool midCallOfferInProgress = false;
    bool plainRestartInFlight = false;
    std::set<std::string> iceRestartCapablePeers;
    std::optional<std::string> originalRemoteOfferSDP;
    std::optional<std::string> remoteDeviceSource;
    // Call limits.
    int callCapSeconds = 3600;
    int callExtendCount = 0;
    bool peerCallLimitExempt = false;
    std::set<int> sentCallLimitExemptAt;
    std::set<int> firedCallLimitWarnings;
    std::set<int> firedDailyVideoWarnings;
    int videoDailyUsedAtStart = 0;

    // ---- Incoming calls ----
    // The caller's offer is the peer connection's remote description (the
    // callee's side of "has a remote description").
    bool remoteOfferApplied = false;
    // Screen share and video upgrade (screen_share_control.cpp,
    // video_upgrade.cpp).
    // A share's capture is starting: a second pick waits, and clean-up stops
    // it.
    bool screenShareStarting = false;
    // The camera is going back on the sender; a second stop does nothing.
    bool screenShareStopping = false;
    // Our upgrade offer went out and waits for its answer.
    bool videoUpgradeOfferPending = false;

    // In-call controls, data-channel messages and call limits.
    // The camera was off when the running screen share started.
    bool cameraOffBeforeShare = false;
    // The limit banner coming back with a new text.
    Timer callLimitReshowTimer;
    // The daily video budget: the local day it is counted for, the call
    // second from which this call draws on it (the first tick under the
    // rule, so an upgraded call counts from the upgrade), the seconds used
    // but not yet written to the defaults, and the call second of the last
    // write.
    std::string dailyVideoDay;
    std::optional<int> dailyVideoCountedFrom;
    std::optional<int> unsavedDailyVideoSeconds;
    std::optional<int> dailyVideoSavedAtSecond;

    friend bool operator==(const PerCall&, const PerCall&) = default;
  };

  Kept kept;
  PerCall call;
};

// The special-access list the page sends: numbers trimmed, blanks dropped,
// each once.
std::set<std::string> specialCallingNumberSet(const std::vector<std::string>& numbers);

class NativeCallManager final : public CallSignalingDelegate,
                                public CallPeerConnectionDelegate,
                                public CallTimerDelegate,
                                public CallCredentialsSink,
                                public std::enable_shared_from_this<NativeCallManager> {
 public:
  static constexpr double kConnectingWatchdogSeconds = 60.0;
  static constexpr double kWindowCloseAfterConnectedSeconds = 2.0;
  static constexpr double kWindowCloseSeconds = 0.3;
  static constexpr double kCleanupAfterWindowCloseSeconds = 2.6;
  static constexpr double kRecentlyEndedIncomingSeconds = 180.0;
  static constexpr const char* kDisplaySleepReason = "Orvik Call In Progress";
  static constexpr const char* kMaskDataKey = "orvik.security.maskData";
  static constexpr const char* kReversePinKey = "orvik.security.isReversePinTriggered";
  static constexpr const char* kScreenshotAccessKey = "orvik.security.screenshotAccessAllowed";
  static constexpr const char* kScreenShareStreamDidStop = "orvik.screenShareStreamDidStop";

  using LogFunction = std::function<void(const std::string& line)>;

  struct Collaborators {
    // Null: made by makeSignaling / makePeerConnection when a call first
    // needs them, so the call engine loads only when it is used.
    std::shared_ptr<CallSignalingService> signaling;
    std::shared_ptr<PeerConnection> peerConnection;
    CallTones& tones;
    CallWindows& windows;
    CallAlerts& alerts;
    CallCapture& capture;
    CallScreenShare& screenShare;
    platform::DisplaySleepInhibitor& displaySleep;
    platform::UserDefaults& defaults;
    // The table the composition root shares with the call windows; empty: a
    // table of the manager's own.
    CallStrings* strings = nullptr;
    // The shared audio router's automatic output switching; empty: nothing.
    std::function<void()> stopAudioAutoSwitching{};
    // This device's push token; empty function or text: "".
    std::function<std::string()> pushToken{};
    // Asks the page for the call credentials (the credential fetcher).
    std::function<void(const std::string& reason)> fetchCredentials{};
    // Null: the process-wide clock.
    platform::Clock* clock = nullptr;
    // Real seconds per second of call time (the duration timer's tick); 1
    // except in test builds that run calls faster.
    double callSecondLength = CallTimerManager::kTickSeconds;
    // Empty: nativeLog.
    LogFunction log{};
    std::function<std::shared_ptr<CallSignalingService>()> makeSignaling{};
    std::function<std::shared_ptr<PeerConnection>()> makePeerConnection{};

    // --- Connection states ---
    // The shared audio router follows output-device changes for the rest of
    // the call; empty: nothing.
    std::function<void()> startAudioAutoSwitching{};

    // ---- Incoming calls ----
    // The microphone permission asked when a call is answered; null: granted
    // (Linux has no per-application prompt; a missing microphone is caught
    // before the permission is asked).
    platform::CaptureAuthorization* captureAuthorization = nullptr;

    // In-call controls, data-channel messages and call limits.
    // Shows a notice (title, body) only while the program is not the active
    // one; empty: nothing.
    std::function<void(const std::string& title, const std::string& body)> postBackgroundNotification{};
    // The time zone of the daily video budget's day ("Europe/Berlin");
    // empty: the device's current one.
    std::string timeZone{};
  };

  static std::shared_ptr<NativeCallManager> create(Collaborators collaborators);
  ~NativeCallManager() override;
  NativeCallManager(const NativeCallManager&) = delete;
  NativeCallManager& operator=(const NativeCallManager&) = delete;

  // The main web view, held weakly; page calls and call records go there.
  void setWebView(std::weak_ptr<platform::PageScriptSink> webView) { webView_ = std::move(webView); }

  // Core.
  bool isInCall() const { return state_.call.callState.isInCall(); }
  bool isMaskedOrWiped() const { return state_.kept.isMasked || state_.kept.isWiped; }
  const CallState& callState() const { return state_.call.callState; }
  std::int64_t callGeneration() const { return state_.kept.callGeneration; }
  // Quitting or closing the main window: ends a call in progress, declines
  // a ringing one, nothing otherwise.
  void hangUpCurrentCall();
  void updateState(const CallState& newState);
  // Tears the call down to idle; safe to run twice.
  void cleanup();

  // Placing and ending.
  void makeCall(const CallUser& callee, CallType type, std::optional<nlohmann::json> addRecord = std::nullopt);
  // Any thread.
  void endCall();
  void cancelRingingDevices(const std::string& remote, const std::string& from);
  // Builds the offer's add-record from the callee's device record.
  void buildAddRecord(const std::optional<nlohmann::json>& deviceRecord);

  // Side effects of an active call.
  void notifyWebNativeCallActive(bool active);
  void preventDisplaySleep();
  void showMainAppWindow();

  // Helpers shared by the call's behaviours.
  void attachDelegates();
  // Any thread.
  void showCallAlert(const std::string& title, const std::string& message);
  std::optional<CallLogContext> makeCallLogContext() const;
  void publishCallDuration(const std::string& text);
  void publishConnected(bool connected);
  void closeCallWindows();
  void dismissCallUIIfIdle();
  void markCameraOffInWindows();
  static std::string dataChannelFlagMessage(const std::string& type, bool flag);
  std::vector<std::uint64_t> ownCallWindowNumbers();
  void applyScreenshotAccess(bool allowed);
  void resetIceRestartState();
  // The in-process notice "orvik.screenShareStreamDidStop" (a stream the
  // system stopped): the share stops and the camera comes back.
  void handleScreenShareStreamDidStop();
  // Whether an incoming call with this push id ended here less than 180 s ago.
  bool wasRecentlyEndedIncoming(const std::string& pushId) const;

  // The page's credentials and security state (CallCredentialsSink).
  // Complete only with all three: a token the server rejected is dropped
  // while the user's identity stays.
  bool hasCredentials() const override {
    return state_.kept.myUserNumber && state_.kept.myDeviceUdid && state_.kept.myAuthToken;
  }
  void setCredentials(const CallCredentials& credentials) override;
  void clearCredentials() override;
  void setSecurityState(bool maskData, bool isReversePinTriggered) override;

  // "<myUserNumber>_<myDeviceUdid>" when both are known.
  std::optional<std::string> myFromAddress() const;

  // --- Outgoing negotiation, candidate exchange, connection states and
  // remote endings (outgoing_negotiation.cpp, candidate_exchange.cpp,
  // connection_states.cpp, remote_endings.cpp) ---
  static constexpr double kCandidateResendOffsets[2] = {6.0, 12.0};
  static constexpr double kReconnectWindowSeconds = 45.0;
  static constexpr double kServerFinishedRecentlySeconds = 60.0;
  static constexpr double kBusyEndedSeconds = 2.5;
  static constexpr double kBusyCloseSeconds = 4.0;
  static constexpr double kMissedCloseSeconds = 2.0;
  // Candidates: the caller holds its own until the answer; the callee sends
  // at once, by broadcast until it knows the caller's device.
  void sendOrBufferLocalCandidate(const LocalIceCandidate& candidate);
  void sendLocalCandidate(const LocalIceCandidate& candidate, const std::string& toUser, const std::string& toDevice,
                          const std::string& from);
  void flushPendingLocalCandidates();
  // Re-sends at 6 s and 12 s after the first call while ICE is not up.
  void scheduleCandidateResend();
  void resendCandidatesByBroadcast(const std::string& reason);
  // The other side ended the call; `force` when that is certain.
  void handleRemoteEnd(bool force);
  void handleBusyOrDecline();
  // Another of my devices took, declined or ended the ringing call.
  void dismissRingHandledElsewhere();
  // Whether ICE of the current connection is up (connected or completed).
  bool isIceUp() const;
  // Opens the 45 s window in which a dropped connected call may recover.
  void beginReconnectWindow(const std::string& reason, const std::string& statusText);
  // The peer's device source ("desktop" is offered the video upgrade), from
  // its offer or answer.
  void noteRemoteDeviceSource(const std::optional<std::string>& source, const std::string& via);
  void armIceAttemptTimer(const std::string& reason, std::optional<double> timeout = std::nullopt);
  void handleIceFailure(const std::string& reason);
  bool peerCanRestartIce() const;
  // Tests stand in for events that stop or start the call timers.
  CallTimerManager& timersForTesting() { return timers_; }

  // The state record, for tests and diagnostics.
  const NativeCallState& state() const { return state_; }
  // Tests put the record into states the later call behaviours reach.
  NativeCallState& stateForTesting() { return state_; }
  CallTimeline& timeline() { return timeline_; }

  // Screen share (screen_share_control.cpp). --------------------------------
  static constexpr const char* kScreenTrackId = "screen0";
  static constexpr const char* kScreenShareFailedTitle = "Couldn't Share Screen";
  static constexpr const char* kScreenShareFailedText =
      "The selected screen or window is no longer available. Please try again.";
  static constexpr const char* kScreenShareNoSenderText =
      "The call has no video to replace with the screen. Please try again.";
  // The video screen's share button.
  void toggleScreenShare();
  // Permission, then the picker's contents. `afterPrimer`: the user confirmed
  // the explanation screen.
  void requestScreenShareOptions(bool afterPrimer);
  // The picker's Share button.
  void startScreenShare(const ShareTarget& target);
  void stopScreenShare();

  // Video upgrade (video_upgrade.cpp). ---------------------------------------
  static constexpr double kVideoUpgradeAnswerSeconds = 15.0;
  // The audio window's switch to video on a connected audio call: a camera
  // track, the camera, then the "videoUpgradeOffer" to the peer's device.
  void requestVideoUpgrade();
  void armVideoUpgradeAnswerTimer();
  void videoUpgradeTrackAdded(VideoTrackHandle track, VideoSourceHandle source);
  // Every offer the connection creates comes here first; true when it was
  // the upgrade offer (sent to the peer's device, or dropped).
  bool takeVideoUpgradeOffer(const std::optional<std::string>& description);
  void switchCallUIToVideo(bool cameraOff);
  void acceptVideoUpgrade();
  void declineVideoUpgrade();

  // The web application's call settings (web_app_call_settings.cpp). ---------
  static constexpr double kServerCallFinishedGraceSeconds = 60.0;
  // Any thread.
  void setCallLimitExempt(bool exempt, const std::vector<std::string>& numbers);
  // Any thread.
  void handleServerCallFinished();
  // The server said the call finished and our connection is down too.
  void endAsOtherSideGone();
  void setScreenshotAccessAllowed(bool allowed);
  void setLocalIsSubscribed(bool subscribed);
  // --------------------------------------------------------------------------

  // In-call controls, data-channel messages and call limits
  // (in_call_controls.cpp, data_channel_messages.cpp, call_limits.cpp). -------
  static constexpr double kScreenShareConflictSeconds = 1.5;
  static constexpr double kCallLimitReshowSeconds = 0.45;
  static constexpr int kDailyVideoUsageWriteEverySeconds = 5;
  // The call screens' buttons.
  void setMuted(bool muted);
  void setSpeakerEnabled(bool enabled);
  void setCameraOff(bool off);
  // A mute or camera-off chosen before the connection was built reaches its
  // tracks.
  void applyLocalTrackFlags();
  // What the peer's data-channel messages change.
  void applyRemoteMuted(bool muted);
  // The peer started sharing while we share: within 1.5 s of our start the
  // caller keeps its share, otherwise the later share wins.
  void resolveScreenShareConflict();
  void applyPeerCallLimitExempt(bool exempt);
  // Delayed ending steps: nothing once a later call has begun.
  void teardownMediaIfSameGeneration(std::int64_t generation);
  void cleanupIfSameGeneration(std::int64_t generation);
  // The limits, run on each tick of the duration timer.
  void checkCallLimits(int elapsedSeconds);
  // Adds 20 minutes, at most twice a call; `sendToPeer` when the user asked
  // here.
  void extendCall(bool sendToPeer);
  void showCallLimitWarning(const std::string& text, bool canExtend);
  // Also withdraws a pending re-show of the banner.
  void hideCallLimitBanner();
  void logCallLimitRule();
  // At first connect: today's daily video seconds, then the rule's log line.
  void beginCallLimits();
  // Today's free-to-free video seconds, a running call's included.
  int dailyVideoUsedSeconds();
  // Writes the daily video seconds the call used since the last write.
  void saveDailyVideoUsage();

 private:
  void presentCallLimitWarning(const std::string& text, bool canExtend);
  // Starts or moves the daily count of this call (a new local day); true at
  // a new day.
  bool startDailyVideoCount(int elapsedSeconds);

 public:
  // --------------------------------------------------------------------------

  // CallSignalingDelegate.
  void signalingDidConnect() override;
  void signalingDidDisconnect() override;
  void signalingDidReceiveIceServers(const std::vector<ICEServer>& servers, const std::string& policy) override;
  void signalingDidFailAuth() override;
  void signalingDidReceiveCallRecordId(std::int64_t recordId) override;
  void signalingDidReceiveOffer(const std::string& from, const SDPPayload& offer, bool isAudio,
                                const std::optional<std::string>& deviceUdid,
                                const std::optional<std::string>& callerName,
                                const std::optional<std::string>& callerPicture) override;
  void signalingDidReceiveAnswer(const SDPPayload& answer, const std::optional<std::string>& deviceUdid,
                                 const std::optional<std::string>& from) override;
  void signalingDidReceiveCandidate(const std::string& candidate, const std::optional<std::string>& sdpMid,
                                    std::int32_t sdpMLineIndex, const std::optional<std::string>& deviceUdid) override;
  void signalingDidReceiveOfferReceived(const std::optional<std::string>& from) override;
  void signalingDidReceiveUserBusy(const std::optional<std::string>& from) override;
  void signalingDidReceiveEndCall(const std::optional<std::string>& from) override;
  void signalingDidReceiveRestartCapability(const std::optional<std::string>& from) override;
  void signalingDidReceiveRestartOffer(const SDPPayload& offer, std::optional<std::int64_t> attempt,
                                       const std::optional<std::string>& from) override;
  void signalingDidReceiveRestartAnswer(const SDPPayload& answer, std::optional<std::int64_t> attempt,
                                        const std::optional<std::string>& from) override;
  void signalingDidReceiveRestartRequest(const std::optional<std::string>& from) override;
  void signalingDidReceiveVideoUpgradeAnswer(const SDPPayload& answer,
                                             const std::optional<std::string>& deviceUdid) override;
  void signalingDidReceivePendingCall() override;
  void handleSendToMyDevices(const std::string& action) override;

  // CallPeerConnectionDelegate.
  void peerConnectionDidFail(const PeerConnectionError& error) override;
  void peerConnectionDidGenerateCandidate(const LocalIceCandidate& candidate) override;
  void peerConnectionDidChangeIceState(PeerConnectionState state) override;
  void peerConnectionDidCreateOffer(const std::optional<std::string>& description) override;
  void peerConnectionDidCreateAnswer(const std::optional<std::string>& description) override;
  void peerConnectionDidReceiveDataChannelMessage(const std::string& text) override;
  void peerConnectionDidOpenRemoteDataChannel() override;
  void attachRemoteTrack(const RemoteMediaTrack& track) override;

  // CallTimerDelegate.
  void ringTimerDidExpire() override;
  void callTimerDidTick(double elapsedSeconds) override;

  // ---- Incoming calls (incoming_intake.cpp, incoming_offers.cpp,
  // caller_identity.cpp, call_answering.cpp) ----
  static constexpr double kDeferredIncomingTTL = 45.0;
  static constexpr double kAcceptWatchdogSeconds = 20.0;
  static constexpr double kAnswerWatchdogSeconds = 20.0;
  static constexpr double kRejectCleanupSeconds = 1.5;
  // The incoming-call panel is about to be shown (page, push, replay). A
  // `fromName` that is absent or empty stands for "not announced".
  void prepareSignalingForIncoming(const std::string& from, const std::optional<std::string>& fromName, bool isAudio,
                                   const std::string& pushId, const std::string& imageUrl, bool fromPush,
                                   bool remoteIsSubscribed, bool isDarkMode, bool identityGuessed);
  // The page asks for the native call window of an incoming call.
  void handleIncomingCall(const std::string& from, const std::optional<std::string>& fromName, bool isAudio,
                          const std::string& pushId, bool isDarkMode);
  // Found busy before any panel was shown: "userBusy" to the caller and
  // "rejectCall" to my other devices.
  void sendBusyToNewCaller(const std::string& from);
  // Whether an announcement names the call that is ringing here now (its
  // push id, or its caller while it rings): shown again, never answered busy.
  bool isRingingCallAnnouncement(const std::string& from, const std::string& pushId) const;
  // The page's display identity of the caller.
  void callerIdentityResolved(const std::string& userNumber, const std::string& name,
                              const std::optional<std::string>& imageUrl, bool isSubscribed);
  // A reliable missed-call cancel relayed by the page: nothing to do.
  void handleMissedCallMessage(const std::string& from, const std::string& pushId);
  // Accept on the incoming-call panel (or the replay of an early Accept).
  void acceptIncomingFromPanel(const std::string& from, const std::string& fromName, bool isAudio,
                               const std::string& pushId, bool isDarkMode);
  // Answers the ringing session.
  void acceptCall();
  // The one place the stored offer is applied: once the peer connection,
  // capture and the offer are all there.
  void tryApplyOfferAndAnswer();
  // Declines the ringing call.
  void rejectCall();
  // An action of another of my devices; `pushId`, when the message carries
  // one, must name the call ringing here.
  void handleSendToMyDevices(const std::optional<std::string>& type, const std::optional<std::string>& pushId);

  // ICE restart, reconnection and mid-call offers (ice_recovery.cpp,
  // mid_call_offers.cpp). -----------------------------------------------------
  static constexpr double kIceFailureRepeatSeconds = 2.0;
  static constexpr double kPlainRestartCheckSeconds = 4.0;
  static constexpr double kPlainRestartAnswerSeconds = 10.0;
  // The call socket connected again during a call that is not connected.
  void recoverAfterSocketReconnect();
  bool isFromCurrentPeer(const std::optional<std::string>& from) const;
  // "(<s>s into attempt)", or "" when no attempt timer was armed.
  std::string iceAttemptElapsedText() const;
  void learnRemoteDeviceFromAddress(const std::optional<std::string>& from, const std::string& context);
  // An offer of the current peer while the call runs: answered on the same
  // connection, one at a time.
  void handleMidCallOffer(const SDPPayload& offer, const std::string& from);

 private:
  bool isCallerRole() const;
  bool wasEverConnected() const;
  // A new ICE generation: the re-send list empties and remote candidates
  // wait for the new description.
  void beginIceGeneration();
  void iceAttemptTimedOut(const std::string& reason, double timeout);
  void giveUpIceRecovery(const std::string& reason);
  // True when a restart offer is on its way.
  bool restartIceAsCaller(const std::string& reason);
  void restartOfferReady(int attempt, const std::optional<std::string>& offer, const std::string& to,
                         const std::string& from);
  void restartAnswerReady(std::optional<std::int64_t> attempt, const std::optional<std::string>& answer,
                          const std::string& to, const std::string& from);
  void schedulePlainRestartCheck(const std::string& reason);
  void sendPlainRestartOffer(const std::string& reason);
  void plainRestartOfferReady(const std::optional<std::string>& offer);
  void midCallAnswerReady(const std::optional<std::string>& answer);
  // ---------------------------------------------------------------------------

 private:
  // ---- Incoming calls ----
  void handleCredentialsStored();
  void reconnectAfterReauth();
  void replayDeferredIncoming();
  void ignoreEndedIncoming(const std::string& context, const std::string& pushId);
  void openIncomingCallWindow(bool isAudio, const std::string& name, const std::string& userNumber, bool isDarkMode);
  void startIncomingSocket(const std::string& pushId);
  void incomingPeerConnectionReady();
  bool peerHasRemoteDescription() const;
  void storeRemoteOffer(const std::string& from, const SDPPayload& sdp, bool isAudio,
                        const std::optional<std::string>& fromDeviceUdid, const std::optional<std::string>& callerName,
                        const std::optional<std::string>& callerProfileImage);
  void dismissGhostIncomingCall();
  void ghostRingGraceExpired(std::int64_t generation);
  void remoteOfferDidApply();
  void sendAnswerToRemote(const std::string& sdp);
  void answerWatchdogFired();
  void correctDisplayedCallerIdentity(const std::string& userNumber, const std::optional<std::string>& name,
                                      const std::optional<std::string>& avatarURL);
  void applyCallerIdentityToUI(const std::string& name, const std::string& orvikID, const std::string& avatarURL,
                               bool isSubscribed, bool isAudio);
  void resolveCallerDisplayName(const std::string& userNumber);
  void broadcastAcceptToMyDevices();
  void broadcastAcceptThroughWeb();
  void armAcceptWatchdog(const std::string& reason);
  void acceptWatchdogFired(std::int64_t generation, const std::string& phase);
  void handleMicrophonePermission(bool granted, bool isVideo);
  void startCaptureAndAnswer(bool isVideo);
  void handleCaptureResult(const std::optional<std::string>& error, bool captureVideo);
  void showAcceptedCallWindow(bool isAudio, const std::string& name, const std::string& userNumber,
                              const std::string& imageUrl, bool isSubscribed);
  void openEarlyAcceptedCallWindow(bool isAudio, const std::string& name, const std::string& userNumber);
  void clearIncomingFlagOnCallWindows();
  void startWithCameraOff();
  void broadcastRejectThroughWeb();

 private:
  explicit NativeCallManager(Collaborators collaborators);

  void log(const std::string& line) const;
  platform::Clock& clock() const;
  // Made on first use.
  CallSignalingService& signaling();
  PeerConnection& peerConnection();
  CallStrings& strings() const;
  // Runs `step` on the main queue after `seconds` when the manager still
  // exists and no later call has begun.
  void postForThisCall(double seconds, std::function<void(NativeCallManager&)> step);
  void armConnectingWatchdog();
  void connectingWatchdogFired();
  // The reset that runs at the start of each call attempt and in cleanup().
  void resetPerCallSignalingState();
  void peerConnectionSetupDidComplete(bool isVideo);
  // For a video capture, gives the capture the connection's camera track
  // and source first; then `then(manager, video)` on the main queue, for
  // this call only.
  void handCameraTrackToCapture(bool video, std::function<void(NativeCallManager&, bool video)> then);

  // --- Outgoing negotiation and remote endings ---
  void outgoingCaptureDidStart(const std::optional<std::string>& error, bool startVideo);
  void publishLocalCameraSession();
  void userDevicesDidArrive(const std::optional<nlohmann::json>& deviceRecord);
  void sendPreparedOffer(const std::string& sdp);
  void remoteAnswerDidApply();
  void plainRestartAnswerDidApply(bool applied);
  void candidateResendDue(double offset);
  // What the routing of a busy or end frame from `from` decides on.
  RemoteEndFacts remoteEndFacts(const std::optional<std::string>& from) const;
  // Stops media of the call: the connection, the capture and the camera.
  void stopMedia();
  // Screen share and video upgrade: what clean-up ends with the call.
  void endScreenShareAndUpgradeForCleanup();
  void screenShareCaptureDidStart(const std::optional<std::string>& error, VideoTrackHandle cameraTrack,
                                  VideoTrackHandle screenTrack);
  void videoUpgradeAnswerTimedOut();

  Collaborators c_;
  mutable CallStrings ownStrings_;
  std::shared_ptr<CallSignalingService> signaling_;
  std::shared_ptr<PeerConnection> peerConn_;
  CallICEManager iceManager_;
  CallTimerManager timers_;
  NativeCallLogBridge callLogBridge_;
  CallTimeline timeline_;
  std::weak_ptr<platform::PageScriptSink> webView_;

  NativeCallState state_;

  // Push ids of incoming calls torn down here, with the time; the only field
  // read off the main queue.
  mutable std::mutex recentlyEndedIncomingLock_;
  std::map<std::string, platform::Clock::WallTime> recentlyEndedIncoming_;
};

}  // namespace orvik

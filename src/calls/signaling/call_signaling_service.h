// CallSignalingService: the program's one client of the call server, a
// Socket.IO connection on which call frames, the ICE configuration and
// multi-device notices travel. The call manager makes one for the life of the
// process, is its delegate, connects it when a call needs signalling and
// disconnects it at the call's clean-up.
//
// Sending: call frames and multi-device notices produced while the connection
// is down wait in two queues (20 s and 10 s lifetimes, at most 60 frames) and
// go out in order on the next connect; the offer's acknowledgement carries
// the server's call-record id.
//
// THREADING: make, use and destroy on the main queue. Socket events arrive on
// the main queue; everything that reaches the delegate is posted to the main
// queue through a weak reference to the service and to the delegate, so the
// delegate runs in a later turn, in arrival order, and never after either is
// gone.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "calls/signaling/call_model.h"
#include "calls/signaling/ice_config.h"
#include "calls/signaling/socketio/socket_io_client.h"
#include "platform/dispatch/clock.h"

namespace orvik {

struct CallingSocketParams {
  std::string token;
  std::string userNumber;
  std::string deviceUdid;
  std::string pushToken;
  std::string isFreeUser;

  // "token", "userNumber", "deviceUdid", "pushToken", "isFreeUser", in this
  // order, each as it is (empty texts included): the connection's query.
  std::vector<std::pair<std::string, std::string>> connectParameters() const;
};

// Implemented by the call manager. Every operation is called on the main
// queue.
class CallSignalingDelegate {
 public:
  virtual ~CallSignalingDelegate() = default;
  // After the queued frames and notices were sent or dropped; again after
  // every automatic reconnection.
  virtual void signalingDidConnect() = 0;
  virtual void signalingDidDisconnect() = 0;
  // Once per connect: the first "getToken" of the connection.
  virtual void signalingDidReceiveIceServers(const std::vector<ICEServer>& servers, const std::string& policy) = 0;
  virtual void signalingDidFailAuth() = 0;
  virtual void signalingDidReceiveCallRecordId(std::int64_t recordId) = 0;

  // Messages of the other party ("call" events), in arrival order. `from` is
  // the sender's address as received; a device identifier is the part of it
  // after the first underscore.
  virtual void signalingDidReceiveOffer(const std::string& from, const SDPPayload& offer, bool isAudio,
                                        const std::optional<std::string>& deviceUdid,
                                        const std::optional<std::string>& callerName,
                                        const std::optional<std::string>& callerPicture) = 0;
  // `from`: the answering device's whole address, so the call manager can
  // check whose answer it is.
  virtual void signalingDidReceiveAnswer(const SDPPayload& answer, const std::optional<std::string>& deviceUdid,
                                         const std::optional<std::string>& from) = 0;
  virtual void signalingDidReceiveCandidate(const std::string& candidate, const std::optional<std::string>& sdpMid,
                                            std::int32_t sdpMLineIndex,
                                            const std::optional<std::string>& deviceUdid) = 0;
  virtual void signalingDidReceiveOfferReceived(const std::optional<std::string>& from) = 0;
  virtual void signalingDidReceiveUserBusy(const std::optional<std::string>& from) = 0;
  virtual void signalingDidReceiveEndCall(const std::optional<std::string>& from) = 0;
  virtual void signalingDidReceiveRestartCapability(const std::optional<std::string>& from) = 0;
  virtual void signalingDidReceiveRestartOffer(const SDPPayload& offer, std::optional<std::int64_t> attempt,
                                               const std::optional<std::string>& from) = 0;
  virtual void signalingDidReceiveRestartAnswer(const SDPPayload& answer, std::optional<std::int64_t> attempt,
                                                const std::optional<std::string>& from) = 0;
  virtual void signalingDidReceiveRestartRequest(const std::optional<std::string>& from) = 0;
  // The answer to our own video-upgrade offer. The call manager applies it
  // only when shouldApplyVideoUpgradeAnswer agrees (call_event_parsers.h).
  virtual void signalingDidReceiveVideoUpgradeAnswer(const SDPPayload& answer,
                                                     const std::optional<std::string>& deviceUdid) = 0;
  // No call waits for this user, or only a stale one.
  virtual void signalingDidReceivePendingCall() = 0;
  // What another of the user's devices did with a ringing call.
  virtual void handleSendToMyDevices(const std::string& action) = 0;
};

class CallSignalingService : public std::enable_shared_from_this<CallSignalingService> {
 public:
  static constexpr double kMyDevicesQueueTTL = 10.0;
  static constexpr double kCallFrameQueueTTL = 20.0;
  static constexpr std::size_t kMaxQueuedCallFrames = 60;
  static constexpr double kCallAckTimeout = 10.0;
  static constexpr double kMyDevicesAckTimeout = 5.0;
  static constexpr double kUserDevicesAckTimeout = 10.0;
  static constexpr const char* kEnginePath = "/calling";
  // The reconnect waits, in seconds.
  static constexpr double kReconnectWait = 0.5;
  static constexpr double kReconnectWaitMax = 2.0;

  // The composition root makes the program's: the deployment's call server
  // over libsoup. `serverURL`: scheme and host (and port), no path.
  static std::shared_ptr<CallSignalingService> make(std::string serverURL, socketio::TransportFactory transportFactory,
                                                    SignalingLog log = defaultSignalingLog());

  CallSignalingService(const CallSignalingService&) = delete;
  CallSignalingService& operator=(const CallSignalingService&) = delete;

  void setDelegate(std::weak_ptr<CallSignalingDelegate> delegate) { delegate_ = std::move(delegate); }

  // Starts a fresh connection with `params`; an earlier one is disconnected
  // and its handlers removed first.
  void connect(const CallingSocketParams& params);
  // Drops both queues, closes the connection and forgets the client; the
  // parameters are kept.
  void disconnect();

  // Sends, queues (while not connected) or drops (no client) one call frame.
  // With `ackLabel` it asks for an acknowledgement; the label "offer" reads
  // the call-record id out of it.
  void emitCall(nlohmann::json payload, std::optional<std::string> ackLabel = std::nullopt);
  // False when there is no client; true when the notice was sent or queued.
  bool sendToMyDevices(const std::string& action);

  void sendAnswer(const std::string& userNumber, const std::string& deviceId, const std::string& from,
                  const std::string& answerJSON);
  void sendIceRestartRequest(const std::string& userNumber, const std::string& deviceId, const std::string& from);
  void sendStopRinging(const std::string& userNumber, const std::string& deviceId, const std::string& from);
  void sendEndCall(const std::string& userNumber, const std::string& deviceId, const std::string& from);

  // Reads the acknowledgement of a "getUserDevices" request: the first device
  // object, or nothing. `completion` runs before this returns.
  void getUserDevices(const nlohmann::json& ackData, const std::function<void(std::optional<nlohmann::json>)>& completion);

  // The current client (null when not connected), for requests the call
  // manager makes itself ("getUserDevices").
  socketio::SocketIOClient* socket() const { return socket_.get(); }
  const std::string& serverURL() const { return serverURL_; }
  const std::optional<CallingSocketParams>& params() const { return params_; }

 private:
  struct QueuedCallFrame {
    nlohmann::json dict;
    std::optional<std::string> ackLabel;
    platform::Clock::MonotonicTime queuedAt;
  };
  struct QueuedNotice {
    std::string type;
    platform::Clock::MonotonicTime queuedAt;
  };

  CallSignalingService(std::string serverURL, socketio::TransportFactory transportFactory, SignalingLog log);

  void registerHandlers();
  void handleConnect();
  void handleDisconnect(const nlohmann::json& args);
  void handleGetToken(const nlohmann::json& args);
  void handleInvalidToken();
  void handleCallEvent(const nlohmann::json& args);
  void handlePendingCall(const nlohmann::json& args);
  void handleSendToMyDevicesEvent(const nlohmann::json& args);

  void emitNow(const nlohmann::json& payload, const std::optional<std::string>& ackLabel,
               socketio::SocketIOClient& client, const std::optional<std::string>& via);
  void sendNotice(const std::string& action, const std::string& via);
  void sendEndFrame(const std::string& type, const std::string& userNumber, const std::string& deviceId,
                    const std::string& from);
  void flushQueuedCallFrames();
  void flushQueuedMyDevices();

  // Runs `call` with the delegate in a later turn of the main queue, when the
  // service and its delegate still exist.
  void toDelegate(std::function<void(CallSignalingDelegate&)> call);

  const std::string serverURL_;
  socketio::TransportFactory transportFactory_;
  SignalingLog log_;
  std::weak_ptr<CallSignalingDelegate> delegate_;
  std::shared_ptr<socketio::SocketIOClient> socket_;  // the manager and its default-namespace client
  std::optional<CallingSocketParams> params_;
  std::optional<platform::Clock::MonotonicTime> connectAttemptedAt_;

  // Main queue only, like every member: no locks.
  std::vector<QueuedNotice> pendingMyDevices_;
  std::vector<QueuedCallFrame> pendingCallFrames_;
};

}  // namespace orvik

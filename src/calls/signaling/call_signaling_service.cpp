#include "calls/signaling/call_signaling_service.h"

#include <cstdio>

#include "core/native_logger.h"
#include "core/service_config.h"
#include "platform/dispatch/task_queue.h"

namespace orvik {
namespace {

using nlohmann::json;

std::string stringField(const json& payload, const char* key) {
  if (!payload.is_object()) return "?";
  const auto found = payload.find(key);
  return found != payload.end() && found->is_string() ? found->get<std::string>() : std::string("?");
}

std::string ageText(double seconds) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%.1fs", seconds);
  return buffer;
}

std::string describe(const json& value) { return value.dump(-1, ' ', false, json::error_handler_t::replace); }

std::string address(const std::string& userNumber, const std::string& deviceId) {
  return deviceId.empty() ? userNumber : userNumber + "_" + deviceId;
}

// The call-record id of an offer's acknowledgement: an integer, or a
// fractional number's integer part. Text and booleans are no id.
std::optional<std::int64_t> recordId(const json& ackData) {
  if (!ackData.is_array() || ackData.empty() || !ackData[0].is_object()) return std::nullopt;
  const auto id = ackData[0].find("id");
  if (id == ackData[0].end()) return std::nullopt;
  if (id->is_number_integer()) return id->get<std::int64_t>();
  if (id->is_number_float()) {
    const double value = id->get<double>();
    if (!(value > -9.2e18 && value < 9.2e18)) return std::nullopt;
    return static_cast<std::int64_t>(value);
  }
  return std::nullopt;
}

// Empties a queue under its lock; the caller sends or drops what it took
// after releasing it.
template <typename Entry>
std::vector<Entry> takeAll(std::mutex& lock, std::vector<Entry>& queue) {
  std::vector<Entry> taken;
  std::lock_guard guard(lock);
  taken.swap(queue);
  return taken;
}

}  // namespace

std::vector<std::pair<std::string, std::string>> CallingSocketParams::connectParameters() const {
  return {{"token", token}, {"userNumber", userNumber}, {"deviceUdid", deviceUdid},
          {"pushToken", pushToken}, {"isFreeUser", isFreeUser}};
}

std::shared_ptr<CallSignalingService> CallSignalingService::make() {
  return make(ServiceConfig::current().callServerURL, socketio::soupTransportFactory());
}

std::shared_ptr<CallSignalingService> CallSignalingService::make(std::string serverURL,
                                                                 socketio::TransportFactory transportFactory,
                                                                 SignalingLog log) {
  return std::shared_ptr<CallSignalingService>(
      new CallSignalingService(std::move(serverURL), std::move(transportFactory), std::move(log)));
}

CallSignalingService::CallSignalingService(std::string serverURL, socketio::TransportFactory transportFactory,
                                           SignalingLog log)
    : serverURL_(std::move(serverURL)), transportFactory_(std::move(transportFactory)), log_(std::move(log)) {}

void CallSignalingService::connect(const CallingSocketParams& params) {
  params_ = params;
  connectAttemptedAt_ = platform::systemClock().monotonicNow();
  log_("[Signaling] connect() — userNumber=" + params.userNumber + " deviceUdid=" +
       firstCharacters(params.deviceUdid, 8) + "… pushToken=" + shortToken(params.pushToken) +
       " token=" + shortToken(params.token));

  // A live client left behind would keep delivering events (duplicate "call"
  // frames) next to the new one: silence it, then close it.
  if (socket_) {
    socket_->removeAllHandlers();
    socket_->disconnect();
  }
  socketio::SocketIOOptions options;
  options.path = kEnginePath;
  options.reconnects = true;
  options.reconnectWait = kReconnectWait;
  options.reconnectWaitMax = kReconnectWaitMax;
  options.connectParams = params.connectParameters();
  socket_ = socketio::SocketIOClient::make(serverURL_, std::move(options), transportFactory_);
  registerHandlers();
  socket_->connect();
}

void CallSignalingService::registerHandlers() {
  if (!socket_) return;
  std::weak_ptr<CallSignalingService> weak = weak_from_this();
  auto handler = [weak](void (CallSignalingService::*method)(const json&)) {
    return [weak, method](const json& args, const socketio::Ack&) {
      if (auto self = weak.lock()) ((*self).*method)(args);
    };
  };
  socket_->on("connect", [weak](const json&, const socketio::Ack&) {
    if (auto self = weak.lock()) self->handleConnect();
  });
  socket_->on("disconnect", handler(&CallSignalingService::handleDisconnect));
  socket_->once("getToken", handler(&CallSignalingService::handleGetToken));
  socket_->on("invalid_token", [weak](const json&, const socketio::Ack&) {
    if (auto self = weak.lock()) self->handleInvalidToken();
  });
  socket_->on("call", handler(&CallSignalingService::handleCallEvent));
  socket_->on("getPendingCall", handler(&CallSignalingService::handlePendingCall));
  socket_->on("sendToMyDevices", handler(&CallSignalingService::handleSendToMyDevicesEvent));
}

void CallSignalingService::handleConnect() {
  log_("[Signaling] Connected");
  flushQueuedCallFrames();
  flushQueuedMyDevices();
  toDelegate([](CallSignalingDelegate& delegate) { delegate.signalingDidConnect(); });
}

void CallSignalingService::handleDisconnect(const json& args) {
  const std::string reason =
      args.is_array() && !args.empty() && args[0].is_string() ? args[0].get<std::string>() : "unknown";
  log_("[Signaling] Disconnected: " + reason);
  toDelegate([](CallSignalingDelegate& delegate) { delegate.signalingDidDisconnect(); });
}

void CallSignalingService::disconnect() {
  const auto notices = takeAll(pendingMyDevicesLock_, pendingMyDevices_);
  if (!notices.empty()) {
    json types = json::array();
    for (const auto& notice : notices) types.push_back(notice.type);
    log_("[MultiDeviceCall][Signal] disconnect — dropping " + std::to_string(notices.size()) +
         " queued sendToMyDevices (never connected): " + describe(types));
  }
  const std::size_t dropped = takeAll(pendingCallFramesLock_, pendingCallFrames_).size();
  if (dropped > 0) {
    log_("[Signaling] disconnect — dropping " + std::to_string(dropped) + " queued call frame(s) (call is over)");
  }
  if (socket_) {
    socket_->disconnect();
    socket_->removeAllHandlers();
  }
  socket_.reset();
}

void CallSignalingService::handleGetToken(const json& args) {
  std::optional<ICEConfig> config;
  if (args.is_array() && !args.empty()) config = parseICEConfig(args[0], log_);
  if (!config) {
    log_("[Signaling] getToken parse failed: " + describe(args));
    return;
  }
  log_("[Signaling] ICE config received: " + std::to_string(config->servers.size()) + " servers");
  toDelegate([config = std::move(*config)](CallSignalingDelegate& delegate) {
    delegate.signalingDidReceiveIceServers(config.servers, config.transportPolicy);
  });
}

void CallSignalingService::handleInvalidToken() {
  std::string elapsed = "unknown";
  if (connectAttemptedAt_) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.2fs", platform::systemClock().secondsSince(*connectAttemptedAt_));
    elapsed = buffer;
  }
  std::string token = "nil…(len=0)";
  if (params_) {
    token = params_->token.empty() ? "EMPTY"
                                   : firstCharacters(params_->token, 8) + "…(len=" +
                                         std::to_string(characterCount(params_->token)) + ")";
  }
  log_("[Signaling] Invalid token — elapsedSinceConnect=" + elapsed +
       " userNumber=" + (params_ ? params_->userNumber : std::string("nil")) +
       " pushToken=" + (params_ ? shortToken(params_->pushToken) : std::string("nil")) + " token=" + token);
  toDelegate([](CallSignalingDelegate& delegate) { delegate.signalingDidFailAuth(); });
}

// TODO(#7): the call events, pending calls and notices of the user's other
// devices are parsed and forwarded by the incoming-events work.
void CallSignalingService::handleCallEvent(const json&) {}
void CallSignalingService::handlePendingCall(const json&) {}
void CallSignalingService::handleSendToMyDevicesEvent(const json&) {}

void CallSignalingService::emitCall(json payload, std::optional<std::string> ackLabel) {
  const std::string type = stringField(payload, "type");
  const std::string to = stringField(payload, "to");
  if (!socket_) {
    log_("[Signaling] emit type=" + type + " to=" + to + " dropped — socket nil (call already torn down)");
    return;
  }
  if (socket_->status() != socketio::SocketStatus::connected) {
    std::size_t waiting = 0;
    {
      std::lock_guard lock(pendingCallFramesLock_);
      if (pendingCallFrames_.size() >= kMaxQueuedCallFrames) pendingCallFrames_.erase(pendingCallFrames_.begin());
      pendingCallFrames_.push_back({std::move(payload), std::move(ackLabel), platform::systemClock().monotonicNow()});
      waiting = pendingCallFrames_.size();
    }
    log_("[Signaling] ⏸ QUEUED type=" + type + " to=" + to + " — socket status=" +
         socketio::statusName(socket_->status()) + ", " + std::to_string(waiting) +
         " frame(s) waiting for reconnect");
    if (socket_->status() == socketio::SocketStatus::connected) {
      platform::mainQueue().post([weak = weak_from_this()] {
        if (auto self = weak.lock()) self->flushQueuedCallFrames();
      });
    }
    return;
  }
  emitNow(payload, ackLabel, *socket_, std::nullopt);
}

void CallSignalingService::emitNow(const json& payload, const std::optional<std::string>& ackLabel,
                                   socketio::SocketIOClient& client, const std::optional<std::string>& via) {
  const std::string type = stringField(payload, "type");
  log_("[Signaling] → emit type=" + type + " to=" + stringField(payload, "to") + " from=" +
       stringField(payload, "from") + (ackLabel ? " (awaiting ack)" : "") + (via ? " (" + *via + ")" : ""));
  if (!ackLabel) {
    client.emit("call", json::array({payload}));
    return;
  }
  client.emitWithAck("call", json::array({payload}), kCallAckTimeout,
                     [weak = weak_from_this(), label = *ackLabel, type](const json& data) {
                       auto self = weak.lock();
                       if (!self) return;
                       self->log_("[Signaling] ← ack for " + label + " (type=" + type + "): " + describe(data));
                       if (label != "offer") return;
                       const auto id = recordId(data);
                       if (!id) return;
                       self->toDelegate([id = *id](CallSignalingDelegate& delegate) {
                         delegate.signalingDidReceiveCallRecordId(id);
                       });
                     });
}

void CallSignalingService::flushQueuedCallFrames() {
  const auto frames = takeAll(pendingCallFramesLock_, pendingCallFrames_);
  if (frames.empty()) return;
  if (!socket_ || socket_->status() != socketio::SocketStatus::connected) return;
  log_("[Signaling] ▶️ reconnected — sending " + std::to_string(frames.size()) + " queued call frame(s)");
  for (const auto& frame : frames) {
    const double age = platform::systemClock().secondsSince(frame.queuedAt);
    if (age <= kCallFrameQueueTTL) {
      emitNow(frame.dict, frame.ackLabel, *socket_, "queued " + ageText(age));
    } else {
      log_("[Signaling] DROPPED stale queued type=" + stringField(frame.dict, "type") + " age=" + ageText(age));
    }
  }
}

bool CallSignalingService::sendToMyDevices(const std::string& action) {
  if (!socket_) {
    log_("[MultiDeviceCall][Signal] SEND skipped — socket nil | action=" + action);
    return false;
  }
  if (socket_->status() != socketio::SocketStatus::connected) {
    {
      std::lock_guard lock(pendingMyDevicesLock_);
      pendingMyDevices_.push_back({action, platform::systemClock().monotonicNow()});
    }
    log_("[MultiDeviceCall][Signal] QUEUED (socket status=" + std::string(socketio::statusName(socket_->status())) +
         ") | action=" + action + " — will send on connect");
    return true;
  }
  sendNotice(action, "live");
  return true;
}

void CallSignalingService::sendNotice(const std::string& action, const std::string& via) {
  const bool connected = socket_->status() == socketio::SocketStatus::connected;
  log_("[MultiDeviceCall][Signal] SEND (" + via + ") | action=" + action + " connected=" +
       (connected ? "true" : "false"));
  socket_->emitWithAck("sendToMyDevices", json::array({json{{"type", action}}}), kMyDevicesAckTimeout,
                       [weak = weak_from_this(), action](const json& data) {
                         if (auto self = weak.lock()) {
                           self->log_("[MultiDeviceCall][Signal] ACK | action=" + action + " → " + describe(data));
                         }
                       });
}

void CallSignalingService::flushQueuedMyDevices() {
  const auto notices = takeAll(pendingMyDevicesLock_, pendingMyDevices_);
  if (notices.empty()) return;
  if (!socket_ || socket_->status() != socketio::SocketStatus::connected) return;
  for (const auto& notice : notices) {
    const double age = platform::systemClock().secondsSince(notice.queuedAt);
    if (age <= kMyDevicesQueueTTL) {
      sendNotice(notice.type, "queued " + ageText(age));
    } else {
      log_("[MultiDeviceCall][Signal] DROPPED stale queued | action=" + notice.type + " age=" + ageText(age));
    }
  }
}

void CallSignalingService::sendAnswer(const std::string& userNumber, const std::string& deviceId,
                                      const std::string& from, const std::string& answerJSON) {
  OutgoingCallMessage message;
  message.type = "answer";
  message.to = address(userNumber, deviceId);
  message.from = from;
  const auto parsed = json::parse(answerJSON, nullptr, false);
  if (parsed.is_object()) {
    message.sdpObject = parsed;
  } else {
    message.sdp = answerJSON;
  }
  message.deviceSource = "desktop";
  message.advertisesIceRestart = true;
  emitCall(message.dictionary());
}

void CallSignalingService::sendIceRestartRequest(const std::string& userNumber, const std::string& deviceId,
                                                 const std::string& from) {
  OutgoingCallMessage message;
  message.type = "iceRestartRequest";
  // Without a device the request goes to the user: "<user>_" names no device
  // and the server would deliver it nowhere.
  message.to = address(userNumber, deviceId);
  message.from = from;
  message.advertisesIceRestart = true;
  emitCall(message.dictionary());
}

void CallSignalingService::sendStopRinging(const std::string& userNumber, const std::string& deviceId,
                                           const std::string& from) {
  sendEndFrame("StopRinging", userNumber, deviceId, from);
}

void CallSignalingService::sendEndCall(const std::string& userNumber, const std::string& deviceId,
                                       const std::string& from) {
  sendEndFrame("endCall", userNumber, deviceId, from);
}

void CallSignalingService::sendEndFrame(const std::string& type, const std::string& userNumber,
                                        const std::string& deviceId, const std::string& from) {
  OutgoingCallMessage message;
  message.type = type;
  message.to = address(userNumber, deviceId);
  message.from = from;
  emitCall(message.dictionary());
}

void CallSignalingService::getUserDevices(const json& ackData,
                                          const std::function<void(std::optional<json>)>& completion) {
  bool usable = ackData.is_array() && !ackData.empty() && ackData[0].is_array() && !ackData[0].empty();
  if (usable) {
    for (const auto& device : ackData[0]) usable = usable && device.is_object();
  }
  if (!usable) {
    log_("[Signaling] getUserDevices — no devices: " + describe(ackData));
    completion(std::nullopt);
    return;
  }
  const json& device = ackData[0][0];
  const auto token = device.find("deviceToken");
  const std::string deviceToken = token != device.end() && token->is_string() ? token->get<std::string>() : "";
  log_("[Signaling] getUserDevices OK — deviceToken=" + firstCharacters(deviceToken, 12) + "…");
  completion(device);
}

void CallSignalingService::toDelegate(std::function<void(CallSignalingDelegate&)> call) {
  platform::mainQueue().post([weak = weak_from_this(), call = std::move(call)] {
    auto self = weak.lock();
    if (!self) return;
    if (auto delegate = self->delegate_.lock()) call(*delegate);
  });
}

}  // namespace orvik

#include "calls/signaling/call_signaling_service.h"

#include <algorithm>
#include <cstdio>

#include "calls/signaling/call_event_parsers.h"
#include "core/native_logger.h"
#include "core/service_config.h"
#include "platform/dispatch/task_queue.h"
#include "platform/json_limits.h"
#include "platform/queue_checker.h"

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

std::string describe(const json& value) { return platform::describeJson(value); }

std::string address(const std::string& userNumber, const std::string& deviceId) {
  return deviceId.empty() ? userNumber : userNumber + "_" + deviceId;
}

// The call-record id of an offer's acknowledgement: an integer, or a
// fractional number's integer part. Text and booleans are no id.
std::optional<std::int64_t> recordId(const json& ackData) {
  if (!ackData.is_array() || ackData.empty() || !ackData[0].is_object()) return std::nullopt;
  const auto id = ackData[0].find("id");
  if (id == ackData[0].end()) return std::nullopt;
  return platform::jsonIntegerPart(*id);
}

}  // namespace

std::vector<std::pair<std::string, std::string>> CallingSocketParams::connectParameters() const {
  return {{"token", token}, {"userNumber", userNumber}, {"deviceUdid", deviceUdid},
          {"pushToken", pushToken}, {"isFreeUser", isFreeUser}};
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
  ORVIK_ASSERT_ON_MAIN_QUEUE();
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
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  const auto notices = std::exchange(pendingMyDevices_, {});
  if (!notices.empty()) {
    json types = json::array();
    for (const auto& notice : notices) types.push_back(notice.type);
    log_("[MultiDeviceCall][Signal] disconnect — dropping " + std::to_string(notices.size()) +
         " queued sendToMyDevices (never connected): " + describe(types));
  }
  const std::size_t dropped = std::exchange(pendingCallFrames_, {}).size();
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

namespace {

const std::optional<std::string> optionalString(const json& dictionary, const char* key) {
  const auto value = dictionary.find(key);
  if (value == dictionary.end() || !value->is_string()) return std::nullopt;
  return value->get<std::string>();
}

std::optional<std::int64_t> optionalInteger(const json& dictionary, const char* key) {
  const auto value = dictionary.find(key);
  if (value == dictionary.end()) return std::nullopt;
  return platform::jsonInteger(*value);
}

std::string sortedKeys(const json& dictionary) {
  std::vector<std::string> keys;
  if (dictionary.is_object()) {
    for (const auto& item : dictionary.items()) keys.push_back(item.key());
  }
  std::sort(keys.begin(), keys.end());
  return describe(json(keys));
}

const std::vector<std::string> kEndCallTypes = {"StopRinging", "stopRinging", "endCall", "EndCall", "userEndCall"};

}  // namespace

void CallSignalingService::handleCallEvent(const json& args) {
  if (!args.is_array() || args.empty() || !args[0].is_object()) {
    log_("[Signaling] call event — could not parse dict from data: " + describe(args));
    return;
  }
  const json& message = args[0];
  const std::string type = optionalString(message, "type").value_or("");
  const auto from = optionalString(message, "from");
  const auto to = optionalString(message, "to");
  const bool isAudio = readFlag(message, "isAudio");
  const json rawSdp = message.contains("sdp") ? message["sdp"] : json();
  const auto payload = parseSDPPayload(rawSdp, optionalString(message, "deviceSource"));
  const auto deviceUdid = deviceUdidFromAddress(from);
  const auto candidate = message.find("candidate");
  const bool hasCandidate = candidate != message.end() && candidate->is_object();
  const std::string fromText = from.value_or("-");

  log_("[Signaling] ← call type=" + type + " from=" + fromText + " to=" + to.value_or("-") +
       " isAudio=" + (isAudio ? "true" : "false") + " sdp=" +
       (payload ? std::string("yes") : "nil(raw:" + firstCharacters(describe(rawSdp), 40) + ")") +
       " candidate=" + (hasCandidate ? "yes" : "nil"));

  // The capability notice goes ahead of the message it came with, whatever
  // becomes of the message itself.
  if (auto restart = message.find("iceRestartV1"); restart != message.end() && *restart == true) {
    toDelegate([from](CallSignalingDelegate& d) { d.signalingDidReceiveRestartCapability(from); });
  }
  const auto sdpFailed = [&](const std::string& what) {
    log_("[Signaling] " + what + " — SDP parse failed, raw=" + firstCharacters(describe(rawSdp), 120));
  };

  if (type == "offer") {
    if (!from) return log_("[Signaling] offer — missing 'from' field");
    if (!payload) return sdpFailed("offer");
    log_("[Signaling] offer parsed OK type=" + payload->type + " sdp_preview=" + firstCharacters(payload->sdp, 60));
    toDelegate([from = *from, offer = *payload, isAudio, deviceUdid](CallSignalingDelegate& d) {
      d.signalingDidReceiveOffer(from, offer, isAudio, deviceUdid, std::nullopt, std::nullopt);
    });
  } else if (type == "answer") {
    if (!payload) return sdpFailed("answer");
    log_("[Signaling] answer parsed OK type=" + payload->type + " fromDeviceUdid=" + deviceUdid.value_or("nil"));
    toDelegate([answer = *payload, deviceUdid, from](CallSignalingDelegate& d) {
      d.signalingDidReceiveAnswer(answer, deviceUdid, from);
    });
  } else if (type == "candidate") {
    if (!hasCandidate) return log_("[Signaling] candidate — missing 'candidate' field");
    const auto parsed = parseCandidate(*candidate);
    if (!parsed) return log_("[Signaling] candidate parse failed: " + describe(*candidate));
    log_("[Signaling] ICE candidate sdpMid=" + parsed->sdpMid.value_or("-") + " idx=" +
         std::to_string(parsed->sdpMLineIndex) + " from=" + fromText);
    toDelegate([c = *parsed, deviceUdid](CallSignalingDelegate& d) {
      d.signalingDidReceiveCandidate(c.candidate, c.sdpMid, c.sdpMLineIndex, deviceUdid);
    });
  } else if (type == "offerReceived") {
    log_("[Signaling] offerReceived from=" + fromText + " — callee is ringing");
    toDelegate([from](CallSignalingDelegate& d) { d.signalingDidReceiveOfferReceived(from); });
  } else if (type == "userBusy") {
    log_("[Signaling] userBusy from=" + fromText);
    toDelegate([from](CallSignalingDelegate& d) { d.signalingDidReceiveUserBusy(from); });
  } else if (std::find(kEndCallTypes.begin(), kEndCallTypes.end(), type) != kEndCallTypes.end()) {
    log_("[Signaling] end/cancel received type=" + type + " from=" + fromText);
    toDelegate([from](CallSignalingDelegate& d) { d.signalingDidReceiveEndCall(from); });
  } else if (type == "videoUpgradeOffer") {
    if (!payload) return log_("[Signaling] videoUpgradeOffer — SDP parse failed");
    log_("[Signaling] videoUpgradeOffer from=" + fromText);
    // Upgrading a call to video at the other side's request is paused: the
    // offer is noted and never answered.
    toDelegate([log = log_, from](CallSignalingDelegate&) {
      log("[NativeCallMgr] Video upgrade offer from " + from.value_or("") + " IGNORED — feature paused");
    });
  } else if (type == "videoUpgradeAnswer") {
    if (!payload) return log_("[Signaling] videoUpgradeAnswer — SDP parse failed");
    log_("[Signaling] videoUpgradeAnswer fromDeviceUdid=" + deviceUdid.value_or("nil"));
    toDelegate([answer = *payload, deviceUdid](CallSignalingDelegate& d) {
      d.signalingDidReceiveVideoUpgradeAnswer(answer, deviceUdid);
    });
  } else if (type == "iceRestartOffer" || type == "iceRestartAnswer") {
    if (!payload) return log_("[Signaling] " + type + " — SDP parse failed");
    const auto attempt = optionalInteger(message, "iceRestartAttempt");
    log_("[Signaling] " + type + " from=" + fromText + " attempt=" + (attempt ? std::to_string(*attempt) : "-"));
    if (type == "iceRestartOffer") {
      toDelegate([p = *payload, attempt, from](CallSignalingDelegate& d) { d.signalingDidReceiveRestartOffer(p, attempt, from); });
    } else {
      toDelegate([p = *payload, attempt, from](CallSignalingDelegate& d) { d.signalingDidReceiveRestartAnswer(p, attempt, from); });
    }
  } else if (type == "iceRestartRequest") {
    log_("[Signaling] iceRestartRequest from=" + fromText);
    toDelegate([from](CallSignalingDelegate& d) { d.signalingDidReceiveRestartRequest(from); });
  } else {
    log_("[Signaling] ⚠️ Unhandled call type: '" + type + "' — full dict keys: " + sortedKeys(message));
  }
}

void CallSignalingService::handlePendingCall(const json& args) {
  const json first = args.is_array() && !args.empty() ? args[0] : json();
  log_("[Signaling] getPendingCall received — raw: " + (first.is_object() ? sortedKeys(first) : describe(first)));
  const auto noPendingCall = [this] {
    log_("[Signaling] getPendingCall — no pending call (empty/stale)");
    toDelegate([](CallSignalingDelegate& d) { d.signalingDidReceivePendingCall(); });
  };
  if (!first.is_object() || first.empty()) return noPendingCall();
  const auto records = first.find("data");
  if (records == first.end() || !records->is_array() || records->empty() ||
      !std::all_of(records->begin(), records->end(), [](const json& r) { return r.is_object(); })) {
    return noPendingCall();
  }
  const json& record = records->front();
  const json currentTime = first.value("currentTime", json());
  const json dateAdded = record.value("dateAdded", json());
  const auto age = pendingRecordAge(currentTime, dateAdded);
  if (isStalePendingRecord(age)) {
    log_("[Signaling] getPendingCall — record is " + std::to_string(static_cast<std::int64_t>(*age)) + "s old (> " +
         std::to_string(static_cast<int>(kPendingCallMaxAge)) +
         "s) — stale, treating as no pending call (currentTime=" + describe(currentTime) +
         " dateAdded=" + describe(dateAdded) + ")");
    toDelegate([](CallSignalingDelegate& d) { d.signalingDidReceivePendingCall(); });
    return;
  }
  // An id beyond 64 bits is no id.
  if (const auto recordId = platform::jsonIntegerPart(record.value("id", json()))) {
    toDelegate([id = *recordId](CallSignalingDelegate& d) { d.signalingDidReceiveCallRecordId(id); });
  }
  const json rawOffer = record.value("callerOffer", json());
  const auto payload = parseSDPPayload(rawOffer);
  if (!payload) {
    log_("[Signaling] getPendingCall — callerOffer parse failed: " + firstCharacters(describe(rawOffer), 120));
    return;
  }
  const auto caller = optionalString(record, "caller");
  const auto recordUdid = optionalString(record, "deviceUDID");
  const auto from = optionalString(record, "from");
  const auto offer = parseJSONObject(rawOffer);
  std::optional<std::string> offerUdid;
  if (offer) {
    offerUdid = optionalString(*offer, "fromloggedInOrvikIDdeviceUdid");
    if (!offerUdid) offerUdid = optionalString(*offer, "deviceUdids");
  }
  std::optional<std::string> deviceUdid;
  for (const auto& candidate : {recordUdid, deviceUdidFromAddress(from), offerUdid}) {
    if (candidate && !candidate->empty()) {
      deviceUdid = candidate;
      break;
    }
  }
  log_("[Signaling] getPendingCall — record keys=" + sortedKeys(record) +
       " callerOffer keys=" + (offer ? sortedKeys(*offer) : std::string("[]")) +
       " callerUdid: deviceUDID=" + recordUdid.value_or("nil") + " from=" + from.value_or("nil") +
       " offer=" + offerUdid.value_or("nil"));

  std::string base;
  if (caller && !caller->empty()) {
    base = *caller;
  } else if (from) {
    base = from->substr(0, from->find('_'));
  }
  std::string address;
  if (!base.empty() && deviceUdid) {
    address = base + "_" + *deviceUdid;
  } else {
    address = caller ? *caller : from.value_or("");
  }
  const bool isAudio = readFlag(record, "isAudioCall");
  const auto callerName = optionalString(record, "callerName");
  const auto callerPicture = optionalString(record, "callerProfileImage");
  log_("[Signaling] getPendingCall — offer from=" + address + " isAudio=" + (isAudio ? "true" : "false") +
       " remoteDeviceUdid=" + deviceUdid.value_or("nil") + " callerName=" + callerName.value_or("nil") +
       " sdp_preview=" + firstCharacters(payload->sdp, 60));
  toDelegate([address, offer = *payload, isAudio, deviceUdid, callerName, callerPicture](CallSignalingDelegate& d) {
    d.signalingDidReceiveOffer(address, offer, isAudio, deviceUdid, callerName, callerPicture);
  });
  // Unlike a live message, the capability notice follows the offer here.
  if (offer && offer->value("iceRestartV1", json()) == true && address.find('_') != std::string::npos) {
    toDelegate([address](CallSignalingDelegate& d) { d.signalingDidReceiveRestartCapability(address); });
  }
}

void CallSignalingService::handleSendToMyDevicesEvent(const json& args) {
  if (args.is_array() && !args.empty() && args[0].is_object()) {
    if (const auto action = optionalString(args[0], "type")) {
      log_("[MultiDeviceCall][Signal] RECEIVE | action=" + *action);
      toDelegate([action = *action](CallSignalingDelegate& d) { d.handleSendToMyDevices(action); });
      return;
    }
  }
  log_("[Signaling] sendToMyDevices — unexpected payload: " + describe(args));
}

void CallSignalingService::emitCall(json payload, std::optional<std::string> ackLabel) {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  const std::string type = stringField(payload, "type");
  const std::string to = stringField(payload, "to");
  if (!socket_) {
    log_("[Signaling] emit type=" + type + " to=" + to + " dropped — socket nil (call already torn down)");
    return;
  }
  if (socket_->status() != socketio::SocketStatus::connected) {
    if (pendingCallFrames_.size() >= kMaxQueuedCallFrames) pendingCallFrames_.erase(pendingCallFrames_.begin());
    pendingCallFrames_.push_back({std::move(payload), std::move(ackLabel), platform::systemClock().monotonicNow()});
    log_("[Signaling] ⏸ QUEUED type=" + type + " to=" + to + " — socket status=" +
         socketio::statusName(socket_->status()) + ", " + std::to_string(pendingCallFrames_.size()) +
         " frame(s) waiting for reconnect");
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
  const auto frames = std::exchange(pendingCallFrames_, {});
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
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  if (!socket_) {
    log_("[MultiDeviceCall][Signal] SEND skipped — socket nil | action=" + action);
    return false;
  }
  if (socket_->status() != socketio::SocketStatus::connected) {
    pendingMyDevices_.push_back({action, platform::systemClock().monotonicNow()});
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
  const auto notices = std::exchange(pendingMyDevices_, {});
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
  ORVIK_ASSERT_ON_MAIN_QUEUE();
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
  ORVIK_ASSERT_ON_MAIN_QUEUE();
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
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  sendEndFrame("StopRinging", userNumber, deviceId, from);
}

void CallSignalingService::sendEndCall(const std::string& userNumber, const std::string& deviceId,
                                       const std::string& from) {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
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
  ORVIK_ASSERT_ON_MAIN_QUEUE();
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

#include "calls/signaling/socketio/socket_io_client.h"

#include "calls/signaling/socketio/packet_codec.h"
#include "platform/queue_checker.h"

namespace orvik::socketio {
namespace {

std::string percentEncode(const std::string& text) {
  static const char* kHex = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : text) {
    const bool unreserved = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                            c == '-' || c == '_' || c == '.' || c == '~';
    if (unreserved) {
      out.push_back(static_cast<char>(c));
    } else {
      out.push_back('%');
      out.push_back(kHex[c >> 4]);
      out.push_back(kHex[c & 0xF]);
    }
  }
  return out;
}

std::string buildSocketURL(std::string server, const SocketIOOptions& options) {
  if (server.rfind("https://", 0) == 0) {
    server = "wss://" + server.substr(8);
  } else if (server.rfind("http://", 0) == 0) {
    server = "ws://" + server.substr(7);
  }
  while (!server.empty() && server.back() == '/') server.pop_back();
  std::string path = options.path;
  while (!path.empty() && path.back() == '/') path.pop_back();
  if (path.empty() || path.front() != '/') path.insert(path.begin(), '/');
  std::string url = server + path + "/?EIO=3&transport=websocket";
  for (const auto& [key, value] : options.connectParams) {
    url += "&" + percentEncode(key) + "=" + percentEncode(value);
  }
  return url;
}

std::function<double()> defaultRandomSource() {
  auto engine = std::make_shared<std::mt19937>(std::random_device{}());
  return [engine] { return std::uniform_real_distribution<double>(0.0, 1.0)(*engine); };
}

}  // namespace

const char* statusName(SocketStatus status) {
  switch (status) {
    case SocketStatus::notConnected: return "notConnected";
    case SocketStatus::disconnected: return "disconnected";
    case SocketStatus::connecting: return "connecting";
    case SocketStatus::connected: return "connected";
  }
  return "notConnected";
}

std::shared_ptr<SocketIOClient> SocketIOClient::make(std::string serverURL, SocketIOOptions options,
                                                     TransportFactory transportFactory) {
  return std::shared_ptr<SocketIOClient>(
      new SocketIOClient(std::move(serverURL), std::move(options), std::move(transportFactory)));
}

SocketIOClient::SocketIOClient(std::string serverURL, SocketIOOptions options, TransportFactory transportFactory)
    : socketURL_(buildSocketURL(std::move(serverURL), options)),
      options_(std::move(options)),
      transportFactory_(std::move(transportFactory)),
      random01_(defaultRandomSource()) {}

SocketIOClient::~SocketIOClient() {
  cancelTimers();
  if (reconnectTimer_) reconnectTimer_->cancel();
  for (auto& [id, pending] : pendingAcks_) pending.timeout->cancel();
  if (transport_) transport_->close();
}

SocketIOClient::HandlerId SocketIOClient::on(const std::string& event, EventHandler handler) {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  handlers_.push_back(std::make_shared<Handler>(Handler{++lastHandlerId_, event, std::move(handler), false, true}));
  return lastHandlerId_;
}

SocketIOClient::HandlerId SocketIOClient::once(const std::string& event, EventHandler handler) {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  handlers_.push_back(std::make_shared<Handler>(Handler{++lastHandlerId_, event, std::move(handler), true, true}));
  return lastHandlerId_;
}

void SocketIOClient::off(HandlerId id) {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  std::erase_if(handlers_, [id](const auto& handler) {
    if (handler->id != id) return false;
    handler->live = false;
    return true;
  });
}

void SocketIOClient::removeAllHandlers() {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  for (auto& handler : handlers_) handler->live = false;
  handlers_.clear();
}

void SocketIOClient::connect() {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  if (status_ == SocketStatus::connected || status_ == SocketStatus::connecting) return;
  status_ = SocketStatus::connecting;
  reconnectAttempt_ = 0;
  openTransport();
}

void SocketIOClient::disconnect() {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  const bool wasConnected = status_ == SocketStatus::connected;
  if (wasConnected) send(encodeSocketPacket(SocketPacket{SocketPacketType::disconnect, "/", std::nullopt, {}}));
  cancelTimers();
  if (reconnectTimer_) reconnectTimer_->cancel();
  if (transport_) transport_->close();
  transport_.reset();
  ++generation_;
  engineOpen_ = false;
  status_ = SocketStatus::disconnected;
  if (!wasConnected) return;
  // The handlers registered now hear of it, in a later turn of the main queue,
  // even when the caller removes them right after this call.
  auto listeners = std::make_shared<std::vector<std::shared_ptr<Handler>>>();
  for (const auto& handler : handlers_) {
    if (handler->event == "disconnect") listeners->push_back(handler);
  }
  if (listeners->empty()) return;
  std::erase_if(handlers_, [](const auto& handler) { return handler->event == "disconnect" && handler->once; });
  platform::mainQueue().post([listeners] {
    const auto args = nlohmann::json::array({"io client disconnect"});
    for (const auto& handler : *listeners) handler->handler(args, Ack());
  });
}

void SocketIOClient::emit(const std::string& event, const nlohmann::json& args) {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  if (status_ != SocketStatus::connected) return;
  send(encodeEvent(event, args, std::nullopt));
}

void SocketIOClient::emitWithAck(const std::string& event, const nlohmann::json& args, double timeout,
                                 AckCallback callback) {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  const std::uint64_t id = nextAckId_++;
  auto timer = std::make_shared<platform::WorkItem>([weak = weak_from_this(), id] {
    auto self = weak.lock();
    if (!self) return;
    auto found = self->pendingAcks_.find(id);
    if (found == self->pendingAcks_.end()) return;
    auto late = std::move(found->second.callback);
    self->pendingAcks_.erase(found);
    if (late) late(nlohmann::json::array({kNoAck}));
  });
  pendingAcks_[id] = PendingAck{std::move(callback), timer};
  platform::mainQueue().postAfter(timeout, timer);
  if (status_ == SocketStatus::connected) send(encodeEvent(event, args, id));
}

void SocketIOClient::openTransport() {
  const std::uint64_t generation = ++generation_;
  std::weak_ptr<SocketIOClient> weak = weak_from_this();
  TransportListener listener;
  listener.onOpen = [weak, generation] {
    if (auto self = weak.lock()) self->onTransportOpen(generation);
  };
  listener.onMessage = [weak, generation](std::string text) {
    if (auto self = weak.lock()) self->onTransportMessage(generation, text);
  };
  listener.onClose = [weak, generation](int code, std::string reason) {
    if (auto self = weak.lock()) self->onTransportClose(generation, code, reason);
  };
  engineOpen_ = false;
  transport_ = transportFactory_(std::move(listener));
  transport_->open(socketURL_);
  connectTimer_ = std::make_shared<platform::WorkItem>([weak, generation] {
    auto self = weak.lock();
    if (self && self->generation_ == generation) self->connectionLost("connect timeout", true);
  });
  platform::mainQueue().postAfter(options_.connectTimeout, connectTimer_);
}

void SocketIOClient::onTransportOpen(std::uint64_t generation) {
  // The server speaks first (the open packet); nothing to do until then.
  (void)generation;
}

void SocketIOClient::onTransportMessage(std::uint64_t generation, const std::string& text) {
  if (generation != generation_) return;
  const auto packet = decodeEnginePacket(text);
  if (!packet) return;
  switch (packet->type) {
    case EnginePacketType::open: {
      const auto open = parseOpenHandshake(packet->payload);
      if (!open) {
        connectionLost("bad handshake", true);
        return;
      }
      engineOpen_ = true;
      pingInterval_ = open->pingInterval;
      pingTimeout_ = open->pingTimeout;
      armHeartbeat();
      schedulePing();
      break;
    }
    case EnginePacketType::ping:
      send(encodeEnginePacket(EnginePacketType::pong, packet->payload));
      break;
    case EnginePacketType::pong:
      if (engineOpen_) armHeartbeat();
      break;
    case EnginePacketType::message:
      handleSocketPacket(packet->payload);
      break;
    case EnginePacketType::close:
      connectionLost("transport close", true);
      break;
    default:
      break;
  }
}

void SocketIOClient::onTransportClose(std::uint64_t generation, int code, const std::string& reason) {
  (void)reason;
  if (generation != generation_) return;
  connectionLost(code == 0 ? "transport error" : "transport close", true);
}

void SocketIOClient::handleSocketPacket(const std::string& payload) {
  auto packet = decodeSocketPacket(payload);
  if (!packet || packet->nsp != "/") return;
  switch (packet->type) {
    case SocketPacketType::connect:
      if (status_ == SocketStatus::connected) return;
      if (connectTimer_) connectTimer_->cancel();
      status_ = SocketStatus::connected;
      reconnectAttempt_ = 0;
      dispatch("connect", nlohmann::json::array({"/"}), Ack());
      break;
    case SocketPacketType::disconnect:
      connectionLost("io server disconnect", false);
      break;
    case SocketPacketType::event: {
      const std::string name = packet->data[0].get<std::string>();
      packet->data.erase(packet->data.begin());
      dispatch(name, packet->data, packet->id ? makeAck(*packet->id) : Ack());
      break;
    }
    case SocketPacketType::ack: {
      auto found = pendingAcks_.find(*packet->id);
      if (found == pendingAcks_.end()) return;  // late or unknown: ignored
      auto pending = std::move(found->second);
      pendingAcks_.erase(found);
      pending.timeout->cancel();
      if (pending.callback) pending.callback(packet->data);
      break;
    }
    case SocketPacketType::error:
      dispatch("error", nlohmann::json::array({packet->data}), Ack());
      break;
    default:
      break;
  }
}

void SocketIOClient::connectionLost(const std::string& reason, bool reconnect) {
  const bool wasConnected = status_ == SocketStatus::connected;
  cancelTimers();
  if (transport_) transport_->close();
  transport_.reset();
  ++generation_;
  engineOpen_ = false;
  const bool retry = reconnect && options_.reconnects &&
                     (options_.reconnectAttempts < 0 || reconnectAttempt_ < unsigned(options_.reconnectAttempts));
  if (retry) {
    status_ = SocketStatus::connecting;
    scheduleReconnect();
  } else {
    status_ = SocketStatus::disconnected;
  }
  if (wasConnected) dispatch("disconnect", nlohmann::json::array({reason}), Ack());
}

void SocketIOClient::scheduleReconnect() {
  const double delay = backoffDelay(
      BackoffPolicy{options_.reconnectWait, options_.reconnectWaitMax, options_.randomizationFactor},
      reconnectAttempt_, random01_());
  ++reconnectAttempt_;
  if (reconnectTimer_) reconnectTimer_->cancel();
  reconnectTimer_ = std::make_shared<platform::WorkItem>([weak = weak_from_this()] {
    auto self = weak.lock();
    if (self && self->status_ == SocketStatus::connecting && !self->transport_) self->openTransport();
  });
  platform::mainQueue().postAfter(delay, reconnectTimer_);
}

void SocketIOClient::armHeartbeat() {
  if (heartbeatTimer_) heartbeatTimer_->cancel();
  heartbeatTimer_ = std::make_shared<platform::WorkItem>([weak = weak_from_this(), generation = generation_] {
    auto self = weak.lock();
    if (self && self->generation_ == generation) self->connectionLost("ping timeout", true);
  });
  platform::mainQueue().postAfter(pingInterval_ + pingTimeout_, heartbeatTimer_);
}

void SocketIOClient::schedulePing() {
  if (pingTimer_) pingTimer_->cancel();
  pingTimer_ = std::make_shared<platform::WorkItem>([weak = weak_from_this(), generation = generation_] {
    auto self = weak.lock();
    if (!self || self->generation_ != generation) return;
    self->send(encodeEnginePacket(EnginePacketType::ping));
    self->schedulePing();
  });
  platform::mainQueue().postAfter(pingInterval_, pingTimer_);
}

void SocketIOClient::cancelTimers() {
  for (auto* timer : {&connectTimer_, &pingTimer_, &heartbeatTimer_}) {
    if (*timer) (*timer)->cancel();
    timer->reset();
  }
}

void SocketIOClient::dispatch(const std::string& event, const nlohmann::json& args, const Ack& ack) {
  std::vector<std::shared_ptr<Handler>> matching;
  for (const auto& handler : handlers_) {
    if (handler->event == event) matching.push_back(handler);
  }
  std::erase_if(handlers_, [&event](const auto& handler) { return handler->event == event && handler->once; });
  // Keep ourselves alive: a handler may drop the last owner.
  auto self = shared_from_this();
  for (const auto& handler : matching) {
    if (!handler->live) continue;
    if (handler->once) handler->live = false;
    handler->handler(args, ack);
  }
}

void SocketIOClient::send(const std::string& text) {
  if (transport_) transport_->send(text);
}

Ack SocketIOClient::makeAck(std::uint64_t id) {
  auto answered = std::make_shared<bool>(false);
  return [weak = weak_from_this(), generation = generation_, id, answered](const nlohmann::json& args) {
    auto self = weak.lock();
    if (!self || *answered || self->generation_ != generation) return;
    *answered = true;
    self->send(encodeAck(id, args));
  };
}

}  // namespace orvik::socketio

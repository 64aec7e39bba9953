// Our Socket.IO 2.x client (Engine.IO 3, WebSocket only) for the call server:
// one object is both the manager (the Engine.IO connection, heartbeat and
// reconnects) and the client of the default namespace "/".
//
//   auto client = SocketIOClient::make("https://calls.example", options, soupTransportFactory());
//   client->on("getToken", [](const nlohmann::json& args, const Ack&) { ... });
//   client->connect();
//   client->emitWithAck("call", {frame}, 10.0, [](const nlohmann::json& reply) { ... });
//
// Behaviour:
// - The URL's http/https scheme becomes ws/wss; `path` gets a trailing slash;
//   the query is "EIO=3&transport=websocket" then `connectParams`.
// - Heartbeat: a ping every ping interval; no pong for ping interval + ping
//   time-out (counted from the open packet or the last pong) declares the
//   connection dead ("ping timeout"), however busy it is otherwise.
// - A connection not up within `connectTimeout` is abandoned and retried.
// - After a loss the client reconnects with backoff and jitter (backoff.h),
//   without limit unless `reconnectAttempts` says otherwise. A disconnect by
//   the server ("io server disconnect") or by `disconnect()` does not.
// - An ack not received within its time-out is answered with ["NO ACK"]
//   (`kNoAck`); a late ack is ignored. Ack ids count from 0 for the client.
// - Emits while not connected are dropped (acks then time out).
//
// Client events "connect" and "disconnect" (args: [reason]) use the same
// handler table as server events.
//
// THREADING: make, use and destroy on the main queue. Handlers run on the
// main queue, in arrival order; a handler may call any method, including
// disconnect() and removeAllHandlers(). The client never calls a handler
// from inside one of its own public methods.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "calls/signaling/socketio/backoff.h"
#include "calls/signaling/socketio/transport.h"
#include "platform/dispatch/task_queue.h"

namespace orvik::socketio {

inline constexpr const char* kNoAck = "NO ACK";

enum class SocketStatus { notConnected, disconnected, connecting, connected };

// "notConnected", "disconnected", "connecting", "connected".
const char* statusName(SocketStatus status);

struct SocketIOOptions {
  std::string path = "/socket.io";
  bool reconnects = true;
  // Negative: no limit.
  int reconnectAttempts = -1;
  double reconnectWait = 0.5;      // seconds
  double reconnectWaitMax = 2.0;   // seconds
  double randomizationFactor = 0.5;
  double connectTimeout = 20.0;    // seconds
  // Sent as query parameters, in this order.
  std::vector<std::pair<std::string, std::string>> connectParams;
};

// Answers a server event that asked for an acknowledgement. Empty when the
// server asked for none. Calling it more than once sends once.
using Ack = std::function<void(const nlohmann::json& args)>;
using EventHandler = std::function<void(const nlohmann::json& args, const Ack& ack)>;
using AckCallback = std::function<void(const nlohmann::json& args)>;

class SocketIOClient : public std::enable_shared_from_this<SocketIOClient> {
 public:
  using HandlerId = std::uint64_t;

  static std::shared_ptr<SocketIOClient> make(std::string serverURL, SocketIOOptions options,
                                              TransportFactory transportFactory);
  ~SocketIOClient();
  SocketIOClient(const SocketIOClient&) = delete;
  SocketIOClient& operator=(const SocketIOClient&) = delete;

  HandlerId on(const std::string& event, EventHandler handler);
  HandlerId once(const std::string& event, EventHandler handler);
  void off(HandlerId id);
  void removeAllHandlers();

  void connect();
  void disconnect();
  SocketStatus status() const { return status_; }

  // `args` is the list of the event's arguments.
  void emit(const std::string& event, const nlohmann::json& args);
  void emitWithAck(const std::string& event, const nlohmann::json& args, double timeout, AckCallback callback);

  // The full WebSocket URL the client connects to.
  const std::string& socketURL() const { return socketURL_; }

  // For tests: the random source of the reconnect jitter.
  void setRandomSource(std::function<double()> random01) { random01_ = std::move(random01); }

 private:
  SocketIOClient(std::string serverURL, SocketIOOptions options, TransportFactory transportFactory);

  struct Handler {
    HandlerId id;
    std::string event;
    EventHandler handler;
    bool once;
    bool live;  // false once removed: a dispatch in progress skips it
  };
  struct PendingAck {
    AckCallback callback;
    std::shared_ptr<platform::WorkItem> timeout;
  };

  void openTransport();
  void onTransportOpen(std::uint64_t generation);
  void onTransportMessage(std::uint64_t generation, const std::string& text);
  void onTransportClose(std::uint64_t generation, int code, const std::string& reason);
  void handleSocketPacket(const std::string& payload);
  void connectionLost(const std::string& reason, bool reconnect);
  void scheduleReconnect();
  void armHeartbeat();
  void schedulePing();
  void cancelTimers();
  void dispatch(const std::string& event, const nlohmann::json& args, const Ack& ack);
  void send(const std::string& text);
  Ack makeAck(std::uint64_t id);

  std::string socketURL_;
  SocketIOOptions options_;
  TransportFactory transportFactory_;
  std::unique_ptr<Transport> transport_;
  std::uint64_t generation_ = 0;  // tells reports of an old transport apart
  SocketStatus status_ = SocketStatus::notConnected;
  bool engineOpen_ = false;
  double pingInterval_ = 25.0;
  double pingTimeout_ = 20.0;
  unsigned reconnectAttempt_ = 0;
  std::shared_ptr<platform::WorkItem> connectTimer_;
  std::shared_ptr<platform::WorkItem> pingTimer_;
  std::shared_ptr<platform::WorkItem> heartbeatTimer_;
  std::shared_ptr<platform::WorkItem> reconnectTimer_;
  std::vector<std::shared_ptr<Handler>> handlers_;
  HandlerId lastHandlerId_ = 0;
  std::map<std::uint64_t, PendingAck> pendingAcks_;
  std::uint64_t nextAckId_ = 0;
  std::function<double()> random01_;
};

}  // namespace orvik::socketio

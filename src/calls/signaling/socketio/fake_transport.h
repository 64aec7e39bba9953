// A Transport for unit tests: records what the client sends and lets the test
// play the server. Like the real one it reports on the main queue, never
// inside the call that caused it, and reports nothing after close().
//
//   FakeTransportHub hub;
//   auto client = SocketIOClient::make(url, options, hub.factory());
//   client->connect();
//   hub.last()->acceptWith(openPacket(25000, 20000));   // "0{...}" then "40"
//   queue.runUntilIdle();
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "calls/signaling/socketio/transport.h"
#include "platform/dispatch/task_queue.h"

namespace orvik::socketio {

class FakeConnection {
 public:
  std::string url;
  std::vector<std::string> sent;
  bool closedByClient = false;
  bool destroyed = false;

  bool isLive() const { return !closedByClient && !destroyed && !reportedClose_; }

  void open() {
    post([this] { if (listener_.onOpen) listener_.onOpen(); });
  }
  void receive(std::string text) {
    post([this, text = std::move(text)] { if (listener_.onMessage) listener_.onMessage(text); });
  }
  // The WebSocket handshake, the Engine.IO open packet and the server's
  // automatic join of the default namespace.
  void acceptWith(double pingIntervalMs = 25000, double pingTimeoutMs = 20000) {
    open();
    receive("0{\"sid\":\"fake\",\"upgrades\":[],\"pingInterval\":" + std::to_string(int(pingIntervalMs)) +
            ",\"pingTimeout\":" + std::to_string(int(pingTimeoutMs)) + "}");
    receive("40");
  }
  void drop(int code = 0, std::string reason = "abnormal close") {
    post([this, code, reason = std::move(reason)] {
      reportedClose_ = true;
      if (listener_.onClose) listener_.onClose(code, reason);
    });
  }
  // Frames the client sent, minus pings.
  std::vector<std::string> sentPackets() const {
    std::vector<std::string> out;
    for (const auto& text : sent) if (text != "2") out.push_back(text);
    return out;
  }

 private:
  friend class FakeTransportHub;
  void post(std::function<void()> task) {
    platform::mainQueue().post([self = self_.lock(), task = std::move(task)] {
      if (self && self->isLive()) task();
    });
  }
  TransportListener listener_;
  std::weak_ptr<FakeConnection> self_;
  bool reportedClose_ = false;
};

class FakeTransportHub {
 public:
  TransportFactory factory() {
    return [this](TransportListener listener) -> std::unique_ptr<Transport> {
      auto connection = std::make_shared<FakeConnection>();
      connection->listener_ = std::move(listener);
      connection->self_ = connection;
      connections.push_back(connection);
      return std::make_unique<FakeTransport>(connection);
    };
  }
  // The connection the client made last (null before the first).
  FakeConnection* last() const { return connections.empty() ? nullptr : connections.back().get(); }

  std::vector<std::shared_ptr<FakeConnection>> connections;

 private:
  class FakeTransport final : public Transport {
   public:
    explicit FakeTransport(std::shared_ptr<FakeConnection> connection) : connection_(std::move(connection)) {}
    ~FakeTransport() override { connection_->destroyed = true; }
    void open(const std::string& url) override { connection_->url = url; }
    void send(const std::string& text) override {
      if (connection_->isLive()) connection_->sent.push_back(text);
    }
    void close() override { connection_->closedByClient = true; }

   private:
    std::shared_ptr<FakeConnection> connection_;
  };
};

}  // namespace orvik::socketio

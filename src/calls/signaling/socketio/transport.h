// The WebSocket under the Socket.IO client, behind an interface so that the
// client's state machine runs against a fake on virtual time and against
// libsoup in the program. No libsoup type crosses it.
//
// THREADING: a transport is made, used and destroyed on the main queue, and
// it reports on the main queue, never inside the call that caused the report
// (open, send, close). After `close()` or destruction it reports nothing more.
#pragma once

#include <functional>
#include <memory>
#include <string>

namespace orvik::socketio {

struct TransportListener {
  // The WebSocket handshake finished.
  std::function<void()> onOpen;
  // One text message.
  std::function<void(std::string text)> onMessage;
  // The connection ended or could not be made: `code` is the WebSocket close
  // code (0 for an abnormal end), `reason` a text for logs. Reported once.
  std::function<void(int code, std::string reason)> onClose;
};

class Transport {
 public:
  virtual ~Transport() = default;
  // Starts the WebSocket handshake with `url` (ws:// or wss://).
  virtual void open(const std::string& url) = 0;
  // Sends one text message; ignored unless open.
  virtual void send(const std::string& text) = 0;
  // Closes normally; no report follows.
  virtual void close() = 0;
};

struct TransportOptions {
  // An absolute path of a PEM file whose certificates are trusted in place of
  // the system store; empty for the system store.
  std::string caFile;
};

using TransportFactory = std::function<std::unique_ptr<Transport>(TransportListener listener)>;

// The libsoup 3 backend. Call on the thread whose thread-default main
// context runs the main queue (in the program: the GLib main thread).
TransportFactory soupTransportFactory(TransportOptions options = {});

}  // namespace orvik::socketio

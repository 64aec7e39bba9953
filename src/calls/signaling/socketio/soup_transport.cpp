// The libsoup 3 WebSocket backend of Transport.
//
// libsoup must be called on the thread whose thread-default main context was
// current when the session was made; the session is made in `open`, on the
// main queue, and every later call comes from there too. Signals arrive while
// that context is iterated; each report is posted to the main queue so that a
// listener may close or destroy the transport without re-entering libsoup.
#include <libsoup/soup.h>

#include <cstdint>
#include <memory>
#include <string>

#include "calls/signaling/socketio/packet_codec.h"
#include "calls/signaling/socketio/transport.h"
#include "platform/dispatch/task_queue.h"

namespace orvik::socketio {
namespace {

// libsoup's 128 KiB default would close the connection on normal call frames.
constexpr std::uint64_t kMaxIncomingPayload = kMaxFrameBytes;

struct SoupState {
  TransportListener listener;
  TransportOptions options;
  SoupSession* session = nullptr;
  GCancellable* cancellable = nullptr;
  SoupWebsocketConnection* connection = nullptr;
  std::string lastError;
  bool finished = false;  // closed by us or reported closed
  std::weak_ptr<SoupState> self;

  ~SoupState() { release(); }

  void release() {
    if (cancellable) {
      g_cancellable_cancel(cancellable);
      g_clear_object(&cancellable);
    }
    if (connection) {
      g_signal_handlers_disconnect_by_data(connection, this);
      if (soup_websocket_connection_get_state(connection) == SOUP_WEBSOCKET_STATE_OPEN) {
        // Frames sent just before (a namespace disconnect) must still go out:
        // the connection lives on until its closing handshake is done.
        g_signal_connect(connection, "closed", G_CALLBACK(+[](SoupWebsocketConnection* closed, gpointer) {
                           g_object_unref(closed);
                         }), nullptr);
        soup_websocket_connection_close(connection, SOUP_WEBSOCKET_CLOSE_NORMAL, nullptr);
        connection = nullptr;
      } else {
        g_clear_object(&connection);
      }
    }
    g_clear_object(&session);
  }
};

void reportClose(const std::weak_ptr<SoupState>& weak, int code, std::string reason) {
  platform::mainQueue().post([weak, code, reason = std::move(reason)] {
    auto state = weak.lock();
    if (!state || state->finished) return;
    state->finished = true;
    auto onClose = state->listener.onClose;
    state->release();
    if (onClose) onClose(code, reason);
  });
}

class SoupTransport final : public Transport {
 public:
  SoupTransport(TransportListener listener, TransportOptions options) : state_(std::make_shared<SoupState>()) {
    state_->listener = std::move(listener);
    state_->options = std::move(options);
    state_->self = state_;
  }

  ~SoupTransport() override { close(); }

  void open(const std::string& url) override {
    state_->release();
    state_->finished = false;
    state_->session = soup_session_new();
    if (!state_->options.caFile.empty()) {
      GError* error = nullptr;
      GTlsDatabase* database = g_tls_file_database_new(state_->options.caFile.c_str(), &error);
      if (!database) {
        reportClose(state_, 0, std::string("CA file unusable: ") + (error ? error->message : "?"));
        g_clear_error(&error);
        return;
      }
      soup_session_set_tls_database(state_->session, database);
      g_object_unref(database);
    }
    SoupMessage* message = soup_message_new(SOUP_METHOD_GET, url.c_str());
    if (!message) {
      reportClose(state_, 0, "invalid URL");
      return;
    }
    state_->cancellable = g_cancellable_new();
    soup_session_websocket_connect_async(state_->session, message, nullptr, nullptr, G_PRIORITY_DEFAULT,
                                         state_->cancellable, &SoupTransport::connectedThunk,
                                         new std::weak_ptr<SoupState>(state_));
    g_object_unref(message);
  }

  void send(const std::string& text) override {
    if (state_->finished || !state_->connection) return;
    if (soup_websocket_connection_get_state(state_->connection) != SOUP_WEBSOCKET_STATE_OPEN) return;
    soup_websocket_connection_send_text(state_->connection, text.c_str());
  }

  void close() override {
    state_->finished = true;
    state_->release();
  }

 private:
  static void connectedThunk(GObject* source, GAsyncResult* result, gpointer data) {
    std::unique_ptr<std::weak_ptr<SoupState>> weak(static_cast<std::weak_ptr<SoupState>*>(data));
    GError* error = nullptr;
    SoupWebsocketConnection* connection =
        soup_session_websocket_connect_finish(SOUP_SESSION(source), result, &error);
    auto state = weak->lock();
    if (!state || state->finished) {
      g_clear_error(&error);
      if (connection) {
        soup_websocket_connection_close(connection, SOUP_WEBSOCKET_CLOSE_NORMAL, nullptr);
        g_object_unref(connection);
      }
      return;
    }
    if (!connection) {
      reportClose(state, 0, error ? error->message : "connection failed");
      g_clear_error(&error);
      return;
    }
    g_clear_object(&state->cancellable);
    state->connection = connection;
    soup_websocket_connection_set_max_incoming_payload_size(connection, kMaxIncomingPayload);
    g_signal_connect(connection, "message", G_CALLBACK(&SoupTransport::messageThunk), state.get());
    g_signal_connect(connection, "error", G_CALLBACK(&SoupTransport::errorThunk), state.get());
    g_signal_connect(connection, "closed", G_CALLBACK(&SoupTransport::closedThunk), state.get());
    platform::mainQueue().post([weak = *weak] {
      auto state = weak.lock();
      if (state && !state->finished && state->listener.onOpen) state->listener.onOpen();
    });
  }

  static void messageThunk(SoupWebsocketConnection*, gint type, GBytes* bytes, gpointer data) {
    auto* state = static_cast<SoupState*>(data);
    if (type != SOUP_WEBSOCKET_DATA_TEXT) return;  // the protocol sends no binary frames here
    gsize size = 0;
    const auto* raw = static_cast<const char*>(g_bytes_get_data(bytes, &size));
    std::string text(raw ? raw : "", size);
    platform::mainQueue().post([weak = state->self, text = std::move(text)]() mutable {
      auto strong = weak.lock();
      if (strong && !strong->finished && strong->listener.onMessage) strong->listener.onMessage(std::move(text));
    });
  }

  static void errorThunk(SoupWebsocketConnection*, GError* error, gpointer data) {
    auto* state = static_cast<SoupState*>(data);
    if (error) state->lastError = error->message;
  }

  static void closedThunk(SoupWebsocketConnection* connection, gpointer data) {
    auto* state = static_cast<SoupState*>(data);
    const int code = soup_websocket_connection_get_close_code(connection);
    const char* closeData = soup_websocket_connection_get_close_data(connection);
    std::string reason = closeData && *closeData ? closeData : state->lastError;
    if (reason.empty()) reason = code == 0 ? "abnormal close" : "closed";
    reportClose(state->self, code, std::move(reason));
  }

  std::shared_ptr<SoupState> state_;
};

}  // namespace

TransportFactory soupTransportFactory(TransportOptions options) {
  return [options](TransportListener listener) -> std::unique_ptr<Transport> {
    return std::make_unique<SoupTransport>(std::move(listener), options);
  };
}

}  // namespace orvik::socketio

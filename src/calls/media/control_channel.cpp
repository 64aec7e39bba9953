#include "calls/media/control_channel.h"

#include <utility>

#include "calls/media/peer_connection_events.h"
#include "core/native_logger.h"

namespace orvik {

ControlChannel::Watch::Watch(rtc::scoped_refptr<webrtc::DataChannelInterface> channel, Reports reports)
    : channel_(std::move(channel)), reports_(std::move(reports)) {
  channel_->RegisterObserver(this);
}

// Unregistering waits for WebRTC's thread, so no report runs afterwards.
ControlChannel::Watch::~Watch() { channel_->UnregisterObserver(); }

void ControlChannel::Watch::OnStateChange() {
  const auto state = channel_->state();
  nativeLog("[PeerConn] DataChannel '" + channel_->label() + "' state → " + dataChannelStateName(state));
  if (state != webrtc::DataChannelInterface::kOpen) return;
  nativeLog("[PeerConn] ✅ DataChannel '" + channel_->label() + "' OPEN — ready to send/receive");
  if (reports_.opened) reports_.opened();
}

void ControlChannel::Watch::OnMessage(const webrtc::DataBuffer& buffer) {
  const std::string text = utf8TextOrEmpty(std::string(buffer.data.data<char>(), buffer.data.size()));
  nativeLog("[PeerConn] DataChannel '" + channel_->label() + "' message='" + text + "'");
  if (reports_.message) reports_.message(text);
}

void ControlChannel::adopt(std::unique_ptr<Watch> watch) {
  channel_ = watch->channel();
  watch_ = std::move(watch);
  // It may have opened before it was adopted.
  flush();
}

bool ControlChannel::isOpen() const { return channel_ && channel_->state() == webrtc::DataChannelInterface::kOpen; }

int ControlChannel::stateNumber() const { return channel_ ? static_cast<int>(channel_->state()) : -1; }

void ControlChannel::send(const std::string& text) {
  channel_->Send(webrtc::DataBuffer(rtc::CopyOnWriteBuffer(text.data(), text.size()), /*binary=*/false));
}

void ControlChannel::sendOrQueue(const std::string& text) {
  if (!isValidUtf8(text)) return;
  const bool open = isOpen();
  if (open && pending_.empty()) {
    send(text);
    nativeLog("[PeerConn] DataChannel sent '" + text + "'");
    return;
  }
  // Open but with texts still waiting for the flush: join the queue, so the
  // order of sending is kept.
  nativeLog("[PeerConn] DataChannel not open — queuing '" + text + "'");
  pending_.push_back(text);
  if (open) flush();
}

void ControlChannel::flush() {
  if (!isOpen() || pending_.empty()) return;
  const auto queued = std::exchange(pending_, {});
  for (const auto& text : queued) {
    send(text);
    nativeLog("[PeerConn] DataChannel flushed queued '" + text + "'");
  }
}

void ControlChannel::close() {
  watch_.reset();
  if (channel_) {
    channel_->Close();
    channel_ = nullptr;
  }
  pending_.clear();
}

}  // namespace orvik

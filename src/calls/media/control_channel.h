// The call's "control" data channel: the caller makes it, the callee adopts
// the one that arrives. Texts given before it opens, or while earlier ones
// still wait, queue and go out in order once it is open; bytes that arrive
// are read as UTF-8 text. Media engine only.
//
// THREADING: a ControlChannel is used on the peer queue. A Watch reports on
// WebRTC's signalling thread through the functions it was given; dropping it
// waits for WebRTC's thread, so nothing is reported afterwards.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <api/data_channel_interface.h>
#include <api/scoped_refptr.h>

namespace orvik {

class ControlChannel {
 public:
  struct Reports {
    // The channel reached the open state.
    std::function<void()> opened;
    // One message as text; empty when its bytes were not UTF-8.
    std::function<void(const std::string& text)> message;
  };

  class Watch final : public webrtc::DataChannelObserver {
   public:
    Watch(rtc::scoped_refptr<webrtc::DataChannelInterface> channel, Reports reports);
    ~Watch() override;
    Watch(const Watch&) = delete;
    Watch& operator=(const Watch&) = delete;
    void OnStateChange() override;
    void OnMessage(const webrtc::DataBuffer& buffer) override;
    const rtc::scoped_refptr<webrtc::DataChannelInterface>& channel() const { return channel_; }

   private:
    rtc::scoped_refptr<webrtc::DataChannelInterface> channel_;
    Reports reports_;
  };

  // Makes `watch`'s channel the call's channel (a later one replaces an
  // earlier one) and flushes the queue when it is open already.
  void adopt(std::unique_ptr<Watch> watch);
  // Sends `text` now when the channel is open and nothing waits, else queues
  // it. Text that is not UTF-8 is dropped.
  void sendOrQueue(const std::string& text);
  // Sends what waits, in order, when the channel is open.
  void flush();
  // Closes the channel and forgets it and the queue (the call ended).
  void close();

  bool hasChannel() const { return channel_ != nullptr; }
  // WebRTC's state number, or -1 without a channel.
  int stateNumber() const;
  std::size_t pendingCount() const { return pending_.size(); }

 private:
  bool isOpen() const;
  void send(const std::string& text);

  std::unique_ptr<Watch> watch_;
  rtc::scoped_refptr<webrtc::DataChannelInterface> channel_;
  std::vector<std::string> pending_;
};

}  // namespace orvik

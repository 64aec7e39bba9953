// WebRTC's completion observers as functions: what a negotiation step does
// next is written where the step is asked for. Media engine only.
#pragma once

#include <functional>
#include <memory>
#include <utility>

#include <api/jsep.h>
#include <api/set_local_description_observer_interface.h>
#include <api/set_remote_description_observer_interface.h>

namespace orvik {

class CreateObserver : public webrtc::CreateSessionDescriptionObserver {
 public:
  using Done = std::function<void(std::unique_ptr<webrtc::SessionDescriptionInterface>, webrtc::RTCError)>;
  explicit CreateObserver(Done done) : done_(std::move(done)) {}
  void OnSuccess(webrtc::SessionDescriptionInterface* description) override {
    done_(std::unique_ptr<webrtc::SessionDescriptionInterface>(description), webrtc::RTCError::OK());
  }
  void OnFailure(webrtc::RTCError error) override { done_(nullptr, std::move(error)); }

 private:
  Done done_;
};

class SetRemoteObserver : public webrtc::SetRemoteDescriptionObserverInterface {
 public:
  explicit SetRemoteObserver(std::function<void(webrtc::RTCError)> done) : done_(std::move(done)) {}
  void OnSetRemoteDescriptionComplete(webrtc::RTCError error) override { done_(std::move(error)); }

 private:
  std::function<void(webrtc::RTCError)> done_;
};

class SetLocalObserver : public webrtc::SetLocalDescriptionObserverInterface {
 public:
  explicit SetLocalObserver(std::function<void(webrtc::RTCError)> done) : done_(std::move(done)) {}
  void OnSetLocalDescriptionComplete(webrtc::RTCError error) override { done_(std::move(error)); }

 private:
  std::function<void(webrtc::RTCError)> done_;
};

}  // namespace orvik

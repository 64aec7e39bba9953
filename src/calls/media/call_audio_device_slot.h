// The call's own audio device as the audio router finds it: the peer
// connection's device factory (CallPeerConnectionOptions::makeAudioDevice)
// publishes each device it makes here, and the router reads the current one
// to move a running call's sound. The slot holds the device weakly, and a
// device that was terminated is no longer current.
//
// Owner: the composition root (app/app_services.h), one for the program.
// THREAD-SAFETY: any thread (the factory runs on the peer queue, the router
// on the main queue).
#pragma once

#include <functional>
#include <memory>
#include <mutex>

namespace orvik {

namespace platform {
class AudioHardware;
}

class CallAudioDevice;

class CallAudioDeviceSlot {
 public:
  void publish(const std::shared_ptr<CallAudioDevice>& device);
  // The last published device while it exists and is not terminated.
  std::shared_ptr<CallAudioDevice> current() const;

  // A device factory for CallPeerConnectionOptions that publishes each device
  // it makes. The slot must outlive the factory.
  std::function<std::shared_ptr<CallAudioDevice>()> publishingFactory(platform::AudioHardware& hardware);

 private:
  mutable std::mutex mutex_;
  std::weak_ptr<CallAudioDevice> device_;
};

}  // namespace orvik

#include "calls/media/call_audio_device_slot.h"

#include "calls/media/call_audio_device.h"

namespace orvik {

void CallAudioDeviceSlot::publish(const std::shared_ptr<CallAudioDevice>& device) {
  std::lock_guard lock(mutex_);
  device_ = device;
}

std::shared_ptr<CallAudioDevice> CallAudioDeviceSlot::current() const {
  std::shared_ptr<CallAudioDevice> device;
  {
    std::lock_guard lock(mutex_);
    device = device_.lock();
  }
  if (device && device->isTerminated()) return nullptr;
  return device;
}

std::function<std::shared_ptr<CallAudioDevice>()> CallAudioDeviceSlot::publishingFactory(
    platform::AudioHardware& hardware) {
  return [this, &hardware] {
    auto device = std::make_shared<CallAudioDevice>(hardware);
    publish(device);
    return device;
  };
}

}  // namespace orvik

#include "calls/screens/output_device_picker.h"

#include <algorithm>

#include "calls/media/call_audio_router.h"
#include "core/native_logger.h"

namespace orvik {

std::optional<platform::AudioDeviceId> RouterAudioOutputRouting::currentOutputDeviceID() {
  return router_().currentOutputDeviceID();
}

std::vector<AudioOutputDevice> RouterAudioOutputRouting::outputDevices() { return router_().outputDevices(); }

bool RouterAudioOutputRouting::selectOutputDevice(platform::AudioDeviceId device) {
  return router_().selectOutputDevice(device);
}

OutputDevicePicker::OutputDevicePicker(AudioOutputRouting& routing, platform::TaskQueue& queue, Hooks hooks,
                                       LogFunction log)
    : routing_(routing), queue_(queue), hooks_(std::move(hooks)), log_(std::move(log)) {}

OutputDevicePicker::~OutputDevicePicker() {
  if (closing_) closing_->cancel();
}

void OutputDevicePicker::log(const std::string& line) const {
  if (log_) {
    log_(line);
  } else {
    nativeLog(line);
  }
}

std::vector<OutputDeviceEntry> OutputDevicePicker::entries() {
  const auto current = routing_.currentOutputDeviceID();
  std::vector<AudioOutputDevice> devices = routing_.outputDevices();
  currentAtListing_ = current;
  if (current) {
    std::stable_partition(devices.begin(), devices.end(),
                          [&](const AudioOutputDevice& device) { return device.id == *current; });
  }
  std::vector<OutputDeviceEntry> entries;
  entries.reserve(devices.size());
  for (const auto& device : devices) {
    OutputDeviceEntry entry;
    entry.device = device;
    entry.label = CallAudioRouter::displayName(device, devices);
    entry.isCurrent = current && device.id == *current;
    entry.buttonText = entry.isCurrent ? kCurrentMark + entry.label : entry.label;
    entries.push_back(std::move(entry));
  }
  return entries;
}

void OutputDevicePicker::select(const OutputDeviceEntry& entry) {
  const bool wasCurrent = currentAtListing_ && *currentAtListing_ == entry.device.id;
  log("[OutputPicker] user tapped '" + entry.label + "' (id=" + std::to_string(entry.device.id) +
      ", was current=" + (wasCurrent ? "true" : "false") + ")");
  const bool routed = routing_.selectOutputDevice(entry.device.id);
  log(std::string("[OutputPicker] routeCallOutput returned ") + (routed ? "true" : "false"));
}

void OutputDevicePicker::presentedChanged(bool presented) {
  if (closing_) {
    // Opened again before the last close settled: that close is void.
    closing_->cancel();
    closing_.reset();
  }
  if (presented) {
    if (hooks_.setSuppressAutoShow) hooks_.setSuppressAutoShow(true);
    if (hooks_.onElevate) hooks_.onElevate(true);
    return;
  }
  closing_ = std::make_shared<platform::WorkItem>([this] {
    closing_.reset();
    // The return-to-call panel may show itself again once the dialog is gone.
    if (hooks_.setSuppressAutoShow) hooks_.setSuppressAutoShow(false);
    if (hooks_.onDismiss) hooks_.onDismiss();
    if (hooks_.onElevate) hooks_.onElevate(false);
  });
  queue_.postAfter(kDismissDelay, closing_);
}

}  // namespace orvik

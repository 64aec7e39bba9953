// Decides where call audio is heard: lists the output devices for the picker,
// routes a choice, and while a call is connected follows the device list (a
// newly connected output takes the call over; when the call's output goes
// away the call returns to the default output). During a call on our own
// audio device only the call's playout moves, live; otherwise the choice
// changes the system's default output.
//
// Owner: the composition root (app/app_services.h); the call manager starts and stops the
// auto-switching, the picker reads the list and routes choices.
// THREAD-SAFETY: main queue only. The device-list listener and the delayed
// read-back arrive on the main queue and hold the router weakly.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "calls/media/audio_output_device.h"
#include "platform/audio/audio_hardware.h"

namespace orvik {

class CallAudioDevice;

class CallAudioRouter : public std::enable_shared_from_this<CallAudioRouter> {
 public:
  using LogFunction = std::function<void(const std::string& line)>;
  using CurrentDevice = std::function<std::shared_ptr<CallAudioDevice>()>;
  static constexpr double kReadBackDelay = 0.3;

  // `currentDevice` answers the device of the running call, if any (the
  // CallAudioDeviceSlot's current()); `log` defaults to nativeLog.
  static std::shared_ptr<CallAudioRouter> create(platform::AudioHardware& hardware, CurrentDevice currentDevice,
                                                 LogFunction log = {});
  ~CallAudioRouter();

  // The short text for a transport type; nothing for the unlabelled ones.
  static std::optional<std::string> transportLabel(std::optional<platform::AudioTransportType> type);

  std::vector<AudioOutputDevice> outputDevices();
  std::optional<platform::AudioDeviceId> currentOutputDeviceID();
  static std::string displayName(const AudioOutputDevice& device, const std::vector<AudioOutputDevice>& list);
  bool selectOutputDevice(platform::AudioDeviceId device);
  void startAutoSwitching();
  void stopAutoSwitching();

  bool isAutoSwitching() const { return autoSwitching_; }
  const std::set<std::string>& knownOutputUIDs() const { return knownOutputUIDs_; }
  // Called after every device-list change and after a live switch.
  std::function<void()> onDevicesChanged;

 private:
  CallAudioRouter(platform::AudioHardware& hardware, CurrentDevice currentDevice, LogFunction log);

  std::vector<platform::AudioDeviceId> allDeviceIDs();
  bool setDefaultOutputDevice(platform::AudioDeviceId device);
  void readBackDefaultOutput(platform::AudioDeviceId requested);
  void handleDeviceListChange();
  std::string nameOrId(platform::AudioDeviceId device);

  platform::AudioHardware& hardware_;
  CurrentDevice currentDevice_;
  LogFunction log_;
  bool autoSwitching_ = false;
  std::set<std::string> knownOutputUIDs_;
  std::optional<platform::AudioHardware::ListenerId> listener_;
};

}  // namespace orvik

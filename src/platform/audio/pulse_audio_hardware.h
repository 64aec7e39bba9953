// AudioHardware on libpulse: PulseAudio, or PipeWire's pulse server. One
// threaded main loop and one context per object; each unit is one playback
// or one record stream on it, moving audio in 10 ms slices.
//
// Device ids: a sink with index i is i + 1, a source (monitors included) is
// (i + 1) with the top bit set, so 0 stays "no device". Names are the
// devices' descriptions, UIDs their PulseAudio names.
//
// THREAD-SAFETY: as AudioHardware. The libpulse thread runs the units'
// callbacks; its device-list events are posted to the main queue. Never call
// a method from inside a unit callback (the answer would need the very
// thread that is waiting for it: such calls answer "unreadable").
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>

#include "platform/audio/audio_hardware.h"

namespace orvik::platform {

// The transport of a device from its PulseAudio properties ("device.bus",
// "device.form_factor", "device.class", ...), its active port's name and
// description, and whether PulseAudio flags it as hardware.
AudioTransportType pulseTransportType(const std::map<std::string, std::string>& properties,
                                      std::string_view activePort, bool isHardware);

class PulseAudioHardware final : public AudioHardware {
 public:
  // `server`: the server to use ("unix:/path/native"); empty: libpulse's own
  // choice (PULSE_SERVER, then the user's runtime folder). Never spawns one.
  explicit PulseAudioHardware(std::string server = {});
  ~PulseAudioHardware() override;
  PulseAudioHardware(const PulseAudioHardware&) = delete;
  PulseAudioHardware& operator=(const PulseAudioHardware&) = delete;

  // Whether the server answers now.
  bool isConnected();

  std::optional<std::vector<AudioDeviceId>> deviceIds() override;
  std::optional<AudioDeviceId> defaultOutputDevice() override;
  std::optional<AudioDeviceId> defaultInputDevice() override;
  AudioStatus setDefaultOutputDevice(AudioDeviceId device) override;
  std::optional<std::string> deviceName(AudioDeviceId device) override;
  std::optional<std::string> deviceUID(AudioDeviceId device) override;
  std::optional<bool> isAlive(AudioDeviceId device) override;
  std::optional<double> nominalSampleRate(AudioDeviceId device) override;
  std::optional<std::uint32_t> bufferFrameSize(AudioDeviceId device, AudioScope scope) override;
  std::optional<std::uint32_t> latencyFrames(AudioDeviceId device, AudioScope scope) override;
  std::optional<std::uint32_t> safetyOffsetFrames(AudioDeviceId device, AudioScope scope) override;
  std::optional<std::vector<std::uint32_t>> streamChannels(AudioDeviceId device, AudioScope scope) override;
  std::optional<AudioTransportType> transportType(AudioDeviceId device) override;
  ListenerId addDeviceListListener(std::function<void()> listener) override;
  void removeDeviceListListener(ListenerId id) override;
  std::unique_ptr<AudioUnit> makeUnit() override;

  struct Impl;

 private:
  std::shared_ptr<Impl> impl_;
};

}  // namespace orvik::platform

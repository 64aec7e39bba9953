// The sound system as the call audio sees it: output and input devices with
// their properties, the default devices, a device-list listener, and "units",
// each one stream of 16-bit PCM on one device. It is shaped after the HAL
// that the call audio was first written for: a unit is configured step by
// step, every step reporting a status, and it calls the program back on the
// sound system's real-time thread.
//
// Device ids are small non-zero numbers; 0 means "no device". A device may
// have output streams, input streams or both.
//
// Backends: PulseAudioHardware (libpulse; PulseAudio or PipeWire's pulse
// server) and FakeAudioHardware for tests. No sound-system type crosses this
// interface.
//
// THREAD-SAFETY: every method of AudioHardware and AudioUnit may be called
// from any thread except the real-time thread of a unit's callbacks. Device
// list listeners are called on the main queue. A unit's callbacks run on the
// backend's real-time thread; once stop() or the unit's destructor returned,
// none of its callbacks is running or will run.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace orvik::platform {

using AudioDeviceId = std::uint32_t;
inline constexpr AudioDeviceId kNoAudioDevice = 0;

// 0 is success; anything else is the backend's error code, for logs.
using AudioStatus = std::int32_t;
inline constexpr AudioStatus kAudioOk = 0;

enum class AudioScope { input, output };

// How a device is attached to the machine.
enum class AudioTransportType {
  unknown,
  builtIn,
  usb,
  bluetooth,
  bluetoothLE,
  hdmi,
  displayPort,
  airPlay,
  thunderbolt,
  virtualDevice,
  aggregate,
  pci,
  fireWire,
};

// Samples exchanged with the program: signed 16-bit, interleaved, packed.
struct AudioStreamFormat {
  double sampleRate = 48000.0;
  std::uint32_t channels = 2;

  std::uint32_t bytesPerFrame() const { return channels * 2; }
};

struct AudioBuffer {
  std::uint32_t channels = 0;
  std::uint32_t byteSize = 0;
  void* data = nullptr;
};

struct AudioBufferList {
  std::uint32_t count = 0;
  AudioBuffer* buffers = nullptr;
};

// Flags passed in and out of the callbacks.
using AudioRenderFlags = std::uint32_t;
inline constexpr AudioRenderFlags kAudioOutputIsSilence = 16;

// Output unit: fill `buffers` with `frames` frames of playout.
using AudioRenderCallback =
    std::function<AudioStatus(AudioRenderFlags& flags, std::uint64_t sampleTime, std::uint32_t frames,
                              AudioBufferList* buffers)>;
// Input unit: `frames` frames were captured; fetch them with AudioUnit::render.
using AudioInputCallback =
    std::function<AudioStatus(AudioRenderFlags& flags, std::uint64_t sampleTime, std::uint32_t frames)>;

// One stream on one device. Made unconfigured; the owner enables one
// direction, sets the device, the format, the slice size and the callback,
// then initialises, starts and stops it. Destroying it disposes of it.
class AudioUnit {
 public:
  virtual ~AudioUnit() = default;

  // Whether the unit plays (output scope) or captures (input scope).
  virtual AudioStatus enableIO(AudioScope scope, bool enable) = 0;
  virtual AudioStatus setDevice(AudioDeviceId device) = 0;
  // The device side's format (input units): what the device delivers.
  virtual AudioStatus readDeviceFormat(AudioStreamFormat& format) = 0;
  // The program side's format.
  virtual AudioStatus setClientFormat(const AudioStreamFormat& format) = 0;
  virtual AudioStatus setMaxFramesPerSlice(std::uint32_t frames) = 0;
  virtual AudioStatus setRenderCallback(AudioRenderCallback callback) = 0;
  virtual AudioStatus setInputCallback(AudioInputCallback callback) = 0;
  virtual AudioStatus initialize() = 0;
  virtual void uninitialize() = 0;
  virtual AudioStatus start() = 0;
  virtual AudioStatus stop() = 0;
  // The device the initialised unit really uses.
  virtual std::optional<AudioDeviceId> currentDevice() = 0;
  // Input units, from inside the input callback only: copies the captured
  // slice into `buffers`. No allocation, no lock.
  virtual AudioStatus render(AudioRenderFlags& flags, std::uint64_t sampleTime, std::uint32_t frames,
                             AudioBufferList* buffers) = 0;
};

class AudioHardware {
 public:
  virtual ~AudioHardware() = default;

  // The program's sound system (the libpulse backend), made on first use.
  static AudioHardware& shared();

  // Every device, in the sound system's order; nothing on error.
  virtual std::optional<std::vector<AudioDeviceId>> deviceIds() = 0;
  virtual std::optional<AudioDeviceId> defaultOutputDevice() = 0;
  virtual std::optional<AudioDeviceId> defaultInputDevice() = 0;
  virtual AudioStatus setDefaultOutputDevice(AudioDeviceId device) = 0;

  // Device properties; nothing when unreadable (a vanished device included).
  virtual std::optional<std::string> deviceName(AudioDeviceId device) = 0;
  // A text that names the device across restarts of the sound system.
  virtual std::optional<std::string> deviceUID(AudioDeviceId device) = 0;
  virtual std::optional<bool> isAlive(AudioDeviceId device) = 0;
  virtual std::optional<double> nominalSampleRate(AudioDeviceId device) = 0;
  virtual std::optional<std::uint32_t> bufferFrameSize(AudioDeviceId device, AudioScope scope) = 0;
  virtual std::optional<std::uint32_t> latencyFrames(AudioDeviceId device, AudioScope scope) = 0;
  virtual std::optional<std::uint32_t> safetyOffsetFrames(AudioDeviceId device, AudioScope scope) = 0;
  // Channel count of each stream of the device in `scope` (empty: none).
  virtual std::optional<std::vector<std::uint32_t>> streamChannels(AudioDeviceId device, AudioScope scope) = 0;
  virtual std::optional<AudioTransportType> transportType(AudioDeviceId device) = 0;

  // `listener` runs on the main queue after devices were added or removed.
  using ListenerId = std::uint64_t;
  virtual ListenerId addDeviceListListener(std::function<void()> listener) = 0;
  virtual void removeDeviceListListener(ListenerId id) = 0;

  // A new unconfigured unit; nothing when the sound system cannot make one.
  virtual std::unique_ptr<AudioUnit> makeUnit() = 0;
};

}  // namespace orvik::platform

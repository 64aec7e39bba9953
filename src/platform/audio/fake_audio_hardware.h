// A sound system in memory for tests: devices are added and removed by the
// test, any unit call can be made to fail, and the test plays the real-time
// thread by calling renderOutput / captureInput itself.
// THREAD-SAFETY: the test's thread; device-list listeners are posted to the
// main queue (a VirtualQueue in unit tests).
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/audio/audio_hardware.h"

namespace orvik::platform {

struct FakeAudioDevice {
  AudioDeviceId id = kNoAudioDevice;
  std::optional<std::string> name;
  std::optional<std::string> uid;
  std::optional<bool> alive = true;
  std::optional<double> sampleRate = 48000.0;
  std::optional<std::uint32_t> bufferFrames = 480;
  std::optional<std::uint32_t> latencyFrames = 0;
  std::optional<std::uint32_t> safetyOffsetFrames = 0;
  std::optional<std::vector<std::uint32_t>> outputChannels = std::vector<std::uint32_t>{};
  std::optional<std::vector<std::uint32_t>> inputChannels = std::vector<std::uint32_t>{};
  std::optional<AudioTransportType> transport;
  // The rate an input unit reads as the device format (nothing: unreadable).
  std::optional<double> deviceFormatRate = 48000.0;

  static FakeAudioDevice output(AudioDeviceId id, std::string name, std::optional<AudioTransportType> transport = {});
  static FakeAudioDevice input(AudioDeviceId id, std::string name, double rate = 48000.0);
};

class FakeAudioUnit;

class FakeAudioHardware final : public AudioHardware {
 public:
  FakeAudioHardware() = default;
  // Units must be gone before the hardware.
  ~FakeAudioHardware() override = default;

  // --- the test's controls ---
  // Adds or replaces a device; listeners hear of it unless `notify` is false.
  void addDevice(FakeAudioDevice device, bool notify = true);
  void removeDevice(AudioDeviceId id, bool notify = true);
  FakeAudioDevice* device(AudioDeviceId id);
  void setDefaultOutput(std::optional<AudioDeviceId> id) { defaultOutput_ = id; }
  void setDefaultInput(std::optional<AudioDeviceId> id) { defaultInput_ = id; }
  void setDeviceListReadable(bool readable) { deviceListReadable_ = readable; }

  // Makes the unit call `call` ("enableIO", "setDevice", "readDeviceFormat",
  // "setClientFormat", "setMaxFramesPerSlice", "setRenderCallback",
  // "setInputCallback", "initialize", "start", "render") fail with `status`
  // on units set to `device` (kNoAudioDevice: on every unit).
  void failOn(std::string call, AudioStatus status, AudioDeviceId device = kNoAudioDevice);
  void clearFailures() { failures_.clear(); }
  void setCanMakeUnits(bool can) { canMakeUnits_ = can; }
  // A unit asked for `requested` ends up on `actual`.
  void redirect(AudioDeviceId requested, AudioDeviceId actual) { redirects_[requested] = actual; }
  void setDefaultOutputFailure(AudioStatus status) { setDefaultFailure_ = status; }

  // Plays the real-time thread: calls the render callback of the newest
  // initialised output unit (running or not: the callback must cope) into an
  // interleaved buffer; nothing when there is none.
  std::optional<AudioStatus> renderOutput(std::uint32_t frames, std::vector<std::int16_t>& samples,
                                          AudioRenderFlags& flags);
  // Calls the input callback of the newest initialised input unit with
  // `samples` (mono) as the captured slice.
  std::optional<AudioStatus> captureInput(const std::vector<std::int16_t>& samples);

  int unitsMade() const { return unitsMade_; }
  int unitsDisposed() const { return unitsDisposed_; }
  // Units alive now, oldest first.
  const std::vector<FakeAudioUnit*>& liveUnits() const { return live_; }
  FakeAudioUnit* runningUnit(AudioScope scope) const;
  FakeAudioUnit* newestUnit(AudioScope scope) const;
  std::vector<AudioDeviceId> setDefaultRequests() const { return setDefaultRequests_; }

  // --- AudioHardware ---
  std::optional<std::vector<AudioDeviceId>> deviceIds() override;
  std::optional<AudioDeviceId> defaultOutputDevice() override { return defaultOutput_; }
  std::optional<AudioDeviceId> defaultInputDevice() override { return defaultInput_; }
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

 private:
  friend class FakeAudioUnit;
  AudioStatus failure(const std::string& call, AudioDeviceId device) const;
  void notifyListeners();

  std::vector<FakeAudioDevice> devices_;
  std::optional<AudioDeviceId> defaultOutput_;
  std::optional<AudioDeviceId> defaultInput_;
  bool deviceListReadable_ = true;
  bool canMakeUnits_ = true;
  AudioStatus setDefaultFailure_ = kAudioOk;
  std::vector<AudioDeviceId> setDefaultRequests_;
  std::map<std::pair<std::string, AudioDeviceId>, AudioStatus> failures_;
  std::map<AudioDeviceId, AudioDeviceId> redirects_;
  std::map<ListenerId, std::function<void()>> listeners_;
  ListenerId nextListener_ = 0;
  int unitsMade_ = 0;
  int unitsDisposed_ = 0;
  std::vector<FakeAudioUnit*> live_;
};

class FakeAudioUnit final : public AudioUnit {
 public:
  explicit FakeAudioUnit(FakeAudioHardware& hardware) : hardware_(hardware) {}
  ~FakeAudioUnit() override;

  bool isOutput() const { return output_ && !input_; }
  bool isInitialized() const { return initialized_; }
  bool isRunning() const { return running_; }
  AudioDeviceId device() const { return device_; }
  const AudioStreamFormat& clientFormat() const { return format_; }
  std::uint32_t maxFrames() const { return maxFrames_; }

  AudioStatus enableIO(AudioScope scope, bool enable) override;
  AudioStatus setDevice(AudioDeviceId device) override;
  AudioStatus readDeviceFormat(AudioStreamFormat& format) override;
  AudioStatus setClientFormat(const AudioStreamFormat& format) override;
  AudioStatus setMaxFramesPerSlice(std::uint32_t frames) override;
  AudioStatus setRenderCallback(AudioRenderCallback callback) override;
  AudioStatus setInputCallback(AudioInputCallback callback) override;
  AudioStatus initialize() override;
  void uninitialize() override { initialized_ = false; }
  AudioStatus start() override;
  AudioStatus stop() override;
  std::optional<AudioDeviceId> currentDevice() override;
  AudioStatus render(AudioRenderFlags& flags, std::uint64_t sampleTime, std::uint32_t frames,
                     AudioBufferList* buffers) override;

 private:
  friend class FakeAudioHardware;
  FakeAudioHardware& hardware_;
  bool output_ = false;
  bool input_ = false;
  AudioDeviceId device_ = kNoAudioDevice;
  AudioStreamFormat format_;
  std::uint32_t maxFrames_ = 0;
  AudioRenderCallback render_;
  AudioInputCallback inputCallback_;
  bool initialized_ = false;
  bool running_ = false;
  const std::vector<std::int16_t>* captured_ = nullptr;
  std::uint64_t sampleTime_ = 0;
};

}  // namespace orvik::platform

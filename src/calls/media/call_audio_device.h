// The program's own audio device for calls, handed to WebRTC in place of its
// built-in audio (through the adapter in call_audio_device_module.h). It
// plays the call on one output unit and captures the default input on
// another; owning the output unit is what lets the router move a running
// call's sound to another output device without restarting WebRTC's audio.
//
// Playout is 48 kHz stereo, capture mono at the input device's own rate,
// both signed 16-bit. The sound system calls back in 10 ms slices.
//
// Owner: the peer connection set-up makes one per call and publishes it in
// the CallAudioDeviceSlot (call_audio_device_slot.h) for the audio router.
//
// THREAD-SAFETY: WebRTC calls the operations on its audio threads and the
// router calls switchOutputDevice on the main queue; each takes the device's
// lock for its whole body. The getters (rates, durations, channel counts,
// latencies, the flags and the device ids) read without it. The two
// real-time callbacks never lock: the running flag is set before a unit
// starts and cleared before a unit is stopped and disposed, and the delegate
// is dropped only after both units are gone.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/audio/audio_hardware.h"
#include "platform/user_defaults.h"

namespace orvik {

// What the device needs of WebRTC's audio: the two data blocks (called on
// the real-time threads, without allocation) and two notices after an
// output switch (called on the switching thread, without the device's lock).
class CallAudioDeviceDelegate {
 public:
  virtual ~CallAudioDeviceDelegate() = default;
  // Fills `buffers` (one interleaved 48 kHz stereo buffer) with `frames` frames.
  virtual platform::AudioStatus getPlayoutData(platform::AudioRenderFlags& flags, std::uint64_t sampleTime,
                                               std::uint32_t frames, platform::AudioBufferList* buffers) = 0;
  // `buffers` holds `frames` mono frames at deviceInputSampleRate().
  virtual platform::AudioStatus deliverRecordedData(platform::AudioRenderFlags& flags, std::uint64_t sampleTime,
                                                    std::uint32_t frames, const platform::AudioBufferList* buffers) = 0;
  virtual void notifyAudioOutputInterrupted() = 0;
  virtual void notifyAudioOutputParametersChange() = 0;
};

class CallAudioDevice {
 public:
  static constexpr const char* customDeviceKey = "orvik.callAudio.customDevice";
  static constexpr double kPlayoutSampleRate = 48000.0;
  static constexpr std::uint32_t kPlayoutChannels = 2;
  static constexpr std::uint32_t kMaxFramesPerSlice = 4096;
  static constexpr std::size_t kInputCapacity = 8192;  // bytes: 4096 mono 16-bit frames

  using LogFunction = std::function<void(const std::string& line)>;

  // `log` defaults to nativeLog.
  explicit CallAudioDevice(platform::AudioHardware& hardware, LogFunction log = {});
  ~CallAudioDevice();
  CallAudioDevice(const CallAudioDevice&) = delete;
  CallAudioDevice& operator=(const CallAudioDevice&) = delete;

  // Whether calls use this device: the stored Bool under customDeviceKey;
  // true when the key is missing or holds another type.
  static bool isCustomDeviceEnabled(platform::UserDefaults& defaults);


  // --- the device protocol that WebRTC drives ---
  double deviceInputSampleRate() const { return inputRate_.load(); }
  double inputIOBufferDuration();
  int inputNumberOfChannels() const { return 1; }
  double inputLatency();
  double deviceOutputSampleRate() const { return kPlayoutSampleRate; }
  double outputIOBufferDuration();
  int outputNumberOfChannels() const { return static_cast<int>(kPlayoutChannels); }
  double outputLatency();

  bool isInitialized() const { return initialized_.load(); }
  // Terminated and not initialised again since: no longer any call's device.
  bool isTerminated() const { return terminated_.load(); }
  bool isPlayoutInitialized() const { return playoutInitialized_.load(); }
  bool isPlaying() const { return playing_.load(); }
  bool isRecordingInitialized() const { return recordingInitialized_.load(); }
  bool isRecording() const { return recording_.load(); }

  // Always true. The delegate must stay valid until terminateDevice.
  bool initializeWithDelegate(CallAudioDeviceDelegate* delegate);
  // Always true.
  bool terminateDevice();
  bool initializePlayout();
  bool startPlayout();
  bool stopPlayout();  // always true; throws the unit away
  bool initializeRecording();
  bool startRecording();
  bool stopRecording();  // always true; throws the unit away

  // --- the program's own ---
  // Moves playout to `device` without stopping WebRTC's audio; before
  // playout is initialised it only records the choice. Main queue.
  bool switchOutputDevice(platform::AudioDeviceId device);
  platform::AudioDeviceId outputDeviceID() const { return outputDeviceID_.load(); }
  platform::AudioDeviceId inputDeviceID() const { return inputDeviceID_.load(); }
  std::optional<platform::AudioDeviceId> requestedOutputDeviceID() const;

  // Device queries for logs and latencies; device 0 means none.
  std::string deviceName(platform::AudioDeviceId device);
  double nominalSampleRate(platform::AudioDeviceId device);
  double ioBufferDuration(platform::AudioDeviceId device, bool input);
  double deviceLatency(platform::AudioDeviceId device, bool input);

 private:
  using Lines = std::vector<std::string>;

  std::unique_ptr<platform::AudioUnit> makeOutputUnit(platform::AudioDeviceId device, Lines& lines);
  std::unique_ptr<platform::AudioUnit> makeInputUnit(platform::AudioDeviceId device, double& rate, Lines& lines);
  bool startUnit(const std::unique_ptr<platform::AudioUnit>& unit, std::atomic<bool>& running, const char* what);
  void stopUnit(std::atomic<bool>& running, std::unique_ptr<platform::AudioUnit>& unit,
                std::atomic<bool>& unitInitialized);
  void setInputUnit(std::unique_ptr<platform::AudioUnit> unit);
  static void disposeUnit(std::unique_ptr<platform::AudioUnit>& unit);
  void flush(const Lines& lines) const;

  // Real-time callbacks.
  platform::AudioStatus renderPlayout(platform::AudioRenderFlags& flags, std::uint64_t sampleTime,
                                      std::uint32_t frames, platform::AudioBufferList* buffers);
  platform::AudioStatus captureInput(platform::AudioRenderFlags& flags, std::uint64_t sampleTime,
                                     std::uint32_t frames);

  platform::AudioHardware& hardware_;
  LogFunction log_;

  mutable std::mutex lock_;
  CallAudioDeviceDelegate* delegate_ = nullptr;
  std::atomic<CallAudioDeviceDelegate*> getPlayoutBlock_{nullptr};
  std::atomic<CallAudioDeviceDelegate*> deliverBlock_{nullptr};
  std::unique_ptr<platform::AudioUnit> outputUnit_;
  std::unique_ptr<platform::AudioUnit> inputUnit_;
  std::atomic<platform::AudioUnit*> inputUnitForCallback_{nullptr};
  std::atomic<platform::AudioDeviceId> outputDeviceID_{platform::kNoAudioDevice};
  std::atomic<platform::AudioDeviceId> inputDeviceID_{platform::kNoAudioDevice};
  std::atomic<double> inputRate_{48000.0};
  std::optional<platform::AudioDeviceId> requestedOutputDeviceID_;
  std::atomic<bool> playing_{false};
  std::atomic<bool> recording_{false};
  std::atomic<bool> initialized_{false};
  std::atomic<bool> terminated_{false};
  std::atomic<bool> playoutInitialized_{false};
  std::atomic<bool> recordingInitialized_{false};

  // The capture slice, rendered into by the input unit; touched only by the
  // input callback.
  alignas(16) std::array<std::byte, kInputCapacity> inputData_{};
  platform::AudioBuffer inputBuffer_{1, static_cast<std::uint32_t>(kInputCapacity), nullptr};
  platform::AudioBufferList inputBufferList_{1, &inputBuffer_};
};

}  // namespace orvik

#include "calls/media/call_audio_device_module.h"

#include <atomic>
#include <cstring>
#include <mutex>

#include "api/make_ref_counted.h"
#include "calls/media/call_audio_device.h"
#include "modules/audio_device/include/audio_device.h"

namespace orvik {
namespace {

using platform::AudioBufferList;
using platform::AudioRenderFlags;
using platform::AudioStatus;
using platform::kAudioOk;

constexpr int kChunksPerSecond = 100;  // WebRTC moves audio in 10 ms chunks

// Not final: rtc::make_ref_counted derives from it.
class CallAudioDeviceModule : public webrtc::AudioDeviceModule, private CallAudioDeviceDelegate {
 public:
  explicit CallAudioDeviceModule(std::shared_ptr<CallAudioDevice> device) : device_(std::move(device)) {}

  ~CallAudioDeviceModule() override {
    if (device_->isInitialized()) device_->terminateDevice();
  }

  int32_t ActiveAudioLayer(AudioLayer* layer) const override {
    *layer = kLinuxPulseAudio;
    return 0;
  }

  int32_t RegisterAudioCallback(webrtc::AudioTransport* transport) override {
    transport_.store(transport, std::memory_order_release);
    return 0;
  }

  int32_t Init() override { return device_->initializeWithDelegate(this) ? 0 : -1; }
  int32_t Terminate() override { return device_->terminateDevice() ? 0 : -1; }
  bool Initialized() const override { return device_->isInitialized(); }

  // One device each way: the router moves the output, capture follows the
  // system's default input.
  int16_t PlayoutDevices() override { return 1; }
  int16_t RecordingDevices() override { return 1; }
  int32_t PlayoutDeviceName(uint16_t index, char name[webrtc::kAdmMaxDeviceNameSize],
                            char guid[webrtc::kAdmMaxGuidSize]) override {
    return deviceName(index, "default output", name, guid);
  }
  int32_t RecordingDeviceName(uint16_t index, char name[webrtc::kAdmMaxDeviceNameSize],
                              char guid[webrtc::kAdmMaxGuidSize]) override {
    return deviceName(index, "default input", name, guid);
  }
  int32_t SetPlayoutDevice(uint16_t index) override { return index == 0 ? 0 : -1; }
  int32_t SetPlayoutDevice(WindowsDeviceType) override { return 0; }
  int32_t SetRecordingDevice(uint16_t index) override { return index == 0 ? 0 : -1; }
  int32_t SetRecordingDevice(WindowsDeviceType) override { return 0; }

  int32_t PlayoutIsAvailable(bool* available) override {
    *available = true;
    return 0;
  }
  int32_t InitPlayout() override { return device_->initializePlayout() ? 0 : -1; }
  bool PlayoutIsInitialized() const override { return device_->isPlayoutInitialized(); }
  int32_t RecordingIsAvailable(bool* available) override {
    *available = true;
    return 0;
  }
  int32_t InitRecording() override { return device_->initializeRecording() ? 0 : -1; }
  bool RecordingIsInitialized() const override { return device_->isRecordingInitialized(); }

  int32_t StartPlayout() override {
    updatePlayoutDelay();
    return device_->startPlayout() ? 0 : -1;
  }
  int32_t StopPlayout() override { return device_->stopPlayout() ? 0 : -1; }
  bool Playing() const override { return device_->isPlaying(); }
  int32_t StartRecording() override {
    recordDelayMs_ = static_cast<uint16_t>(device_->inputLatency() * 1000.0);
    return device_->startRecording() ? 0 : -1;
  }
  int32_t StopRecording() override { return device_->stopRecording() ? 0 : -1; }
  bool Recording() const override { return device_->isRecording(); }

  int32_t InitSpeaker() override { return 0; }
  bool SpeakerIsInitialized() const override { return true; }
  int32_t InitMicrophone() override { return 0; }
  bool MicrophoneIsInitialized() const override { return true; }

  // Volumes and mutes belong to the desktop's mixer, not to the call.
  int32_t SpeakerVolumeIsAvailable(bool* available) override { return unavailable(available); }
  int32_t SetSpeakerVolume(uint32_t) override { return -1; }
  int32_t SpeakerVolume(uint32_t*) const override { return -1; }
  int32_t MaxSpeakerVolume(uint32_t*) const override { return -1; }
  int32_t MinSpeakerVolume(uint32_t*) const override { return -1; }
  int32_t MicrophoneVolumeIsAvailable(bool* available) override { return unavailable(available); }
  int32_t SetMicrophoneVolume(uint32_t) override { return -1; }
  int32_t MicrophoneVolume(uint32_t*) const override { return -1; }
  int32_t MaxMicrophoneVolume(uint32_t*) const override { return -1; }
  int32_t MinMicrophoneVolume(uint32_t*) const override { return -1; }
  int32_t SpeakerMuteIsAvailable(bool* available) override { return unavailable(available); }
  int32_t SetSpeakerMute(bool) override { return -1; }
  int32_t SpeakerMute(bool*) const override { return -1; }
  int32_t MicrophoneMuteIsAvailable(bool* available) override { return unavailable(available); }
  int32_t SetMicrophoneMute(bool) override { return -1; }
  int32_t MicrophoneMute(bool*) const override { return -1; }

  int32_t StereoPlayoutIsAvailable(bool* available) const override {
    *available = true;
    return 0;
  }
  int32_t SetStereoPlayout(bool enable) override { return enable ? 0 : -1; }
  int32_t StereoPlayout(bool* enabled) const override {
    *enabled = true;
    return 0;
  }
  int32_t StereoRecordingIsAvailable(bool* available) const override {
    *available = false;
    return 0;
  }
  int32_t SetStereoRecording(bool enable) override { return enable ? -1 : 0; }
  int32_t StereoRecording(bool* enabled) const override {
    *enabled = false;
    return 0;
  }

  int32_t PlayoutDelay(uint16_t* delayMs) const override {
    *delayMs = playoutDelayMs_.load();
    return 0;
  }

  bool BuiltInAECIsAvailable() const override { return false; }
  bool BuiltInAGCIsAvailable() const override { return false; }
  bool BuiltInNSIsAvailable() const override { return false; }
  int32_t EnableBuiltInAEC(bool) override { return -1; }
  int32_t EnableBuiltInAGC(bool) override { return -1; }
  int32_t EnableBuiltInNS(bool) override { return -1; }

 private:
  static int32_t unavailable(bool* available) {
    *available = false;
    return 0;
  }

  static int32_t deviceName(uint16_t index, const char* label, char* name, char* guid) {
    if (index != 0) return -1;
    std::strncpy(name, label, webrtc::kAdmMaxDeviceNameSize - 1);
    name[webrtc::kAdmMaxDeviceNameSize - 1] = '\0';
    if (guid) guid[0] = '\0';
    return 0;
  }

  void updatePlayoutDelay() { playoutDelayMs_ = static_cast<uint16_t>(device_->outputLatency() * 1000.0); }

  // --- CallAudioDeviceDelegate: real-time threads, no lock, no allocation ---

  AudioStatus getPlayoutData(AudioRenderFlags& flags, std::uint64_t, std::uint32_t frames,
                             AudioBufferList* buffers) override {
    webrtc::AudioTransport* transport = transport_.load(std::memory_order_acquire);
    if (buffers->count < 1 || !buffers->buffers[0].data) return kAudioOk;
    auto* out = static_cast<std::int16_t*>(buffers->buffers[0].data);
    const std::uint32_t channels = CallAudioDevice::kPlayoutChannels;
    const auto rate = static_cast<std::uint32_t>(CallAudioDevice::kPlayoutSampleRate);
    const std::uint32_t chunk = rate / kChunksPerSecond;
    std::uint32_t done = 0;
    if (transport) {
      for (; done + chunk <= frames; done += chunk) {
        size_t produced = 0;
        int64_t elapsedMs = 0;
        int64_t ntpMs = 0;
        transport->NeedMorePlayData(chunk, channels * sizeof(std::int16_t), channels, rate,
                                    out + static_cast<std::size_t>(done) * channels, produced, &elapsedMs, &ntpMs);
      }
    } else {
      flags |= platform::kAudioOutputIsSilence;
    }
    // A slice that is not a whole number of chunks ends in silence.
    std::memset(out + static_cast<std::size_t>(done) * channels, 0,
                static_cast<std::size_t>(frames - done) * channels * sizeof(std::int16_t));
    return kAudioOk;
  }

  AudioStatus deliverRecordedData(AudioRenderFlags&, std::uint64_t, std::uint32_t frames,
                                  const AudioBufferList* buffers) override {
    webrtc::AudioTransport* transport = transport_.load(std::memory_order_acquire);
    if (!transport || buffers->count < 1 || !buffers->buffers[0].data) return kAudioOk;
    const auto* samples = static_cast<const std::int16_t*>(buffers->buffers[0].data);
    const auto rate = static_cast<std::uint32_t>(device_->deviceInputSampleRate());
    const std::uint32_t chunk = rate / kChunksPerSecond;
    if (chunk == 0) return kAudioOk;
    const uint32_t delayMs = playoutDelayMs_.load() + recordDelayMs_.load();
    for (std::uint32_t done = 0; done + chunk <= frames; done += chunk) {
      uint32_t newMicLevel = 0;
      transport->RecordedDataIsAvailable(samples + done, chunk, sizeof(std::int16_t), 1, rate, delayMs, 0, 0, false,
                                         newMicLevel);
    }
    return kAudioOk;
  }

  void notifyAudioOutputInterrupted() override {}
  void notifyAudioOutputParametersChange() override { updatePlayoutDelay(); }

  std::shared_ptr<CallAudioDevice> device_;
  std::atomic<webrtc::AudioTransport*> transport_{nullptr};
  std::atomic<uint16_t> playoutDelayMs_{0};
  std::atomic<uint16_t> recordDelayMs_{0};
};

}  // namespace

rtc::scoped_refptr<webrtc::AudioDeviceModule> makeCallAudioDeviceModule(std::shared_ptr<CallAudioDevice> device) {
  return rtc::make_ref_counted<CallAudioDeviceModule>(std::move(device));
}

}  // namespace orvik

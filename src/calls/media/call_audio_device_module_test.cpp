#include "calls/media/call_audio_device_module.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "api/audio_codecs/builtin_audio_decoder_factory.h"
#include "api/audio_codecs/builtin_audio_encoder_factory.h"
#include "api/create_peerconnection_factory.h"
#include "api/video_codecs/builtin_video_decoder_factory.h"
#include "api/video_codecs/builtin_video_encoder_factory.h"
#include "calls/media/call_audio_device.h"
#include "modules/audio_device/include/audio_device.h"
#include "rtc_base/thread.h"
#include "platform/audio/fake_audio_hardware.h"
#include "platform/dispatch/virtual_queue.h"

namespace orvik {
namespace {

using platform::AudioTransportType;
using platform::FakeAudioDevice;

// WebRTC's side of the module: counts chunks and numbers the frames it plays.
class CountingTransport final : public webrtc::AudioTransport {
 public:
  int32_t RecordedDataIsAvailable(const void* samples, size_t frames, size_t bytesPerSample, size_t channels,
                                  uint32_t rate, uint32_t delayMs, int32_t, uint32_t, bool, uint32_t&) override {
    const auto* data = static_cast<const std::int16_t*>(samples);
    recorded.push_back({frames, bytesPerSample, channels, rate, delayMs, data[0]});
    return 0;
  }
  int32_t NeedMorePlayData(size_t frames, size_t bytesPerFrame, size_t channels, uint32_t rate, void* out,
                           size_t& produced, int64_t*, int64_t*) override {
    played.push_back({frames, bytesPerFrame, channels, rate, 0, 0});
    std::fill_n(static_cast<std::int16_t*>(out), frames * channels, static_cast<std::int16_t>(played.size()));
    produced = frames;
    return 0;
  }
  void PullRenderData(int, int, size_t, size_t, void*, int64_t*, int64_t*) override {}

  struct Chunk {
    size_t frames, bytes, channels;
    uint32_t rate, delayMs;
    std::int16_t first;
    bool operator==(const Chunk&) const = default;
  };
  std::vector<Chunk> played;
  std::vector<Chunk> recorded;
};

class CallAudioDeviceModuleTest : public ::testing::Test {
 protected:
  CallAudioDeviceModuleTest() {
    auto speakers = FakeAudioDevice::output(1, "Speakers", AudioTransportType::builtIn);
    speakers.latencyFrames = 480;
    speakers.bufferFrames = 480;  // 20 ms in all
    hardware.addDevice(speakers, false);
    auto mic = FakeAudioDevice::input(10, "Mic", 44100.0);
    mic.latencyFrames = 441;
    mic.bufferFrames = 0;  // 10 ms in all
    hardware.addDevice(mic, false);
    hardware.setDefaultOutput(1);
    hardware.setDefaultInput(10);
    device = std::make_shared<CallAudioDevice>(hardware, [](const std::string&) {});
    module = makeCallAudioDeviceModule(device);
    module->RegisterAudioCallback(&transport);
  }

  platform::VirtualQueue queue;
  platform::ScopedMainQueue mainQueue{queue};
  platform::FakeAudioHardware hardware;
  CountingTransport transport;
  std::shared_ptr<CallAudioDevice> device;
  rtc::scoped_refptr<webrtc::AudioDeviceModule> module;
};

TEST_F(CallAudioDeviceModuleTest, DrivesTheDeviceThroughWebRtcsLifecycle) {
  EXPECT_EQ(module->Init(), 0);
  EXPECT_TRUE(module->Initialized());
  EXPECT_EQ(module->InitPlayout(), 0);
  EXPECT_TRUE(module->PlayoutIsInitialized());
  EXPECT_EQ(module->StartPlayout(), 0);
  EXPECT_TRUE(module->Playing());
  EXPECT_EQ(module->InitRecording(), 0);
  EXPECT_EQ(module->StartRecording(), 0);
  EXPECT_TRUE(module->Recording());
  uint16_t delay = 0;
  EXPECT_EQ(module->PlayoutDelay(&delay), 0);
  EXPECT_EQ(delay, 20);
  bool stereo = false;
  EXPECT_EQ(module->StereoPlayout(&stereo), 0);
  EXPECT_TRUE(stereo);

  EXPECT_EQ(module->StopPlayout(), 0);
  EXPECT_FALSE(module->PlayoutIsInitialized());
  EXPECT_NE(module->StartPlayout(), 0);  // a stopped playout needs a new initialise
  EXPECT_EQ(module->Terminate(), 0);
  EXPECT_FALSE(device->isInitialized());
  EXPECT_TRUE(hardware.liveUnits().empty());
}

TEST_F(CallAudioDeviceModuleTest, PlayoutIsAskedForIn10msChunks) {
  ASSERT_EQ(module->Init(), 0);
  ASSERT_EQ(module->InitPlayout(), 0);
  ASSERT_EQ(module->StartPlayout(), 0);
  platform::AudioRenderFlags flags = 0;
  std::vector<std::int16_t> samples;
  ASSERT_EQ(hardware.renderOutput(960, samples, flags), platform::kAudioOk);
  const CountingTransport::Chunk chunk{480, 4, 2, 48000, 0, 0};
  EXPECT_EQ(transport.played, (std::vector<CountingTransport::Chunk>{chunk, chunk}));
  EXPECT_EQ(samples[0], 1);
  EXPECT_EQ(samples[960], 2);  // the second chunk follows the first

  // A slice that is not whole chunks ends in silence.
  ASSERT_EQ(hardware.renderOutput(500, samples, flags), platform::kAudioOk);
  EXPECT_EQ(transport.played.size(), 3u);
  EXPECT_EQ(samples[959], 3);
  EXPECT_EQ(samples[960], 0);
  EXPECT_EQ(samples[999], 0);

  // Without a transport the device plays flagged silence.
  module->RegisterAudioCallback(nullptr);
  flags = 0;
  ASSERT_EQ(hardware.renderOutput(480, samples, flags), platform::kAudioOk);
  EXPECT_EQ(samples, std::vector<std::int16_t>(960, 0));
  EXPECT_NE(flags & platform::kAudioOutputIsSilence, 0u);
}

TEST_F(CallAudioDeviceModuleTest, CaptureIsDeliveredIn10msMonoChunksAtTheDeviceRate) {
  ASSERT_EQ(module->Init(), 0);
  ASSERT_EQ(module->InitPlayout(), 0);
  ASSERT_EQ(module->StartPlayout(), 0);
  ASSERT_EQ(module->InitRecording(), 0);
  ASSERT_EQ(module->StartRecording(), 0);
  std::vector<std::int16_t> slice(882 + 100);
  slice[0] = 11;
  slice[441] = 22;
  ASSERT_EQ(hardware.captureInput(slice), platform::kAudioOk);
  // Two whole chunks; the delay is playout (20 ms) plus capture (10 ms).
  EXPECT_EQ(transport.recorded, (std::vector<CountingTransport::Chunk>{{441, 2, 1, 44100, 30, 11},
                                                                     {441, 2, 1, 44100, 30, 22}}));
}

TEST_F(CallAudioDeviceModuleTest, ReleasingTheModuleTerminatesTheDevice) {
  ASSERT_EQ(module->Init(), 0);
  ASSERT_EQ(module->InitPlayout(), 0);
  ASSERT_EQ(module->StartPlayout(), 0);
  module = nullptr;
  EXPECT_FALSE(device->isInitialized());
  EXPECT_TRUE(hardware.liveUnits().empty());
}

TEST_F(CallAudioDeviceModuleTest, APeerConnectionFactoryTakesTheModule) {
  auto network = rtc::Thread::CreateWithSocketServer();
  auto worker = rtc::Thread::Create();
  auto signaling = rtc::Thread::Create();
  ASSERT_TRUE(network->Start() && worker->Start() && signaling->Start());
  auto factory = webrtc::CreatePeerConnectionFactory(
      network.get(), worker.get(), signaling.get(), module, webrtc::CreateBuiltinAudioEncoderFactory(),
      webrtc::CreateBuiltinAudioDecoderFactory(), webrtc::CreateBuiltinVideoEncoderFactory(),
      webrtc::CreateBuiltinVideoDecoderFactory(), nullptr, nullptr);
  ASSERT_NE(factory, nullptr);
  EXPECT_TRUE(device->isInitialized());  // WebRTC's voice engine initialised it
  factory = nullptr;
  module = nullptr;
  EXPECT_FALSE(device->isInitialized());
  network->Stop();
  worker->Stop();
  signaling->Stop();
}

}  // namespace
}  // namespace orvik

// The call audio device on a real PulseAudio daemon with null sinks, driven
// through its WebRTC audio device module as WebRTC would drive it.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <mutex>
#include <thread>

#include "calls/media/call_audio_device.h"
#include "calls/media/call_audio_device_module.h"
#include "calls/media/call_audio_router.h"
#include "modules/audio_device/include/audio_device.h"
#include "platform/audio/pulse_audio_hardware.h"
#include "platform/dispatch/virtual_queue.h"
#include "platform/test_support/pulse_daemon.h"
#include "platform/test_support/wait_for.h"

namespace orvik {
namespace {

using platform::AudioDeviceId;

constexpr std::int16_t kTone = 4000;

// WebRTC's side: plays a constant and checks every chunk's shape.
class RecordingTransport final : public webrtc::AudioTransport {
 public:
  int32_t RecordedDataIsAvailable(const void* samples, size_t frames, size_t bytesPerSample, size_t channels,
                                  uint32_t rate, uint32_t, int32_t, uint32_t, bool, uint32_t&) override {
    std::lock_guard guard(mutex);
    ++recorded;
    if (frames != rate / 100 || bytesPerSample != 2 || channels != 1) ++oddRecorded;
    captureRate = rate;
    const auto* data = static_cast<const std::int16_t*>(samples);
    for (size_t i = 0; i < frames; ++i) loudest = std::max<int>(loudest, std::abs(data[i]));
    return 0;
  }
  int32_t NeedMorePlayData(size_t frames, size_t bytesPerFrame, size_t channels, uint32_t rate, void* out,
                           size_t& produced, int64_t*, int64_t*) override {
    if (frames != 480 || bytesPerFrame != 4 || channels != 2 || rate != 48000) ++oddPlayed;
    std::fill_n(static_cast<std::int16_t*>(out), frames * channels, kTone);
    produced = frames;
    ++played;
    return 0;
  }
  void PullRenderData(int, int, size_t, size_t, void*, int64_t*, int64_t*) override {}

  std::atomic<int> played{0};
  std::atomic<int> oddPlayed{0};
  std::mutex mutex;
  int recorded = 0;
  int oddRecorded = 0;
  uint32_t captureRate = 0;
  int loudest = 0;
};

class CallAudioIntegration : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(daemon.isRunning()) << "pulseaudio did not start";
    device = std::make_shared<CallAudioDevice>(hardware, [this](const std::string& line) { log(line); });
    module = makeCallAudioDeviceModule(device);
    router = CallAudioRouter::create(hardware, [this] { return device; }, [this](const std::string& line) { log(line); });
    ASSERT_EQ(module->RegisterAudioCallback(&transport), 0);
    ASSERT_EQ(module->Init(), 0);
  }

  void TearDown() override {
    router.reset();
    if (module) module->Terminate();
    module = nullptr;
  }

  void log(const std::string& line) {
    std::lock_guard guard(linesMutex);
    lines.push_back(line);
  }
  bool logged(const std::string& line) {
    std::lock_guard guard(linesMutex);
    return std::find(lines.begin(), lines.end(), line) != lines.end();
  }

  void startPlayout() {
    ASSERT_EQ(module->InitPlayout(), 0);
    ASSERT_EQ(module->StartPlayout(), 0);
    ASSERT_TRUE(module->Playing());
  }

  // Waits for what the daemon does, running the main queue meanwhile.
  bool waitFor(const std::function<bool()>& done) {
    return testing::waitFor(done, [this] { queue.runUntilIdle(); });
  }

  bool playsOn(const std::string& sink) {
    return waitFor([&] { return daemon.sinksWithStreams() == std::vector<std::string>{sink}; });
  }

  // The call keeps asking WebRTC for audio.
  bool keepsPlaying() {
    const int before = transport.played;
    return waitFor([&] { return transport.played > before + 10; });
  }

  std::optional<AudioDeviceId> idOf(const std::string& uid) {
    for (AudioDeviceId id : hardware.deviceIds().value_or(std::vector<AudioDeviceId>{})) {
      if (hardware.deviceUID(id) == uid) return id;
    }
    return std::nullopt;
  }

  platform::VirtualQueue queue;
  platform::ScopedMainQueue mainQueue{queue};
  testing::PulseDaemon daemon;
  platform::PulseAudioHardware hardware{daemon.server()};
  RecordingTransport transport;
  std::mutex linesMutex;
  std::vector<std::string> lines;
  std::shared_ptr<CallAudioDevice> device;
  rtc::scoped_refptr<webrtc::AudioDeviceModule> module;
  std::shared_ptr<CallAudioRouter> router;
};

TEST_F(CallAudioIntegration, PlayoutMovesToAnotherSinkWithoutRestartingWebRtcAudio) {
  startPlayout();
  ASSERT_TRUE(playsOn("nullA"));
  ASSERT_TRUE(keepsPlaying());

  const auto b = idOf("nullB");
  ASSERT_TRUE(b);
  EXPECT_TRUE(router->selectOutputDevice(*b));
  EXPECT_TRUE(playsOn("nullB"));
  EXPECT_TRUE(module->Playing());
  EXPECT_TRUE(keepsPlaying());
  EXPECT_EQ(router->currentOutputDeviceID(), b);
  EXPECT_EQ(daemon.defaultSink(), "nullA");  // the system default stays
  EXPECT_EQ(transport.oddPlayed, 0);
  EXPECT_TRUE(logged("[AudioDevice] initialized — custom call audio device in use"));
}

TEST_F(CallAudioIntegration, TheCallFollowsANewSinkAndFallsBackWhenItGoes) {
  startPlayout();
  ASSERT_TRUE(playsOn("nullA"));
  router->startAutoSwitching();

  const auto sinkModule = daemon.loadNullSink("nullC");
  ASSERT_TRUE(sinkModule);
  EXPECT_TRUE(playsOn("nullC"));
  EXPECT_TRUE(keepsPlaying());
  EXPECT_EQ(device->outputDeviceID(), idOf("nullC"));

  EXPECT_TRUE(logged("[AudioRouter] new output device connected → switching"));

  ASSERT_TRUE(daemon.unloadModule(*sinkModule));
  EXPECT_TRUE(waitFor([&] { return device->outputDeviceID() == idOf("nullA"); }));
  EXPECT_TRUE(logged("[AudioRouter] call output device removed → back to the default output"));
  EXPECT_TRUE(playsOn("nullA"));
  EXPECT_TRUE(keepsPlaying());
  EXPECT_TRUE(device->isPlaying());
  router->stopAutoSwitching();
}

TEST_F(CallAudioIntegration, OutsideACallAChoiceChangesTheDefaultSink) {
  module->Terminate();  // no call: the router sets the system default
  const auto b = idOf("nullB");
  ASSERT_TRUE(b);
  EXPECT_TRUE(router->selectOutputDevice(*b));
  EXPECT_EQ(daemon.defaultSink(), "nullB");
  queue.advance(0.3);
  EXPECT_TRUE(logged("[AudioRouter] readback 0.3s later — system default is now nullB (id=" + std::to_string(*b) +
                     ") — matches requested: true"));
}

TEST_F(CallAudioIntegration, CaptureFromASinkMonitorDelivers10msMonoChunks) {
  // What the call plays on nullA comes back through its monitor, the
  // default source of this daemon.
  startPlayout();
  ASSERT_EQ(module->InitRecording(), 0);
  ASSERT_EQ(module->StartRecording(), 0);
  const double rate = device->deviceInputSampleRate();
  EXPECT_EQ(hardware.nominalSampleRate(device->inputDeviceID()), rate);
  EXPECT_TRUE(waitFor([&] {
    std::lock_guard guard(transport.mutex);
    return transport.recorded >= 50 && transport.loudest > kTone / 2;
  }));
  std::lock_guard guard(transport.mutex);
  EXPECT_EQ(transport.oddRecorded, 0);
  EXPECT_EQ(transport.captureRate, static_cast<uint32_t>(rate));
  EXPECT_TRUE(logged("[AudioDevice] recording ready on 'Monitor of nullA' at " +
                     std::to_string(static_cast<int>(rate)) + " Hz"));
}

}  // namespace
}  // namespace orvik

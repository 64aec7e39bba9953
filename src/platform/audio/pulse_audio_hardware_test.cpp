#include "platform/audio/pulse_audio_hardware.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <chrono>
#include <functional>
#include <thread>

#include "platform/dispatch/virtual_queue.h"
#include "platform/test_support/pulse_daemon.h"
#include "platform/test_support/wait_for.h"

namespace orvik::platform {
namespace {

TEST(PulseTransportType, ComesFromBusPortAndClass) {
  using Props = std::map<std::string, std::string>;
  struct Case {
    Props properties;
    std::string port;
    bool hardware;
    AudioTransportType expected;
  };
  const std::vector<Case> cases = {
      {{{"device.bus", "usb"}}, "analog-output", true, AudioTransportType::usb},
      {{{"device.bus", "bluetooth"}}, "headset-output", true, AudioTransportType::bluetooth},
      {{{"device.bus", "pci"}}, "hdmi-output-0 HDMI / DisplayPort", true, AudioTransportType::displayPort},
      {{{"device.bus", "pci"}}, "hdmi-output-1 HDMI 2", true, AudioTransportType::hdmi},
      {{{"device.bus", "pci"}}, "analog-output-speaker Speakers", true, AudioTransportType::builtIn},
      {{{"device.bus", "pci"}}, "iec958-stereo-output Digital", true, AudioTransportType::pci},
      {{{"device.form_factor", "internal"}}, "", true, AudioTransportType::builtIn},
      {{{"device.bus", "firewire"}}, "", true, AudioTransportType::fireWire},
      {{{"device.bus", "thunderbolt"}}, "", true, AudioTransportType::thunderbolt},
      {{{"raop.ip", "127.0.0.1"}}, "", false, AudioTransportType::airPlay},
      {{{"device.class", "abstract"}}, "", false, AudioTransportType::virtualDevice},
      {{{"device.class", "filter"}}, "", true, AudioTransportType::virtualDevice},
      {{}, "", false, AudioTransportType::virtualDevice},
      {{}, "", true, AudioTransportType::unknown},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.port);
    EXPECT_EQ(pulseTransportType(c.properties, c.port, c.hardware), c.expected);
  }
}

TEST(PulseAudioHardwareWithoutServer, AnswersNothingAndMakesNoUnits) {
  PulseAudioHardware hardware("unix:/nonexistent/orvik/native");
  EXPECT_FALSE(hardware.isConnected());
  EXPECT_EQ(hardware.deviceIds(), std::nullopt);
  EXPECT_EQ(hardware.defaultOutputDevice(), std::nullopt);
  EXPECT_EQ(hardware.deviceName(1), std::nullopt);
  EXPECT_EQ(hardware.makeUnit(), nullptr);
  EXPECT_NE(hardware.setDefaultOutputDevice(1), kAudioOk);
}

class PulseAudioHardwareIntegration : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(daemon.isRunning()) << "pulseaudio did not start"; }

  // Waits for something a real daemon does, running the main queue meanwhile.
  bool waitFor(const std::function<bool()>& done) {
    return testing::waitFor(done, [this] { queue.runUntilIdle(); });
  }

  std::optional<AudioDeviceId> idOf(const std::string& uid) {
    for (AudioDeviceId id : hardware.deviceIds().value_or(std::vector<AudioDeviceId>{})) {
      if (hardware.deviceUID(id) == uid) return id;
    }
    return std::nullopt;
  }

  VirtualQueue queue;
  ScopedMainQueue mainQueue{queue};
  testing::PulseDaemon daemon;
  PulseAudioHardware hardware{daemon.server()};
};

TEST_F(PulseAudioHardwareIntegration, ListsNullSinksAndTheirMonitors) {
  const auto a = idOf("nullA");
  const auto b = idOf("nullB");
  const auto monitor = idOf("nullA.monitor");
  ASSERT_TRUE(a && b && monitor);
  EXPECT_EQ(hardware.deviceName(*a), "nullA");
  EXPECT_EQ(hardware.streamChannels(*a, AudioScope::output), std::vector<std::uint32_t>{2});
  EXPECT_EQ(hardware.streamChannels(*a, AudioScope::input), std::vector<std::uint32_t>{});
  EXPECT_EQ(hardware.streamChannels(*monitor, AudioScope::output), std::vector<std::uint32_t>{});
  EXPECT_EQ(hardware.transportType(*a), AudioTransportType::virtualDevice);
  EXPECT_EQ(hardware.isAlive(*a), true);
  EXPECT_GT(hardware.nominalSampleRate(*a).value_or(0), 0);
  EXPECT_EQ(hardware.defaultOutputDevice(), a);
  EXPECT_EQ(hardware.defaultInputDevice(), monitor);
}

TEST_F(PulseAudioHardwareIntegration, SetsTheDefaultSink) {
  const auto b = idOf("nullB");
  ASSERT_TRUE(b);
  EXPECT_EQ(hardware.setDefaultOutputDevice(*b), kAudioOk);
  EXPECT_EQ(daemon.defaultSink(), "nullB");
  EXPECT_EQ(hardware.defaultOutputDevice(), b);
  EXPECT_NE(hardware.setDefaultOutputDevice(*idOf("nullA.monitor")), kAudioOk);  // a source is no output
}

TEST_F(PulseAudioHardwareIntegration, ListenersHearSinksComeAndGo) {
  int notices = 0;
  hardware.addDeviceListListener([&] { ++notices; });
  const auto module = daemon.loadNullSink("nullC");
  ASSERT_TRUE(module);
  ASSERT_TRUE(waitFor([&] { return notices > 0; }));
  const auto c = idOf("nullC");
  ASSERT_TRUE(c);
  const int afterAdd = notices;
  ASSERT_TRUE(daemon.unloadModule(*module));
  ASSERT_TRUE(waitFor([&] { return notices > afterAdd; }));
  EXPECT_EQ(idOf("nullC"), std::nullopt);
  EXPECT_EQ(hardware.isAlive(*c), std::nullopt);
  auto unit = hardware.makeUnit();
  EXPECT_NE(unit->setDevice(*c), kAudioOk);
}

TEST_F(PulseAudioHardwareIntegration, AnOutputUnitPlays10msSlicesOnItsSink) {
  const auto b = idOf("nullB");
  ASSERT_TRUE(b);
  std::atomic<int> slices{0};
  std::atomic<int> oddSlices{0};
  auto unit = hardware.makeUnit();
  ASSERT_NE(unit, nullptr);
  ASSERT_EQ(unit->enableIO(AudioScope::output, true), kAudioOk);
  ASSERT_EQ(unit->setDevice(*b), kAudioOk);
  ASSERT_EQ(unit->setClientFormat({48000.0, 2}), kAudioOk);
  ASSERT_EQ(unit->setRenderCallback([&](AudioRenderFlags&, std::uint64_t, std::uint32_t frames, AudioBufferList* list) {
    if (frames != 480 || list->buffers[0].byteSize != 480 * 4) ++oddSlices;
    std::memset(list->buffers[0].data, 0, list->buffers[0].byteSize);
    ++slices;
    return kAudioOk;
  }), kAudioOk);
  ASSERT_EQ(unit->initialize(), kAudioOk);
  EXPECT_EQ(unit->currentDevice(), b);
  EXPECT_EQ(slices, 0);  // nothing is asked of a unit that has not started

  ASSERT_EQ(unit->start(), kAudioOk);
  EXPECT_TRUE(waitFor([&] { return slices >= 20; }));
  EXPECT_EQ(oddSlices, 0);
  EXPECT_EQ(daemon.sinksWithStreams(), std::vector<std::string>{"nullB"});

  ASSERT_EQ(unit->stop(), kAudioOk);
  const int stopped = slices;
  unit.reset();
  EXPECT_EQ(slices, stopped);
  EXPECT_TRUE(daemon.sinksWithStreams().empty());
}

TEST_F(PulseAudioHardwareIntegration, AnInputUnitDelivers10msSlicesFromAMonitor) {
  const auto monitor = idOf("nullA.monitor");
  ASSERT_TRUE(monitor);
  auto unit = hardware.makeUnit();
  ASSERT_EQ(unit->enableIO(AudioScope::input, true), kAudioOk);
  ASSERT_EQ(unit->setDevice(*monitor), kAudioOk);
  AudioStreamFormat deviceFormat;
  ASSERT_EQ(unit->readDeviceFormat(deviceFormat), kAudioOk);
  ASSERT_GT(deviceFormat.sampleRate, 0);
  const auto expectedFrames = static_cast<std::uint32_t>(deviceFormat.sampleRate / 100);
  ASSERT_EQ(unit->setClientFormat({deviceFormat.sampleRate, 1}), kAudioOk);
  std::atomic<int> slices{0};
  std::atomic<int> oddSlices{0};
  std::vector<std::int16_t> buffer(4096);
  AudioUnit* raw = unit.get();
  ASSERT_EQ(unit->setInputCallback([&](AudioRenderFlags& flags, std::uint64_t time, std::uint32_t frames) {
    AudioBuffer target{1, static_cast<std::uint32_t>(buffer.size() * 2), buffer.data()};
    AudioBufferList list{1, &target};
    if (frames != expectedFrames || raw->render(flags, time, frames, &list) != kAudioOk) ++oddSlices;
    ++slices;
    return kAudioOk;
  }), kAudioOk);
  ASSERT_EQ(unit->initialize(), kAudioOk);
  ASSERT_EQ(unit->start(), kAudioOk);
  EXPECT_TRUE(waitFor([&] { return slices >= 20; }));
  EXPECT_EQ(oddSlices, 0);
}

}  // namespace
}  // namespace orvik::platform

#include "calls/media/call_audio_router.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "calls/media/call_audio_device.h"
#include "platform/audio/fake_audio_hardware.h"
#include "platform/dispatch/virtual_queue.h"

namespace orvik {
namespace {

using platform::AudioTransportType;
using platform::FakeAudioDevice;

constexpr platform::AudioDeviceId kSpeakers = 1;
constexpr platform::AudioDeviceId kHeadphones = 2;
constexpr platform::AudioDeviceId kMic = 10;

class NullDelegate final : public CallAudioDeviceDelegate {
 public:
  platform::AudioStatus getPlayoutData(platform::AudioRenderFlags&, std::uint64_t, std::uint32_t,
                                       platform::AudioBufferList*) override {
    return platform::kAudioOk;
  }
  platform::AudioStatus deliverRecordedData(platform::AudioRenderFlags&, std::uint64_t, std::uint32_t,
                                            const platform::AudioBufferList*) override {
    return platform::kAudioOk;
  }
  void notifyAudioOutputInterrupted() override {}
  void notifyAudioOutputParametersChange() override {}
};

class CallAudioRouterTest : public ::testing::Test {
 protected:
  CallAudioRouterTest() {
    hardware.addDevice(FakeAudioDevice::output(kSpeakers, "Speakers", AudioTransportType::builtIn), false);
    hardware.addDevice(FakeAudioDevice::output(kHeadphones, "Headphones", AudioTransportType::usb), false);
    hardware.addDevice(FakeAudioDevice::input(kMic, "Mic"), false);
    hardware.setDefaultOutput(kSpeakers);
    hardware.setDefaultInput(kMic);
    router = CallAudioRouter::create(
        hardware, [this] { return callDevice; }, [this](const std::string& line) { lines.push_back(line); });
  }

  // A call whose audio device WebRTC took into use and, optionally, plays.
  void startCall(bool playing = true) {
    callDevice = std::make_shared<CallAudioDevice>(hardware, [](const std::string&) {});
    ASSERT_TRUE(callDevice->initializeWithDelegate(&delegate));
    if (!playing) return;
    ASSERT_TRUE(callDevice->initializePlayout());
    ASSERT_TRUE(callDevice->startPlayout());
  }

  platform::AudioDeviceId playingOn() const {
    auto* unit = hardware.runningUnit(platform::AudioScope::output);
    return unit ? unit->device() : platform::kNoAudioDevice;
  }

  platform::VirtualQueue queue;
  platform::ScopedMainQueue mainQueue{queue};
  platform::FakeAudioHardware hardware;
  NullDelegate delegate;
  std::shared_ptr<CallAudioDevice> callDevice;
  std::vector<std::string> lines;
  std::shared_ptr<CallAudioRouter> router;
};

TEST(CallAudioRouterLabels, EachTransportHasItsLabel) {
  const std::vector<std::pair<std::optional<AudioTransportType>, std::optional<std::string>>> cases = {
      {AudioTransportType::builtIn, "Built-in"},   {AudioTransportType::usb, "USB"},
      {AudioTransportType::bluetooth, "Bluetooth"}, {AudioTransportType::bluetoothLE, "Bluetooth"},
      {AudioTransportType::hdmi, "HDMI"},           {AudioTransportType::displayPort, "DisplayPort"},
      {AudioTransportType::airPlay, "AirPlay"},     {AudioTransportType::thunderbolt, "Thunderbolt"},
      {AudioTransportType::virtualDevice, "Virtual"}, {AudioTransportType::aggregate, "Virtual"},
      {AudioTransportType::pci, std::nullopt},      {AudioTransportType::fireWire, std::nullopt},
      {AudioTransportType::unknown, std::nullopt},  {std::nullopt, std::nullopt},
  };
  for (const auto& [type, label] : cases) EXPECT_EQ(CallAudioRouter::transportLabel(type), label);
}

TEST_F(CallAudioRouterTest, ListsNamedOutputDevicesInOrderWithDisplayNames) {
  hardware.addDevice(FakeAudioDevice::output(3, "Headset", AudioTransportType::usb), false);
  hardware.addDevice(FakeAudioDevice::output(4, "Headset", AudioTransportType::bluetooth), false);
  hardware.addDevice(FakeAudioDevice::output(5, "Headset"), false);  // no label
  auto silent = FakeAudioDevice::output(6, "Silent");
  silent.outputChannels = std::vector<std::uint32_t>{0, 0};
  hardware.addDevice(silent, false);
  auto unnamed = FakeAudioDevice::output(7, "");
  hardware.addDevice(unnamed, false);
  auto unreadable = FakeAudioDevice::output(8, "x");
  unreadable.name = std::nullopt;
  hardware.addDevice(unreadable, false);
  auto noConfig = FakeAudioDevice::output(9, "NoConfig");
  noConfig.outputChannels = std::nullopt;
  hardware.addDevice(noConfig, false);
  hardware.addDevice(FakeAudioDevice::output(11, "Aggregate", AudioTransportType::aggregate), false);

  const auto devices = router->outputDevices();
  std::vector<std::string> shown;
  for (const auto& device : devices) shown.push_back(CallAudioRouter::displayName(device, devices));
  EXPECT_EQ(shown, (std::vector<std::string>{"Speakers", "Headphones", "Headset (USB)", "Headset (Bluetooth)",
                                             "Headset", "Aggregate"}));
  EXPECT_EQ(devices[0], (AudioOutputDevice{kSpeakers, "Speakers", "Built-in"}));
  EXPECT_EQ(devices[4].transportLabel, std::nullopt);
  EXPECT_NE(devices[2], devices[3]);

  hardware.setDeviceListReadable(false);
  EXPECT_TRUE(router->outputDevices().empty());
}

TEST_F(CallAudioRouterTest, CurrentOutputIsTheCallsPlayoutElseTheDefault) {
  EXPECT_EQ(router->currentOutputDeviceID(), kSpeakers);
  startCall(false);
  EXPECT_EQ(router->currentOutputDeviceID(), kSpeakers);  // taken into use, no playout yet
  hardware.setDefaultOutput(kHeadphones);
  EXPECT_EQ(router->currentOutputDeviceID(), kHeadphones);
  ASSERT_TRUE(callDevice->initializePlayout());
  hardware.setDefaultOutput(kSpeakers);
  ASSERT_TRUE(callDevice->switchOutputDevice(kHeadphones));
  EXPECT_EQ(router->currentOutputDeviceID(), kHeadphones);
  callDevice.reset();
  hardware.setDefaultOutput(std::nullopt);
  EXPECT_EQ(router->currentOutputDeviceID(), std::nullopt);
}

TEST_F(CallAudioRouterTest, DuringACallAChoiceMovesOnlyTheCallsPlayout) {
  startCall();
  int changes = 0;
  router->onDevicesChanged = [&] { ++changes; };
  EXPECT_TRUE(router->selectOutputDevice(kHeadphones));
  EXPECT_EQ(playingOn(), kHeadphones);
  EXPECT_EQ(hardware.defaultOutputDevice(), kSpeakers);
  EXPECT_TRUE(hardware.setDefaultRequests().empty());
  EXPECT_EQ(changes, 0);  // told on the main queue, after the switch
  queue.runUntilIdle();
  EXPECT_EQ(changes, 1);
  EXPECT_TRUE(lines.empty());
}

TEST_F(CallAudioRouterTest, BeforePlayoutAChoiceOnlyWaitsForIt) {
  startCall(false);
  EXPECT_TRUE(router->selectOutputDevice(kHeadphones));
  EXPECT_EQ(hardware.unitsMade(), 0);
  EXPECT_TRUE(hardware.setDefaultRequests().empty());
  ASSERT_TRUE(callDevice->initializePlayout());
  EXPECT_EQ(callDevice->outputDeviceID(), kHeadphones);
}

TEST_F(CallAudioRouterTest, OutsideACallAChoiceSetsTheDefaultAndReadsItBack) {
  EXPECT_TRUE(router->selectOutputDevice(kHeadphones));
  EXPECT_EQ(hardware.defaultOutputDevice(), kHeadphones);
  EXPECT_EQ(lines, (std::vector<std::string>{"[AudioRouter] setDefaultOutputDevice OK → requested Headphones (id=2)"}));
  queue.advance(0.29);
  EXPECT_EQ(lines.size(), 1u);
  queue.advance(0.01);
  EXPECT_EQ(lines.back(),
            "[AudioRouter] readback 0.3s later — system default is now Headphones (id=2) — matches requested: true");

  // Something else changed the default meanwhile, then it vanished.
  EXPECT_TRUE(router->selectOutputDevice(kSpeakers));
  hardware.setDefaultOutput(std::nullopt);
  queue.advance(0.3);
  EXPECT_EQ(lines.back(),
            "[AudioRouter] readback 0.3s later — system default is now unknown (id=nil) — matches requested: false");
}

TEST_F(CallAudioRouterTest, ARefusedDefaultIsLoggedWithTheNameOrTheId) {
  hardware.setDefaultOutputFailure(-9);
  EXPECT_FALSE(router->selectOutputDevice(kHeadphones));
  EXPECT_FALSE(router->selectOutputDevice(42));
  EXPECT_EQ(lines, (std::vector<std::string>{
                       "[AudioRouter] setDefaultOutputDevice FAILED — requested Headphones (id=2) status=-9",
                       "[AudioRouter] setDefaultOutputDevice FAILED — requested 42 (id=42) status=-9",
                   }));
  queue.advance(1.0);
  EXPECT_EQ(lines.size(), 2u);  // no read-back after a refusal
}

TEST_F(CallAudioRouterTest, ReadBackNeverOutlivesTheRouter) {
  EXPECT_TRUE(router->selectOutputDevice(kHeadphones));
  router.reset();
  queue.advance(1.0);
  EXPECT_EQ(lines.size(), 1u);
}

TEST_F(CallAudioRouterTest, DuringAutoSwitchingTheCallFollowsDevicesComingAndGoing) {
  startCall();
  int changes = 0;
  router->onDevicesChanged = [&] { ++changes; };
  router->startAutoSwitching();
  router->startAutoSwitching();  // one listener only
  EXPECT_EQ(lines, (std::vector<std::string>{"[AudioRouter] auto-switch started (2 output devices)"}));
  EXPECT_EQ(router->knownOutputUIDs(), (std::set<std::string>{"uid-1", "uid-2"}));

  // Headphones plugged in.
  hardware.addDevice(FakeAudioDevice::output(3, "Headset", AudioTransportType::bluetooth));
  queue.runUntilIdle();
  EXPECT_EQ(playingOn(), 3u);
  EXPECT_EQ(lines.back(), "[AudioRouter] new output device connected → switching");
  EXPECT_EQ(hardware.defaultOutputDevice(), kSpeakers);

  // ... and pulled out: back to the default output.
  hardware.removeDevice(3);
  queue.runUntilIdle();
  EXPECT_EQ(playingOn(), kSpeakers);
  EXPECT_EQ(lines.back(), "[AudioRouter] call output device removed → back to the default output");
  EXPECT_EQ(changes, 2 + 2);  // each list change, and each live switch

  // A microphone coming changes nothing.
  const auto before = lines.size();
  hardware.addDevice(FakeAudioDevice::input(12, "USB Mic"));
  queue.runUntilIdle();
  EXPECT_EQ(lines.size(), before);
  EXPECT_EQ(playingOn(), kSpeakers);

  router->stopAutoSwitching();
  EXPECT_EQ(lines.back(), "[AudioRouter] auto-switch stopped");
  EXPECT_FALSE(router->isAutoSwitching());
  EXPECT_TRUE(router->knownOutputUIDs().empty());
  hardware.addDevice(FakeAudioDevice::output(4, "Dock", AudioTransportType::usb));
  queue.runUntilIdle();
  EXPECT_EQ(playingOn(), kSpeakers);
  EXPECT_EQ(lines.back(), "[AudioRouter] auto-switch stopped");
}

TEST_F(CallAudioRouterTest, ANoticeAlreadyQueuedWhenStoppedIsIgnored) {
  startCall();
  router->startAutoSwitching();
  hardware.addDevice(FakeAudioDevice::output(3, "Headset"));  // notice queued
  router->stopAutoSwitching();
  queue.runUntilIdle();
  EXPECT_EQ(playingOn(), kSpeakers);
}

TEST_F(CallAudioRouterTest, WithoutAPlayingCallARemovalChangesNothing) {
  router->startAutoSwitching();
  hardware.removeDevice(kHeadphones);
  queue.runUntilIdle();
  EXPECT_EQ(lines, (std::vector<std::string>{"[AudioRouter] auto-switch started (2 output devices)"}));
  EXPECT_TRUE(hardware.setDefaultRequests().empty());
}

TEST_F(CallAudioRouterTest, StopWithoutStartOnlyClearsTheFlag) {
  router->stopAutoSwitching();
  EXPECT_TRUE(lines.empty());
  EXPECT_FALSE(router->isAutoSwitching());
}

}  // namespace
}  // namespace orvik

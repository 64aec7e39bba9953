#include "calls/media/call_audio_device.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "calls/media/call_audio_device_slot.h"
#include "platform/audio/fake_audio_hardware.h"
#include "platform/dispatch/virtual_queue.h"
#include "platform/test_support/temp_dir.h"

namespace orvik {
namespace {

using platform::AudioBufferList;
using platform::AudioRenderFlags;
using platform::AudioScope;
using platform::AudioStatus;
using platform::AudioTransportType;
using platform::FakeAudioDevice;
using platform::kAudioOk;
using platform::kAudioOutputIsSilence;

constexpr std::int16_t kPlayoutSample = 0x0123;

// Stands in for WebRTC: plays a constant and records what it is given.
class RecordingDelegate final : public CallAudioDeviceDelegate {
 public:
  AudioStatus getPlayoutData(AudioRenderFlags&, std::uint64_t, std::uint32_t frames, AudioBufferList* list) override {
    ++playoutCalls;
    auto* out = static_cast<std::int16_t*>(list->buffers[0].data);
    for (std::uint32_t i = 0; i < frames * list->buffers[0].channels; ++i) out[i] = kPlayoutSample;
    return kAudioOk;
  }
  AudioStatus deliverRecordedData(AudioRenderFlags&, std::uint64_t, std::uint32_t frames,
                                  const AudioBufferList* list) override {
    const auto* in = static_cast<const std::int16_t*>(list->buffers[0].data);
    delivered.assign(in, in + frames);
    ++deliverCalls;
    return kAudioOk;
  }
  void notifyAudioOutputInterrupted() override { notices.push_back("interrupted"); }
  void notifyAudioOutputParametersChange() override { notices.push_back("parameters"); }

  int playoutCalls = 0;
  int deliverCalls = 0;
  std::vector<std::int16_t> delivered;
  std::vector<std::string> notices;
};

constexpr platform::AudioDeviceId kSpeakers = 1;
constexpr platform::AudioDeviceId kHeadphones = 2;
constexpr platform::AudioDeviceId kMic = 10;

// Speakers (default output), headphones and a 44.1 kHz microphone, with a
// device that logs into `lines`. Table cases make a fresh one each.
struct Rig {
  Rig() {
    hardware.addDevice(FakeAudioDevice::output(kSpeakers, "Speakers", AudioTransportType::builtIn), false);
    hardware.addDevice(FakeAudioDevice::output(kHeadphones, "Headphones", AudioTransportType::usb), false);
    hardware.addDevice(FakeAudioDevice::input(kMic, "Mic", 44100.0), false);
    hardware.setDefaultOutput(kSpeakers);
    hardware.setDefaultInput(kMic);
    device = std::make_shared<CallAudioDevice>(hardware, [this](const std::string& line) { lines.push_back(line); });
  }

  void startPlaying() {
    ASSERT_TRUE(device->initializeWithDelegate(&delegate));
    ASSERT_TRUE(device->initializePlayout());
    ASSERT_TRUE(device->startPlayout());
    lines.clear();
  }

  std::optional<AudioStatus> render(AudioRenderFlags& flags, std::vector<std::int16_t>& samples) {
    return hardware.renderOutput(480, samples, flags);
  }

  bool linesContain(const std::string& line) const { return std::find(lines.begin(), lines.end(), line) != lines.end(); }

  platform::FakeAudioHardware hardware;
  RecordingDelegate delegate;
  std::vector<std::string> lines;
  std::shared_ptr<CallAudioDevice> device;
};

class CallAudioDeviceTest : public ::testing::Test, public Rig {
 protected:
  platform::VirtualQueue queue;
  platform::ScopedMainQueue mainQueue{queue};
};

// Names the rig's parts as the fixture does, so table cases read alike.
#define FRESH_RIG()                 \
  Rig rig;                          \
  auto& hardware = rig.hardware;    \
  auto& device = rig.device;        \
  auto& lines = rig.lines;          \
  auto& delegate = rig.delegate;    \
  (void)delegate

TEST_F(CallAudioDeviceTest, PlayoutAndCaptureRunThroughTheirLifecycles) {
  EXPECT_TRUE(device->initializeWithDelegate(&delegate));
  EXPECT_TRUE(device->isInitialized());

  EXPECT_TRUE(device->initializePlayout());
  EXPECT_TRUE(device->initializePlayout());  // the second call makes no second unit
  EXPECT_EQ(hardware.unitsMade(), 1);
  auto* unit = hardware.newestUnit(AudioScope::output);
  ASSERT_NE(unit, nullptr);
  EXPECT_EQ(unit->device(), kSpeakers);
  EXPECT_EQ(unit->clientFormat().sampleRate, 48000.0);
  EXPECT_EQ(unit->clientFormat().channels, 2u);
  EXPECT_EQ(unit->maxFrames(), 4096u);
  EXPECT_FALSE(unit->isRunning());

  EXPECT_TRUE(device->startPlayout());
  EXPECT_TRUE(device->isPlaying());
  AudioRenderFlags flags = 0;
  std::vector<std::int16_t> samples;
  EXPECT_EQ(render(flags, samples), kAudioOk);
  EXPECT_EQ(flags & kAudioOutputIsSilence, 0u);
  EXPECT_EQ(samples, std::vector<std::int16_t>(960, kPlayoutSample));

  EXPECT_TRUE(device->initializeRecording());
  EXPECT_EQ(device->deviceInputSampleRate(), 44100.0);
  EXPECT_EQ(hardware.newestUnit(AudioScope::input)->clientFormat().channels, 1u);
  EXPECT_TRUE(device->startRecording());
  std::vector<std::int16_t> slice(441);
  for (std::size_t i = 0; i < slice.size(); ++i) slice[i] = static_cast<std::int16_t>(i);
  EXPECT_EQ(hardware.captureInput(slice), kAudioOk);
  EXPECT_EQ(delegate.delivered, slice);

  EXPECT_TRUE(device->stopPlayout());
  EXPECT_TRUE(device->stopRecording());
  EXPECT_FALSE(device->isPlayoutInitialized());
  EXPECT_FALSE(device->isRecordingInitialized());
  EXPECT_TRUE(hardware.liveUnits().empty());
  // Stopping threw the unit away: starting again needs a new initialise.
  EXPECT_FALSE(device->startPlayout());
  EXPECT_FALSE(device->startRecording());

  EXPECT_EQ(lines, (std::vector<std::string>{
                       "[AudioDevice] initialized — custom call audio device in use",
                       "[AudioDevice] playout ready on 'Speakers' (id=1)",
                       "[AudioDevice] recording ready on 'Mic' at 44100 Hz",
                   }));
}

TEST_F(CallAudioDeviceTest, RenderGivesFlaggedSilenceWhileNotPlayingOrWithoutDelegate) {
  ASSERT_TRUE(device->initializeWithDelegate(&delegate));
  ASSERT_TRUE(device->initializePlayout());  // not started
  AudioRenderFlags flags = 0;
  std::vector<std::int16_t> samples;
  EXPECT_EQ(render(flags, samples), kAudioOk);
  EXPECT_EQ(samples, std::vector<std::int16_t>(960, 0));
  EXPECT_NE(flags & kAudioOutputIsSilence, 0u);

  ASSERT_TRUE(device->initializeWithDelegate(nullptr));
  ASSERT_TRUE(device->startPlayout());
  flags = 0;
  EXPECT_EQ(render(flags, samples), kAudioOk);
  EXPECT_EQ(samples, std::vector<std::int16_t>(960, 0));
  EXPECT_NE(flags & kAudioOutputIsSilence, 0u);
  EXPECT_EQ(delegate.playoutCalls, 0);
}

TEST_F(CallAudioDeviceTest, CaptureDropsOversizedAndUnwantedSlices) {
  ASSERT_TRUE(device->initializeWithDelegate(&delegate));
  ASSERT_TRUE(device->initializeRecording());
  EXPECT_EQ(hardware.captureInput(std::vector<std::int16_t>(480, 7)), kAudioOk);  // not recording yet
  EXPECT_EQ(delegate.deliverCalls, 0);

  ASSERT_TRUE(device->startRecording());
  EXPECT_EQ(hardware.captureInput(std::vector<std::int16_t>(4097, 7)), kAudioOk);
  EXPECT_EQ(delegate.deliverCalls, 0);
  EXPECT_EQ(hardware.captureInput(std::vector<std::int16_t>(4096, 7)), kAudioOk);
  EXPECT_EQ(delegate.deliverCalls, 1);
  EXPECT_EQ(delegate.delivered.size(), 4096u);

  hardware.failOn("render", -77);
  EXPECT_EQ(hardware.captureInput(std::vector<std::int16_t>(480, 7)), -77);
  EXPECT_EQ(delegate.deliverCalls, 1);
}

TEST_F(CallAudioDeviceTest, InputDeviceWithoutARateIsCapturedAt48kHz) {
  hardware.device(kMic)->deviceFormatRate = 0.0;
  ASSERT_TRUE(device->initializeRecording());
  EXPECT_EQ(device->deviceInputSampleRate(), 48000.0);
  EXPECT_EQ(hardware.newestUnit(AudioScope::input)->clientFormat().sampleRate, 48000.0);
  EXPECT_TRUE(linesContain("[AudioDevice] recording ready on 'Mic' at 48000 Hz"));
}

TEST_F(CallAudioDeviceTest, PlayoutOpensTheRequestedDeviceOnlyWhileItIsAlive) {
  struct Case {
    const char* name;
    std::function<void(platform::FakeAudioHardware&)> arrange;
    std::optional<platform::AudioDeviceId> expected;  // nothing: initializePlayout fails
  };
  const std::vector<Case> cases = {
      {"requested and alive", [](auto&) {}, kHeadphones},
      {"requested but dead", [](auto& hw) { hw.device(kHeadphones)->alive = false; }, kSpeakers},
      {"requested but unreadable", [](auto& hw) { hw.device(kHeadphones)->alive = std::nullopt; }, kSpeakers},
      {"requested but gone", [](auto& hw) { hw.removeDevice(kHeadphones, false); }, kSpeakers},
      {"gone and no default", [](auto& hw) { hw.removeDevice(kHeadphones, false); hw.setDefaultOutput(std::nullopt); },
       std::nullopt},
      {"gone and default 0", [](auto& hw) { hw.removeDevice(kHeadphones, false); hw.setDefaultOutput(0); },
       std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FRESH_RIG();
    // Before playout is initialised a switch only records the choice.
    EXPECT_TRUE(device->switchOutputDevice(kHeadphones));
    EXPECT_EQ(hardware.unitsMade(), 0);
    EXPECT_EQ(device->requestedOutputDeviceID(), kHeadphones);
    c.arrange(hardware);
    EXPECT_EQ(device->initializePlayout(), c.expected.has_value());
    EXPECT_EQ(device->outputDeviceID(), c.expected.value_or(0));
    if (!c.expected) {
      EXPECT_EQ(lines.back(), "[AudioDevice] ⚠️ initializePlayout FAILED — no output unit");
    }
  }
}

TEST_F(CallAudioDeviceTest, AFailedUnitStepIsNamedAndTheUnitDisposed) {
  struct Case {
    const char* call;
    bool output;
    const char* step;
  };
  const std::vector<Case> cases = {
      {"enableIO", true, "enable output"},          {"setDevice", true, "device"},
      {"setClientFormat", true, "format"},          {"setMaxFramesPerSlice", true, "max frames"},
      {"setRenderCallback", true, "callback"},      {"initialize", true, "initialize"},
      {"enableIO", false, "enable input"},          {"setDevice", false, "device"},
      {"readDeviceFormat", false, "read device format"}, {"setClientFormat", false, "format"},
      {"setMaxFramesPerSlice", false, "max frames"}, {"setInputCallback", false, "callback"},
      {"initialize", false, "initialize"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.call) + (c.output ? " output" : " input"));
    FRESH_RIG();
    hardware.failOn(c.call, -50);
    const bool ok = c.output ? device->initializePlayout() : device->initializeRecording();
    EXPECT_FALSE(ok);
    const std::string name = c.output ? "Speakers" : "Mic";
    const std::string kind = c.output ? "output" : "input";
    const std::string what = c.output ? "initializePlayout" : "initializeRecording";
    EXPECT_EQ(lines, (std::vector<std::string>{
                         "[AudioDevice] ⚠️ " + kind + " unit '" + name + "' failed at " + c.step + " status=-50",
                         "[AudioDevice] ⚠️ " + what + " FAILED — no " + kind + " unit",
                     }));
    EXPECT_EQ(hardware.unitsDisposed(), hardware.unitsMade());
  }
}

TEST_F(CallAudioDeviceTest, NoUnitAtAllFailsWithoutAStepLine) {
  hardware.setCanMakeUnits(false);
  EXPECT_FALSE(device->initializePlayout());
  EXPECT_FALSE(device->initializeRecording());
  EXPECT_EQ(lines, (std::vector<std::string>{
                       "[AudioDevice] ⚠️ initializePlayout FAILED — no output unit",
                       "[AudioDevice] ⚠️ initializeRecording FAILED — no input unit",
                   }));
}

TEST_F(CallAudioDeviceTest, AStartThatFailsClearsTheRunningFlag) {
  hardware.failOn("start", -5);
  ASSERT_TRUE(device->initializePlayout());
  ASSERT_TRUE(device->initializeRecording());
  EXPECT_FALSE(device->startPlayout());
  EXPECT_FALSE(device->isPlaying());
  EXPECT_FALSE(device->startRecording());
  EXPECT_FALSE(device->isRecording());
  EXPECT_TRUE(linesContain("[AudioDevice] ⚠️ startPlayout FAILED status=-5"));
  EXPECT_TRUE(linesContain("[AudioDevice] ⚠️ startRecording FAILED status=-5"));
}

TEST_F(CallAudioDeviceTest, SwitchMovesRunningPlayoutToTheNewDevice) {
  hardware.device(kHeadphones)->latencyFrames = 480;
  hardware.device(kHeadphones)->bufferFrames = 480;
  startPlaying();

  EXPECT_TRUE(device->switchOutputDevice(kHeadphones));
  EXPECT_EQ(device->outputDeviceID(), kHeadphones);
  EXPECT_TRUE(device->isPlaying());
  auto* running = hardware.runningUnit(AudioScope::output);
  ASSERT_NE(running, nullptr);
  EXPECT_EQ(running->device(), kHeadphones);
  EXPECT_EQ(hardware.liveUnits().size(), 1u);  // the old unit is gone
  EXPECT_EQ(lines, (std::vector<std::string>{
                       "[AudioDevice] output switched 'Speakers' → 'Headphones' (playing=true, latency=20 ms)"}));
  EXPECT_EQ(delegate.notices, (std::vector<std::string>{"interrupted", "parameters"}));

  // WebRTC keeps feeding the same delegate: nothing was restarted.
  AudioRenderFlags flags = 0;
  std::vector<std::int16_t> samples;
  EXPECT_EQ(render(flags, samples), kAudioOk);
  EXPECT_EQ(samples.front(), kPlayoutSample);
}

TEST_F(CallAudioDeviceTest, SwitchToTheSameDeviceOrADeadOneChangesNothing) {
  startPlaying();
  EXPECT_TRUE(device->switchOutputDevice(kSpeakers));
  EXPECT_EQ(hardware.unitsMade(), 1);
  EXPECT_TRUE(lines.empty());

  hardware.device(kHeadphones)->alive = false;
  EXPECT_FALSE(device->switchOutputDevice(kHeadphones));
  EXPECT_EQ(lines, (std::vector<std::string>{"[AudioDevice] switch skipped — 'Headphones' is not alive"}));
  EXPECT_EQ(device->outputDeviceID(), kSpeakers);
  EXPECT_TRUE(device->isPlaying());
  EXPECT_TRUE(delegate.notices.empty());
}

TEST_F(CallAudioDeviceTest, SwitchFallsBackToTheOldDeviceWhenTheNewOneFails) {
  struct Case {
    const char* name;
    std::function<void(platform::FakeAudioHardware&)> arrange;
  };
  const std::vector<Case> cases = {
      {"no unit on the new device", [](auto& hw) { hw.failOn("initialize", -3, kHeadphones); }},
      {"the unit lands elsewhere", [](auto& hw) { hw.redirect(kHeadphones, kSpeakers); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FRESH_RIG();
    rig.startPlaying();
    c.arrange(hardware);
    EXPECT_FALSE(device->switchOutputDevice(kHeadphones));
    EXPECT_EQ(device->outputDeviceID(), kSpeakers);
    EXPECT_TRUE(device->isPlaying());
    ASSERT_NE(hardware.runningUnit(AudioScope::output), nullptr);
    EXPECT_EQ(lines.back(),
              "[AudioDevice] output switch FAILED, kept 'Speakers' → 'Speakers' (playing=true, latency=10 ms)");
    EXPECT_EQ(delegate.notices, (std::vector<std::string>{"interrupted", "parameters"}));
  }
}

TEST_F(CallAudioDeviceTest, SwitchWithoutAnyUnitLeavesNothingToDisposeTwice) {
  startPlaying();
  hardware.failOn("initialize", -3);
  EXPECT_FALSE(device->switchOutputDevice(kHeadphones));
  EXPECT_EQ(lines.back(), "[AudioDevice] ⚠️ switch FAILED — no output unit for new or old device");
  EXPECT_FALSE(device->isPlayoutInitialized());
  EXPECT_FALSE(device->isPlaying());
  EXPECT_EQ(device->outputDeviceID(), 0u);
  EXPECT_EQ(delegate.notices, (std::vector<std::string>{"interrupted", "parameters"}));
  EXPECT_TRUE(hardware.liveUnits().empty());
  const int disposed = hardware.unitsDisposed();

  // Neither stopping nor terminating touches a unit that is already gone.
  EXPECT_TRUE(device->stopPlayout());
  EXPECT_TRUE(device->terminateDevice());
  EXPECT_EQ(hardware.unitsDisposed(), disposed);
  EXPECT_EQ(hardware.unitsDisposed(), hardware.unitsMade());

  // The device recovers: a new initialise opens the requested device.
  hardware.clearFailures();
  ASSERT_TRUE(device->initializeWithDelegate(&delegate));
  EXPECT_TRUE(device->initializePlayout());
  EXPECT_EQ(device->outputDeviceID(), kHeadphones);
}

TEST_F(CallAudioDeviceTest, SwitchBeforeStartKeepsTheNewUnitStopped) {
  ASSERT_TRUE(device->initializeWithDelegate(&delegate));
  ASSERT_TRUE(device->initializePlayout());
  lines.clear();
  EXPECT_TRUE(device->switchOutputDevice(kHeadphones));
  EXPECT_FALSE(device->isPlaying());
  EXPECT_EQ(hardware.runningUnit(AudioScope::output), nullptr);
  EXPECT_EQ(lines, (std::vector<std::string>{
                       "[AudioDevice] output switched 'Speakers' → 'Headphones' (playing=false, latency=10 ms)"}));
  // A later start plays on the new device.
  EXPECT_TRUE(device->startPlayout());
  EXPECT_EQ(hardware.runningUnit(AudioScope::output)->device(), kHeadphones);
}

TEST_F(CallAudioDeviceTest, TerminateReleasesEverythingAndTheCurrentReference) {
  CallAudioDeviceSlot slot;
  slot.publish(device);
  startPlaying();
  ASSERT_TRUE(device->initializeRecording());
  ASSERT_TRUE(device->startRecording());
  ASSERT_TRUE(device->switchOutputDevice(kHeadphones));

  EXPECT_TRUE(device->terminateDevice());
  EXPECT_FALSE(device->isInitialized());
  EXPECT_FALSE(device->isPlaying());
  EXPECT_FALSE(device->isRecording());
  EXPECT_FALSE(device->isPlayoutInitialized());
  EXPECT_FALSE(device->isRecordingInitialized());
  EXPECT_TRUE(hardware.liveUnits().empty());
  EXPECT_EQ(slot.current(), nullptr);
  EXPECT_EQ(lines.back(), "[AudioDevice] terminated");
  // The requested output outlives terminate.
  EXPECT_EQ(device->requestedOutputDeviceID(), kHeadphones);

  // Terminating another device leaves the current one alone.
  ASSERT_TRUE(device->initializeWithDelegate(&delegate));
  EXPECT_EQ(slot.current(), device);
  auto other = std::make_shared<CallAudioDevice>(hardware, [](const std::string&) {});
  other->terminateDevice();
  EXPECT_EQ(slot.current(), device);
  // A newer call's device replaces it.
  slot.publish(other);
  ASSERT_TRUE(other->initializeWithDelegate(&delegate));
  EXPECT_EQ(slot.current(), other);
}

TEST_F(CallAudioDeviceTest, TheSlotsFactoryPublishesEachDeviceItMakesAndHoldsItWeakly) {
  CallAudioDeviceSlot slot;
  auto make = slot.publishingFactory(hardware);
  auto first = make();
  EXPECT_EQ(slot.current(), first);
  auto second = make();
  EXPECT_NE(second, first);
  EXPECT_EQ(slot.current(), second);
  second.reset();
  EXPECT_EQ(slot.current(), nullptr);
}

TEST_F(CallAudioDeviceTest, QueriesFallBackToSafeValues) {
  auto& mic = *hardware.device(kMic);  // 44100 Hz
  mic.bufferFrames = 441;
  mic.latencyFrames = 100;
  mic.safetyOffsetFrames = 20;
  EXPECT_EQ(device->deviceName(0), "none");
  EXPECT_EQ(device->deviceName(kMic), "Mic");
  EXPECT_EQ(device->deviceName(77), "id 77");
  EXPECT_EQ(device->nominalSampleRate(0), 48000.0);
  EXPECT_EQ(device->nominalSampleRate(kMic), 44100.0);
  EXPECT_EQ(device->ioBufferDuration(0, true), 0.01);
  EXPECT_DOUBLE_EQ(device->ioBufferDuration(kMic, true), 0.01);
  EXPECT_DOUBLE_EQ(device->deviceLatency(kMic, true), 561.0 / 44100.0);
  EXPECT_EQ(device->deviceLatency(0, false), 0.0);

  mic.sampleRate = 0.0;
  mic.bufferFrames = 0;
  mic.latencyFrames = std::nullopt;
  EXPECT_EQ(device->nominalSampleRate(kMic), 48000.0);
  EXPECT_EQ(device->ioBufferDuration(kMic, true), 0.01);
  EXPECT_DOUBLE_EQ(device->deviceLatency(kMic, true), 20.0 / 48000.0);
}

TEST(CallAudioDeviceSetting, CustomDeviceIsOnUnlessAStoredBoolSaysOtherwise) {
  struct Case {
    const char* name;
    std::optional<nlohmann::json> stored;
    bool expected;
  };
  const std::vector<Case> cases = {
      {"missing", std::nullopt, true},  {"true", true, true},      {"false", false, false},
      {"a string", "false", true},      {"a number", 0, true},
  };
  testing::TempDir dir;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    platform::UserDefaults defaults(dir / (std::string(c.name) + ".json"));
    if (c.stored) defaults.setDictionary("x", {});  // touch the file
    if (c.stored && c.stored->is_boolean()) defaults.setBool(CallAudioDevice::customDeviceKey, c.stored->get<bool>());
    if (c.stored && c.stored->is_string()) defaults.setString(CallAudioDevice::customDeviceKey, c.stored->get<std::string>());
    if (c.stored && c.stored->is_number()) defaults.setInteger(CallAudioDevice::customDeviceKey, c.stored->get<int>());
    EXPECT_EQ(CallAudioDevice::isCustomDeviceEnabled(defaults), c.expected);
  }
}

}  // namespace
}  // namespace orvik

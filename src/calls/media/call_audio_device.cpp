#include "calls/media/call_audio_device.h"

#include <cstring>
#include <utility>

#include "core/native_logger.h"

namespace orvik {
namespace {

using platform::AudioDeviceId;
using platform::AudioScope;
using platform::AudioStatus;
using platform::kAudioOk;
using platform::kNoAudioDevice;


std::string boolText(bool value) { return value ? "true" : "false"; }

// One configuration step of a unit, named as the failure log names it.
struct Step {
  const char* name;
  AudioStatus status;
};

// The statuses of every step were all collected; the first failure decides.
const Step* firstFailure(const std::vector<Step>& steps) {
  for (const Step& step : steps) {
    if (step.status != kAudioOk) return &step;
  }
  return nullptr;
}

}  // namespace

CallAudioDevice::CallAudioDevice(platform::AudioHardware& hardware, LogFunction log)
    : hardware_(hardware), log_(std::move(log)) {
  if (!log_) log_ = [](const std::string& line) { nativeLog(line); };
  inputBuffer_.data = inputData_.data();
}

CallAudioDevice::~CallAudioDevice() {
  playing_ = false;
  recording_ = false;
  disposeUnit(outputUnit_);
  inputUnitForCallback_ = nullptr;
  disposeUnit(inputUnit_);
}

bool CallAudioDevice::isCustomDeviceEnabled(platform::UserDefaults& defaults) {
  const auto value = defaults.object(customDeviceKey);
  return value && value->is_boolean() ? value->get<bool>() : true;
}

std::optional<AudioDeviceId> CallAudioDevice::requestedOutputDeviceID() const {
  std::lock_guard guard(lock_);
  return requestedOutputDeviceID_;
}

void CallAudioDevice::flush(const Lines& lines) const {
  for (const auto& line : lines) log_(line);
}

// --- device queries ---

std::string CallAudioDevice::deviceName(AudioDeviceId device) {
  if (device == kNoAudioDevice) return "none";
  auto name = hardware_.deviceName(device);
  return name ? *name : "id " + std::to_string(device);
}

double CallAudioDevice::nominalSampleRate(AudioDeviceId device) {
  if (device == kNoAudioDevice) return kPlayoutSampleRate;
  const auto rate = hardware_.nominalSampleRate(device);
  return rate && *rate > 0 ? *rate : kPlayoutSampleRate;
}

double CallAudioDevice::ioBufferDuration(AudioDeviceId device, bool input) {
  if (device == kNoAudioDevice) return 0.01;
  const auto frames = hardware_.bufferFrameSize(device, input ? AudioScope::input : AudioScope::output);
  if (!frames || *frames == 0) return 0.01;
  return *frames / nominalSampleRate(device);
}

double CallAudioDevice::deviceLatency(AudioDeviceId device, bool input) {
  if (device == kNoAudioDevice) return 0.0;
  const AudioScope scope = input ? AudioScope::input : AudioScope::output;
  const double frames = static_cast<double>(hardware_.latencyFrames(device, scope).value_or(0)) +
                        hardware_.safetyOffsetFrames(device, scope).value_or(0) +
                        hardware_.bufferFrameSize(device, scope).value_or(0);
  return frames / nominalSampleRate(device);
}

double CallAudioDevice::inputIOBufferDuration() { return ioBufferDuration(inputDeviceID_, true); }
double CallAudioDevice::inputLatency() { return deviceLatency(inputDeviceID_, true); }
double CallAudioDevice::outputIOBufferDuration() { return ioBufferDuration(outputDeviceID_, false); }
double CallAudioDevice::outputLatency() { return deviceLatency(outputDeviceID_, false); }

// --- units ---

void CallAudioDevice::disposeUnit(std::unique_ptr<platform::AudioUnit>& unit) {
  if (!unit) return;
  (void)unit->stop();
  unit->uninitialize();
  unit.reset();
}

void CallAudioDevice::setInputUnit(std::unique_ptr<platform::AudioUnit> unit) {
  inputUnit_ = std::move(unit);
  inputUnitForCallback_ = inputUnit_.get();
}

std::unique_ptr<platform::AudioUnit> CallAudioDevice::makeOutputUnit(AudioDeviceId device, Lines& lines) {
  auto unit = hardware_.makeUnit();
  if (!unit) return nullptr;
  const std::vector<Step> steps = {
      {"enable output", unit->enableIO(AudioScope::output, true)},
      {"disable input", unit->enableIO(AudioScope::input, false)},
      {"device", unit->setDevice(device)},
      {"format", unit->setClientFormat({kPlayoutSampleRate, kPlayoutChannels})},
      {"max frames", unit->setMaxFramesPerSlice(kMaxFramesPerSlice)},
      {"callback", unit->setRenderCallback([this](platform::AudioRenderFlags& flags, std::uint64_t time,
                                                  std::uint32_t frames, platform::AudioBufferList* buffers) {
         return renderPlayout(flags, time, frames, buffers);
       })},
      {"initialize", unit->initialize()},
  };
  if (const Step* failed = firstFailure(steps)) {
    lines.push_back("[AudioDevice] ⚠️ output unit '" + deviceName(device) + "' failed at " + failed->name +
                    " status=" + std::to_string(failed->status));
    disposeUnit(unit);
    return nullptr;
  }
  return unit;
}

std::unique_ptr<platform::AudioUnit> CallAudioDevice::makeInputUnit(AudioDeviceId device, double& rate,
                                                                    Lines& lines) {
  auto unit = hardware_.makeUnit();
  if (!unit) return nullptr;
  std::vector<Step> steps = {
      {"enable input", unit->enableIO(AudioScope::input, true)},
      {"disable output", unit->enableIO(AudioScope::output, false)},
      {"device", unit->setDevice(device)},
  };
  platform::AudioStreamFormat deviceFormat{0.0, 1};
  steps.push_back({"read device format", unit->readDeviceFormat(deviceFormat)});
  const double used = deviceFormat.sampleRate > 0 ? deviceFormat.sampleRate : kPlayoutSampleRate;
  steps.push_back({"format", unit->setClientFormat({used, 1})});
  steps.push_back({"max frames", unit->setMaxFramesPerSlice(kMaxFramesPerSlice)});
  steps.push_back({"callback", unit->setInputCallback([this](platform::AudioRenderFlags& flags, std::uint64_t time,
                                                             std::uint32_t frames) {
                     return captureInput(flags, time, frames);
                   })});
  steps.push_back({"initialize", unit->initialize()});
  if (const Step* failed = firstFailure(steps)) {
    lines.push_back("[AudioDevice] ⚠️ input unit '" + deviceName(device) + "' failed at " + failed->name +
                    " status=" + std::to_string(failed->status));
    disposeUnit(unit);
    return nullptr;
  }
  rate = used;
  return unit;
}

// --- protocol ---

bool CallAudioDevice::initializeWithDelegate(CallAudioDeviceDelegate* delegate) {
  {
    std::lock_guard guard(lock_);
    delegate_ = delegate;
    getPlayoutBlock_ = delegate;
    deliverBlock_ = delegate;
    initialized_ = true;
    terminated_ = false;
  }
  log_("[AudioDevice] initialized — custom call audio device in use");
  return true;
}

bool CallAudioDevice::terminateDevice() {
  {
    std::lock_guard guard(lock_);
    playing_ = false;
    recording_ = false;
    disposeUnit(outputUnit_);
    inputUnitForCallback_ = nullptr;
    disposeUnit(inputUnit_);
    playoutInitialized_ = false;
    recordingInitialized_ = false;
    // Only now that both units are gone may the callbacks lose their delegate.
    getPlayoutBlock_ = nullptr;
    deliverBlock_ = nullptr;
    delegate_ = nullptr;
    initialized_ = false;
    terminated_ = true;
  }
  log_("[AudioDevice] terminated");
  return true;
}

bool CallAudioDevice::initializePlayout() {
  Lines lines;
  bool ok = false;
  {
    std::lock_guard guard(lock_);
    if (playoutInitialized_) return true;
    std::optional<AudioDeviceId> device;
    if (requestedOutputDeviceID_ && hardware_.isAlive(*requestedOutputDeviceID_).value_or(false)) {
      device = requestedOutputDeviceID_;
    } else if (auto fallback = hardware_.defaultOutputDevice(); fallback && *fallback != kNoAudioDevice) {
      device = fallback;
    }
    if (device) {
      if (auto unit = makeOutputUnit(*device, lines)) {
        outputUnit_ = std::move(unit);
        outputDeviceID_ = *device;
        playoutInitialized_ = true;
        lines.push_back("[AudioDevice] playout ready on '" + deviceName(*device) + "' (id=" + std::to_string(*device) +
                        ")");
        ok = true;
      }
    }
    if (!ok) lines.push_back("[AudioDevice] ⚠️ initializePlayout FAILED — no output unit");
  }
  flush(lines);
  return ok;
}

bool CallAudioDevice::initializeRecording() {
  Lines lines;
  bool ok = false;
  {
    std::lock_guard guard(lock_);
    if (recordingInitialized_) return true;
    // Capture always follows the system's default input.
    if (auto device = hardware_.defaultInputDevice(); device && *device != kNoAudioDevice) {
      double rate = kPlayoutSampleRate;
      if (auto unit = makeInputUnit(*device, rate, lines)) {
        inputRate_ = rate;
        setInputUnit(std::move(unit));
        inputDeviceID_ = *device;
        recordingInitialized_ = true;
        lines.push_back("[AudioDevice] recording ready on '" + deviceName(*device) + "' at " +
                        std::to_string(static_cast<long long>(rate)) + " Hz");
        ok = true;
      }
    }
    if (!ok) lines.push_back("[AudioDevice] ⚠️ initializeRecording FAILED — no input unit");
  }
  flush(lines);
  return ok;
}

bool CallAudioDevice::startUnit(const std::unique_ptr<platform::AudioUnit>& unit, std::atomic<bool>& running,
                                const char* what) {
  AudioStatus status = kAudioOk;
  {
    std::lock_guard guard(lock_);
    if (!unit) return false;
    // The callbacks may run as soon as the unit starts: the flag goes first.
    running = true;
    status = unit->start();
    if (status != kAudioOk) running = false;
  }
  if (status != kAudioOk) log_(std::string("[AudioDevice] ⚠️ ") + what + " FAILED status=" + std::to_string(status));
  return status == kAudioOk;
}

bool CallAudioDevice::startPlayout() { return startUnit(outputUnit_, playing_, "startPlayout"); }

bool CallAudioDevice::startRecording() { return startUnit(inputUnit_, recording_, "startRecording"); }

void CallAudioDevice::stopUnit(std::atomic<bool>& running, std::unique_ptr<platform::AudioUnit>& unit,
                               std::atomic<bool>& unitInitialized) {
  std::lock_guard guard(lock_);
  running = false;
  if (&unit == &inputUnit_) inputUnitForCallback_ = nullptr;
  disposeUnit(unit);
  unitInitialized = false;
}

bool CallAudioDevice::stopPlayout() {
  stopUnit(playing_, outputUnit_, playoutInitialized_);
  return true;
}

bool CallAudioDevice::stopRecording() {
  stopUnit(recording_, inputUnit_, recordingInitialized_);
  return true;
}

bool CallAudioDevice::switchOutputDevice(AudioDeviceId device) {
  Lines lines;
  bool result = false;
  CallAudioDeviceDelegate* delegate = nullptr;
  {
    std::unique_lock guard(lock_);
    requestedOutputDeviceID_ = device;
    if (!playoutInitialized_ || outputDeviceID_ == device) return true;
    if (!hardware_.isAlive(device).value_or(false)) {
      guard.unlock();
      log_("[AudioDevice] switch skipped — '" + deviceName(device) + "' is not alive");
      return false;
    }
    const bool wasPlaying = playing_;
    const AudioDeviceId old = outputDeviceID_;
    playing_ = false;
    disposeUnit(outputUnit_);

    auto unit = makeOutputUnit(device, lines);
    if (!unit) unit = makeOutputUnit(old, lines);
    if (!unit) {
      // The old unit is gone already: nothing may refer to it any more, or a
      // later stop or terminate would dispose of it a second time.
      playoutInitialized_ = false;
      outputDeviceID_ = kNoAudioDevice;
      lines.push_back("[AudioDevice] ⚠️ switch FAILED — no output unit for new or old device");
    } else {
      result = unit->currentDevice() == device;
      outputUnit_ = std::move(unit);
      outputDeviceID_ = result ? device : old;
      if (wasPlaying) {
        playing_ = true;
        if (outputUnit_->start() != kAudioOk) playing_ = false;
      }
      const AudioDeviceId now = outputDeviceID_;
      const auto latencyMs = static_cast<long long>(deviceLatency(now, false) * 1000.0);
      lines.push_back(std::string("[AudioDevice] ") + (result ? "output switched '" : "output switch FAILED, kept '") +
                      deviceName(old) + "' → '" + deviceName(now) + "' (playing=" + boolText(playing_) +
                      ", latency=" + std::to_string(latencyMs) + " ms)");
    }
    delegate = delegate_;
  }
  flush(lines);
  if (delegate) {
    delegate->notifyAudioOutputInterrupted();
    delegate->notifyAudioOutputParametersChange();
  }
  return result;
}

// --- real-time callbacks: no lock, no allocation ---

AudioStatus CallAudioDevice::renderPlayout(platform::AudioRenderFlags& flags, std::uint64_t sampleTime,
                                           std::uint32_t frames, platform::AudioBufferList* buffers) {
  if (!buffers) return kAudioOk;
  if (playing_.load(std::memory_order_acquire)) {
    if (CallAudioDeviceDelegate* block = getPlayoutBlock_.load(std::memory_order_acquire)) {
      return block->getPlayoutData(flags, sampleTime, frames, buffers);
    }
  }
  for (std::uint32_t i = 0; i < buffers->count; ++i) {
    if (buffers->buffers[i].data) std::memset(buffers->buffers[i].data, 0, buffers->buffers[i].byteSize);
  }
  flags |= platform::kAudioOutputIsSilence;
  return kAudioOk;
}

AudioStatus CallAudioDevice::captureInput(platform::AudioRenderFlags& flags, std::uint64_t sampleTime,
                                          std::uint32_t frames) {
  platform::AudioUnit* unit = inputUnitForCallback_.load(std::memory_order_acquire);
  CallAudioDeviceDelegate* block = deliverBlock_.load(std::memory_order_acquire);
  if (!recording_.load(std::memory_order_acquire) || !unit || !block || frames > kMaxFramesPerSlice) {
    return kAudioOk;  // the slice is dropped
  }
  inputBuffer_.data = inputData_.data();
  inputBuffer_.byteSize = frames * 2;
  const AudioStatus status = unit->render(flags, sampleTime, frames, &inputBufferList_);
  if (status != kAudioOk) return status;
  return block->deliverRecordedData(flags, sampleTime, frames, &inputBufferList_);
}

}  // namespace orvik

#include "platform/audio/fake_audio_hardware.h"

#include <algorithm>
#include <cstring>

#include "platform/dispatch/task_queue.h"

namespace orvik::platform {

FakeAudioDevice FakeAudioDevice::output(AudioDeviceId id, std::string name, std::optional<AudioTransportType> transport) {
  FakeAudioDevice device;
  device.id = id;
  device.uid = "uid-" + std::to_string(id);
  device.name = std::move(name);
  device.outputChannels = std::vector<std::uint32_t>{2};
  device.transport = transport;
  return device;
}

FakeAudioDevice FakeAudioDevice::input(AudioDeviceId id, std::string name, double rate) {
  FakeAudioDevice device;
  device.id = id;
  device.uid = "uid-" + std::to_string(id);
  device.name = std::move(name);
  device.inputChannels = std::vector<std::uint32_t>{1};
  device.sampleRate = rate;
  device.deviceFormatRate = rate;
  return device;
}

void FakeAudioHardware::addDevice(FakeAudioDevice device, bool notify) {
  if (FakeAudioDevice* existing = this->device(device.id)) {
    *existing = std::move(device);
  } else {
    devices_.push_back(std::move(device));
  }
  if (notify) notifyListeners();
}

void FakeAudioHardware::removeDevice(AudioDeviceId id, bool notify) {
  std::erase_if(devices_, [id](const FakeAudioDevice& device) { return device.id == id; });
  if (notify) notifyListeners();
}

FakeAudioDevice* FakeAudioHardware::device(AudioDeviceId id) {
  auto it = std::find_if(devices_.begin(), devices_.end(), [id](const FakeAudioDevice& d) { return d.id == id; });
  return it == devices_.end() ? nullptr : &*it;
}

void FakeAudioHardware::failOn(std::string call, AudioStatus status, AudioDeviceId device) {
  failures_[{std::move(call), device}] = status;
}

AudioStatus FakeAudioHardware::failure(const std::string& call, AudioDeviceId device) const {
  if (auto it = failures_.find({call, device}); it != failures_.end()) return it->second;
  if (auto it = failures_.find({call, kNoAudioDevice}); it != failures_.end()) return it->second;
  return kAudioOk;
}

void FakeAudioHardware::notifyListeners() {
  for (const auto& [id, listener] : listeners_) mainQueue().post(listener);
}

FakeAudioUnit* FakeAudioHardware::runningUnit(AudioScope scope) const {
  for (FakeAudioUnit* unit : live_) {
    if (unit->isRunning() && unit->isOutput() == (scope == AudioScope::output)) return unit;
  }
  return nullptr;
}

FakeAudioUnit* FakeAudioHardware::newestUnit(AudioScope scope) const {
  for (auto it = live_.rbegin(); it != live_.rend(); ++it) {
    if ((*it)->isInitialized() && (*it)->isOutput() == (scope == AudioScope::output)) return *it;
  }
  return nullptr;
}

std::optional<AudioStatus> FakeAudioHardware::renderOutput(std::uint32_t frames, std::vector<std::int16_t>& samples,
                                                           AudioRenderFlags& flags) {
  FakeAudioUnit* unit = newestUnit(AudioScope::output);
  if (!unit || !unit->render_) return std::nullopt;
  const std::uint32_t channels = unit->format_.channels;
  samples.assign(static_cast<std::size_t>(frames) * channels, 0x5555);  // garbage the callback must overwrite
  AudioBuffer buffer{channels, static_cast<std::uint32_t>(samples.size() * 2), samples.data()};
  AudioBufferList list{1, &buffer};
  const AudioStatus status = unit->render_(flags, unit->sampleTime_, frames, &list);
  unit->sampleTime_ += frames;
  return status;
}

std::optional<AudioStatus> FakeAudioHardware::captureInput(const std::vector<std::int16_t>& samples) {
  FakeAudioUnit* unit = newestUnit(AudioScope::input);
  if (!unit || !unit->inputCallback_) return std::nullopt;
  unit->captured_ = &samples;
  AudioRenderFlags flags = 0;
  const AudioStatus status = unit->inputCallback_(flags, unit->sampleTime_, static_cast<std::uint32_t>(samples.size()));
  unit->captured_ = nullptr;
  unit->sampleTime_ += samples.size();
  return status;
}

std::optional<std::vector<AudioDeviceId>> FakeAudioHardware::deviceIds() {
  if (!deviceListReadable_) return std::nullopt;
  std::vector<AudioDeviceId> ids;
  for (const auto& device : devices_) ids.push_back(device.id);
  return ids;
}

AudioStatus FakeAudioHardware::setDefaultOutputDevice(AudioDeviceId device) {
  setDefaultRequests_.push_back(device);
  if (setDefaultFailure_ != kAudioOk) return setDefaultFailure_;
  if (!this->device(device)) return -1;
  defaultOutput_ = device;
  return kAudioOk;
}

std::optional<std::string> FakeAudioHardware::deviceName(AudioDeviceId id) {
  auto* d = device(id);
  return d ? d->name : std::nullopt;
}
std::optional<std::string> FakeAudioHardware::deviceUID(AudioDeviceId id) {
  auto* d = device(id);
  return d ? d->uid : std::nullopt;
}
std::optional<bool> FakeAudioHardware::isAlive(AudioDeviceId id) {
  auto* d = device(id);
  return d ? d->alive : std::nullopt;
}
std::optional<double> FakeAudioHardware::nominalSampleRate(AudioDeviceId id) {
  auto* d = device(id);
  return d ? d->sampleRate : std::nullopt;
}
std::optional<std::uint32_t> FakeAudioHardware::bufferFrameSize(AudioDeviceId id, AudioScope) {
  auto* d = device(id);
  return d ? d->bufferFrames : std::nullopt;
}
std::optional<std::uint32_t> FakeAudioHardware::latencyFrames(AudioDeviceId id, AudioScope) {
  auto* d = device(id);
  return d ? d->latencyFrames : std::nullopt;
}
std::optional<std::uint32_t> FakeAudioHardware::safetyOffsetFrames(AudioDeviceId id, AudioScope) {
  auto* d = device(id);
  return d ? d->safetyOffsetFrames : std::nullopt;
}
std::optional<std::vector<std::uint32_t>> FakeAudioHardware::streamChannels(AudioDeviceId id, AudioScope scope) {
  auto* d = device(id);
  if (!d) return std::nullopt;
  return scope == AudioScope::output ? d->outputChannels : d->inputChannels;
}
std::optional<AudioTransportType> FakeAudioHardware::transportType(AudioDeviceId id) {
  auto* d = device(id);
  return d ? d->transport : std::nullopt;
}

AudioHardware::ListenerId FakeAudioHardware::addDeviceListListener(std::function<void()> listener) {
  listeners_[++nextListener_] = std::move(listener);
  return nextListener_;
}

void FakeAudioHardware::removeDeviceListListener(ListenerId id) { listeners_.erase(id); }

std::unique_ptr<AudioUnit> FakeAudioHardware::makeUnit() {
  if (!canMakeUnits_) return nullptr;
  auto unit = std::make_unique<FakeAudioUnit>(*this);
  live_.push_back(unit.get());
  ++unitsMade_;
  return unit;
}

FakeAudioUnit::~FakeAudioUnit() {
  std::erase(hardware_.live_, this);
  ++hardware_.unitsDisposed_;
}

AudioStatus FakeAudioUnit::enableIO(AudioScope scope, bool enable) {
  if (auto status = hardware_.failure("enableIO", device_)) return status;
  (scope == AudioScope::output ? output_ : input_) = enable;
  return kAudioOk;
}

AudioStatus FakeAudioUnit::setDevice(AudioDeviceId device) {
  if (auto status = hardware_.failure("setDevice", device)) return status;
  if (!hardware_.device(device)) return -10;
  device_ = device;
  return kAudioOk;
}

AudioStatus FakeAudioUnit::readDeviceFormat(AudioStreamFormat& format) {
  if (auto status = hardware_.failure("readDeviceFormat", device_)) return status;
  auto* d = hardware_.device(device_);
  if (!d || !d->deviceFormatRate) return -11;
  format.sampleRate = *d->deviceFormatRate;
  format.channels = d->inputChannels && !d->inputChannels->empty() ? d->inputChannels->front() : 1;
  return kAudioOk;
}

AudioStatus FakeAudioUnit::setClientFormat(const AudioStreamFormat& format) {
  if (auto status = hardware_.failure("setClientFormat", device_)) return status;
  format_ = format;
  return kAudioOk;
}

AudioStatus FakeAudioUnit::setMaxFramesPerSlice(std::uint32_t frames) {
  if (auto status = hardware_.failure("setMaxFramesPerSlice", device_)) return status;
  maxFrames_ = frames;
  return kAudioOk;
}

AudioStatus FakeAudioUnit::setRenderCallback(AudioRenderCallback callback) {
  if (auto status = hardware_.failure("setRenderCallback", device_)) return status;
  render_ = std::move(callback);
  return kAudioOk;
}

AudioStatus FakeAudioUnit::setInputCallback(AudioInputCallback callback) {
  if (auto status = hardware_.failure("setInputCallback", device_)) return status;
  inputCallback_ = std::move(callback);
  return kAudioOk;
}

AudioStatus FakeAudioUnit::initialize() {
  if (auto status = hardware_.failure("initialize", device_)) return status;
  if (output_ == input_ || device_ == kNoAudioDevice) return -12;
  initialized_ = true;
  return kAudioOk;
}

AudioStatus FakeAudioUnit::start() {
  if (auto status = hardware_.failure("start", device_)) return status;
  if (!initialized_) return -13;
  running_ = true;
  return kAudioOk;
}

AudioStatus FakeAudioUnit::stop() {
  running_ = false;
  return kAudioOk;
}

std::optional<AudioDeviceId> FakeAudioUnit::currentDevice() {
  if (device_ == kNoAudioDevice) return std::nullopt;
  if (auto it = hardware_.redirects_.find(device_); it != hardware_.redirects_.end()) return it->second;
  return device_;
}

AudioStatus FakeAudioUnit::render(AudioRenderFlags&, std::uint64_t, std::uint32_t frames, AudioBufferList* buffers) {
  if (auto status = hardware_.failure("render", device_)) return status;
  if (!captured_ || !buffers || buffers->count < 1) return -14;
  const std::size_t bytes = std::min<std::size_t>(static_cast<std::size_t>(frames) * 2, buffers->buffers[0].byteSize);
  std::memcpy(buffers->buffers[0].data, captured_->data(), std::min(bytes, captured_->size() * 2));
  return kAudioOk;
}

}  // namespace orvik::platform

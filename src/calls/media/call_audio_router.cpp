#include "calls/media/call_audio_router.h"

#include <map>

#include "calls/media/call_audio_device.h"
#include "core/native_logger.h"
#include "platform/dispatch/task_queue.h"
#include "platform/queue_checker.h"

namespace orvik {
namespace {
using platform::AudioDeviceId;
using platform::AudioScope;
using platform::AudioTransportType;
}  // namespace

std::shared_ptr<CallAudioRouter> CallAudioRouter::create(platform::AudioHardware& hardware,
                                                         CurrentDevice currentDevice, LogFunction log) {
  return std::shared_ptr<CallAudioRouter>(new CallAudioRouter(hardware, std::move(currentDevice), std::move(log)));
}

CallAudioRouter::CallAudioRouter(platform::AudioHardware& hardware, CurrentDevice currentDevice, LogFunction log)
    : hardware_(hardware), currentDevice_(std::move(currentDevice)), log_(std::move(log)) {
  if (!currentDevice_) currentDevice_ = [] { return std::shared_ptr<CallAudioDevice>(); };
  if (!log_) log_ = [](const std::string& line) { nativeLog(line); };
}

CallAudioRouter::~CallAudioRouter() {
  if (listener_) hardware_.removeDeviceListListener(*listener_);
}

std::optional<std::string> CallAudioRouter::transportLabel(std::optional<AudioTransportType> type) {
  if (!type) return std::nullopt;
  switch (*type) {
    case AudioTransportType::builtIn: return "Built-in";
    case AudioTransportType::usb: return "USB";
    case AudioTransportType::bluetooth:
    case AudioTransportType::bluetoothLE: return "Bluetooth";
    case AudioTransportType::hdmi: return "HDMI";
    case AudioTransportType::displayPort: return "DisplayPort";
    case AudioTransportType::airPlay: return "AirPlay";
    case AudioTransportType::thunderbolt: return "Thunderbolt";
    case AudioTransportType::virtualDevice:
    case AudioTransportType::aggregate: return "Virtual";
    case AudioTransportType::unknown:
    case AudioTransportType::pci:
    case AudioTransportType::fireWire: return std::nullopt;
  }
  return std::nullopt;
}

std::vector<AudioDeviceId> CallAudioRouter::allDeviceIDs() { return hardware_.deviceIds().value_or(std::vector<AudioDeviceId>{}); }

std::vector<AudioOutputDevice> CallAudioRouter::outputDevices() {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  std::vector<AudioOutputDevice> devices;
  for (AudioDeviceId id : allDeviceIDs()) {
    const auto channels = hardware_.streamChannels(id, AudioScope::output);
    if (!channels || channels->empty()) continue;
    bool hasOutput = false;
    for (auto count : *channels) hasOutput = hasOutput || count > 0;
    if (!hasOutput) continue;
    const auto name = hardware_.deviceName(id);
    if (!name || name->empty()) continue;
    devices.push_back({id, *name, transportLabel(hardware_.transportType(id))});
  }
  return devices;
}

std::string CallAudioRouter::displayName(const AudioOutputDevice& device, const std::vector<AudioOutputDevice>& list) {
  std::size_t sameName = 0;
  for (const auto& other : list) sameName += other.name == device.name ? 1 : 0;
  if (sameName >= 2 && device.transportLabel) return device.name + " (" + *device.transportLabel + ")";
  return device.name;
}

std::optional<AudioDeviceId> CallAudioRouter::currentOutputDeviceID() {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  if (auto device = currentDevice_()) {
    const AudioDeviceId id = device->outputDeviceID();
    if (device->isPlayoutInitialized() && id != platform::kNoAudioDevice) return id;
  }
  return hardware_.defaultOutputDevice();
}

bool CallAudioRouter::selectOutputDevice(AudioDeviceId id) {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  if (auto device = currentDevice_(); device && device->isInitialized()) {
    const bool switched = device->switchOutputDevice(id);
    platform::mainQueue().post([weak = weak_from_this()] {
      if (auto self = weak.lock(); self && self->onDevicesChanged) self->onDevicesChanged();
    });
    return switched;
  }
  return setDefaultOutputDevice(id);
}

std::string CallAudioRouter::nameOrId(AudioDeviceId id) {
  auto name = hardware_.deviceName(id);
  return name ? *name : std::to_string(id);
}

bool CallAudioRouter::setDefaultOutputDevice(AudioDeviceId id) {
  const platform::AudioStatus status = hardware_.setDefaultOutputDevice(id);
  if (status != platform::kAudioOk) {
    log_("[AudioRouter] setDefaultOutputDevice FAILED — requested " + nameOrId(id) + " (id=" + std::to_string(id) +
         ") status=" + std::to_string(status));
    return false;
  }
  log_("[AudioRouter] setDefaultOutputDevice OK → requested " + nameOrId(id) + " (id=" + std::to_string(id) + ")");
  platform::mainQueue().postAfter(kReadBackDelay, [weak = weak_from_this(), id] {
    if (auto self = weak.lock()) self->readBackDefaultOutput(id);
  });
  return true;
}

void CallAudioRouter::readBackDefaultOutput(AudioDeviceId requested) {
  const auto now = hardware_.defaultOutputDevice();
  const auto name = now ? hardware_.deviceName(*now) : std::nullopt;
  log_("[AudioRouter] readback 0.3s later — system default is now " + name.value_or("unknown") +
       " (id=" + (now ? std::to_string(*now) : std::string("nil")) +
       ") — matches requested: " + (now == requested ? "true" : "false"));
}

void CallAudioRouter::startAutoSwitching() {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  if (autoSwitching_) return;
  autoSwitching_ = true;
  knownOutputUIDs_.clear();
  for (const auto& device : outputDevices()) {
    if (auto uid = hardware_.deviceUID(device.id)) knownOutputUIDs_.insert(*uid);
  }
  listener_ = hardware_.addDeviceListListener([weak = weak_from_this()] {
    if (auto self = weak.lock()) self->handleDeviceListChange();
  });
  log_("[AudioRouter] auto-switch started (" + std::to_string(knownOutputUIDs_.size()) + " output devices)");
}

void CallAudioRouter::handleDeviceListChange() {
  // A notice already on its way when the listener was removed is dropped.
  if (!listener_) return;
  const auto devices = outputDevices();
  std::map<std::string, AudioDeviceId> byUID;
  for (const auto& device : devices) {
    if (auto uid = hardware_.deviceUID(device.id)) byUID.emplace(*uid, device.id);
  }
  std::optional<AudioDeviceId> added;
  std::set<std::string> uids;
  for (const auto& [uid, id] : byUID) {
    uids.insert(uid);
    if (!added && !knownOutputUIDs_.count(uid)) added = id;
  }
  knownOutputUIDs_ = std::move(uids);
  if (onDevicesChanged) onDevicesChanged();

  if (added) {
    log_("[AudioRouter] new output device connected → switching");
    (void)selectOutputDevice(*added);
    return;
  }
  auto device = currentDevice_();
  if (!device || !device->isPlayoutInitialized()) return;
  const AudioDeviceId playing = device->outputDeviceID();
  for (const auto& listed : devices) {
    if (listed.id == playing) return;
  }
  if (auto fallback = hardware_.defaultOutputDevice()) {
    log_("[AudioRouter] call output device removed → back to the default output");
    (void)selectOutputDevice(*fallback);
  }
}

void CallAudioRouter::stopAutoSwitching() {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  if (autoSwitching_ && listener_) {
    autoSwitching_ = false;
    hardware_.removeDeviceListListener(*listener_);
    listener_.reset();
    knownOutputUIDs_.clear();
    log_("[AudioRouter] auto-switch stopped");
    return;
  }
  autoSwitching_ = false;
}

}  // namespace orvik

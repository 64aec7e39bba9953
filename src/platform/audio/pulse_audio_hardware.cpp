#include "platform/audio/pulse_audio_hardware.h"

#include <pulse/pulseaudio.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstring>
#include <mutex>
#include <type_traits>
#include <utility>
#include <vector>

#include "platform/dispatch/task_queue.h"
#include "platform/platform_log.h"

namespace orvik::platform {
namespace {

constexpr AudioDeviceId kSourceBit = 0x80000000u;
constexpr AudioStatus kNotConnected = -9000;
constexpr AudioStatus kBadConfiguration = -9001;
constexpr AudioStatus kNoSuchDevice = -9002;

AudioDeviceId sinkId(std::uint32_t index) { return index + 1; }
AudioDeviceId sourceId(std::uint32_t index) { return (index + 1) | kSourceBit; }

std::string lower(std::string_view text) {
  std::string out(text);
  std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) { return std::tolower(c); });
  return out;
}

std::string property(const std::map<std::string, std::string>& properties, const std::string& key) {
  auto it = properties.find(key);
  return it == properties.end() ? std::string() : it->second;
}

std::map<std::string, std::string> toMap(const pa_proplist* list) {
  std::map<std::string, std::string> out;
  void* state = nullptr;
  while (const char* key = pa_proplist_iterate(list, &state)) {
    if (const char* value = pa_proplist_gets(list, key)) out[key] = value;
  }
  return out;
}

std::uint32_t usecToFrames(pa_usec_t usec, std::uint32_t rate) {
  return static_cast<std::uint32_t>(usec * rate / 1000000u);
}

}  // namespace

AudioTransportType pulseTransportType(const std::map<std::string, std::string>& properties,
                                      std::string_view activePort, bool isHardware) {
  const std::string bus = lower(property(properties, "device.bus"));
  const std::string port = lower(activePort);
  const bool raop = lower(property(properties, "device.api")) == "raop" ||
                    std::any_of(properties.begin(), properties.end(),
                                [](const auto& entry) { return entry.first.rfind("raop.", 0) == 0; });
  if (raop) return AudioTransportType::airPlay;
  if (bus == "bluetooth") return AudioTransportType::bluetooth;
  if (bus == "usb") return AudioTransportType::usb;
  if (bus == "thunderbolt") return AudioTransportType::thunderbolt;
  if (bus == "firewire" || bus == "ieee1394") return AudioTransportType::fireWire;
  if (port.find("displayport") != std::string::npos) return AudioTransportType::displayPort;
  if (port.find("hdmi") != std::string::npos) return AudioTransportType::hdmi;
  if (lower(property(properties, "device.form_factor")) == "internal") return AudioTransportType::builtIn;
  // The machine's own codec sits on the PCI bus and exposes analog ports.
  if (bus == "pci") return port.find("analog") != std::string::npos ? AudioTransportType::builtIn : AudioTransportType::pci;
  const std::string deviceClass = lower(property(properties, "device.class"));
  if (deviceClass == "abstract" || deviceClass == "filter" || !isHardware) return AudioTransportType::virtualDevice;
  return AudioTransportType::unknown;
}

// ---------------------------------------------------------------------------

struct PulseAudioHardware::Impl : std::enable_shared_from_this<Impl> {
  struct Device {
    AudioDeviceId id = kNoAudioDevice;
    std::uint32_t index = 0;
    bool isSink = true;
    std::string name;         // PulseAudio name: the UID
    std::string description;  // shown to people
    std::uint32_t rate = 0;
    std::uint32_t channels = 0;
    pa_usec_t latency = 0;
    pa_usec_t configuredLatency = 0;
    AudioTransportType transport = AudioTransportType::unknown;
  };

  explicit Impl(std::string server) : server(std::move(server)) {
    mainloop = pa_threaded_mainloop_new();
    pa_threaded_mainloop_set_name(mainloop, "orvik.pulse");
    pa_threaded_mainloop_start(mainloop);
  }

  ~Impl() {
    pa_threaded_mainloop_lock(mainloop);
    dropContextLocked();
    pa_threaded_mainloop_unlock(mainloop);
    pa_threaded_mainloop_stop(mainloop);
    pa_threaded_mainloop_free(mainloop);
  }

  // Holds the main-loop lock; refuses (ok() false) on the main loop's thread.
  class Locked {
   public:
    explicit Locked(Impl& impl) : impl_(impl), owned_(!pa_threaded_mainloop_in_thread(impl.mainloop)) {
      if (owned_) pa_threaded_mainloop_lock(impl_.mainloop);
    }
    ~Locked() {
      if (owned_) pa_threaded_mainloop_unlock(impl_.mainloop);
    }
    bool ok() const { return owned_ && impl_.ensureConnectedLocked(); }

   private:
    Impl& impl_;
    bool owned_;
  };

  void dropContextLocked() {
    if (!context) return;
    pa_context_set_state_callback(context, nullptr, nullptr);
    pa_context_set_subscribe_callback(context, nullptr, nullptr);
    pa_context_disconnect(context);
    pa_context_unref(context);
    context = nullptr;
  }

  bool ensureConnectedLocked() {
    if (context && pa_context_get_state(context) == PA_CONTEXT_READY) return true;
    dropContextLocked();
    pa_proplist* props = pa_proplist_new();
    pa_proplist_sets(props, PA_PROP_APPLICATION_NAME, "OrvikDesk");
    pa_proplist_sets(props, PA_PROP_APPLICATION_ID, "com.orvik.desk");
    context = pa_context_new_with_proplist(pa_threaded_mainloop_get_api(mainloop), "OrvikDesk", props);
    pa_proplist_free(props);
    if (!context) return false;
    pa_context_set_state_callback(context, &Impl::onContextState, this);
    if (pa_context_connect(context, server.empty() ? nullptr : server.c_str(), PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
      dropContextLocked();
      return false;
    }
    for (;;) {
      const pa_context_state_t state = pa_context_get_state(context);
      if (state == PA_CONTEXT_READY) break;
      if (!PA_CONTEXT_IS_GOOD(state)) {
        dropContextLocked();
        return false;
      }
      pa_threaded_mainloop_wait(mainloop);
    }
    pa_context_set_subscribe_callback(context, &Impl::onSubscription, this);
    if (pa_operation* op = pa_context_subscribe(
            context, static_cast<pa_subscription_mask_t>(PA_SUBSCRIPTION_MASK_SINK | PA_SUBSCRIPTION_MASK_SOURCE),
            nullptr, nullptr)) {
      pa_operation_unref(op);
    }
    return true;
  }

  void waitLocked(pa_operation* op) {
    if (!op) return;
    while (pa_operation_get_state(op) == PA_OPERATION_RUNNING) pa_threaded_mainloop_wait(mainloop);
    pa_operation_unref(op);
  }

  static void onContextState(pa_context*, void* self) {
    pa_threaded_mainloop_signal(static_cast<Impl*>(self)->mainloop, 0);
  }

  static void onSubscription(pa_context*, pa_subscription_event_type_t type, std::uint32_t, void* data) {
    auto* self = static_cast<Impl*>(data);
    const auto kind = type & PA_SUBSCRIPTION_EVENT_TYPE_MASK;
    if (kind != PA_SUBSCRIPTION_EVENT_NEW && kind != PA_SUBSCRIPTION_EVENT_REMOVE) return;
    // A sink comes with its monitor source: one notice covers both.
    if (self->noticePending.exchange(true)) return;
    mainQueue().post([weak = self->weak_from_this()] {
      auto impl = weak.lock();
      if (!impl) return;
      impl->noticePending = false;
      std::vector<std::function<void()>> listeners;
      {
        std::lock_guard guard(impl->listenerMutex);
        for (const auto& [id, listener] : impl->listeners) listeners.push_back(listener);
      }
      for (const auto& listener : listeners) listener();
    });
  }

  struct ListRequest {
    Impl* impl;
    std::vector<Device>* devices;
  };

  // Sinks and sources come in look-alike structs: one reader serves both.
  template <typename Info>
  static void onDeviceInfo(pa_context*, const Info* info, int eol, void* data) {
    constexpr bool isSink = std::is_same_v<Info, pa_sink_info>;
    auto* request = static_cast<ListRequest*>(data);
    if (eol || !info) {
      pa_threaded_mainloop_signal(request->impl->mainloop, 0);
      return;
    }
    Device device;
    device.id = isSink ? sinkId(info->index) : sourceId(info->index);
    device.index = info->index;
    device.isSink = isSink;
    device.name = info->name ? info->name : "";
    device.description = info->description ? info->description : "";
    device.rate = info->sample_spec.rate;
    device.channels = info->sample_spec.channels;
    device.latency = info->latency;
    device.configuredLatency = info->configured_latency;
    std::string port;
    if (info->active_port) {
      port = std::string(info->active_port->name ? info->active_port->name : "") + " " +
             (info->active_port->description ? info->active_port->description : "");
    }
    const unsigned hardwareFlag = isSink ? unsigned{PA_SINK_HARDWARE} : unsigned{PA_SOURCE_HARDWARE};
    const bool hardware = (static_cast<unsigned>(info->flags) & hardwareFlag) != 0;
    device.transport = pulseTransportType(toMap(info->proplist), port, hardware);
    request->devices->push_back(std::move(device));
  }

  std::optional<std::vector<Device>> devices() {
    Locked locked(*this);
    if (!locked.ok()) return std::nullopt;
    std::vector<Device> list;
    ListRequest request{this, &list};
    waitLocked(pa_context_get_sink_info_list(context, &Impl::onDeviceInfo<pa_sink_info>, &request));
    waitLocked(pa_context_get_source_info_list(context, &Impl::onDeviceInfo<pa_source_info>, &request));
    return list;
  }

  std::optional<Device> find(AudioDeviceId id) {
    if (id == kNoAudioDevice) return std::nullopt;
    auto list = devices();
    if (!list) return std::nullopt;
    for (auto& device : *list) {
      if (device.id == id) return std::move(device);
    }
    return std::nullopt;
  }

  struct ServerDefaults {
    Impl* impl;
    std::string sink;
    std::string source;
  };

  static void onServerInfo(pa_context*, const pa_server_info* info, void* data) {
    auto* request = static_cast<ServerDefaults*>(data);
    if (info) {
      request->sink = info->default_sink_name ? info->default_sink_name : "";
      request->source = info->default_source_name ? info->default_source_name : "";
    }
    pa_threaded_mainloop_signal(request->impl->mainloop, 0);
  }

  std::optional<AudioDeviceId> defaultDevice(bool sink) {
    ServerDefaults defaults{this, {}, {}};
    {
      Locked locked(*this);
      if (!locked.ok()) return std::nullopt;
      waitLocked(pa_context_get_server_info(context, &Impl::onServerInfo, &defaults));
    }
    const std::string& name = sink ? defaults.sink : defaults.source;
    if (name.empty()) return std::nullopt;
    auto list = devices();
    if (!list) return std::nullopt;
    for (const auto& device : *list) {
      if (device.isSink == sink && device.name == name) return device.id;
    }
    return std::nullopt;
  }

  struct SuccessRequest {
    Impl* impl;
    int success = 0;
  };

  static void onSuccess(pa_context*, int success, void* data) {
    auto* request = static_cast<SuccessRequest*>(data);
    request->success = success;
    pa_threaded_mainloop_signal(request->impl->mainloop, 0);
  }

  AudioStatus setDefaultSink(AudioDeviceId id) {
    auto device = find(id);
    if (!device || !device->isSink) return kNoSuchDevice;
    Locked locked(*this);
    if (!locked.ok()) return kNotConnected;
    SuccessRequest request{this};
    waitLocked(pa_context_set_default_sink(context, device->name.c_str(), &Impl::onSuccess, &request));
    return request.success ? kAudioOk : -pa_context_errno(context);
  }

  std::string server;
  pa_threaded_mainloop* mainloop = nullptr;
  pa_context* context = nullptr;
  std::atomic<bool> noticePending{false};
  std::mutex listenerMutex;
  std::map<ListenerId, std::function<void()>> listeners;
  ListenerId nextListener = 0;
};

// ---------------------------------------------------------------------------

namespace {

// One playback or record stream. The stream's callbacks run on the main
// loop's thread with its lock held; start, stop and disposal take that lock,
// so once they return no callback is running.
class PulseAudioUnit final : public AudioUnit {
 public:
  explicit PulseAudioUnit(std::shared_ptr<PulseAudioHardware::Impl> impl) : impl_(std::move(impl)) {}
  ~PulseAudioUnit() override { uninitialize(); }

  AudioStatus enableIO(AudioScope scope, bool enable) override {
    (scope == AudioScope::output ? output_ : input_) = enable;
    return kAudioOk;
  }

  AudioStatus setDevice(AudioDeviceId device) override {
    auto found = impl_->find(device);
    if (!found) return kNoSuchDevice;
    device_ = *found;
    return kAudioOk;
  }

  AudioStatus readDeviceFormat(AudioStreamFormat& format) override {
    if (device_.id == kNoAudioDevice) return kNoSuchDevice;
    format.sampleRate = device_.rate;
    format.channels = device_.channels;
    return kAudioOk;
  }

  AudioStatus setClientFormat(const AudioStreamFormat& format) override {
    if (format.sampleRate < 1 || format.sampleRate > PA_RATE_MAX || format.channels < 1 ||
        format.channels > PA_CHANNELS_MAX) {
      return kBadConfiguration;
    }
    format_ = format;
    return kAudioOk;
  }

  AudioStatus setMaxFramesPerSlice(std::uint32_t frames) override {
    maxFrames_ = frames;
    return kAudioOk;
  }

  AudioStatus setRenderCallback(AudioRenderCallback callback) override {
    render_ = std::move(callback);
    return kAudioOk;
  }

  AudioStatus setInputCallback(AudioInputCallback callback) override {
    inputCallback_ = std::move(callback);
    return kAudioOk;
  }

  AudioStatus initialize() override {
    if (stream_) return kAudioOk;
    if (output_ == input_ || device_.id == kNoAudioDevice) return kBadConfiguration;
    if (output_ != device_.isSink) return kBadConfiguration;
    if (output_ ? !render_ : !inputCallback_) return kBadConfiguration;
    const auto rate = static_cast<std::uint32_t>(format_.sampleRate);
    sliceFrames_ = std::max<std::uint32_t>(rate / 100, 1);
    if (maxFrames_ && sliceFrames_ > maxFrames_) return kBadConfiguration;
    sliceBytes_ = sliceFrames_ * format_.bytesPerFrame();
    slice_.assign(sliceBytes_, std::byte{0});
    filled_ = 0;

    PulseAudioHardware::Impl::Locked locked(*impl_);
    if (!locked.ok()) return kNotConnected;
    pa_sample_spec sampleFormat{PA_SAMPLE_S16LE, rate, static_cast<std::uint8_t>(format_.channels)};
    pa_channel_map map;
    pa_channel_map_init_extend(&map, sampleFormat.channels, PA_CHANNEL_MAP_DEFAULT);
    stream_ = pa_stream_new(impl_->context, output_ ? "Call playout" : "Call capture", &sampleFormat, &map);
    if (!stream_) return -pa_context_errno(impl_->context);
    pa_stream_set_state_callback(stream_, &PulseAudioUnit::onState, this);
    pa_buffer_attr attr;
    attr.maxlength = static_cast<std::uint32_t>(-1);
    attr.tlength = output_ ? sliceBytes_ * 4 : static_cast<std::uint32_t>(-1);
    attr.prebuf = static_cast<std::uint32_t>(-1);
    attr.minreq = output_ ? sliceBytes_ : static_cast<std::uint32_t>(-1);
    attr.fragsize = output_ ? static_cast<std::uint32_t>(-1) : sliceBytes_;
    const auto flags = static_cast<pa_stream_flags_t>(PA_STREAM_START_CORKED | PA_STREAM_ADJUST_LATENCY);
    int result;
    if (output_) {
      pa_stream_set_write_callback(stream_, &PulseAudioUnit::onWrite, this);
      result = pa_stream_connect_playback(stream_, device_.name.c_str(), &attr, flags, nullptr, nullptr);
    } else {
      pa_stream_set_read_callback(stream_, &PulseAudioUnit::onRead, this);
      result = pa_stream_connect_record(stream_, device_.name.c_str(), &attr, flags);
    }
    if (result == 0) {
      for (;;) {
        const pa_stream_state_t state = pa_stream_get_state(stream_);
        if (state == PA_STREAM_READY) return kAudioOk;
        if (!PA_STREAM_IS_GOOD(state)) break;
        pa_threaded_mainloop_wait(impl_->mainloop);
      }
    }
    const AudioStatus status = -pa_context_errno(impl_->context);
    releaseStreamLocked();
    return status == kAudioOk ? kNoSuchDevice : status;
  }

  void uninitialize() override {
    if (!stream_) return;
    PulseAudioHardware::Impl::Locked locked(*impl_);
    running_ = false;
    releaseStreamLocked();
  }

  AudioStatus start() override {
    PulseAudioHardware::Impl::Locked locked(*impl_);
    if (!stream_ || pa_stream_get_state(stream_) != PA_STREAM_READY) return kNotConnected;
    running_ = true;
    if (pa_operation* op = pa_stream_cork(stream_, 0, nullptr, nullptr)) pa_operation_unref(op);
    // The server asked for data while corked; answer it now.
    if (output_) fillLocked();
    return kAudioOk;
  }

  AudioStatus stop() override {
    if (!stream_) return kAudioOk;
    PulseAudioHardware::Impl::Locked locked(*impl_);
    running_ = false;
    filled_ = 0;
    if (stream_ && pa_stream_get_state(stream_) == PA_STREAM_READY) {
      if (pa_operation* op = pa_stream_cork(stream_, 1, nullptr, nullptr)) pa_operation_unref(op);
    }
    return kAudioOk;
  }

  std::optional<AudioDeviceId> currentDevice() override {
    PulseAudioHardware::Impl::Locked locked(*impl_);
    if (!stream_ || pa_stream_get_state(stream_) != PA_STREAM_READY) return std::nullopt;
    const std::uint32_t index = pa_stream_get_device_index(stream_);
    if (index == PA_INVALID_INDEX) return std::nullopt;
    return output_ ? sinkId(index) : sourceId(index);
  }

  AudioStatus render(AudioRenderFlags&, std::uint64_t, std::uint32_t frames, AudioBufferList* buffers) override {
    if (!buffers || buffers->count < 1 || !buffers->buffers[0].data) return kBadConfiguration;
    const std::size_t bytes = std::min<std::size_t>({static_cast<std::size_t>(frames) * format_.bytesPerFrame(),
                                                     buffers->buffers[0].byteSize, filled_});
    std::memcpy(buffers->buffers[0].data, slice_.data(), bytes);
    return kAudioOk;
  }

 private:
  void releaseStreamLocked() {
    if (!stream_) return;
    pa_stream_set_state_callback(stream_, nullptr, nullptr);
    pa_stream_set_write_callback(stream_, nullptr, nullptr);
    pa_stream_set_read_callback(stream_, nullptr, nullptr);
    if (PA_STREAM_IS_GOOD(pa_stream_get_state(stream_))) pa_stream_disconnect(stream_);
    pa_stream_unref(stream_);
    stream_ = nullptr;
  }

  static void onState(pa_stream*, void* data) {
    pa_threaded_mainloop_signal(static_cast<PulseAudioUnit*>(data)->impl_->mainloop, 0);
  }

  static void onWrite(pa_stream*, std::size_t, void* data) {
    auto* self = static_cast<PulseAudioUnit*>(data);
    if (self->running_) self->fillLocked();
  }

  // Writes whole 10 ms slices while the server has room for them.
  void fillLocked() {
    std::size_t writable = pa_stream_writable_size(stream_);
    if (writable == static_cast<std::size_t>(-1)) return;
    while (writable >= sliceBytes_) {
      void* target = nullptr;
      std::size_t size = sliceBytes_;
      if (pa_stream_begin_write(stream_, &target, &size) < 0 || !target || size < sliceBytes_) {
        if (target) pa_stream_cancel_write(stream_);
        target = slice_.data();  // the server's buffer is too small: go through ours
      }
      AudioBuffer buffer{format_.channels, static_cast<std::uint32_t>(sliceBytes_), target};
      AudioBufferList list{1, &buffer};
      AudioRenderFlags flags = 0;
      render_(flags, sampleTime_, sliceFrames_, &list);
      if (pa_stream_write(stream_, target, sliceBytes_, nullptr, 0, PA_SEEK_RELATIVE) < 0) return;
      sampleTime_ += sliceFrames_;
      writable -= sliceBytes_;
    }
  }

  static void onRead(pa_stream* stream, std::size_t, void* data) {
    auto* self = static_cast<PulseAudioUnit*>(data);
    const void* bytes = nullptr;
    std::size_t size = 0;
    while (pa_stream_readable_size(stream) > 0) {
      if (pa_stream_peek(stream, &bytes, &size) < 0 || size == 0) return;
      if (bytes && self->running_) self->collect(static_cast<const std::byte*>(bytes), size);
      pa_stream_drop(stream);
    }
  }

  // Gathers captured bytes into 10 ms slices and hands each one on.
  void collect(const std::byte* bytes, std::size_t size) {
    while (size > 0) {
      const std::size_t take = std::min(size, sliceBytes_ - filled_);
      std::memcpy(slice_.data() + filled_, bytes, take);
      filled_ += take;
      bytes += take;
      size -= take;
      if (filled_ == sliceBytes_) {
        AudioRenderFlags flags = 0;
        inputCallback_(flags, sampleTime_, sliceFrames_);
        sampleTime_ += sliceFrames_;
        filled_ = 0;
      }
    }
  }

  std::shared_ptr<PulseAudioHardware::Impl> impl_;
  bool output_ = false;
  bool input_ = false;
  PulseAudioHardware::Impl::Device device_;
  AudioStreamFormat format_;
  std::uint32_t maxFrames_ = 0;
  AudioRenderCallback render_;
  AudioInputCallback inputCallback_;
  pa_stream* stream_ = nullptr;
  bool running_ = false;  // guarded by the main-loop lock
  std::uint32_t sliceFrames_ = 0;
  std::size_t sliceBytes_ = 0;
  std::vector<std::byte> slice_;
  std::size_t filled_ = 0;
  std::uint64_t sampleTime_ = 0;
};

}  // namespace

// ---------------------------------------------------------------------------

PulseAudioHardware::PulseAudioHardware(std::string server) : impl_(std::make_shared<Impl>(std::move(server))) {}

PulseAudioHardware::~PulseAudioHardware() = default;

bool PulseAudioHardware::isConnected() {
  Impl::Locked locked(*impl_);
  return locked.ok();
}

std::optional<std::vector<AudioDeviceId>> PulseAudioHardware::deviceIds() {
  auto list = impl_->devices();
  if (!list) return std::nullopt;
  std::vector<AudioDeviceId> ids;
  for (const auto& device : *list) ids.push_back(device.id);
  return ids;
}

std::optional<AudioDeviceId> PulseAudioHardware::defaultOutputDevice() { return impl_->defaultDevice(true); }
std::optional<AudioDeviceId> PulseAudioHardware::defaultInputDevice() { return impl_->defaultDevice(false); }
AudioStatus PulseAudioHardware::setDefaultOutputDevice(AudioDeviceId device) { return impl_->setDefaultSink(device); }

std::optional<std::string> PulseAudioHardware::deviceName(AudioDeviceId id) {
  auto device = impl_->find(id);
  if (!device) return std::nullopt;
  return device->description.empty() ? device->name : device->description;
}

std::optional<std::string> PulseAudioHardware::deviceUID(AudioDeviceId id) {
  auto device = impl_->find(id);
  return device ? std::optional<std::string>(device->name) : std::nullopt;
}

std::optional<bool> PulseAudioHardware::isAlive(AudioDeviceId id) {
  // A device that is listed can be opened; a vanished one reads as unreadable.
  return impl_->find(id) ? std::optional<bool>(true) : std::nullopt;
}

std::optional<double> PulseAudioHardware::nominalSampleRate(AudioDeviceId id) {
  auto device = impl_->find(id);
  return device ? std::optional<double>(device->rate) : std::nullopt;
}

std::optional<std::uint32_t> PulseAudioHardware::bufferFrameSize(AudioDeviceId id, AudioScope scope) {
  auto device = impl_->find(id);
  if (!device || device->isSink != (scope == AudioScope::output)) return std::nullopt;
  return usecToFrames(device->configuredLatency, device->rate);
}

std::optional<std::uint32_t> PulseAudioHardware::latencyFrames(AudioDeviceId id, AudioScope scope) {
  auto device = impl_->find(id);
  if (!device || device->isSink != (scope == AudioScope::output)) return std::nullopt;
  return usecToFrames(device->latency, device->rate);
}

std::optional<std::uint32_t> PulseAudioHardware::safetyOffsetFrames(AudioDeviceId id, AudioScope scope) {
  // PulseAudio folds its safety margins into the reported latency.
  auto device = impl_->find(id);
  if (!device || device->isSink != (scope == AudioScope::output)) return std::nullopt;
  return 0u;
}

std::optional<std::vector<std::uint32_t>> PulseAudioHardware::streamChannels(AudioDeviceId id, AudioScope scope) {
  auto device = impl_->find(id);
  if (!device) return std::nullopt;
  if (device->isSink != (scope == AudioScope::output)) return std::vector<std::uint32_t>{};
  return std::vector<std::uint32_t>{device->channels};
}

std::optional<AudioTransportType> PulseAudioHardware::transportType(AudioDeviceId id) {
  auto device = impl_->find(id);
  return device ? std::optional<AudioTransportType>(device->transport) : std::nullopt;
}

AudioHardware::ListenerId PulseAudioHardware::addDeviceListListener(std::function<void()> listener) {
  {
    Impl::Locked locked(*impl_);
    (void)locked.ok();  // connects, so that the subscription is in place
  }
  std::lock_guard guard(impl_->listenerMutex);
  impl_->listeners[++impl_->nextListener] = std::move(listener);
  return impl_->nextListener;
}

void PulseAudioHardware::removeDeviceListListener(ListenerId id) {
  std::lock_guard guard(impl_->listenerMutex);
  impl_->listeners.erase(id);
}

std::unique_ptr<AudioUnit> PulseAudioHardware::makeUnit() {
  if (!isConnected()) return nullptr;
  return std::make_unique<PulseAudioUnit>(impl_);
}

AudioHardware& AudioHardware::shared() {
  static PulseAudioHardware* hardware = new PulseAudioHardware();
  return *hardware;
}

}  // namespace orvik::platform

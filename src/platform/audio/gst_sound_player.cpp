#include "platform/audio/gst_sound_player.h"

#include <gst/gst.h>

#include <mutex>

#include "platform/app_info.h"
#include "platform/dispatch/task_queue.h"
#include "platform/platform_log.h"
#include "platform/queue_checker.h"

namespace orvik::platform {
namespace {

constexpr GstClockTime kPrerollTimeout = 5 * GST_SECOND;

void ensureGstreamer() {
  static std::once_flag once;
  std::call_once(once, [] { gst_init(nullptr, nullptr); });
}

// Shared between a sound and the tasks its pipeline posts, which may arrive
// after the sound is gone.
struct PipelineState {
  GstElement* playbin = nullptr;
  bool playing = false;
  bool loops = false;
  float volume = 1.0f;
};

void rewind(GstElement* playbin) {
  gst_element_seek_simple(playbin, GST_FORMAT_TIME, static_cast<GstSeekFlags>(GST_SEEK_FLAG_FLUSH), 0);
}

void onMainQueue(const std::weak_ptr<PipelineState>& weak, GstMessageType type) {
  auto state = weak.lock();
  if (!state || !state->playing) return;
  if (type == GST_MESSAGE_EOS && state->loops) {
    rewind(state->playbin);
    return;
  }
  state->playing = false;
  gst_element_set_state(state->playbin, GST_STATE_PAUSED);
  rewind(state->playbin);
}

GstBusSyncReply onBusMessage(GstBus*, GstMessage* message, gpointer data) {
  const GstMessageType type = GST_MESSAGE_TYPE(message);
  if (type == GST_MESSAGE_EOS || type == GST_MESSAGE_ERROR) {
    auto weak = *static_cast<std::weak_ptr<PipelineState>*>(data);
    mainQueue().post([weak, type] { onMainQueue(weak, type); });
  }
  return GST_BUS_DROP;
}

class GstSound final : public Sound {
 public:
  explicit GstSound(GstElement* playbin) : state_(std::make_shared<PipelineState>()) {
    state_->playbin = playbin;
    GstBus* bus = gst_element_get_bus(playbin);
    // What the preroll left on the bus would otherwise stay there for good.
    while (GstMessage* stale = gst_bus_pop(bus)) gst_message_unref(stale);
    gst_bus_set_sync_handler(bus, &onBusMessage, new std::weak_ptr<PipelineState>(state_),
                             [](gpointer data) { delete static_cast<std::weak_ptr<PipelineState>*>(data); });
    gst_object_unref(bus);
  }

  ~GstSound() override {
    gst_element_set_state(state_->playbin, GST_STATE_NULL);
    GstBus* bus = gst_element_get_bus(state_->playbin);
    gst_bus_set_sync_handler(bus, nullptr, nullptr, nullptr);
    gst_object_unref(bus);
    gst_object_unref(state_->playbin);
  }

  bool play() override {
    if (state_->playing) return false;
    if (gst_element_set_state(state_->playbin, GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) return false;
    state_->playing = true;
    return true;
  }

  bool stop() override {
    const bool was = state_->playing;
    state_->playing = false;
    gst_element_set_state(state_->playbin, GST_STATE_PAUSED);
    rewind(state_->playbin);
    return was;
  }

  bool isPlaying() const override { return state_->playing; }
  void setLoops(bool loops) override { state_->loops = loops; }
  bool loops() const override { return state_->loops; }

  void setVolume(float volume) override {
    state_->volume = volume < 0 ? 0.0f : (volume > 1 ? 1.0f : volume);
    g_object_set(state_->playbin, "volume", static_cast<gdouble>(state_->volume), nullptr);
  }
  float volume() const override { return state_->volume; }

 private:
  std::shared_ptr<PipelineState> state_;
};

}  // namespace

GstSoundPlayer::GstSoundPlayer(std::filesystem::path resources, std::string audioSink)
    : resources_(resources.empty() ? AppInfo::current().resourcesFolder : std::move(resources)),
      audioSink_(std::move(audioSink)) {
  ensureGstreamer();
}

GstSoundPlayer::~GstSoundPlayer() = default;

std::unique_ptr<Sound> GstSoundPlayer::load(const std::filesystem::path& file) {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  std::error_code ec;
  if (!std::filesystem::is_regular_file(file, ec)) return nullptr;
  const std::string absolute = std::filesystem::absolute(file, ec).string();
  gchar* uri = g_filename_to_uri(absolute.c_str(), nullptr, nullptr);
  if (!uri) return nullptr;
  GstElement* playbin = gst_element_factory_make("playbin", nullptr);
  if (!playbin) {
    g_free(uri);
    platformLog("[Sound] GStreamer has no playbin");
    return nullptr;
  }
  gst_object_ref_sink(playbin);
  g_object_set(playbin, "uri", uri, nullptr);
  g_free(uri);
  if (!audioSink_.empty()) {
    if (GstElement* sink = gst_element_factory_make(audioSink_.c_str(), nullptr)) {
      g_object_set(playbin, "audio-sink", sink, nullptr);
    }
  }
  // Preroll now: a file that is not a sound fails here, not at play time.
  GstStateChangeReturn result = gst_element_set_state(playbin, GST_STATE_PAUSED);
  if (result == GST_STATE_CHANGE_ASYNC) result = gst_element_get_state(playbin, nullptr, nullptr, kPrerollTimeout);
  GstBus* bus = gst_element_get_bus(playbin);
  GstMessage* error = gst_bus_pop_filtered(bus, GST_MESSAGE_ERROR);
  gst_object_unref(bus);
  if (error || result == GST_STATE_CHANGE_FAILURE) {
    if (error) gst_message_unref(error);
    gst_element_set_state(playbin, GST_STATE_NULL);
    gst_object_unref(playbin);
    return nullptr;
  }
  return std::make_unique<GstSound>(playbin);
}

std::unique_ptr<Sound> GstSoundPlayer::systemSound(const std::string& name) {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  return load(resources_ / "sounds" / "system" / (name + ".wav"));
}

void GstSoundPlayer::beep() {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  if (beep_) beep_->stop();
  beep_ = systemSound("Beep");
  if (beep_) beep_->play();
}

SoundPlayer& SoundPlayer::shared() {
  static GstSoundPlayer* player = new GstSoundPlayer();
  return *player;
}

}  // namespace orvik::platform

#include "files/video_transcoder.h"

#include <gst/gst.h>
#include <gst/pbutils/pbutils.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <mutex>
#include <string_view>

namespace orvik {
namespace fs = std::filesystem;
namespace {

constexpr GstClockTime kDiscoverTimeout = 30 * GST_SECOND;
// A pipeline that moves no frame for this long is stuck (a decoder waiting
// for data that never comes), not slow.
constexpr auto kStallTimeout = std::chrono::seconds(120);

void initialiseGStreamer() {
  static std::once_flag once;
  std::call_once(once, [] { gst_init_check(nullptr, nullptr, nullptr); });
}

// Halves away from zero, as the settings rules want.
double roundHalfAway(double value) { return std::round(value); }

int rotationOf(const gchar* orientation) {
  if (!orientation) return 0;
  const std::string_view text(orientation);
  if (text.ends_with("rotate-90")) return 90;
  if (text.ends_with("rotate-180")) return 180;
  if (text.ends_with("rotate-270")) return 270;
  return 0;
}

std::string errorText(GError* error, const char* fallback) {
  std::string text = error && error->message ? error->message : fallback;
  if (error) g_error_free(error);
  return text;
}

// The first AAC encoder installed, in order of preference; none without one.
const char* aacEncoderName() {
  for (const char* name : {"avenc_aac", "fdkaacenc", "voaacenc"}) {
    if (GstElementFactory* factory = gst_element_factory_find(name)) {
      gst_object_unref(factory);
      return name;
    }
  }
  return nullptr;
}

struct PipelineState {
  std::atomic<std::int64_t> lastBufferAt{0};  // steady-clock ticks
  double duration = 0;
  const VideoTranscoder::Progress* progress = nullptr;
  GstElement* videoBranch = nullptr;
  GstElement* audioBranch = nullptr;
  std::atomic<bool> videoLinked{false};
  std::atomic<bool> audioLinked{false};
};

std::int64_t steadyTicks() { return std::chrono::steady_clock::now().time_since_epoch().count(); }

GstPadProbeReturn onVideoBuffer(GstPad*, GstPadProbeInfo* info, gpointer data) {
  auto* state = static_cast<PipelineState*>(data);
  state->lastBufferAt.store(steadyTicks(), std::memory_order_relaxed);
  GstBuffer* buffer = GST_PAD_PROBE_INFO_BUFFER(info);
  if (state->duration > 0 && buffer && GST_BUFFER_PTS_IS_VALID(buffer) && state->progress && *state->progress) {
    const double seconds = static_cast<double>(GST_BUFFER_PTS(buffer)) / GST_SECOND;
    if (std::isfinite(seconds)) (*state->progress)(std::clamp(seconds / state->duration, 0.0, 0.99));
  }
  return GST_PAD_PROBE_OK;
}

GstPadProbeReturn onAnyBuffer(GstPad*, GstPadProbeInfo*, gpointer data) {
  static_cast<PipelineState*>(data)->lastBufferAt.store(steadyTicks(), std::memory_order_relaxed);
  return GST_PAD_PROBE_OK;
}

// The source's orientation is applied to the pixels: no tag may tell a
// player to rotate the result once more.
GstPadProbeReturn dropTags(GstPad*, GstPadProbeInfo* info, gpointer) {
  GstEvent* event = GST_PAD_PROBE_INFO_EVENT(info);
  return event && GST_EVENT_TYPE(event) == GST_EVENT_TAG ? GST_PAD_PROBE_DROP : GST_PAD_PROBE_OK;
}

void onPadAdded(GstElement*, GstPad* pad, gpointer data) {
  auto* state = static_cast<PipelineState*>(data);
  GstCaps* caps = gst_pad_get_current_caps(pad);
  if (!caps) caps = gst_pad_query_caps(pad, nullptr);
  const gchar* name = caps && gst_caps_get_size(caps) > 0 ? gst_structure_get_name(gst_caps_get_structure(caps, 0)) : "";
  const std::string_view kind(name ? name : "");
  GstElement* branch = nullptr;
  if (kind.starts_with("video/") && !state->videoLinked.exchange(true)) {
    branch = state->videoBranch;
  } else if (kind.starts_with("audio/") && state->audioBranch && !state->audioLinked.exchange(true)) {
    branch = state->audioBranch;
  }
  if (caps) gst_caps_unref(caps);
  // Streams beyond the first of each kind stay unlinked and are dropped.
  if (!branch) return;
  GstPad* sink = gst_element_get_static_pad(branch, "sink");
  gst_pad_link(pad, sink);
  gst_object_unref(sink);
}

std::string uriOf(const fs::path& file) {
  GError* error = nullptr;
  gchar* uri = gst_filename_to_uri(file.c_str(), &error);
  if (!uri) {
    if (error) g_error_free(error);
    return {};
  }
  std::string text(uri);
  g_free(uri);
  return text;
}

}  // namespace

std::string TranscodeError::description() const {
  switch (kind) {
    case Kind::readerFailed: return "reader failed: " + text;
    case Kind::writerFailed: return "writer failed: " + text;
    case Kind::noVideoTrack: return "no video track";
    case Kind::platform: return text;
  }
  return text;
}

std::optional<VideoTranscoder::Settings> VideoTranscoder::deriveSettings(const SourceInfo& source,
                                                                         std::optional<double> maxBitrate,
                                                                         bool reduce) {
  const bool quarterTurn = source.rotationDegrees == 90 || source.rotationDegrees == 270;
  const double width = std::fabs(quarterTurn ? source.naturalHeight : source.naturalWidth);
  const double height = std::fabs(quarterTurn ? source.naturalWidth : source.naturalHeight);
  if (!(width > 0) || !(height > 0) || !std::isfinite(width) || !std::isfinite(height)) return std::nullopt;

  Settings settings;
  settings.sourceWidth = static_cast<int>(width);
  settings.sourceHeight = static_cast<int>(height);
  const double scale = std::min(kMaxLongSide / std::max(width, height), 1.0);
  settings.outputWidth = std::max(2, 2 * static_cast<int>(roundHalfAway(width * scale / 2)));
  settings.outputHeight = std::max(2, 2 * static_cast<int>(roundHalfAway(height * scale / 2)));

  const double nominal = source.nominalFrameRate;
  settings.frameRate = !std::isfinite(nominal) || nominal < 1 ? kDefaultFrameRate : std::min(nominal, kMaxFrameRate);
  settings.roundedFrameRate = static_cast<int>(roundHalfAway(settings.frameRate));
  settings.keyFrameInterval = 2 * settings.roundedFrameRate;

  const double budget = settings.outputWidth * static_cast<double>(settings.outputHeight) * settings.frameRate *
                        kBitsPerPixel;
  double sourceRate = source.estimatedDataRate > 0 ? source.estimatedDataRate : budget;
  if (source.isHvc1) sourceRate *= kHevcFactor;
  if (reduce) sourceRate *= kReduceFactor;
  double target = std::min(budget, sourceRate);
  if (maxBitrate && *maxBitrate > 0) target = std::min(target, *maxBitrate);
  settings.bitRate = static_cast<long long>(std::max(target, kMinBitRate));
  settings.duration = std::isfinite(source.durationSeconds) && source.durationSeconds > 0 ? source.durationSeconds : 0;
  return settings;
}

std::variant<VideoTranscoder::SourceInfo, TranscodeError> VideoTranscoder::analyse(const fs::path& input) {
  initialiseGStreamer();
  const std::string uri = uriOf(input);
  if (uri.empty()) return TranscodeError{TranscodeError::Kind::platform, "invalid input path"};
  GError* error = nullptr;
  GstDiscoverer* discoverer = gst_discoverer_new(kDiscoverTimeout, &error);
  if (!discoverer) return TranscodeError{TranscodeError::Kind::platform, errorText(error, "no discoverer")};
  GstDiscovererInfo* info = gst_discoverer_discover_uri(discoverer, uri.c_str(), &error);
  g_object_unref(discoverer);
  if (!info) return TranscodeError{TranscodeError::Kind::platform, errorText(error, "cannot read the file")};
  const GstDiscovererResult result = gst_discoverer_info_get_result(info);
  if (result != GST_DISCOVERER_OK && result != GST_DISCOVERER_MISSING_PLUGINS) {
    gst_discoverer_info_unref(info);
    return TranscodeError{TranscodeError::Kind::platform, errorText(error, "cannot read the file")};
  }
  if (error) g_error_free(error);

  SourceInfo source;
  GList* videos = gst_discoverer_info_get_video_streams(info);
  if (!videos) {
    gst_discoverer_info_unref(info);
    return TranscodeError{TranscodeError::Kind::noVideoTrack, {}};
  }
  auto* video = GST_DISCOVERER_VIDEO_INFO(videos->data);
  source.naturalWidth = gst_discoverer_video_info_get_width(video);
  source.naturalHeight = gst_discoverer_video_info_get_height(video);
  const guint num = gst_discoverer_video_info_get_framerate_num(video);
  const guint den = gst_discoverer_video_info_get_framerate_denom(video);
  source.nominalFrameRate = den > 0 ? static_cast<double>(num) / den : 0;
  source.estimatedDataRate = gst_discoverer_video_info_get_bitrate(video);
  if (GstCaps* caps = gst_discoverer_stream_info_get_caps(GST_DISCOVERER_STREAM_INFO(video))) {
    const GstStructure* structure = gst_caps_get_structure(caps, 0);
    const gchar* format = gst_structure_get_string(structure, "stream-format");
    source.isHvc1 = gst_structure_has_name(structure, "video/x-h265") && format && std::string_view(format) == "hvc1";
    gst_caps_unref(caps);
  }
  const GstTagList* tags = gst_discoverer_stream_info_get_tags(GST_DISCOVERER_STREAM_INFO(video));
  if (!tags) tags = gst_discoverer_info_get_tags(info);
  if (tags) {
    gchar* orientation = nullptr;
    if (gst_tag_list_get_string(tags, GST_TAG_IMAGE_ORIENTATION, &orientation)) {
      source.rotationDegrees = rotationOf(orientation);
      g_free(orientation);
    }
    guint rate = 0;
    if (source.estimatedDataRate <= 0 && (gst_tag_list_get_uint(tags, GST_TAG_BITRATE, &rate) ||
                                          gst_tag_list_get_uint(tags, GST_TAG_NOMINAL_BITRATE, &rate))) {
      source.estimatedDataRate = rate;
    }
  }
  gst_discoverer_stream_info_list_free(videos);

  const GstClockTime duration = gst_discoverer_info_get_duration(info);
  source.durationSeconds = GST_CLOCK_TIME_IS_VALID(duration) ? static_cast<double>(duration) / GST_SECOND : 0;

  GList* audios = gst_discoverer_info_get_audio_streams(info);
  source.hasAudio = audios != nullptr;
  double audioRate = 0;
  if (audios) audioRate = gst_discoverer_audio_info_get_bitrate(GST_DISCOVERER_AUDIO_INFO(audios->data));
  gst_discoverer_stream_info_list_free(audios);
  gst_discoverer_info_unref(info);

  // Containers seldom state the video's rate; the file's own size over its
  // length, less the sound, is what the stream really carries.
  if (source.estimatedDataRate <= 0 && source.durationSeconds > 0) {
    std::error_code ec;
    const auto bytes = fs::file_size(input, ec);
    if (!ec) {
      const double fileRate = static_cast<double>(bytes) * 8 / source.durationSeconds;
      source.estimatedDataRate = std::max(0.0, fileRate - (source.hasAudio ? std::max(audioRate, 128000.0) : 0));
    }
  }
  return source;
}

void VideoTranscoder::transcode(const fs::path& input, const fs::path& output, std::optional<double> maxBitrate,
                                bool reduce, const Progress& progress, const Completion& completion) {
  auto fail = [&](TranscodeError::Kind kind, std::string text) { completion(TranscodeError{kind, std::move(text)}); };
  auto analysed = analyse(input);
  if (auto* error = std::get_if<TranscodeError>(&analysed)) {
    completion(*error);
    return;
  }
  const SourceInfo source = std::get<SourceInfo>(analysed);
  const std::optional<Settings> settings = deriveSettings(source, maxBitrate, reduce);
  if (!settings) {
    fail(TranscodeError::Kind::noVideoTrack, {});
    return;
  }

  std::error_code ec;
  fs::remove(output, ec);
  const fs::path faststartFile = output.string() + ".moov";

  PipelineState state;
  state.duration = settings->duration;
  state.progress = &progress;

  GstElement* pipeline = gst_pipeline_new("orvik-transcode");
  GstElement* fileSource = gst_element_factory_make("filesrc", nullptr);
  GstElement* decoder = gst_element_factory_make("decodebin", nullptr);
  GstElement* mux = gst_element_factory_make("mp4mux", nullptr);
  GstElement* sink = gst_element_factory_make("filesink", nullptr);
  if (!fileSource || !decoder) {
    for (GstElement* e : {fileSource, decoder, mux, sink}) {
      if (e) gst_object_unref(gst_object_ref_sink(e));
    }
    gst_object_unref(pipeline);
    fail(TranscodeError::Kind::readerFailed, "cannot add video output");
    return;
  }
  if (!mux || !sink) {
    for (GstElement* e : {fileSource, decoder, mux, sink}) {
      if (e) gst_object_unref(gst_object_ref_sink(e));
    }
    gst_object_unref(pipeline);
    fail(TranscodeError::Kind::writerFailed, "cannot create the MP4 writer");
    return;
  }
  g_object_set(fileSource, "location", input.c_str(), nullptr);
  g_object_set(mux, "faststart", TRUE, "faststart-file", faststartFile.c_str(), nullptr);
  g_object_set(sink, "location", output.c_str(), nullptr);
  gst_bin_add_many(GST_BIN(pipeline), fileSource, decoder, mux, sink, nullptr);
  gst_element_link(fileSource, decoder);
  gst_element_link(mux, sink);

  auto cleanUp = [&] {
    gst_element_set_state(pipeline, GST_STATE_NULL);
    gst_object_unref(pipeline);
    std::error_code ignored;
    fs::remove(faststartFile, ignored);
  };
  auto failAfterSetUp = [&](TranscodeError::Kind kind, std::string text) {
    cleanUp();
    std::error_code ignored;
    fs::remove(output, ignored);
    fail(kind, std::move(text));
  };

  // Decoded frames: upright, scaled, at the output rate, 8-bit 4:2:0 BT.709.
  const std::string videoDescription =
      "queue max-size-time=0 max-size-bytes=0 max-size-buffers=8 ! videoconvert ! videoflip video-direction=auto ! "
      "videoscale add-borders=false ! videorate ! "
      "video/x-raw,format=I420,width=" + std::to_string(settings->outputWidth) +
      ",height=" + std::to_string(settings->outputHeight) +
      ",pixel-aspect-ratio=1/1,colorimetry=bt709,framerate=" + std::to_string(settings->roundedFrameRate) + "/1 ! "
      "x264enc name=encoder speed-preset=faster bitrate=" + std::to_string(std::max(1LL, settings->bitRate / 1000)) +
      " key-int-max=" + std::to_string(settings->keyFrameInterval) +
      " ! video/x-h264,profile=high ! h264parse";
  GError* error = nullptr;
  GstElement* videoBranch = gst_parse_bin_from_description(videoDescription.c_str(), TRUE, &error);
  if (!videoBranch) {
    failAfterSetUp(TranscodeError::Kind::writerFailed, "cannot add video input: " + errorText(error, "no encoder"));
    return;
  }
  if (error) g_clear_error(&error);
  gst_bin_add(GST_BIN(pipeline), videoBranch);
  state.videoBranch = videoBranch;
  GstPad* videoOut = gst_element_get_static_pad(videoBranch, "src");
  GstPad* videoIn = gst_element_request_pad_simple(mux, "video_%u");
  const bool videoLinked = videoIn && gst_pad_link(videoOut, videoIn) == GST_PAD_LINK_OK;
  if (videoIn) gst_pad_add_probe(videoIn, GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM, dropTags, nullptr, nullptr);
  gst_object_unref(videoOut);
  if (videoIn) gst_object_unref(videoIn);
  if (!videoLinked) {
    failAfterSetUp(TranscodeError::Kind::writerFailed, "cannot add video input");
    return;
  }
  if (GstElement* encoder = gst_bin_get_by_name(GST_BIN(videoBranch), "encoder")) {
    GstPad* encoderIn = gst_element_get_static_pad(encoder, "sink");
    gst_pad_add_probe(encoderIn, GST_PAD_PROBE_TYPE_BUFFER, onVideoBuffer, &state, nullptr);
    gst_object_unref(encoderIn);
    gst_object_unref(encoder);
  }

  // Sound, when there is some and an AAC encoder to write it with; without
  // an encoder the result is video only.
  const char* aac = source.hasAudio ? aacEncoderName() : nullptr;
  if (aac) {
    const std::string audioDescription =
        "queue max-size-time=0 max-size-bytes=0 max-size-buffers=64 ! audioconvert ! audioresample ! "
        "audio/x-raw,rate=" + std::to_string(kAudioRate) + ",channels=" + std::to_string(kAudioChannels) + " ! " +
        aac + " bitrate=" + std::to_string(kAudioBitRate) + " ! aacparse";
    GstElement* audioBranch = gst_parse_bin_from_description(audioDescription.c_str(), TRUE, &error);
    if (error) g_clear_error(&error);
    GstPad* audioIn = audioBranch ? gst_element_request_pad_simple(mux, "audio_%u") : nullptr;
    if (audioBranch && audioIn) {
      gst_bin_add(GST_BIN(pipeline), audioBranch);
      GstPad* audioOut = gst_element_get_static_pad(audioBranch, "src");
      if (gst_pad_link(audioOut, audioIn) == GST_PAD_LINK_OK) {
        state.audioBranch = audioBranch;
        gst_pad_add_probe(audioOut, GST_PAD_PROBE_TYPE_BUFFER, onAnyBuffer, &state, nullptr);
      } else {
        gst_element_release_request_pad(mux, audioIn);
        gst_bin_remove(GST_BIN(pipeline), audioBranch);
      }
      gst_object_unref(audioOut);
    } else if (audioBranch) {
      gst_object_unref(gst_object_ref_sink(audioBranch));
    }
    if (audioIn) gst_object_unref(audioIn);
  }
  g_signal_connect(decoder, "pad-added", G_CALLBACK(onPadAdded), &state);

  state.lastBufferAt.store(steadyTicks());
  if (gst_element_set_state(pipeline, GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
    failAfterSetUp(TranscodeError::Kind::writerFailed, "startWriting");
    return;
  }

  GstBus* bus = gst_element_get_bus(pipeline);
  std::optional<std::string> failure;
  for (;;) {
    GstMessage* message = gst_bus_timed_pop_filtered(bus, GST_SECOND,
                                                     static_cast<GstMessageType>(GST_MESSAGE_EOS | GST_MESSAGE_ERROR));
    if (!message) {
      const auto idle = std::chrono::steady_clock::duration(steadyTicks() - state.lastBufferAt.load());
      if (idle > kStallTimeout) {
        failure = "stalled";
        break;
      }
      continue;
    }
    const bool eos = GST_MESSAGE_TYPE(message) == GST_MESSAGE_EOS;
    if (!eos) {
      GError* messageError = nullptr;
      gst_message_parse_error(message, &messageError, nullptr);
      failure = errorText(messageError, "cancelled");
    }
    gst_message_unref(message);
    break;
  }
  gst_object_unref(bus);
  if (!failure && !state.videoLinked.load()) failure = "no decodable video";
  if (failure) {
    failAfterSetUp(TranscodeError::Kind::writerFailed, *failure);
    return;
  }
  cleanUp();
  if (fs::file_size(output, ec) == 0 || ec) {
    fs::remove(output, ec);
    fail(TranscodeError::Kind::writerFailed, "finishWriting");
    return;
  }
  if (progress) progress(1.0);
  completion(output);
}

}  // namespace orvik

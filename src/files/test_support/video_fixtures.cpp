#include "files/test_support/video_fixtures.h"

#include <gst/app/gstappsink.h>
#include <gst/gst.h>
#include <gst/pbutils/pbutils.h>
#include <gst/video/video.h>

#include <array>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string_view>
#include <vector>

namespace orvik::testing {
namespace fs = std::filesystem;
namespace {

void initialise() {
  static bool done = [] { return gst_init_check(nullptr, nullptr, nullptr); }();
  (void)done;
}

// Runs a gst-launch style description to its end; false on an error.
bool runPipeline(const std::string& description, const fs::path& location) {
  initialise();
  GError* error = nullptr;
  GstElement* pipeline = gst_parse_launch(description.c_str(), &error);
  if (error) {
    g_error_free(error);
    if (pipeline) gst_object_unref(pipeline);
    return false;
  }
  GstElement* sink = gst_bin_get_by_name(GST_BIN(pipeline), "sink");
  g_object_set(sink, "location", location.c_str(), nullptr);
  gst_object_unref(sink);
  gst_element_set_state(pipeline, GST_STATE_PLAYING);
  GstBus* bus = gst_element_get_bus(pipeline);
  GstMessage* message = gst_bus_timed_pop_filtered(bus, 300 * GST_SECOND,
                                                   static_cast<GstMessageType>(GST_MESSAGE_EOS | GST_MESSAGE_ERROR));
  const bool ok = message && GST_MESSAGE_TYPE(message) == GST_MESSAGE_EOS;
  if (message) gst_message_unref(message);
  gst_object_unref(bus);
  gst_element_set_state(pipeline, GST_STATE_NULL);
  gst_object_unref(pipeline);
  return ok;
}

std::string readAll(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::uint32_t be32(const std::string& bytes, std::size_t at) {
  return (std::uint32_t(std::uint8_t(bytes[at])) << 24) | (std::uint32_t(std::uint8_t(bytes[at + 1])) << 16) |
         (std::uint32_t(std::uint8_t(bytes[at + 2])) << 8) | std::uint32_t(std::uint8_t(bytes[at + 3]));
}

void putBe32(std::string& bytes, std::size_t at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<char>((value >> (24 - 8 * i)) & 0xFF);
}

struct Box {
  std::string type;
  std::size_t start = 0;    // of the size field
  std::size_t payload = 0;  // after the header
  std::size_t end = 0;
};

std::vector<Box> boxesIn(const std::string& bytes, std::size_t from, std::size_t to) {
  std::vector<Box> boxes;
  std::size_t at = from;
  while (at + 8 <= to) {
    std::uint64_t size = be32(bytes, at);
    std::size_t header = 8;
    if (size == 1 && at + 16 <= to) {
      size = (std::uint64_t(be32(bytes, at + 8)) << 32) | be32(bytes, at + 12);
      header = 16;
    } else if (size == 0) {
      size = to - at;
    }
    if (size < header || at + size > to) break;
    boxes.push_back({bytes.substr(at + 4, 4), at, at + header, at + static_cast<std::size_t>(size)});
    at += static_cast<std::size_t>(size);
  }
  return boxes;
}

// The matrix of each track header, and where it sits.
struct TrackHeader {
  std::size_t matrixAt = 0;
  std::uint32_t width = 0;
};

std::vector<TrackHeader> trackHeaders(const std::string& bytes) {
  std::vector<TrackHeader> headers;
  for (const Box& top : boxesIn(bytes, 0, bytes.size())) {
    if (top.type != "moov") continue;
    for (const Box& trak : boxesIn(bytes, top.payload, top.end)) {
      if (trak.type != "trak") continue;
      for (const Box& tkhd : boxesIn(bytes, trak.payload, trak.end)) {
        if (tkhd.type != "tkhd") continue;
        const bool version1 = bytes[tkhd.payload] == 1;
        const std::size_t matrix = tkhd.payload + (version1 ? 52 : 40);
        headers.push_back({matrix, be32(bytes, matrix + 36)});
      }
    }
  }
  return headers;
}

bool setRotation(const fs::path& file, int degrees) {
  std::string bytes = readAll(file);
  const std::uint32_t one = 0x00010000, minusOne = 0xFFFF0000;
  const std::array<std::uint32_t, 9> matrix =
      degrees == 90 ? std::array<std::uint32_t, 9>{0, one, 0, minusOne, 0, 0, 0, 0, 0x40000000}
                    : std::array<std::uint32_t, 9>{0, minusOne, 0, one, 0, 0, 0, 0, 0x40000000};
  bool patched = false;
  for (const TrackHeader& header : trackHeaders(bytes)) {
    if (header.width == 0) continue;  // a sound track
    for (std::size_t i = 0; i < 9; ++i) putBe32(bytes, header.matrixAt + 4 * i, matrix[i]);
    patched = true;
  }
  std::ofstream(file, std::ios::binary | std::ios::trunc) << bytes;
  return patched;
}

// Whether the pixels at the given points are all within a tolerance of the first.
bool sameColour(const guint8* data, int stride, const std::vector<std::pair<int, int>>& points) {
  const guint8* first = data + points[0].second * stride + points[0].first * 3;
  for (const auto& [x, y] : points) {
    const guint8* p = data + y * stride + x * 3;
    for (int c = 0; c < 3; ++c) {
      if (std::abs(int(p[c]) - int(first[c])) > 40) return false;
    }
  }
  return true;
}

void inspectFirstFrame(const fs::path& file, ClipFacts& facts) {
  GstElement* pipeline = gst_parse_launch(
      "filesrc name=src ! decodebin ! videoconvert ! video/x-raw,format=RGB ! appsink name=frames sync=false", nullptr);
  if (!pipeline) return;
  GstElement* src = gst_bin_get_by_name(GST_BIN(pipeline), "src");
  g_object_set(src, "location", file.c_str(), nullptr);
  gst_object_unref(src);
  GstElement* frames = gst_bin_get_by_name(GST_BIN(pipeline), "frames");
  gst_element_set_state(pipeline, GST_STATE_PLAYING);
  GstSample* sample = gst_app_sink_try_pull_sample(GST_APP_SINK(frames), 60 * GST_SECOND);
  if (sample) {
    GstVideoInfo info;
    GstMapInfo map;
    GstBuffer* buffer = gst_sample_get_buffer(sample);
    if (gst_video_info_from_caps(&info, gst_sample_get_caps(sample)) && gst_buffer_map(buffer, &map, GST_MAP_READ)) {
      facts.decodedFrames = 1;
      const int w = GST_VIDEO_INFO_WIDTH(&info), h = GST_VIDEO_INFO_HEIGHT(&info);
      const int stride = GST_VIDEO_INFO_PLANE_STRIDE(&info, 0);
      // Seven bars: sample the middle of each along one axis, and five points
      // spread along the other.
      bool rows = true, columns = true;
      for (int bar = 0; bar < 7; ++bar) {
        std::vector<std::pair<int, int>> row, column;
        const int y = (2 * bar + 1) * h / 14, x = (2 * bar + 1) * w / 14;
        for (int k = 1; k <= 5; ++k) {
          row.emplace_back(k * w / 6, y);
          column.emplace_back(x, k * h / 6);
        }
        rows = rows && sameColour(map.data, stride, row);
        columns = columns && sameColour(map.data, stride, column);
      }
      facts.rowsUniform = rows;
      facts.columnsUniform = columns;
      gst_buffer_unmap(buffer, &map);
    }
    gst_sample_unref(sample);
  }
  gst_element_set_state(pipeline, GST_STATE_NULL);
  gst_object_unref(frames);
  gst_object_unref(pipeline);
}

}  // namespace

bool makeClip(const fs::path& file, const ClipRecipe& recipe) {
  const bool mp4 = recipe.codec != "vp8";
  std::string video = "videotestsrc pattern=smpte75 num-buffers=" + std::to_string(recipe.frames) +
                      " ! video/x-raw,format=I420,width=" + std::to_string(recipe.width) +
                      ",height=" + std::to_string(recipe.height) + ",framerate=" + std::to_string(recipe.fps) + "/1 ! ";
  if (recipe.codec == "hevc") {
    video += "x265enc speed-preset=ultrafast ! h265parse ! video/x-h265,stream-format=hvc1 ! ";
  } else if (recipe.codec == "h264") {
    video += "x264enc speed-preset=ultrafast ! h264parse ! ";
  } else {
    video += "vp8enc deadline=1 ! ";
  }
  std::string description = video + "mux. " + (mp4 ? "mp4mux name=mux" : "matroskamux name=mux") + " ! filesink name=sink";
  if (recipe.sound) {
    // 1600 samples a buffer at 48 kHz: 30 buffers a second.
    const int buffers = std::max(1, recipe.frames * 30 / std::max(1, recipe.fps));
    description += " audiotestsrc num-buffers=" + std::to_string(buffers) +
                   " samplesperbuffer=1600 ! audio/x-raw,rate=48000,channels=1 ! audioconvert ! " +
                   (mp4 ? "avenc_aac ! aacparse" : "vorbisenc") + " ! mux.";
  }
  if (!runPipeline(description, file)) return false;
  if (recipe.rotation != 0) return mp4 && setRotation(file, recipe.rotation);
  return true;
}

bool makeSoundOnly(const fs::path& file) {
  return runPipeline("audiotestsrc num-buffers=30 ! audioconvert ! avenc_aac ! aacparse ! mp4mux ! filesink name=sink",
                     file);
}

ClipFacts inspectClip(const fs::path& file) {
  initialise();
  ClipFacts facts;
  const std::string bytes = readAll(file);
  std::size_t moov = std::string::npos, mdat = std::string::npos;
  for (const Box& box : boxesIn(bytes, 0, bytes.size())) {
    if (box.type == "moov" && moov == std::string::npos) moov = box.start;
    if (box.type == "mdat" && mdat == std::string::npos) mdat = box.start;
  }
  facts.indexFirst = moov != std::string::npos && mdat != std::string::npos && moov < mdat;
  const auto headers = trackHeaders(bytes);
  facts.tracks = static_cast<int>(headers.size());
  facts.identityMatrix = !headers.empty();
  for (const TrackHeader& header : headers) {
    const std::array<std::uint32_t, 9> identity{0x10000, 0, 0, 0, 0x10000, 0, 0, 0, 0x40000000};
    for (std::size_t i = 0; i < 9; ++i) {
      if (be32(bytes, header.matrixAt + 4 * i) != identity[i]) facts.identityMatrix = false;
    }
  }

  GError* error = nullptr;
  GstDiscoverer* discoverer = gst_discoverer_new(60 * GST_SECOND, &error);
  if (!discoverer) {
    if (error) g_error_free(error);
    return facts;
  }
  gchar* uri = gst_filename_to_uri(file.c_str(), nullptr);
  GstDiscovererInfo* info = gst_discoverer_discover_uri(discoverer, uri, &error);
  g_free(uri);
  if (error) g_clear_error(&error);
  if (info) {
    if (GList* videos = gst_discoverer_info_get_video_streams(info)) {
      auto* video = GST_DISCOVERER_VIDEO_INFO(videos->data);
      facts.width = static_cast<int>(gst_discoverer_video_info_get_width(video));
      facts.height = static_cast<int>(gst_discoverer_video_info_get_height(video));
      if (GstCaps* caps = gst_discoverer_stream_info_get_caps(GST_DISCOVERER_STREAM_INFO(video))) {
        const GstStructure* s = gst_caps_get_structure(caps, 0);
        facts.videoCodec = gst_structure_get_name(s);
        if (const gchar* profile = gst_structure_get_string(s, "profile")) facts.profile = profile;
        gst_caps_unref(caps);
      }
      gst_discoverer_stream_info_list_free(videos);
    }
    if (GList* audios = gst_discoverer_info_get_audio_streams(info)) {
      auto* audio = GST_DISCOVERER_AUDIO_INFO(audios->data);
      facts.audioRate = static_cast<int>(gst_discoverer_audio_info_get_sample_rate(audio));
      facts.audioChannels = static_cast<int>(gst_discoverer_audio_info_get_channels(audio));
      if (GstCaps* caps = gst_discoverer_stream_info_get_caps(GST_DISCOVERER_STREAM_INFO(audio))) {
        const GstStructure* s = gst_caps_get_structure(caps, 0);
        int version = 0;
        facts.audioCodec = gst_structure_get_name(s);
        if (facts.audioCodec == "audio/mpeg" && gst_structure_get_int(s, "mpegversion", &version)) {
          facts.audioCodec += std::to_string(version);
        }
        gst_caps_unref(caps);
      }
      gst_discoverer_stream_info_list_free(audios);
    }
    gst_discoverer_info_unref(info);
  }
  g_object_unref(discoverer);
  inspectFirstFrame(file, facts);
  return facts;
}

}  // namespace orvik::testing

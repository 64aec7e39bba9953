// orvikupload:// benchmarks:
//  1. upload throughput: a page in WebKitGTK sends 128 MB with fetch() in
//     1 MB chunks (one at a time, and four in flight) until the end reply;
//     MB/s from the first start to that reply, page to disk.
//  2. transcoding speed: VideoTranscoder against the ffmpeg program doing the
//     same job with the same encoder settings (libx264 "faster", the same
//     size, rate, bit rate and key-frame interval, AAC 128 k, index first),
//     as a ratio of ffmpeg's time to ours (goal: at least 1.0).
// Run under a display: xvfb-run -a dbus-run-session -- build/bench/bench_orvikupload
#include <gst/gst.h>
#include <gtk/gtk.h>
#include <webkit/webkit.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include <nlohmann/json.hpp>

#include "files/documents_folder.h"
#include "files/orvik_upload_scheme_handler.h"
#include "files/test_support/page_function.h"
#include "files/test_support/video_fixtures.h"
#include "files/upload_scheme_webkit.h"
#include "files/video_transcoder.h"
#include "platform/dispatch/glib_main_queue.h"
#include "platform/dispatch/serial_queue.h"

namespace {
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr std::size_t kUploadSize = 128u * 1024 * 1024;
constexpr std::size_t kChunk = 1024 * 1024;
constexpr int kRounds = 3;

nlohmann::json runInPage(WebKitWebView* view, const std::string& body) {
  const auto result = orvik::testing::runAsyncFunctionInPage(view, body);
  if (!result.error.empty()) std::fprintf(stderr, "page script failed: %s\n", result.error.c_str());
  return result.value;
}

double seconds(Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); }

int uploadThroughput() {
  orvik::DocTransferManager documents(orvik::documentsDirectory);
  orvik::ImgTransferManager images(orvik::documentsDirectory);
  orvik::VideoTransferManager videos(orvik::documentsDirectory);
  orvik::platform::SerialQueue thumbnails("com.orvik.uploadThumbnails");
  auto handler = std::make_shared<orvik::OrvikUploadSchemeHandler>(orvik::OrvikUploadSchemeHandler::Collaborators{
      documents, images, videos, thumbnails, [](std::string_view) { return true; }, nullptr, {}, {}});
  WebKitWebContext* context = webkit_web_context_new();
  orvik::registerOrvikUploadScheme(context, handler);
  WebKitNetworkSession* session = webkit_network_session_new_ephemeral();
  auto* view = WEBKIT_WEB_VIEW(
      g_object_new(WEBKIT_TYPE_WEB_VIEW, "web-context", context, "network-session", session, nullptr));
  GtkWidget* window = gtk_window_new();
  gtk_window_set_child(GTK_WINDOW(window), GTK_WIDGET(view));
  gtk_window_present(GTK_WINDOW(window));
  bool loaded = false;
  g_signal_connect(view, "load-changed", G_CALLBACK(+[](WebKitWebView*, WebKitLoadEvent event, gpointer done) {
                     if (event == WEBKIT_LOAD_FINISHED) *static_cast<bool*>(done) = true;
                   }),
                   &loaded);
  webkit_web_view_load_html(view, "<!DOCTYPE html><title>bench</title>", "http://127.0.0.1/");
  while (!loaded) g_main_context_iteration(nullptr, TRUE);

  const std::string script = "const size = " + std::to_string(kUploadSize) + ", chunk = " + std::to_string(kChunk) +
                             ";" + R"JS(
    const bytes = new Uint8Array(size);
    for (let i = 0; i < size; i += 4096) bytes[i] = i & 0xFF;
    const post = (url, body, headers) => fetch(url, {method: 'POST', body, headers: headers || {}});
    const result = {};
    for (const [name, inFlight] of [['one', 1], ['four', 4]]) {
      const id = 'bench-' + name + '-' + Math.random().toString(36).slice(2);
      const start = performance.now();
      await post('orvikupload://start/' + id, null, {'X-File-Name': id + '.bin'});
      let next = 0;
      const worker = async () => {
        while (next < size) {
          const at = next; next += chunk;
          const r = await post('orvikupload://chunk/' + id, bytes.subarray(at, at + chunk));
          if (r.status !== 200) throw new Error('chunk ' + r.status);
        }
      };
      await Promise.all(Array.from({length: inFlight}, worker));
      const end = await (await post('orvikupload://end/' + id)).json();
      result[name] = {ms: performance.now() - start, path: end.path};
    }
    return result;
  )JS";
  double best[2] = {0, 0};
  for (int round = 0; round < kRounds; ++round) {
    const nlohmann::json r = runInPage(view, script);
    if (!r.is_object() || !r.contains("one")) {
      std::printf("upload failed: %s\n", r.dump().c_str());
      return 1;
    }
    int i = 0;
    for (const char* name : {"one", "four"}) {
      const fs::path saved = r[name]["path"].get<std::string>();
      std::error_code ec;
      if (fs::file_size(saved, ec) != kUploadSize) {
        std::printf("saved file has the wrong size\n");
        return 1;
      }
      fs::remove(saved, ec);
      best[i] = std::max(best[i], kUploadSize / (1024.0 * 1024.0) / (r[name]["ms"].get<double>() / 1000.0));
      ++i;
    }
  }
  std::printf("upload %zu MB in 1 MB chunks, best of %d rounds:\n", kUploadSize >> 20, kRounds);
  std::printf("  page -> disk, one chunk in flight:   %7.1f MB/s\n", best[0]);
  std::printf("  page -> disk, four chunks in flight: %7.1f MB/s\n", best[1]);
  gtk_window_destroy(GTK_WINDOW(window));
  g_object_unref(session);
  g_object_unref(context);
  return 0;
}

int transcodingAgainstFfmpeg(const fs::path& folder) {
  const fs::path input = folder / "source.mp4";
  // Ten seconds of 1080p30 H.264 with sound: a phone clip's shape.
  if (!orvik::testing::makeClip(input, {1920, 1080, 30, 300, "h264", true, 0})) {
    std::printf("could not make the source clip\n");
    return 1;
  }
  const auto analysed = orvik::VideoTranscoder::analyse(input);
  const auto settings =
      orvik::VideoTranscoder::deriveSettings(std::get<orvik::VideoTranscoder::SourceInfo>(analysed), {}, true);
  const long long kbps = std::max(1LL, settings->bitRate / 1000);

  double ours = 1e9, theirs = 1e9;
  for (int round = 0; round < kRounds; ++round) {
    const fs::path output = folder / "ours.mp4";
    bool ok = false;
    const auto start = Clock::now();
    orvik::VideoTranscoder::transcode(input, output, {}, true, nullptr,
                                      [&](const orvik::VideoTranscoder::Result& r) { ok = r.index() == 0; });
    const double took = seconds(start);
    if (!ok) {
      std::printf("transcoding failed\n");
      return 1;
    }
    ours = std::min(ours, took);

    const std::string command =
        "ffmpeg -v error -y -i '" + input.string() + "' -vf 'scale=" + std::to_string(settings->outputWidth) + ":" +
        std::to_string(settings->outputHeight) + ",fps=" + std::to_string(settings->roundedFrameRate) +
        ",format=yuv420p' -c:v libx264 -preset faster -profile:v high -b:v " + std::to_string(kbps) + "k -maxrate " +
        std::to_string(kbps) + "k -bufsize " + std::to_string(kbps * 6 / 10) + "k -g " +
        std::to_string(settings->keyFrameInterval) +
        " -color_primaries bt709 -color_trc bt709 -colorspace bt709 -c:a aac -b:a 128k -ar 44100 -ac 2 "
        "-movflags +faststart '" + (folder / "theirs.mp4").string() + "'";
    const auto ffmpegStart = Clock::now();
    if (std::system(command.c_str()) != 0) {
      std::printf("ffmpeg failed (the yardstick needs Debian's ffmpeg package: apt-get install ffmpeg)\n");
      return 1;
    }
    theirs = std::min(theirs, seconds(ffmpegStart));
  }
  std::printf("transcode 10 s of 1080p30 H.264 + AAC to %dx%d at %lld kbit/s, best of %d rounds:\n",
              settings->outputWidth, settings->outputHeight, kbps, kRounds);
  std::printf("  VideoTranscoder: %6.2f s\n  ffmpeg:          %6.2f s\n  ratio ffmpeg/ours: %.2f (goal >= 1.0)\n", ours,
              theirs, theirs / ours);
  return 0;
}

}  // namespace

int main() {
  char home[] = "/tmp/orvik-bench-XXXXXX";
  if (!::mkdtemp(home)) return 1;
  ::setenv("HOME", home, 1);
  ::setenv("XDG_DATA_HOME", (std::string(home) + "/.local/share").c_str(), 1);
  ::setenv("XDG_CONFIG_HOME", (std::string(home) + "/.config").c_str(), 1);
  gtk_init();
  gst_init(nullptr, nullptr);
  orvik::platform::GlibMainQueue main;
  orvik::platform::ScopedMainQueue scoped(main);
  int failed = uploadThroughput();
  failed |= transcodingAgainstFfmpeg(home);
  std::error_code ec;
  fs::remove_all(home, ec);
  return failed;
}

// orvikfile:// throughput: a 200 MB file read in 1 MB ranges by fetch() from
// a page in WebKitGTK, against the same ranges read natively with pread().
// Run under a display: xvfb-run -a dbus-run-session -- build/bench/bench_orvikfile_throughput
#include <fcntl.h>
#include <gtk/gtk.h>
#include <unistd.h>
#include <webkit/webkit.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include <nlohmann/json.hpp>

#include "files/documents_folder.h"
#include "files/orvik_file_scheme_webkit.h"
#include "files/test_support/page_function.h"
#include "platform/dispatch/glib_main_queue.h"

namespace {
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr std::size_t kFileSize = 200u * 1024 * 1024;
constexpr std::size_t kRange = 1024 * 1024;
constexpr int kRounds = 3;

double nativeReadMBps(const fs::path& file) {
  const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
  std::string buffer(kRange, '\0');
  const auto start = Clock::now();
  std::size_t total = 0;
  for (std::size_t at = 0; at < kFileSize; at += kRange) {
    total += static_cast<std::size_t>(::pread(fd, buffer.data(), kRange, static_cast<off_t>(at)));
  }
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  ::close(fd);
  return static_cast<double>(total) / (1024.0 * 1024.0) / seconds;
}

nlohmann::json runInPage(WebKitWebView* view, const std::string& body) {
  const auto result = orvik::testing::runAsyncFunctionInPage(view, body);
  if (!result.error.empty()) std::fprintf(stderr, "page script failed: %s\n", result.error.c_str());
  return result.value;
}

}  // namespace

int main() {
  char home[] = "/tmp/orvik-bench-XXXXXX";
  if (!::mkdtemp(home)) return 1;
  ::setenv("HOME", home, 1);
  ::setenv("XDG_DATA_HOME", (std::string(home) + "/.local/share").c_str(), 1);
  ::setenv("XDG_CONFIG_HOME", (std::string(home) + "/.config").c_str(), 1);
  gtk_init();
  orvik::platform::GlibMainQueue main;
  orvik::platform::ScopedMainQueue scoped(main);

  const fs::path file = orvik::documentsDirectory() / "big.mp4";
  {
    std::ofstream out(file, std::ios::binary);
    std::string block(kRange, '\0');
    for (std::size_t i = 0; i < block.size(); ++i) block[i] = static_cast<char>(i * 13);
    for (std::size_t at = 0; at < kFileSize; at += kRange) out.write(block.data(), static_cast<std::streamsize>(block.size()));
  }

  orvik::FileAccessPolicy policy(orvik::FileAccessPolicy::programRoots);
  auto handler =
      std::make_shared<orvik::OrvikFileSchemeHandler>(policy, [](std::string_view) { return true; });
  WebKitWebContext* context = webkit_web_context_new();
  orvik::registerOrvikFileScheme(context, handler);
  WebKitNetworkSession* session = webkit_network_session_new_ephemeral();
  auto* view = WEBKIT_WEB_VIEW(g_object_new(WEBKIT_TYPE_WEB_VIEW, "web-context", context, "network-session", session, nullptr));
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

  const std::string setup = "const url = " + nlohmann::json("orvikfile://" + file.string()).dump() +
                            "; const size = " + std::to_string(kFileSize) + "; const range = " +
                            std::to_string(kRange) + ";";
  const std::string sequential = setup + R"JS(
    const start = performance.now(); let total = 0;
    for (let at = 0; at < size; at += range) {
      const r = await fetch(url, {headers: {Range: `bytes=${at}-${at + range - 1}`}});
      total += (await r.arrayBuffer()).byteLength;
    }
    return {total, ms: performance.now() - start};
  )JS";
  const std::string fourInFlight = setup + R"JS(
    const start = performance.now(); let total = 0; let next = 0; const bad = [];
    const worker = async () => {
      while (next < size) {
        const at = next; next += range;
        const r = await fetch(url, {headers: {Range: `bytes=${at}-${at + range - 1}`}});
        const n = (await r.arrayBuffer()).byteLength;
        if (n !== range && bad.length < 10) bad.push([at, r.status, n, r.headers.get('Content-Range'), r.headers.get('Content-Length')]);
        total += n;
      }
    };
    await Promise.all([worker(), worker(), worker(), worker()]);
    return {total, ms: performance.now() - start, bad};
  )JS";
  const std::string whole = setup + R"JS(
    const start = performance.now();
    const total = (await (await fetch(url)).arrayBuffer()).byteLength;
    return {total, ms: performance.now() - start};
  )JS";

  std::printf("file: %zu MB, ranges of %zu KB, best of %d rounds\n", kFileSize >> 20, kRange >> 10, kRounds);
  double native = 0, pageSequential = 0, pageParallel = 0, pageWhole = 0;
  for (int round = 0; round < kRounds; ++round) {
    native = std::max(native, nativeReadMBps(file));
    for (auto [script, best] : {std::pair{&sequential, &pageSequential}, std::pair{&fourInFlight, &pageParallel},
                                std::pair{&whole, &pageWhole}}) {
      const nlohmann::json r = runInPage(view, *script);
      if (!r.is_object() || r.value("total", 0.0) != static_cast<double>(kFileSize)) {
        std::printf("page read failed: %s\n", r.dump().c_str());
        return 1;
      }
      *best = std::max(*best, static_cast<double>(kFileSize) / (1024.0 * 1024.0) / (r["ms"].get<double>() / 1000.0));
    }
  }
  std::printf("native pread, 1 MB ranges:            %8.0f MB/s\n", native);
  std::printf("orvikfile:// fetch, 1 MB ranges:      %8.0f MB/s (%.4f of native)\n", pageSequential,
              pageSequential / native);
  std::printf("orvikfile:// fetch, 1 MB, 4 in flight: %7.0f MB/s (%.4f of native)\n", pageParallel,
              pageParallel / native);
  std::printf("orvikfile:// fetch, whole file:       %8.0f MB/s (%.4f of native)\n", pageWhole, pageWhole / native);

  gtk_window_destroy(GTK_WINDOW(window));
  g_object_unref(session);
  g_object_unref(context);
  fs::remove_all(home);
  return 0;
}

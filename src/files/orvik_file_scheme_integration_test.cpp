// The orvikfile:// scheme and the transfer messages from a real page in
// WebKitGTK: the page uploads in chunks through a "nativeApp" message
// handler, gets onNativeFileSaved, and reads files back with fetch() and
// byte ranges. Needs a display (Xvfb).
#include <gst/gst.h>
#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <webkit/webkit.h>

#include <string>

#include <nlohmann/json.hpp>

#include "files/documents_folder.h"
#include "files/file_transfer_messages.h"
#include "files/files_test_support.h"
#include "files/orvik_file_scheme_webkit.h"
#include "platform/dispatch/glib_main_queue.h"
#include "files/test_support/page_function.h"
#include "platform/dispatch/serial_queue.h"
#include "platform/test_support/main_loop.h"

namespace orvik {
namespace {
namespace fs = std::filesystem;
using nlohmann::json;
using orvik::testing::patternBytes;
using orvik::testing::TestHome;
using orvik::testing::TempDir;

constexpr const char* kTrustedOrigin = "http://127.0.0.1";

// The same pattern, checked by the page itself.
constexpr const char* kPageHelpers = R"JS(
  window.expectedByte = (i) => (i * 7 + Math.floor(i / 251)) & 0xFF;
  window.checkPattern = (bytes, first) => {
    for (let i = 0; i < bytes.length; ++i) if (bytes[i] !== expectedByte(first + i)) return false;
    return true;
  };
  window.readRange = async (url, range) => {
    const init = range ? {headers: {Range: range}} : {};
    try {
      const response = await fetch(url, init);
      const bytes = new Uint8Array(await response.arrayBuffer());
      return {status: response.status, length: bytes.length, bytes,
              contentRange: response.headers.get('Content-Range'),
              contentLength: response.headers.get('Content-Length'),
              acceptRanges: response.headers.get('Accept-Ranges'),
              contentType: response.headers.get('Content-Type')};
    } catch (e) {
      return {failed: String(e)};
    }
  };
)JS";

class ViewSink final : public platform::PageScriptSink {
 public:
  explicit ViewSink(WebKitWebView* view) : view_(view) {}
  void evaluateScript(const std::string& script) override {
    webkit_web_view_evaluate_javascript(view_, script.c_str(), static_cast<gssize>(script.size()), nullptr, nullptr,
                                        nullptr, nullptr, nullptr);
  }
  void evaluateScript(const std::string& script, platform::PageScriptCompletion completion) override {
    evaluateScript(script);
    if (completion) completion({});
  }

 private:
  WebKitWebView* view_;
};

class OrvikFileSchemeIntegration : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    hasDisplay_ = gtk_init_check();
    gst_init(nullptr, nullptr);
  }

  void SetUp() override {
    ASSERT_TRUE(hasDisplay_) << "needs a display: run under xvfb-run";
    docs_ = documentsDirectory();
    handler_ = std::make_shared<OrvikFileSchemeHandler>(
        policy_, [](std::string_view origin) { return origin == kTrustedOrigin; });
    context_ = webkit_web_context_new();
    registerOrvikFileScheme(context_, handler_);
    session_ = webkit_network_session_new_ephemeral();
    content_ = webkit_user_content_manager_new();
    g_signal_connect(content_, "script-message-received::nativeApp", G_CALLBACK(onMessageThunk), this);
    webkit_user_content_manager_register_script_message_handler(content_, "nativeApp", nullptr);
    view_ = WEBKIT_WEB_VIEW(g_object_new(WEBKIT_TYPE_WEB_VIEW, "web-context", context_, "network-session", session_,
                                         "user-content-manager", content_, nullptr));
    window_ = gtk_window_new();
    gtk_window_set_child(GTK_WINDOW(window_), GTK_WIDGET(view_));
    gtk_window_present(GTK_WINDOW(window_));
    sink_ = std::make_shared<ViewSink>(view_);
    messages_ = std::make_unique<FileTransferMessages>(sink_, documents_, images_, videos_, thumbnails_, policy_);
  }

  void TearDown() override {
    if (!window_) return;
    messages_.reset();
    thumbnails_.flush();
    gtk_window_destroy(GTK_WINDOW(window_));
    g_object_unref(content_);
    g_object_unref(session_);
    g_object_unref(context_);
  }

  static void onMessageThunk(WebKitUserContentManager*, JSCValue* value, gpointer self) {
    char* text = jsc_value_to_json(value, 0);
    const json payload = json::parse(text ? text : "null", nullptr, false);
    g_free(text);
    if (payload.is_object() && payload.contains("eventType") && payload["eventType"].is_string()) {
      static_cast<OrvikFileSchemeIntegration*>(self)->messages_->handle(payload["eventType"].get<std::string>(),
                                                                        payload);
    }
  }

  void loadPage(const std::string& baseUri) {
    bool finished = false;
    const gulong id = g_signal_connect(view_, "load-changed", G_CALLBACK(+[](WebKitWebView*, WebKitLoadEvent event,
                                                                             gpointer done) {
                                         if (event == WEBKIT_LOAD_FINISHED) *static_cast<bool*>(done) = true;
                                       }),
                                       &finished);
    const std::string html = std::string("<!DOCTYPE html><html><body><script>") + kPageHelpers + "</script></body></html>";
    webkit_web_view_load_html(view_, html.c_str(), baseUri.c_str());
    EXPECT_TRUE(orvik::testing::runMainLoopUntil([&] { return finished; }, 120.0));
    g_signal_handler_disconnect(view_, id);
  }

  // Runs `body` as an async function in the page and returns its value.
  json run(const std::string& body) {
    const auto result = orvik::testing::runAsyncFunctionInPage(view_, body);
    EXPECT_EQ(result.error, "");
    return result.value;
  }

  static std::string url(const fs::path& file) { return "orvikfile://" + file.string(); }

  static inline bool hasDisplay_ = false;
  TestHome home_;
  platform::GlibMainQueue main_;
  platform::ScopedMainQueue scopedMain_{main_};
  platform::SerialQueue thumbnails_{"com.orvik.thumbnails"};
  FileAccessPolicy policy_{FileAccessPolicy::programRoots};
  DocTransferManager documents_{documentsDirectory};
  ImgTransferManager images_{documentsDirectory};
  VideoTransferManager videos_{documentsDirectory};
  fs::path docs_;
  std::shared_ptr<OrvikFileSchemeHandler> handler_;
  WebKitWebContext* context_ = nullptr;
  WebKitNetworkSession* session_ = nullptr;
  WebKitUserContentManager* content_ = nullptr;
  WebKitWebView* view_ = nullptr;
  GtkWidget* window_ = nullptr;
  std::shared_ptr<ViewSink> sink_;
  std::unique_ptr<FileTransferMessages> messages_;
};

TEST_F(OrvikFileSchemeIntegration, FetchReadsRangesWithTheirHeaders) {
  const fs::path small = docs_ / "small.bin";
  const fs::path large = docs_ / "large.mkv";
  TempDir::writeFile(small, patternBytes(10000));
  TempDir::writeFile(large, patternBytes(OrvikFileSchemeHandler::kInMemoryBodyLimit + 123457));
  const std::uint64_t largeSize = OrvikFileSchemeHandler::kInMemoryBodyLimit + 123457;
  loadPage(std::string(kTrustedOrigin) + "/");

  const json ranges = run("const small = " + json(url(small)).dump() + "; const large = " + json(url(large)).dump() +
                          "; const largeSize = " + std::to_string(largeSize) + ";" + R"JS(
    const check = async (url, range, first) => {
      const r = await readRange(url, range);
      if (r.failed) return r;
      const ok = checkPattern(r.bytes, first);
      delete r.bytes;
      return Object.assign(r, {ok});
    };
    return {
      middle: await check(small, 'bytes=1000-1999', 1000),
      suffix: await check(small, 'bytes=-500', 9500),
      open: await check(small, 'bytes=9000-', 9000),
      whole: await check(small, null, 0),
      bigTail: await check(large, 'bytes=-3000000', largeSize - 3000000),
      bigWhole: await check(large, null, 0),
    };
  )JS");

  const json& middle = ranges["middle"];
  EXPECT_EQ(middle["status"], 206) << ranges.dump();
  EXPECT_EQ(middle["length"], 1000);
  EXPECT_EQ(middle["ok"], true);
  EXPECT_EQ(middle["contentRange"], "bytes 1000-1999/10000");
  EXPECT_EQ(middle["contentLength"], "1000");
  EXPECT_EQ(middle["acceptRanges"], "bytes");
  EXPECT_EQ(middle["contentType"], "application/octet-stream");
  EXPECT_EQ(ranges["suffix"]["contentRange"], "bytes 9500-9999/10000");
  EXPECT_EQ(ranges["suffix"]["ok"], true);
  EXPECT_EQ(ranges["open"]["contentRange"], "bytes 9000-9999/10000");
  EXPECT_EQ(ranges["open"]["length"], 1000);
  EXPECT_EQ(ranges["whole"]["status"], 200);
  EXPECT_EQ(ranges["whole"]["length"], 10000);
  EXPECT_EQ(ranges["whole"]["contentRange"], nullptr);
  EXPECT_EQ(ranges["bigTail"]["status"], 206);
  EXPECT_EQ(ranges["bigTail"]["length"], 3000000);
  EXPECT_EQ(ranges["bigTail"]["ok"], true);
  EXPECT_EQ(ranges["bigWhole"]["status"], 200);
  EXPECT_EQ(ranges["bigWhole"]["length"], largeSize);
  EXPECT_EQ(ranges["bigWhole"]["ok"], true);
  EXPECT_EQ(ranges["bigWhole"]["contentType"], "video/x-matroska");
}

TEST_F(OrvikFileSchemeIntegration, FilesOutsideTheAllowedPlacesAndForeignOriginsReadAsMissing) {
  TempDir::writeFile(home_.path() / ".ssh/id_ed25519", "secret");
  TempDir::writeFile(docs_ / "mine.txt", "mine");
  loadPage(std::string(kTrustedOrigin) + "/");
  const json own = run("return await readRange(" + json(url(docs_ / "mine.txt")).dump() + ");");
  EXPECT_EQ(own["status"], 200) << own.dump();
  const json secret = run("return await readRange(" + json(url(home_.path() / ".ssh/id_ed25519")).dump() + ");");
  EXPECT_TRUE(secret.contains("failed")) << secret.dump();
  EXPECT_FALSE(secret.contains("status"));

  loadPage("http://evil.example/");
  const json foreign = run("return await readRange(" + json(url(docs_ / "mine.txt")).dump() + ");");
  EXPECT_TRUE(foreign.contains("failed")) << foreign.dump();
}

TEST_F(OrvikFileSchemeIntegration, ChunkedUploadsLandAndPlayBackThroughABlob) {
  // A real clip for the page to upload and play.
  const fs::path clip = home_.path() / "Downloads/clip.webm";
  fs::create_directories(clip.parent_path());
  const std::string pipeline = "videotestsrc num-buffers=20 ! video/x-raw,width=320,height=240,framerate=10/1 ! "
                               "vp8enc deadline=1 ! webmmux ! filesink location=\"" + clip.string() + "\"";
  GstElement* encoder = gst_parse_launch(pipeline.c_str(), nullptr);
  ASSERT_TRUE(encoder);
  gst_element_set_state(encoder, GST_STATE_PLAYING);
  GstBus* bus = gst_element_get_bus(encoder);
  gst_message_unref(gst_bus_timed_pop_filtered(bus, GST_CLOCK_TIME_NONE,
                                               static_cast<GstMessageType>(GST_MESSAGE_EOS | GST_MESSAGE_ERROR)));
  gst_object_unref(bus);
  gst_element_set_state(encoder, GST_STATE_NULL);
  gst_object_unref(encoder);

  loadPage(std::string(kTrustedOrigin) + "/");
  const json result = run("const clipUrl = " + json(url(clip)).dump() + ";" + R"JS(
    const post = (m) => window.webkit.messageHandlers.nativeApp.postMessage(m);
    const b64 = (bytes) => { let s = ''; for (const b of bytes) s += String.fromCharCode(b); return btoa(s); };
    const saved = {};
    const allSaved = new Promise((resolve) => {
      window.onNativeFileSaved = (reply) => { saved[reply.transferId] = reply; if (Object.keys(saved).length === 3) resolve(); };
    });
    const upload = (kind, id, bytes, extra) => {
      post(Object.assign({eventType: kind + 'TransferStart', transferId: id, totalSize: bytes.length}, extra));
      for (let at = 0; at < bytes.length; at += 7000)
        post({eventType: kind + 'TransferChunk', transferId: id, chunk: b64(bytes.subarray(at, at + 7000))});
      post({eventType: kind + 'TransferEnd', transferId: id});
    };
    const canvas = new OffscreenCanvas(1200, 300);
    const g = canvas.getContext('2d'); g.fillStyle = '#c03'; g.fillRect(0, 0, 1200, 300);
    const png = new Uint8Array(await (await canvas.convertToBlob({type: 'image/png'})).arrayBuffer());
    const doc = new TextEncoder().encode('%PDF-1.4 not really, but bytes all the same\n'.repeat(500));
    const video = (await readRange(clipUrl)).bytes;

    upload('doc', 'doc1', doc, {fileName: '../report.pdf', mimeType: 'application/pdf'});
    upload('img', 'img1', png, {fileName: 'banner.png'});
    upload('video', 'vid1', video, {mimeType: 'video/webm'});
    await allSaved;

    const same = (a, b) => a.length === b.length && a.every((x, i) => x === b[i]);
    const back = async (u) => (await readRange(u)).bytes;
    const thumb = async (u) => { const b = await back(u); return b[0] === 0xFF && b[1] === 0xD8; };

    const played = await new Promise(async (resolve) => {
      const blob = new Blob([await back(saved.vid1.localUrl)], {type: 'video/webm'});
      const element = document.createElement('video');
      element.muted = true;
      element.preload = 'auto';
      element.onloadeddata = () => resolve({width: element.videoWidth, height: element.videoHeight});
      element.onerror = () => resolve({error: String(element.error && element.error.message)});
      element.src = URL.createObjectURL(blob);
      document.body.appendChild(element);
    });
    return {
      saved,
      docSame: same(await back(saved.doc1.localUrl), doc),
      imgSame: same(await back(saved.img1.localUrl), png),
      vidSame: same(await back(saved.vid1.localUrl), video),
      imgThumb: await thumb(saved.img1.thumbUrl),
      vidThumb: await thumb(saved.vid1.thumbUrl),
      played,
    };
  )JS");

  const json& saved = result["saved"];
  ASSERT_TRUE(saved.is_object()) << result.dump();
  EXPECT_EQ(saved["doc1"]["path"], (docs_ / "report.pdf").string());
  EXPECT_EQ(saved["doc1"]["localUrl"], url(docs_ / "report.pdf"));
  EXPECT_FALSE(saved["doc1"].contains("thumbUrl"));
  EXPECT_EQ(saved["img1"]["path"], (docs_ / "banner.png").string());
  EXPECT_EQ(saved["img1"]["thumbUrl"], url(docs_ / "thumb_img1.jpg"));
  EXPECT_EQ(saved["vid1"]["path"], (docs_ / "vid1.webm").string());
  EXPECT_EQ(saved["vid1"]["thumbUrl"], url(docs_ / "thumb_vid1.jpg"));
  EXPECT_EQ(result["docSame"], true);
  EXPECT_EQ(result["imgSame"], true);
  EXPECT_EQ(result["vidSame"], true);
  EXPECT_EQ(result["imgThumb"], true);
  EXPECT_EQ(result["vidThumb"], true);
  EXPECT_EQ(result["played"], (json{{"width", 320}, {"height", 240}})) << result["played"].dump();
}

}  // namespace
}  // namespace orvik

// The orvikupload:// scheme from a real page in WebKitGTK: the page uploads
// with fetch() in chunks, reads the reply it gets and loads the saved file
// and its thumbnail back through orvikfile://; transcoding uploads of clips
// made at test time come back as MP4 files. Needs a display (Xvfb).
#include <gst/gst.h>
#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <webkit/webkit.h>

#include <string>

#include <nlohmann/json.hpp>

#include "files/documents_folder.h"
#include "files/files_test_support.h"
#include "files/orvik_file_scheme_webkit.h"
#include "files/test_support/page_function.h"
#include "files/test_support/video_fixtures.h"
#include "files/transcoding_uploads.h"
#include "files/upload_scheme_webkit.h"
#include "platform/base64.h"
#include "platform/dispatch/glib_main_queue.h"
#include "platform/dispatch/serial_queue.h"
#include "platform/test_support/main_loop.h"

namespace orvik {
namespace {
namespace fs = std::filesystem;
using nlohmann::json;
using orvik::testing::patternBytes;
using orvik::testing::TempDir;
using orvik::testing::TestHome;

constexpr const char* kTrustedOrigin = "http://127.0.0.1";

constexpr const char* kPageHelpers = R"JS(
  window.expectedByte = (i) => (i * 7 + Math.floor(i / 251)) & 0xFF;
  window.pattern = (n) => { const b = new Uint8Array(n); for (let i = 0; i < n; ++i) b[i] = expectedByte(i); return b; };
  window.send = async (url, body, headers) => {
    try {
      const response = await fetch(url, {method: 'POST', body, headers: headers || {}});
      const bytes = new Uint8Array(await response.arrayBuffer());
      const type = response.headers.get('Content-Type');
      const reply = {status: response.status, type, length: bytes.length, bytes};
      if (type === 'application/json') reply.json = JSON.parse(new TextDecoder().decode(bytes));
      return reply;
    } catch (e) {
      return {failed: String(e)};
    }
  };
  window.plain = async (r) => { const c = Object.assign({}, r); delete c.bytes; return c; };
  window.read = async (url) => new Uint8Array(await (await fetch(url)).arrayBuffer());
  window.same = (a, b) => a.length === b.length && a.every((x, i) => x === b[i]);
  window.b64 = (bytes) => {
    let s = '';
    for (let i = 0; i < bytes.length; i += 0x8000) s += String.fromCharCode.apply(null, bytes.subarray(i, i + 0x8000));
    return btoa(s);
  };
)JS";

class OrvikUploadSchemeIntegration : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    hasDisplay_ = gtk_init_check();
    gst_init(nullptr, nullptr);
  }

  void SetUp() override {
    ASSERT_TRUE(hasDisplay_) << "needs a display: run under xvfb-run";
    docs_ = documentsDirectory();
    auto trusted = [](std::string_view origin) { return origin == kTrustedOrigin; };
    files_ = std::make_shared<OrvikFileSchemeHandler>(policy_, trusted);
    transcoding_ = std::make_shared<TranscodingUploads>(home_.dataHome() / "transcode", transcodes_,
                                                        VideoTranscoder::transcode);
    uploads_ = std::make_shared<OrvikUploadSchemeHandler>(OrvikUploadSchemeHandler::Collaborators{
        documents_, images_, videos_, thumbnails_, trusted, transcoding_, {}, {}});
    context_ = webkit_web_context_new();
    registerOrvikFileScheme(context_, files_);
    registerOrvikUploadScheme(context_, uploads_);
    session_ = webkit_network_session_new_ephemeral();
    view_ = WEBKIT_WEB_VIEW(
        g_object_new(WEBKIT_TYPE_WEB_VIEW, "web-context", context_, "network-session", session_, nullptr));
    window_ = gtk_window_new();
    gtk_window_set_child(GTK_WINDOW(window_), GTK_WIDGET(view_));
    gtk_window_present(GTK_WINDOW(window_));
    loadPage();
  }

  void TearDown() override {
    if (!window_) return;
    gtk_window_destroy(GTK_WINDOW(window_));
    g_object_unref(session_);
    g_object_unref(context_);
  }

  void loadPage(const std::string& origin = kTrustedOrigin) {
    bool finished = false;
    const gulong id = g_signal_connect(view_, "load-changed", G_CALLBACK(+[](WebKitWebView*, WebKitLoadEvent event,
                                                                             gpointer done) {
                                         if (event == WEBKIT_LOAD_FINISHED) *static_cast<bool*>(done) = true;
                                       }),
                                       &finished);
    const std::string html = std::string("<!DOCTYPE html><html><body><script>") + kPageHelpers + "</script></body></html>";
    webkit_web_view_load_html(view_, html.c_str(), (origin + "/").c_str());
    EXPECT_TRUE(orvik::testing::runMainLoopUntil([&] { return finished; }, 120.0));
    g_signal_handler_disconnect(view_, id);
  }

  json run(const std::string& body) {
    const auto result = orvik::testing::runAsyncFunctionInPage(view_, body);
    EXPECT_EQ(result.error, "");
    return result.value;
  }

  // Uploads the file at `url` (read through orvikfile://) for transcoding,
  // polling the progress meanwhile; returns the replies, the MP4 in Base64.
  json transcodeFromPage(const fs::path& clip, const std::string& id) {
    return run("const clipUrl = " + json("orvikfile://" + clip.string()).dump() +
               "; const id = " + json(id).dump() + ";" + R"JS(
      const clip = await read(clipUrl);
      const base = 'orvikupload://';
      const start = await send(base + 'transcodestart/' + id, null, {'X-Total-Size': String(clip.length)});
      const chunks = [];
      for (let at = 0; at < clip.length; at += 65536) chunks.push(send(base + 'transcodechunk/' + id, clip.subarray(at, at + 65536)));
      const chunkStatuses = (await Promise.all(chunks)).map((r) => r.status);
      const progress = [];
      let ended = false;
      const poll = (async () => {
        while (!ended) {
          const r = await send(base + 'transcodeprogress/' + id);
          if (r.status === 200 && !ended) progress.push(r.json.progress);
          await new Promise((resolve) => setTimeout(resolve, 5));
        }
      })();
      const end = await send(base + 'transcodeend/' + id);
      ended = true;
      await poll;
      const after = await send(base + 'transcodeprogress/' + id);
      return {start: start.status, chunkStatuses, progress, status: end.status, type: end.type,
              error: end.json ? end.json.error : null, mp4: end.status === 200 ? b64(end.bytes) : '',
              after: after.status};
    )JS");
  }

  static inline bool hasDisplay_ = false;
  TestHome home_;
  platform::GlibMainQueue main_;
  platform::ScopedMainQueue scopedMain_{main_};
  platform::SerialQueue thumbnails_{"com.orvik.uploadThumbnails"};
  platform::SerialQueue transcodes_{"com.orvik.transcode"};
  FileAccessPolicy policy_{FileAccessPolicy::programRoots};
  DocTransferManager documents_{documentsDirectory};
  ImgTransferManager images_{documentsDirectory};
  VideoTransferManager videos_{documentsDirectory};
  fs::path docs_;
  std::shared_ptr<OrvikFileSchemeHandler> files_;
  std::shared_ptr<TranscodingUploads> transcoding_;
  std::shared_ptr<OrvikUploadSchemeHandler> uploads_;
  WebKitWebContext* context_ = nullptr;
  WebKitNetworkSession* session_ = nullptr;
  WebKitWebView* view_ = nullptr;
  GtkWidget* window_ = nullptr;
};

TEST_F(OrvikUploadSchemeIntegration, ChunkedUploadsSaveIdenticalFilesAndAnswerWithTheirAddresses) {
  const json result = run(R"JS(
    const base = 'orvikupload://';
    // Chunks are sent without waiting for each other: they must still land in order.
    const upload = async (id, bytes, headers, step) => {
      const start = await send(base + 'start/' + id, null, headers);
      const chunks = [];
      for (let at = 0; at < bytes.length; at += step) chunks.push(send(base + 'chunk/' + id, bytes.subarray(at, at + step)));
      const statuses = (await Promise.all(chunks)).map((r) => r.status);
      const end = await send(base + 'end/' + id);
      return {start: start.json, statuses, end: end.json, endType: end.type};
    };
    const canvas = new OffscreenCanvas(1200, 300);
    const g = canvas.getContext('2d'); g.fillStyle = '#c03'; g.fillRect(0, 0, 1200, 300);
    const png = new Uint8Array(await (await canvas.convertToBlob({type: 'image/png'})).arrayBuffer());
    const doc = pattern(300000);
    const image = await upload('img1', png, {'X-File-Name': 'banner.png', 'X-Total-Size': String(png.length)}, 1000);
    const text = await upload('doc1', doc, {'X-File-Name': 'report.txt', 'X-Mime-Type': 'text/plain'}, 65536);
    const thumb = await read(image.end.thumbUrl);
    return {
      image, document: text,
      imageSame: same(await read(image.end.localUrl), png),
      documentSame: same(await read(text.end.localUrl), doc),
      thumbIsJpeg: thumb[0] === 0xFF && thumb[1] === 0xD8,
    };
  )JS");
  ASSERT_TRUE(result.is_object()) << result.dump();
  const json& image = result["image"];
  EXPECT_EQ(image["start"], json({{"status", "started"}}));
  EXPECT_EQ(image["endType"], "application/json");
  for (const json& status : image["statuses"]) EXPECT_EQ(status, 200);
  EXPECT_EQ(image["end"], json({{"transferId", "img1"},
                                {"path", (docs_ / "banner.png").string()},
                                {"localUrl", "orvikfile://" + (docs_ / "banner.png").string()},
                                {"thumbUrl", "orvikfile://" + (docs_ / "thumb_img1.jpg").string()}}));
  EXPECT_EQ(result["imageSame"], true);
  EXPECT_EQ(result["thumbIsJpeg"], true);
  EXPECT_EQ(result["document"]["end"]["path"], (docs_ / "report.txt").string());
  EXPECT_EQ(result["document"]["end"]["thumbUrl"], "");  // text is no image
  EXPECT_EQ(result["documentSame"], true);
  EXPECT_EQ(TempDir::readFile(docs_ / "report.txt"), patternBytes(300000));
}

TEST_F(OrvikUploadSchemeIntegration, RefusalsReachThePageAsStatusesWithJsonBodies) {
  const json result = run(R"JS(
    const base = 'orvikupload://';
    const blocked = await send(base + 'start/p1', null, {'X-File-Name': 'Installer.PKG'});
    const orphan = await send(base + 'chunk/nobody', new Uint8Array([1, 2, 3]));
    await send(base + 'start/e1', null, {'X-File-Name': 'e.txt'});
    const empty = await send(base + 'chunk/e1', new Uint8Array(0));
    const unknown = await send(base + 'upload/x');
    return {blocked: await plain(blocked), orphan: await plain(orphan), empty: await plain(empty), unknown: await plain(unknown)};
  )JS");
  EXPECT_EQ(result["blocked"]["status"], 403) << result.dump();
  EXPECT_EQ(result["blocked"]["json"], json({{"error", "file type not allowed"}}));
  EXPECT_EQ(result["orphan"]["status"], 404);
  EXPECT_EQ(result["orphan"]["json"], json({{"error", "no active transfer"}}));
  EXPECT_EQ(result["empty"]["status"], 400);
  EXPECT_EQ(result["empty"]["json"], json({{"error", "empty chunk"}}));
  EXPECT_EQ(result["unknown"]["status"], 400);
  EXPECT_FALSE(fs::exists(docs_ / "Installer.PKG"));
}

TEST_F(OrvikUploadSchemeIntegration, APageOfAnotherSiteCannotUpload) {
  loadPage("http://evil.example");
  const json result = run(R"JS(
    const start = await send('orvikupload://start/x1', null, {'X-File-Name': 'x.txt'});
    const transcode = await send('orvikupload://transcodestart/x2', null, {'X-Total-Size': '10'});
    return {start: await plain(start), transcode: transcode.status};
  )JS");
  EXPECT_EQ(result["start"]["status"], 403) << result.dump();
  EXPECT_EQ(result["start"]["json"], json({{"error", "origin not allowed"}}));
  EXPECT_EQ(result["transcode"], 403);
  EXPECT_FALSE(fs::exists(docs_ / "x.txt"));
}

TEST_F(OrvikUploadSchemeIntegration, TranscodingUploadsComeBackAsUprightEvenSizedH264) {
  struct Case {
    std::string id;
    testing::ClipRecipe recipe;
    int width, height;
    bool sound;
  };
  const Case cases[] = {
      {"uhd", {3840, 2160, 30, 6, "hevc", true, 0}, 1920, 1080, true},
      {"turned", {640, 360, 25, 20, "h264", true, 90}, 360, 640, true},
      {"silent", {321, 241, 15, 10, "vp8", false, 0}, 322, 242, false},
  };
  for (const Case& c : cases) {
    const fs::path clip = docs_ / (c.id + (c.recipe.codec == "vp8" ? ".mkv" : ".mp4"));
    ASSERT_TRUE(testing::makeClip(clip, c.recipe));
    const json result = transcodeFromPage(clip, c.id);
    ASSERT_EQ(result["status"], 200) << result.dump().substr(0, 2000);
    EXPECT_EQ(result["start"], 200);
    for (const json& status : result["chunkStatuses"]) EXPECT_EQ(status, 200);
    EXPECT_EQ(result["type"], "video/mp4");
    EXPECT_EQ(result["after"], 404);
    const json& progress = result["progress"];
    ASSERT_FALSE(progress.empty());
    EXPECT_EQ(progress.front(), 0.0);
    for (std::size_t i = 1; i < progress.size(); ++i) EXPECT_GE(progress[i], progress[i - 1]);

    const auto mp4 = platform::decodeBase64Strict(result["mp4"].get<std::string>());
    ASSERT_TRUE(mp4);
    const fs::path output = home_.path() / (c.id + ".out.mp4");
    TempDir::writeFile(output, *mp4);
    const testing::ClipFacts facts = testing::inspectClip(output);
    EXPECT_EQ(facts.videoCodec, "video/x-h264") << c.id;
    EXPECT_EQ(facts.profile, "high") << c.id;
    EXPECT_EQ(std::make_pair(facts.width, facts.height), std::make_pair(c.width, c.height)) << c.id;
    EXPECT_TRUE(facts.width % 2 == 0 && facts.height % 2 == 0 && std::max(facts.width, facts.height) <= 1920);
    EXPECT_EQ(facts.audioCodec, c.sound ? "audio/mpeg4" : "") << c.id;
    EXPECT_TRUE(facts.indexFirst) << c.id;
    EXPECT_TRUE(facts.identityMatrix) << c.id;
    EXPECT_TRUE(facts.rowsUniform == (c.recipe.rotation != 0)) << c.id;
  }
  EXPECT_EQ(TempDir::listing(transcoding_->folder()), (std::vector<std::string>{TranscodingUploads::kLockFileName}));
}

TEST_F(OrvikUploadSchemeIntegration, ATranscodingUploadMustBeExactlyTheAnnouncedSize) {
  const json result = run(R"JS(
    const base = 'orvikupload://';
    const bytes = pattern(1000);
    await send(base + 'transcodestart/short', null, {'X-Total-Size': '1000'});
    await send(base + 'transcodechunk/short', bytes.subarray(0, 999));
    const short = await send(base + 'transcodeend/short');
    await send(base + 'transcodestart/long', null, {'X-Total-Size': '1000'});
    const long = await send(base + 'transcodechunk/long', pattern(1001));
    const after = await send(base + 'transcodechunk/long', bytes.subarray(0, 1));
    const huge = await send(base + 'transcodestart/huge', null, {'X-Total-Size': String(200 * 1024 * 1024 + 1)});
    const badId = await send(base + 'transcodestart/a.b', null, {'X-Total-Size': '10'});
    return {short: await plain(short), long: await plain(long), after: after.status, huge: huge.status, badId: badId.status};
  )JS");
  EXPECT_EQ(result["short"]["status"], 400) << result.dump();
  EXPECT_EQ(result["short"]["json"], json({{"error", "incomplete upload"}}));
  EXPECT_EQ(result["long"]["status"], 413);
  EXPECT_EQ(result["long"]["json"], json({{"error", "more data than announced"}}));
  EXPECT_EQ(result["after"], 404);
  EXPECT_EQ(result["huge"], 413);
  EXPECT_EQ(result["badId"], 400);
  EXPECT_EQ(TempDir::listing(transcoding_->folder()), (std::vector<std::string>{TranscodingUploads::kLockFileName}));
}

}  // namespace
}  // namespace orvik

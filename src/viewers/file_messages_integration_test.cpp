// The file and viewer messages from a real page in WebKitGTK under Xvfb: the
// page posts through a "nativeApp" handler and reads its replies; the
// clipboard is GTK's own; choosers, the share menu and the desktop opener
// are recording fakes (they would need a person).
#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <webkit/webkit.h>

#include <fstream>
#include <iostream>
#include <string>

#include <nlohmann/json.hpp>

#include "core/native_logger.h"
#include "files/documents_folder.h"
#include "files/file_access_policy.h"
#include "files/file_open_messages.h"
#include "files/files_test_support.h"
#include "files/image_clipboard.h"
#include "files/orvik_helper.h"
#include "files/recording_save_panels.h"
#include "files/recording_share_menu.h"
#include "files/test_support/page_function.h"
#include "platform/dispatch/glib_main_queue.h"
#include "platform/dispatch/serial_queue.h"
#include "platform/recording_system_opener.h"
#include "platform/test_support/main_loop.h"
#include "platform/test_support/recording_message_routes.h"
#include "platform/user_defaults.h"
#include "viewers/recording_viewer_entry_points.h"
#include "viewers/viewer_messages.h"

namespace orvik {
namespace {
namespace fs = std::filesystem;
using nlohmann::json;
using orvik::testing::patternBytes;
using orvik::testing::TempDir;
using orvik::testing::TestHome;

class ViewSink final : public platform::PageScriptSink {
 public:
  explicit ViewSink(WebKitWebView* view) : view_(view) {}
  void evaluateScript(const std::string& script) override {
    webkit_web_view_evaluate_javascript(view_, script.c_str(), static_cast<gssize>(script.size()), nullptr, nullptr,
                                        nullptr, nullptr, nullptr);
  }
  void evaluateScript(const std::string& script, platform::PageScriptCompletion completion) override {
    auto* done = new platform::PageScriptCompletion(std::move(completion));
    webkit_web_view_evaluate_javascript(
        view_, script.c_str(), static_cast<gssize>(script.size()), nullptr, nullptr, nullptr,
        +[](GObject* source, GAsyncResult* result, gpointer data) {
          std::unique_ptr<platform::PageScriptCompletion> completion(static_cast<platform::PageScriptCompletion*>(data));
          GError* error = nullptr;
          JSCValue* value = webkit_web_view_evaluate_javascript_finish(WEBKIT_WEB_VIEW(source), result, &error);
          platform::PageScriptResult answer;
          if (error) answer.error = error->message;
          g_clear_error(&error);
          if (value) g_object_unref(value);
          if (*completion) (*completion)(answer);
        },
        done);
  }

 private:
  WebKitWebView* view_;
};

// Kilobytes of the process's resident memory ("VmRSS" or "VmHWM").
long statusKilobytes(const std::string& field) {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind(field + ":", 0) == 0) return std::stol(line.substr(field.size() + 1));
  }
  return -1;
}

class FileMessagesIntegration : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { hasDisplay_ = gtk_init_check(); }

  void SetUp() override {
    ASSERT_TRUE(hasDisplay_) << "needs a display: run under xvfb-run";
    docs_ = documentsDirectory();
    content_ = webkit_user_content_manager_new();
    g_signal_connect(content_, "script-message-received::nativeApp", G_CALLBACK(onMessage), this);
    webkit_user_content_manager_register_script_message_handler(content_, "nativeApp", nullptr);
    view_ = WEBKIT_WEB_VIEW(g_object_new(WEBKIT_TYPE_WEB_VIEW, "user-content-manager", content_, nullptr));
    window_ = gtk_window_new();
    gtk_window_set_child(GTK_WINDOW(window_), GTK_WIDGET(view_));
    gtk_window_present(GTK_WINDOW(window_));
    sink_ = std::make_shared<ViewSink>(view_);
    clipboard_ = makeGtkImageClipboard();
    helper_ = std::make_unique<OrvikHelper>(panels_, opener_, defaults_, copies_,
                                            [] { return std::optional<fs::path>(); },
                                            OrvikHelper::Sharing{&menu_, clipboard_.get(), home_.outside()});
    openMessages_ = std::make_unique<FileOpenMessages>(
        FileOpenMessages::Collaborators{sink_, *helper_, *clipboard_, opener_, policy_, readback_});
    openMessages_->publishRoutes(routes_);
    viewerMessages_ = std::make_unique<ViewerMessages>(viewers_, sink_, documentsDirectory);
    viewerMessages_->publishRoutes(routes_);
    NativeLogger::shared().setPrintFunction([this](const std::string& line) { logged_.push_back(line); });
    loadPage();
  }

  void TearDown() override {
    NativeLogger::shared().setPrintFunction({});
    if (!window_) return;
    readback_.flush();
    openMessages_.reset();
    gtk_window_destroy(GTK_WINDOW(window_));
    g_object_unref(content_);
  }

  static void onMessage(WebKitUserContentManager*, JSCValue* value, gpointer data) {
    auto* self = static_cast<FileMessagesIntegration*>(data);
    char* text = jsc_value_to_json(value, 0);
    const json payload = json::parse(text ? text : "null", nullptr, false);
    g_free(text);
    const auto handler = self->routes_.handlers.find(payload.value("eventType", ""));
    if (handler != self->routes_.handlers.end()) handler->second(payload);
    ++self->received_;
  }

  void loadPage() {
    bool finished = false;
    const gulong id = g_signal_connect(
        view_, "load-changed", G_CALLBACK(+[](WebKitWebView*, WebKitLoadEvent event, gpointer done) {
          if (event == WEBKIT_LOAD_FINISHED) *static_cast<bool*>(done) = true;
        }),
        &finished);
    webkit_web_view_load_html(view_,
                              "<!DOCTYPE html><html><body><script>"
                              "window.post = (m) => window.webkit.messageHandlers.nativeApp.postMessage(m);"
                              "</script></body></html>",
                              "http://127.0.0.1/");
    ASSERT_TRUE(orvik::testing::runMainLoopUntil([&] { return finished; }, 120.0));
    g_signal_handler_disconnect(view_, id);
  }

  json run(const std::string& body) {
    const auto result = orvik::testing::runAsyncFunctionInPage(view_, body);
    EXPECT_EQ(result.error, "");
    return result.value;
  }

  bool logContains(const std::string& text) const {
    for (const auto& line : logged_) {
      if (line.find(text) != std::string::npos) return true;
    }
    return false;
  }

  static inline bool hasDisplay_ = false;
  TestHome home_;
  fs::path docs_;
  platform::GlibMainQueue main_;
  platform::ScopedMainQueue scopedMain_{main_};
  platform::SerialQueue copies_{"com.orvik.test.copies"};
  platform::SerialQueue readback_{"com.orvik.test.readback"};
  platform::UserDefaults defaults_{home_.outside() / "defaults.json"};
  RecordingSavePanels panels_;
  platform::RecordingSystemOpener opener_;
  RecordingShareMenu menu_;
  FileAccessPolicy policy_{FileAccessPolicy::programRoots};
  RecordingViewerEntryPoints viewers_;
  orvik::testing::RecordingMessageRoutes routes_;
  std::unique_ptr<ImageClipboard> clipboard_;
  std::unique_ptr<OrvikHelper> helper_;
  std::unique_ptr<FileOpenMessages> openMessages_;
  std::unique_ptr<ViewerMessages> viewerMessages_;
  WebKitUserContentManager* content_ = nullptr;
  WebKitWebView* view_ = nullptr;
  GtkWidget* window_ = nullptr;
  std::shared_ptr<ViewSink> sink_;
  std::vector<std::string> logged_;
  int received_ = 0;
};

TEST_F(FileMessagesIntegration, AFiftyMegabyteVideoReadsBackWithoutTheProgramHoldingIt) {
  constexpr std::size_t kSize = 50u * 1024 * 1024;
  const fs::path clip = docs_ / "big clip.mp4";
  TempDir::writeFile(clip, patternBytes(kSize));
  // Peak memory from here on: writing 5 to clear_refs resets VmHWM.
  { std::ofstream("/proc/self/clear_refs") << "5"; }
  const long before = statusKilobytes("VmRSS");

  const json result = run("const path = " + json("orvikfile://" + clip.string()).dump() + ";" + R"JS(
    let count = 0, characters = 0, inOrder = true, firstOk = null;
    const done = new Promise((resolve) => {
      window.__orvikVidChunk = (id, index, text) => {
        if (index !== count) inOrder = false;
        if (index === 0) {
          const head = atob(text.slice(0, 8));
          firstOk = [...head].every((c, i) => c.charCodeAt(0) === ((i * 7 + Math.floor(i / 251)) & 0xFF));
        }
        count += 1; characters += text.length;
      };
      window.__orvikVidDone = (id, total, mime) => resolve({id, total, mime});
    });
    post({eventType: 'readVideoForPlayback', transferId: 'big', path});
    const end = await done;
    return {count, characters, inOrder, firstOk, end};
  )JS");
  const long peak = statusKilobytes("VmHWM");
  const long growthKb = peak - before;
  std::cout << "[ readback ] 50 MiB video: resident memory " << before / 1024 << " MiB before, peak "
            << peak / 1024 << " MiB during, growth " << growthKb / 1024.0 << " MiB\n";
  RecordProperty("readback_peak_growth_kib", std::to_string(growthKb));

  const std::size_t slices = (kSize + 524'999) / 525'000;
  EXPECT_EQ(result["count"], slices) << result.dump();
  EXPECT_EQ(result["characters"], (kSize + 2) / 3 * 4);
  EXPECT_EQ(result["inOrder"], true);
  EXPECT_EQ(result["firstOk"], true);
  EXPECT_EQ(result["end"], (json{{"id", "big"}, {"total", slices}, {"mime", "video/mp4"}}));
  EXPECT_LT(growthKb, 20 * 1024) << "the program held far more than a slice at a time";
}

TEST_F(FileMessagesIntegration, EachMessageGetsItsReplyOrItsEffect) {
  const fs::path report = docs_ / "report.pdf";
  const fs::path archive = docs_ / "bundle.zip";
  const fs::path installer = docs_ / "setup.deb";
  for (const auto& file : {report, archive, installer}) TempDir::writeFile(file, "bytes");

  const json missing = run(R"JS(
    const done = new Promise((resolve) => { window.__orvikVidDone = (id, total, mime) => resolve([id, total, mime]); });
    post({eventType: 'readVideoForPlayback', transferId: 'gone', path: '/nowhere/clip.mp4'});
    return await done;
  )JS");
  EXPECT_EQ(missing, json::array({"gone", 0, ""}));

  run("post({eventType: 'openOrSaveDocument', localFilePath: " + json(report.string()).dump() +
      ", fileName: 'Report.pdf'});"
      "post({eventType: 'openOrSaveDocument', localFilePath: " + json(archive.string()).dump() +
      ", fileName: 'Bundle.zip'});"
      "post({eventType: 'openOrSaveDocument', localFilePath: " + json(installer.string()).dump() +
      ", fileName: 'setup.deb'});"
      "post({eventType: 'openOrSaveImage', localFilePath: '/etc/hostname'});"
      "post({eventType: 'shareImageToSystem', base64: 'iVBORw0KGgo=', fileName: '../card.png'});"
      "post({eventType: 'openImageGallery', localFilePaths: ['/d/a.jpg', '/d/b.jpg'], messageIds: ['m\"1', 2]});");
  ASSERT_TRUE(orvik::testing::runMainLoopUntil([&] { return received_ >= 7 && !menu_.shown.empty(); }, 20.0));
  gchar* reportUri = g_filename_to_uri(report.c_str(), nullptr, nullptr);
  EXPECT_EQ(opener_.openedURLs, std::vector<std::string>{reportUri});
  g_free(reportUri);
  EXPECT_EQ(opener_.revealedFiles, std::vector<fs::path>{installer});
  ASSERT_EQ(panels_.shown.size(), 1u);
  EXPECT_EQ(panels_.shown[0].save.suggestedName, "Bundle.zip");
  ASSERT_EQ(menu_.shown.size(), 1u);

  ASSERT_TRUE(viewers_.lastGallery.onReply);
  run(R"JS(
    window.replies = [];
    window.onNativeGalleryReply = (id) => window.replies.push(id);
    return true;
  )JS");
  viewers_.lastGallery.onReply((*viewers_.lastGallery.messageIds)[0]);
  viewers_.lastGallery.onReply((*viewers_.lastGallery.messageIds)[1]);
  orvik::testing::drainMainLoop();
  const json replies = run("await new Promise((r) => setTimeout(r, 50)); return window.replies;");
  EXPECT_EQ(replies, json::array({"m\"1", "2"}));
}

TEST_F(FileMessagesIntegration, DeletingOutsideTheDocumentsFolderDeletesNothingAndSaysSo) {
  const fs::path inside = docs_ / "photo.jpg";
  const fs::path outside = home_.path() / "Pictures/photo.jpg";
  TempDir::writeFile(inside, "mine to delete");
  TempDir::writeFile(outside, "the user's");
  run("post({eventType: 'deleteLocalFiles', filePaths: [" + json(outside.string()).dump() + ", " +
      json(inside.string()).dump() + "]});");
  ASSERT_TRUE(orvik::testing::runMainLoopUntil([&] { return !fs::exists(inside); }, 10.0));
  EXPECT_TRUE(fs::exists(outside));
  EXPECT_TRUE(logContains("[Files] deleteLocalFiles: not deleted, no file of the documents folder: " +
                          outside.string()));
}

TEST_F(FileMessagesIntegration, ACopiedImageReadsBackFromTheClipboardAsPng) {
  run(R"JS(
    const canvas = new OffscreenCanvas(40, 30);
    const g = canvas.getContext('2d'); g.fillStyle = '#c03'; g.fillRect(0, 0, 40, 30);
    const bytes = new Uint8Array(await (await canvas.convertToBlob({type: 'image/png'})).arrayBuffer());
    let s = ''; for (const b of bytes) s += String.fromCharCode(b);
    post({eventType: 'copyImageToClipboard', base64: btoa(s), text: 'caption'});
    return true;
  )JS");
  GdkClipboard* clipboard = gdk_display_get_clipboard(gdk_display_get_default());
  ASSERT_TRUE(orvik::testing::runMainLoopUntil(
      [&] { return gdk_content_formats_contain_mime_type(gdk_clipboard_get_formats(clipboard), "image/png"); },
      10.0));

  struct Read {
    std::string bytes;
    bool done = false;
  } png, text;
  const char* pngTypes[] = {"image/png", nullptr};
  gdk_clipboard_read_async(
      clipboard, pngTypes, G_PRIORITY_DEFAULT, nullptr,
      +[](GObject* source, GAsyncResult* result, gpointer data) {
        auto* read = static_cast<Read*>(data);
        GInputStream* stream = gdk_clipboard_read_finish(GDK_CLIPBOARD(source), result, nullptr, nullptr);
        if (!stream) {
          read->done = true;
          return;
        }
        // The clipboard's own writer runs on this main loop: read without blocking it.
        GOutputStream* memory = g_memory_output_stream_new_resizable();
        g_output_stream_splice_async(
            memory, stream,
            static_cast<GOutputStreamSpliceFlags>(G_OUTPUT_STREAM_SPLICE_CLOSE_SOURCE |
                                                  G_OUTPUT_STREAM_SPLICE_CLOSE_TARGET),
            G_PRIORITY_DEFAULT, nullptr,
            +[](GObject* target, GAsyncResult* spliced, gpointer data) {
              auto* read = static_cast<Read*>(data);
              g_output_stream_splice_finish(G_OUTPUT_STREAM(target), spliced, nullptr);
              auto* memory = G_MEMORY_OUTPUT_STREAM(target);
              read->bytes.assign(static_cast<const char*>(g_memory_output_stream_get_data(memory)),
                                 g_memory_output_stream_get_data_size(memory));
              g_object_unref(target);
              read->done = true;
            },
            read);
        g_object_unref(stream);
      },
      &png);
  gdk_clipboard_read_text_async(
      clipboard, nullptr,
      +[](GObject* source, GAsyncResult* result, gpointer data) {
        auto* read = static_cast<Read*>(data);
        char* value = gdk_clipboard_read_text_finish(GDK_CLIPBOARD(source), result, nullptr);
        read->bytes = value ? value : "";
        g_free(value);
        read->done = true;
      },
      &text);
  ASSERT_TRUE(orvik::testing::runMainLoopUntil([&] { return png.done && text.done; }, 10.0));
  ASSERT_GT(png.bytes.size(), 8u);
  EXPECT_EQ(png.bytes.substr(0, 8), std::string("\x89PNG\r\n\x1a\n", 8));
  GBytes* bytes = g_bytes_new(png.bytes.data(), png.bytes.size());
  GdkTexture* texture = gdk_texture_new_from_bytes(bytes, nullptr);
  g_bytes_unref(bytes);
  ASSERT_TRUE(texture);
  EXPECT_EQ(gdk_texture_get_width(texture), 40);
  EXPECT_EQ(gdk_texture_get_height(texture), 30);
  g_object_unref(texture);
  EXPECT_EQ(text.bytes, "caption");

  // Bytes that are no image leave the clipboard as it was.
  run("post({eventType: 'copyImageToClipboard', base64: btoa('not a picture')}); return true;");
  orvik::testing::drainMainLoop();
  EXPECT_TRUE(gdk_content_formats_contain_mime_type(gdk_clipboard_get_formats(clipboard), "image/png"));
}

}  // namespace
}  // namespace orvik

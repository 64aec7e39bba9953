#include "web/file_drag_out.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "calls/windows/test_support/openbox_display.h"
#include "files/documents_folder.h"
#include "platform/dispatch/glib_main_queue.h"
#include "platform/test_support/main_loop.h"
#include "platform/test_support/scoped_environment.h"
#include "platform/test_support/temp_dir.h"

// After the test framework: Xlib's macros (None, Bool, Status) clash with it.
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <gdk/x11/gdkx.h>
#undef None
#undef Bool
#undef Status

namespace orvik {
namespace {
namespace fs = std::filesystem;
using nlohmann::json;
using orvik::testing::TempDir;

TEST(FileDragOut, PicturesAreShownWithTheirLongerSideAtMostNinetySixPixels) {
  struct Case {
    FileDragOut::Size image;
    FileDragOut::Size shown;
  };
  const std::vector<Case> cases = {
      {{400, 200}, {96, 48}}, {{50, 20}, {50, 20}}, {{0.5, 0.5}, {0.5, 0.5}},
      {{96, 300}, {30.72, 96}}, {{96, 96}, {96, 96}}, {{0, 0}, {0, 0}},
  };
  for (const auto& c : cases) {
    const auto shown = FileDragOut::dragIconSize(c.image);
    EXPECT_DOUBLE_EQ(shown.width, c.shown.width) << c.image.width << "x" << c.image.height;
    EXPECT_DOUBLE_EQ(shown.height, c.shown.height) << c.image.width << "x" << c.image.height;
  }
}

TEST(FileDragOut, DroppedCopiesTakeTheFirstFreeNumberedName) {
  TempDir dir;
  for (const char* existing : {"photo.jpg", "photo 2.jpg", "notes", "photo 2 2.jpg.keep"}) {
    TempDir::writeFile(dir / existing, "x");
  }
  struct Case {
    const char* promised;
    const char* written;
  };
  const std::vector<Case> cases = {
      {"photo.jpg", "photo 3.jpg"}, {"notes", "notes 2"}, {"photo 2.jpg", "photo 2 2.jpg"},
      {"free.pdf", "free.pdf"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(FileDragOut::uniqueDestination(dir / c.promised), dir / c.written) << c.promised;
  }
}

TEST(FileDragOut, PagePointsKeepTheirFractionAndPathsArePercentDecodedOnlyWhenMissing) {
  EXPECT_EQ(FileDragOut::pagePointArgument(FileDragOut::PagePoint{100, 50}), R"({"x":100.0,"y":50.0})");
  EXPECT_EQ(FileDragOut::pagePointArgument(FileDragOut::PagePoint{120.5, 48.25}), R"({"x":120.5,"y":48.25})");
  EXPECT_EQ(FileDragOut::pagePointArgument(std::nullopt), "null");

  TempDir dir;
  TempDir::writeFile(dir / "my file.txt", "x");
  TempDir::writeFile(dir / "100%25.txt", "x");
  EXPECT_EQ(FileDragOut::resolvedPath((dir / "my%20file.txt").string()), (dir / "my file.txt").string());
  EXPECT_EQ(FileDragOut::resolvedPath((dir / "100%25.txt").string()), (dir / "100%25.txt").string());
}

// A real drag under Xvfb: the page asks for it on a mouse press, XTest moves
// the pointer with the button held to a drop zone of the test beside the
// page, and lets go there.
class FileDragOutIntegration : public ::testing::Test {
 protected:
  class ViewSink final : public platform::PageScriptSink {
   public:
    explicit ViewSink(WebKitWebView* view) : view_(view) {}
    void evaluateScript(const std::string& script) override {
      webkit_web_view_evaluate_javascript(view_, script.c_str(), -1, nullptr, nullptr, nullptr, nullptr, nullptr);
    }
    void evaluateScript(const std::string& script, platform::PageScriptCompletion completion) override {
      evaluateScript(script);
      if (completion) completion({});
    }

   private:
    WebKitWebView* view_;
  };

  static void SetUpTestSuite() { hasDisplay_ = gtk_init_check(); }

  void SetUp() override {
    ASSERT_TRUE(hasDisplay_) << "needs a display: run under xvfb-run";
    // A display of the test's own: XTest moves the one pointer of a display,
    // and other tests' windows on a shared one would take the drop.
    const orvik::testing::OpenboxDisplay::Options screen{.home = home_.path(), .exportDisplay = true};
    if (auto why = orvik::testing::OpenboxDisplay::unavailable(screen)) GTEST_SKIP() << *why;
    std::string error;
    screen_ = orvik::testing::OpenboxDisplay::start(screen, error);
    ASSERT_TRUE(screen_) << error;
    ASSERT_TRUE(GDK_IS_X11_DISPLAY(gdk_display_get_default())) << "moves the pointer through XTest";
    content_ = webkit_user_content_manager_new();
    g_signal_connect(content_, "script-message-received::nativeApp", G_CALLBACK(onMessage), this);
    webkit_user_content_manager_register_script_message_handler(content_, "nativeApp", nullptr);
    view_ = WEBKIT_WEB_VIEW(g_object_new(WEBKIT_TYPE_WEB_VIEW, "user-content-manager", content_, nullptr));
    gtk_widget_set_size_request(GTK_WIDGET(view_), 300, 300);
    dropZone_ = gtk_label_new("drop here");
    gtk_widget_set_size_request(dropZone_, 300, 300);
    const char* uriList[] = {"text/uri-list"};
    GtkDropTargetAsync* target = gtk_drop_target_async_new(gdk_content_formats_new(uriList, 1), GDK_ACTION_COPY);
    g_signal_connect(target, "drop", G_CALLBACK(onZoneDrop), this);
    gtk_widget_add_controller(dropZone_, GTK_EVENT_CONTROLLER(target));
    GtkWidget* box = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 0);
    gtk_box_append(GTK_BOX(box), GTK_WIDGET(view_));
    gtk_box_append(GTK_BOX(box), dropZone_);
    window_ = gtk_window_new();
    gtk_window_set_decorated(GTK_WINDOW(window_), FALSE);
    gtk_window_set_child(GTK_WINDOW(window_), box);
    gtk_window_present(GTK_WINDOW(window_));
    sink_ = std::make_shared<ViewSink>(view_);
    drag_ = std::make_unique<FileDragOut>(view_, sink_);
  }

  void TearDown() override {
    if (!window_) return;
    drag_.reset();
    gtk_window_destroy(GTK_WINDOW(window_));
    g_object_unref(content_);
  }

  static void onMessage(WebKitUserContentManager*, JSCValue* value, gpointer data) {
    auto* self = static_cast<FileDragOutIntegration*>(data);
    char* text = jsc_value_to_json(value, 0);
    const json payload = json::parse(text ? text : "null", nullptr, false);
    g_free(text);
    if (payload.value("eventType", "") == "beginFileDrag") {
      ++self->requests_;
      self->drag_->beginFileDrag(payload);
    }
  }

  static gboolean onZoneDrop(GtkDropTargetAsync*, GdkDrop* drop, double, double, gpointer data) {
    const char* types[] = {"text/uri-list", nullptr};
    gdk_drop_read_async(drop, types, G_PRIORITY_DEFAULT, nullptr, onZoneRead, data);
    return TRUE;
  }
  static void onZoneRead(GObject* source, GAsyncResult* result, gpointer data) {
    auto* self = static_cast<FileDragOutIntegration*>(data);
    GdkDrop* drop = GDK_DROP(source);
    const char* mime = nullptr;
    GInputStream* stream = gdk_drop_read_finish(drop, result, &mime, nullptr);
    if (!stream) {
      gdk_drop_finish(drop, static_cast<GdkDragAction>(0));
      self->dropped_ = "(unreadable)";
      return;
    }
    // The drag's source writes on this very main loop: read without blocking it.
    GOutputStream* memory = g_memory_output_stream_new_resizable();
    g_object_set_data_full(G_OBJECT(memory), "drop", g_object_ref(drop), g_object_unref);
    g_output_stream_splice_async(
        memory, stream,
        static_cast<GOutputStreamSpliceFlags>(G_OUTPUT_STREAM_SPLICE_CLOSE_SOURCE | G_OUTPUT_STREAM_SPLICE_CLOSE_TARGET),
        G_PRIORITY_DEFAULT, nullptr,
        +[](GObject* target, GAsyncResult* spliced, gpointer data) {
          auto* self = static_cast<FileDragOutIntegration*>(data);
          g_output_stream_splice_finish(G_OUTPUT_STREAM(target), spliced, nullptr);
          auto* memory = G_MEMORY_OUTPUT_STREAM(target);
          const std::string text(static_cast<const char*>(g_memory_output_stream_get_data(memory)),
                                 g_memory_output_stream_get_data_size(memory));
          gdk_drop_finish(GDK_DROP(g_object_get_data(target, "drop")), GDK_ACTION_COPY);
          self->dropped_ = text.empty() ? "(empty)" : text;
          g_object_unref(target);
        },
        self);
    g_object_unref(stream);
  }

  void loadPage(const std::string& path) {
    bool finished = false;
    const gulong id = g_signal_connect(
        view_, "load-changed", G_CALLBACK(+[](WebKitWebView*, WebKitLoadEvent event, gpointer done) {
          if (event == WEBKIT_LOAD_FINISHED) *static_cast<bool*>(done) = true;
        }),
        &finished);
    const std::string html =
        "<!DOCTYPE html><html><body style='margin:0'><div id=file style='width:300px;height:300px'></div><script>"
        "window.events = [];"
        "window.onNativeFileDragMoved = (p) => events.push(['moved', p]);"
        "window.onNativeFileDragEnded = (p) => events.push(['ended', p]);"
        "document.getElementById('file').addEventListener('mousedown', (e) => { e.preventDefault();"
        "  window.webkit.messageHandlers.nativeApp.postMessage({eventType: 'beginFileDrag', localFilePath: " +
        json(path).dump() + "}); });</script></body></html>";
    webkit_web_view_load_html(view_, html.c_str(), "http://127.0.0.1/");
    ASSERT_TRUE(orvik::testing::runMainLoopUntil([&] { return finished; }, 120.0));
    g_signal_handler_disconnect(view_, id);
  }

  json pageEvents() {
    json events;
    bool done = false;
    webkit_web_view_evaluate_javascript(
        view_, "JSON.stringify(window.events)", -1, nullptr, nullptr, nullptr,
        +[](GObject* source, GAsyncResult* result, gpointer data) {
          auto* out = static_cast<std::pair<json*, bool*>*>(data);
          JSCValue* value = webkit_web_view_evaluate_javascript_finish(WEBKIT_WEB_VIEW(source), result, nullptr);
          if (value) {
            char* text = jsc_value_to_string(value);
            *out->first = json::parse(text ? text : "null", nullptr, false);
            g_free(text);
            g_object_unref(value);
          }
          *out->second = true;
        },
        new std::pair<json*, bool*>(&events, &done));
    orvik::testing::runMainLoopUntil([&] { return done; }, 10.0);
    return events;
  }

  // Screen position of a point of the window.
  std::pair<int, int> onScreen(int x, int y) {
    Display* display = gdk_x11_display_get_xdisplay(gdk_display_get_default());
    const Window xid = gdk_x11_surface_get_xid(gtk_native_get_surface(GTK_NATIVE(window_)));
    int rootX = 0, rootY = 0;
    Window child = 0;
    XTranslateCoordinates(display, xid, DefaultRootWindow(display), x, y, &rootX, &rootY, &child);
    return {rootX, rootY};
  }
  // Tests running beside this one share the display and open their windows
  // at its origin: this window moves away from it and goes on top.
  void keepClearOfOtherTests() {
    Display* display = gdk_x11_display_get_xdisplay(gdk_display_get_default());
    const Window xid = gdk_x11_surface_get_xid(gtk_native_get_surface(GTK_NATIVE(window_)));
    XMoveWindow(display, xid, 620, 600);
    XRaiseWindow(display, xid);
    XFlush(display);
    settle(0.4);
  }
  void movePointer(int x, int y) {
    Display* display = gdk_x11_display_get_xdisplay(gdk_display_get_default());
    const auto [sx, sy] = onScreen(x, y);
    XTestFakeMotionEvent(display, -1, sx, sy, CurrentTime);
    XFlush(display);
    settle(0.05);
  }
  void button(bool pressed) {
    Display* display = gdk_x11_display_get_xdisplay(gdk_display_get_default());
    XTestFakeButtonEvent(display, 1, pressed, CurrentTime);
    XFlush(display);
    settle(0.05);
  }
  static void settle(double seconds) {
    const gint64 until = g_get_monotonic_time() + gint64(seconds * 1e6);
    orvik::testing::runMainLoopUntil([&] { return g_get_monotonic_time() >= until; }, seconds + 5);
  }

  static inline bool hasDisplay_ = false;
  orvik::testing::TestHome home_;
  std::unique_ptr<orvik::testing::OpenboxDisplay> screen_;
  platform::GlibMainQueue main_;
  platform::ScopedMainQueue scopedMain_{main_};
  WebKitUserContentManager* content_ = nullptr;
  WebKitWebView* view_ = nullptr;
  GtkWidget* window_ = nullptr;
  GtkWidget* dropZone_ = nullptr;
  std::shared_ptr<ViewSink> sink_;
  std::unique_ptr<FileDragOut> drag_;
  int requests_ = 0;
  std::string dropped_;
};

TEST_F(FileDragOutIntegration, ADragStartedByThePageHandsAUriListToADropTarget) {
  const fs::path file = documentsDirectory() / "report 1.pdf";
  TempDir::writeFile(file, "%PDF-1.4 pretend");
  loadPage(file.string());
  ASSERT_TRUE(orvik::testing::runMainLoopUntil([&] { return gtk_widget_get_width(dropZone_) > 0; }));
  keepClearOfOtherTests();

  movePointer(100, 100);
  button(true);
  ASSERT_TRUE(orvik::testing::runMainLoopUntil([&] { return requests_ == 1; }, 10.0));
  settle(0.1);
  for (int x = 110; x <= 450; x += 20) movePointer(x, 120);
  EXPECT_TRUE(drag_->isDragging());
  button(false);
  ASSERT_TRUE(orvik::testing::runMainLoopUntil([&] { return !dropped_.empty(); }, 10.0));
  gchar* uri = g_filename_to_uri(file.c_str(), nullptr, nullptr);
  EXPECT_EQ(dropped_, std::string(uri) + "\r\n");
  g_free(uri);

  ASSERT_TRUE(orvik::testing::runMainLoopUntil([&] { return !drag_->isDragging(); }, 10.0));
  settle(0.2);
  const json events = pageEvents();
  ASSERT_TRUE(events.is_array() && !events.empty()) << events.dump();
  // Points over the page while it was there, then null once it left, and the
  // end away from the page.
  EXPECT_EQ(events.front()[0], "moved") << events.dump();
  EXPECT_TRUE(events.front()[1].is_object()) << events.dump();
  EXPECT_EQ(events.back(), json::array({"ended", nullptr})) << events.dump();
}

TEST_F(FileDragOutIntegration, RefusalsEndTheDragWithNullAtOnce) {
  const fs::path outside = home_.path() / "Documents/private.txt";
  TempDir::writeFile(outside, "mine");
  loadPage(outside.string());
  keepClearOfOtherTests();
  movePointer(100, 100);
  button(true);
  ASSERT_TRUE(orvik::testing::runMainLoopUntil([&] { return requests_ == 1; }, 10.0));
  button(false);
  settle(0.2);
  EXPECT_FALSE(drag_->isDragging());
  EXPECT_EQ(pageEvents(), json::array({json::array({"ended", nullptr})}));
}

}  // namespace
}  // namespace orvik

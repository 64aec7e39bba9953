// The web call window against the local stand-in service under Xvfb: the
// main page (calls.html) opens the call page (callwindow.html) with
// window.open, the main web view makes the call-window web view and the
// NativeCallWindow shows it. Camera and microphone answers come from a fake
// authorisation; WebKit's mock capture devices stand in for the hardware.
#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <webkit/webkit.h>

#include "calls/control/call_bridge_messages.h"
#include "calls/control/call_strings.h"
#include "calls/control/test_support/recording_call_message_operations.h"
#include "calls/windows/native_call_window.h"
#include "core/recording_load_diagnostics.h"
#include "core/service_config.h"
#include "core/native_logger.h"
#include "platform/dispatch/task_queue.h"
#include "platform/dispatch/virtual_queue.h"
#include "platform/fake_capture_authorization.h"
#include "platform/recording_page_script_sink.h"
#include "platform/test_support/background_process.h"
#include "platform/test_support/main_loop.h"
#include "platform/test_support/temp_dir.h"
#include "web/bridge_dispatcher.h"
#include "web/call_window_handlers.h"
#include "web/testing/trusted_bridge_message.h"
#include "web/call_window_web_view.h"
#include "web/page_scripts.h"
#include "web/web_session.h"
#include "web/web_view_host.h"
#include "web/web_view_state.h"

namespace orvik {
namespace {

using platform::CaptureAuthorizationStatus;
using platform::CaptureDevice;
using testing::drainMainLoop;
using testing::runMainLoopUntil;

constexpr const char* kUdid = "0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef";

// ---------------------------------------------------------------- handlers

class RecordingSignals final : public CallWindowSignals {
 public:
  void revealWindow() override { calls.push_back("revealWindow"); }
  void cameraReady() override { calls.push_back("cameraReady"); }
  std::vector<std::string> calls;
};

TEST(CallWindowHandlers, OnlyTheExactCameraReadyTextShowsTheHiddenWindowAnythingElseRevealsIt) {
  const std::vector<std::pair<nlohmann::json, std::string>> rows = {
      {"cameraReady", "cameraReady"},  {"CameraReady", "revealWindow"},  {"ready", "revealWindow"},
      {"", "revealWindow"},            {nlohmann::json::object({{"a", 1}}), "revealWindow"},
      {42, "revealWindow"},            {true, "revealWindow"},
  };
  for (const auto& [body, expected] : rows) {
    RecordingSignals signals;
    CallWindowReadyHandler(signals).didReceive(body);
    EXPECT_EQ(signals.calls, std::vector<std::string>{expected}) << body.dump();
  }
}

TEST(CallWindowHandlers, ALogLineNeedsATextLevelAndATextMessage) {
  const CallWindowLogHandler handler;
  EXPECT_TRUE(handler.didReceive({{"level", "warn"}, {"msg", "x"}}));
  EXPECT_TRUE(handler.didReceive({{"level", "debug"}, {"msg", ""}}));
  EXPECT_FALSE(handler.didReceive({{"level", "warn"}}));
  EXPECT_FALSE(handler.didReceive({{"level", 2}, {"msg", "x"}}));
  EXPECT_FALSE(handler.didReceive(nlohmann::json::object()));
  EXPECT_FALSE(handler.didReceive("log"));
}

TEST(CallWindowAddress, TheMarkerAnywhereMakesACallWindowAndTheFirstCallTypeDecides) {
  struct Row {
    const char* url;
    bool marker, audio;
  };
  const std::vector<Row> rows = {
      {"https://h/c?callWindow=true&callType=video", true, false},
      {"https://h/c?callWindow=true&callType=AUDIO", true, false},
      {"https://h/c?callWindow=true&callType=audio&callType=video", true, true},
      {"https://h/c?callType=video&callType=audio&callWindow=true", true, false},
      {"https://h/c?callWindow=true", true, true},
      {"https://h/c?callWindow=true&callType=", true, true},
      {"https://h/c#callWindow=true", true, true},
      {"https://h/c?callWindow=false&callType=video", false, false},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(CallWindowWebViews::hasMarker(row.url), row.marker) << row.url;
    EXPECT_EQ(CallWindowWebViews::isAudioCall(row.url), row.audio) << row.url;
  }
}

// ---------------------------------------------------------------- the dispatcher's names

TEST(CallMessageNames, EveryCallMessageIsANameOfTheDispatcherAndReachesTheCallMessages) {
  platform::VirtualQueue queue;
  platform::ScopedMainQueue main{queue};
  orvik::testing::RecordingCallMessageOperations operations;
  operations.preCallActive = true;
  CallStrings strings;
  CallBridgeMessages messages({operations, operations, strings, queue, {}, {}, {}});
  std::vector<std::string> lines;
  auto logger = std::make_shared<NativeLogger>([&lines](const std::string& line) { lines.push_back(line); });
  BridgeDispatcher::Collaborators collaborators;
  collaborators.isTrustedHost = [](std::string_view) { return true; };
  collaborators.hasCredentials = [] { return true; };
  collaborators.logger = logger.get();
  collaborators.print = [](const std::string&) {};
  BridgeDispatcher dispatcher(collaborators);
  for (const auto name : CallBridgeMessages::messageNames()) {
    EXPECT_TRUE(dispatcher.route(name, [](const nlohmann::json&) {})) << name;
  }
  messages.publishRoutes(dispatcher);
  // Each name, in its own form, reaches the call messages: none is left "not handled yet".
  dispatcher.didReceive(orvik::testing::trustedBridgeMessage("nativeApp", "setCallStrings:{}"));
  for (const auto name : CallBridgeMessages::messageNames()) {
    if (name == CallStrings::kMessagePrefix) continue;
    dispatcher.didReceive(orvik::testing::trustedBridgeMessage("nativeApp", {{"eventType", name}}));
  }
  queue.advance(1.0);
  for (const auto& line : lines) EXPECT_EQ(line.find("not handled yet"), std::string::npos) << line;
  EXPECT_FALSE(operations.calls.empty());
}

// ---------------------------------------------------------------- against the local service

// tools/devservice/web-server.js, started once for the suite.
struct LocalService {
  std::unique_ptr<testing::BackgroundProcess> process;
  nlohmann::json ready;
  ServiceConfig config = ServiceConfig::defaults();
  std::string error;

  static std::unique_ptr<LocalService>& instance() {
    static std::unique_ptr<LocalService> service;
    return service;
  }
  static LocalService& shared() {
    auto& service = instance();
    if (service) return *service;
    service = std::make_unique<LocalService>();
    const auto script = std::filesystem::path(ORVIK_SOURCE_DIR) / "tools" / "devservice" / "web-server.js";
    service->process = testing::BackgroundProcess::start({"node", script.string(), "--page", "/calls.html"});
    if (!service->process) {
      service->error = "node could not be started";
      return *service;
    }
    const auto line = service->process->waitForLine(
        [](const std::string& text) { return text.find("\"ready\"") != std::string::npos; }, 60.0);
    if (!line) {
      service->error = "the local service did not start";
      return *service;
    }
    service->ready = nlohmann::json::parse(*line);
    auto loaded = ServiceConfig::load(service->ready["config"].get<std::string>(), service->error);
    if (loaded) service->config = *loaded;
    return *service;
  }
  // Ends the service: a server left running would hold the test's output open.
  static void stop() { instance().reset(); }
};

class CallWindowIntegration : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { gtk_init(); }
  static void TearDownTestSuite() { LocalService::stop(); }

  void SetUp() override {
    if (!serviceOverrideBuild()) GTEST_SKIP() << "a local CA and loopback pages are trusted only in override builds";
    auto& service = LocalService::shared();
    ASSERT_TRUE(service.error.empty()) << service.error;
    authorization_.statuses = {{CaptureDevice::camera, CaptureAuthorizationStatus::authorized},
                               {CaptureDevice::microphone, CaptureAuthorizationStatus::authorized}};
    WebViewHostOptions options;
    options.url = service.ready["url"].get<std::string>();
    options.service = &service.config;
    options.deviceUdid = kUdid;
    options.filterStoreFolder = dir_ / "filters";
    options.mockCaptureDevices = true;
    state_ = std::make_shared<WebViewState>(platform::mainQueue(), diagnostics_, [] { return true; });
    host_ = std::make_unique<WebViewHost>(options, session(), state_, diagnostics_, authorization_);
    // Real time: only the fail-safe test waits for the real 4.0 s; the others
    // must not race it on a busy machine (virtual time covers it exactly in
    // native_call_window_test.cpp).
    const bool failSafeTest =
        std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()).find("FailSafe") !=
        std::string::npos;
    callWindow_ = std::make_unique<NativeCallWindow>(NativeCallWindow::Collaborators{
        platform::mainQueue(), authorization_, strings_, [] { return false; },
        [this](const std::string& line) { printed_.push_back(line); },
        failSafeTest ? NativeCallWindow::kVideoFailSafeSeconds : 120.0});
    callWindow_->setMainPage(host_->page());
    host_->setCallWindow(callWindow_.get(), [this](CallPageView page) { callWindow_->showWindow(std::move(page)); });
    window_ = gtk_window_new();
    gtk_window_set_default_size(GTK_WINDOW(window_), 400, 300);
    gtk_window_set_child(GTK_WINDOW(window_), host_->widget());
    gtk_window_present(GTK_WINDOW(window_));
    host_->start();
    ASSERT_TRUE(runMainLoopUntil([&] { return diagnostics_.has("finished") && !state_->isLoading(); }, 60.0));
  }

  void TearDown() override {
    callWindow_.reset();
    host_.reset();
    if (window_) gtk_window_destroy(GTK_WINDOW(window_));
    drainMainLoop();
  }

  static WebSession& session() {
    static auto* made = new WebSession(WebSession::Storage::ephemeral);
    return *made;
  }

  // `expression` evaluated in `view` as text; nothing when it failed.
  static std::optional<std::string> evaluate(WebKitWebView* view, const std::string& expression) {
    std::optional<std::string> answer;
    bool answered = false;
    const std::string script = "String(" + expression + ")";
    struct Pending {
      std::optional<std::string>* answer;
      bool* answered;
    };
    webkit_web_view_evaluate_javascript(
        view, script.c_str(), static_cast<gssize>(script.size()), nullptr, nullptr, nullptr,
        [](GObject* source, GAsyncResult* result, gpointer data) {
          auto* pending = static_cast<Pending*>(data);
          JSCValue* value = webkit_web_view_evaluate_javascript_finish(WEBKIT_WEB_VIEW(source), result, nullptr);
          if (value) {
            char* text = jsc_value_to_string(value);
            *pending->answer = text;
            g_free(text);
            g_object_unref(value);
          }
          *pending->answered = true;
          delete pending;
        },
        new Pending{&answer, &answered});
    runMainLoopUntil([&] { return answered; }, 10.0);
    return answer;
  }
  // Waits until `expression` in `view` reads `expected`; the last reading.
  static std::string waitForValue(WebKitWebView* view, const std::string& expression, const std::string& expected,
                                  double seconds = 20.0) {
    std::string last = "(never read)";
    runMainLoopUntil([&] {
      last = evaluate(view, expression).value_or("(failed)");
      return last == expected;
    }, seconds);
    return last;
  }

  WebKitWebView* mainView() const { return host_->webView(); }
  WebKitWebView* callView() const { return WEBKIT_WEB_VIEW(callWindow_->callWebView()); }
  bool callWindowMapped() const {
    return callWindow_->window() && gtk_widget_get_mapped(GTK_WIDGET(callWindow_->window()));
  }
  // Opens the call page from the main page (replacing an open one) and waits
  // until it has started.
  void openCall(const std::string& type) {
    GtkWidget* before = callWindow_->callWebView();
    ASSERT_EQ(evaluate(mainView(), "openCall('" + type + "')"), "true");
    ASSERT_TRUE(runMainLoopUntil([&] {
      return callWindow_->callWebView() != nullptr && callWindow_->callWebView() != before;
    }, 10.0));
    ASSERT_EQ(waitForValue(callView(), "window.seen && window.seen.ready", "true"), "true");
  }

  testing::TempDir dir_;
  RecordingLoadDiagnostics diagnostics_;
  platform::FakeCaptureAuthorization authorization_;
  CallStrings strings_;
  std::shared_ptr<WebViewState> state_;
  std::unique_ptr<WebViewHost> host_;
  std::unique_ptr<NativeCallWindow> callWindow_;
  std::vector<std::string> printed_;
  GtkWidget* window_ = nullptr;
};

TEST_F(CallWindowIntegration, AVideoCallWindowStaysUnmappedUntilTheCallPageSaysCameraReady) {
  openCall("video");
  // The call page runs in its own view, with its own settings and identity.
  EXPECT_NE(webkit_web_view_get_settings(callView()), webkit_web_view_get_settings(mainView()));
  EXPECT_EQ(evaluate(callView(), "window.seen.ua"), page_scripts::kCallWindowUserAgent);
  EXPECT_EQ(evaluate(callView(), "window.seen.udid"), kUdid);
  EXPECT_EQ(evaluate(callView(), "window.__orvikCallLogHooked"), "true");
  EXPECT_EQ(evaluate(mainView(), "String(window.__orvikCallLogHooked)"), "undefined");
  EXPECT_FALSE(callWindowMapped());
  EXPECT_EQ(printed_, std::vector<std::string>{"📞 [NativeCallWindow] Video call — window hidden, waiting for cameraReady..."});

  ASSERT_EQ(evaluate(callView(), "(ready('ready'), 1)"), "1");
  drainMainLoop();
  EXPECT_FALSE(callWindowMapped()) << "only cameraReady shows a hidden video window";
  ASSERT_EQ(evaluate(callView(), "(ready('cameraReady'), 1)"), "1");
  ASSERT_TRUE(runMainLoopUntil([&] { return callWindowMapped(); }, 3.0));
  EXPECT_EQ(printed_.back(), "📞 [NativeCallWindow] Window revealed — camera ready ✅");
  EXPECT_EQ(gtk_window_get_title(callWindow_->window()),
            std::string("You are making a secure end to end encrypted call"));
}

TEST_F(CallWindowIntegration, FocusReachesTheMainPageAndClosingSendsTheClosedNoticeOnce) {
  openCall("audio");
  ASSERT_TRUE(runMainLoopUntil([&] { return callWindowMapped(); }, 5.0)) << "an audio window shows at once";
  EXPECT_EQ(gtk_window_get_title(callWindow_->window()), std::string("Orvik – Audio Call"));
  EXPECT_EQ(waitForValue(mainView(), "window.focusLog.indexOf(true) >= 0", "true"), "true");
  gtk_window_present(GTK_WINDOW(window_));
  EXPECT_EQ(waitForValue(mainView(), "window.focusLog[window.focusLog.length - 1]", "false"), "false");
  EXPECT_EQ(evaluate(mainView(), "window.__orvikCallWindowFocused"), "false");

  // The user's close button.
  gtk_window_close(callWindow_->window());
  EXPECT_EQ(waitForValue(mainView(), "window.closedCount", "1"), "1");
  EXPECT_EQ(callWindow_->window(), nullptr);
  callWindow_->closeWindow();
  drainMainLoop();
  EXPECT_EQ(evaluate(mainView(), "window.closedCount"), "1");
  EXPECT_EQ(evaluate(mainView(), "window.focusLog.slice(-2).join()"), "closed,true");
}

TEST_F(CallWindowIntegration, TheFailSafeRevealsAVideoWindowWhoseCameraNeverComes) {
  openCall("video");
  EXPECT_FALSE(callWindowMapped());
  ASSERT_TRUE(runMainLoopUntil([&] { return callWindowMapped(); }, 15.0));
  EXPECT_EQ(printed_.back(), "📞 [NativeCallWindow] Window revealed — camera ready ✅");
  // The page's late cameraReady changes nothing and prints nothing.
  const auto count = printed_.size();
  ASSERT_EQ(evaluate(callView(), "(ready('cameraReady'), 1)"), "1");
  drainMainLoop();
  EXPECT_EQ(printed_.size(), count);
}

TEST_F(CallWindowIntegration, TheCallPageGetsTheCameraOnlyWithBothDevicesAuthorisedAndNeverInAForeignFrame) {
  // WebKit keeps a page's answer for its document: each case gets a new call
  // page. Audio windows: WebKitGTK holds the requests of a page not yet seen.
  authorization_.statuses[CaptureDevice::microphone] = CaptureAuthorizationStatus::denied;
  openCall("audio");
  ASSERT_EQ(evaluate(callView(), "(askCamera(), 1)"), "1");
  EXPECT_EQ(waitForValue(callView(), "window.capture", "refused: NotAllowedError"), "refused: NotAllowedError");

  authorization_.statuses[CaptureDevice::microphone] = CaptureAuthorizationStatus::authorized;
  openCall("audio");
  ASSERT_EQ(evaluate(callView(), "(askCamera(), 1)"), "1");
  EXPECT_EQ(waitForValue(callView(), "window.capture", "granted"), "granted");

  ASSERT_EQ(evaluate(callView(), "(addForeignFrame(), 1)"), "1");
  const auto frame = waitForValue(callView(), "window.frameCapture.indexOf('refused') === 0", "true");
  EXPECT_EQ(frame, "true") << evaluate(callView(), "window.frameCapture").value_or("");
  EXPECT_TRUE(authorization_.asked.empty()) << "nobody is prompted";
}

TEST_F(CallWindowIntegration, ACallWindowAddressOnAnUntrustedHostOpensNothing) {
  const std::string foreign = LocalService::shared().ready["foreign"].get<std::string>();
  EXPECT_EQ(evaluate(mainView(), "!!window.open('" + foreign + "?callWindow=true&callType=audio', '_blank')"),
            "false");
  EXPECT_EQ(evaluate(mainView(), "!!window.open('https://127.0.0.2:1/c?callWindow=true&callType=video', '_blank')"),
            "false");
  drainMainLoop();
  EXPECT_EQ(callWindow_->window(), nullptr);
  EXPECT_EQ(callWindow_->callWebView(), nullptr);
}

}  // namespace
}  // namespace orvik

#include "web/web_view_host.h"

#include <signal.h>

#include <chrono>
#include <fstream>
#include <thread>

#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <webkit/webkit.h>

#include "core/device_udid_provider.h"
#include "core/recording_load_diagnostics.h"
#include "core/service_config.h"
#include "platform/app_info.h"
#include "platform/capture_authorization.h"
#include "platform/test_support/local_web_server.h"
#include "platform/test_support/main_loop.h"
#include "platform/test_support/temp_dir.h"
#include "web/bridge_dispatcher.h"
#include "web/certificate_pinning.h"
#include "web/page_scripts.h"
#include "web/render_check.h"
#include "web/web_session.h"
#include "web/web_view_state.h"

namespace orvik {
namespace {

using testing::LocalWebServer;
using testing::runMainLoopUntil;
using testing::TempDir;
using testing::TestCertificates;

constexpr const char* kUdid = "0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef";

// Reads globals at the page's first inline script and tells the native side.
constexpr const char* kBridgePage = R"(<!DOCTYPE html><html><head><script>
window.seen = { version: window.APP_VERSION, call: window.ORVIK_NATIVE_CALL_SUPPORTED,
  distribution: window.ORVIK_DISTRIBUTION, udid: window.__orvikDeviceUdid, launch: window.__orvikNativeLaunchId,
  collector: Array.isArray(window.__orvikLoadErrors) };
window.webkit.messageHandlers.nativeApp.postMessage({ eventType: 'hello', seen: window.seen, top: false,
  origin: 'https://forged.example' });
window.webkit.messageHandlers.nativeApp.postMessage('getAppVersion');
</script></head><body><div id="root"><p>ready</p></div></body></html>)";

std::string pemPin(const std::filesystem::path& pem) {
  const auto text = TempDir::readFile(pem);
  const std::string begin = "-----BEGIN CERTIFICATE-----", end = "-----END CERTIFICATE-----";
  const auto body = text.substr(text.find(begin) + begin.size(), text.find(end) - text.find(begin) - begin.size());
  gsize length = 0;
  guchar* der = g_base64_decode(body.c_str(), &length);
  auto pin = publicKeyPinHash(DerBytes(der, der + length));
  g_free(der);
  return pin.value_or("");
}

// Process ids of the descendants of this process named `name`.
std::vector<pid_t> descendantsNamed(const std::string& name) {
  std::map<pid_t, pid_t> parents;
  std::map<pid_t, std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
    const auto id = entry.path().filename().string();
    if (id.find_first_not_of("0123456789") != std::string::npos) continue;
    std::ifstream stat(entry.path() / "stat");
    std::string line;
    if (!std::getline(stat, line)) continue;
    const auto open = line.find('('), close = line.rfind(')');
    if (open == std::string::npos || close == std::string::npos) continue;
    const pid_t pid = std::stoi(id);
    names[pid] = line.substr(open + 1, close - open - 1);
    std::istringstream rest(line.substr(close + 2));
    char state;
    pid_t parent;
    rest >> state >> parent;
    parents[pid] = parent;
  }
  std::vector<pid_t> found;
  for (const auto& [pid, parent] : parents) {
    for (pid_t up = parent; up > 1; up = parents.count(up) ? parents[up] : 0) {
      if (up == getpid()) {
        if (names[pid].rfind(name.substr(0, 15), 0) == 0) found.push_back(pid);
        break;
      }
    }
  }
  return found;
}

// Every device present and authorised, as on a machine with a camera.
class GrantingCaptureAuthorization final : public platform::CaptureAuthorization {
 public:
  platform::CaptureAuthorizationStatus status(platform::CaptureDevice) const override {
    return platform::CaptureAuthorizationStatus::authorized;
  }
  void request(platform::CaptureDevice, std::function<void(bool)> done) override { done(true); }
};

// Asks for the camera and microphone and keeps the outcome in window.capture.
constexpr const char* kCapturePage = R"(<!DOCTYPE html><div id="root"><p>x</p></div><script>
  navigator.mediaDevices.getUserMedia({ audio: true, video: true }).then(
    function (stream) { window.capture = 'granted'; stream.getTracks().forEach(function (t) { t.stop(); }); },
    function (error) { window.capture = 'refused: ' + error.name; });
</script>)";

class WebViewHostIntegration : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { gtk_init(); }

  void TearDown() override {
    host_.reset();
    if (window_) gtk_window_destroy(GTK_WINDOW(window_));
  }

  // An HTTPS server whose throwaway CA this test trusts, serving `page` at
  // "/"; false when the certificates could not be made.
  bool serveTrusted(const char* page) {
    certificates_ = std::make_unique<TestCertificates>(dir_.path());
    if (!certificates_->ok) return false;
    server_ = std::make_unique<LocalWebServer>(certificates_.get());
    server_->route("/", {200, "text/html", page});
    trustServer(*certificates_);
    return true;
  }

  // One session for the whole program, as in the program: a session that
  // keeps nothing.
  static WebSession& session() {
    static auto* made = new WebSession(WebSession::Storage::ephemeral);
    return *made;
  }

  void makeHost(const std::string& url, DeviceUdidProvider* deviceUdid = nullptr) {
    url_ = url;
    WebViewHostOptions options;
    options.url = url;
    options.service = &config_;
    options.deviceUdid = kUdid;
    options.deviceUdidProvider = deviceUdid;
    options.launchId = "launch-1";
    options.filterStoreFolder = dir_ / "filters";
    options.mockCaptureDevices = true;
    state_ = std::make_shared<WebViewState>(platform::mainQueue(), diagnostics_, [] { return true; });
    host_ = std::make_unique<WebViewHost>(options, session(), state_, diagnostics_, authorization_);
    host_->setBridgeMessageHandler([this](const BridgeMessage& message) {
      (trust_.isTrustedBridgeOrigin(message) ? messages_ : refused_).push_back(message);
    });
    window_ = gtk_window_new();
    gtk_window_set_default_size(GTK_WINDOW(window_), 400, 300);
    gtk_window_set_child(GTK_WINDOW(window_), host_->widget());
    gtk_window_present(GTK_WINDOW(window_));
    host_->start();
  }

  // Iterates the main context until `done` or a generous guard time.
  // Under CPU starvation WebKit sometimes reports a load that met an unknown
  // certificate as cancelled instead of as a TLS error: that load is retried once.
  bool loaded() {
    bool retried = false;
    return runMainLoopUntil([&] {
      if (!retried && !diagnostics_.has("finished") && diagnostics_.has("record navigation cancelled")) {
        retried = true;
        host_->page()->load(url_, CachePolicy::useProtocolCachePolicy);
      }
      return diagnostics_.has("finished") && !state_->isLoading();
    });
  }
  // A page global's value as text, once the page has set it.
  std::string pageValue(const std::string& expression) {
    std::optional<std::string> value;
    runMainLoopUntil([&] {
      std::optional<std::string> answer;
      bool answered = false;
      host_->page()->evaluateForResult("String(" + expression + ")", [&](std::optional<std::string> v,
                                                                        std::optional<std::string>) {
        answer = v;
        answered = true;
      });
      runMainLoopUntil([&] { return answered; }, 5.0);
      if (answer && *answer != "undefined") value = answer;
      return value.has_value();
    });
    return value.value_or("(never set)");
  }
  RenderCheckResult renderCheck() {
    std::optional<RenderCheckResult> answer;
    runRenderCheck(platform::mainQueue(), diagnostics_, host_->page(),
                   [&](RenderCheckResult result) { answer = result; });
    EXPECT_TRUE(runMainLoopUntil([&] { return answer.has_value(); }));
    return answer.value_or(RenderCheckResult{});
  }
  // A trusted https set-up: the server's CA as the extra anchor, its leaf pinned.
  void trustServer(const TestCertificates& certificates) {
    config_.webHosts = {};
    config_.pinnedWebHost = "127.0.0.1";
    config_.webPins = {pemPin(certificates.leafFile)};
    config_.extraCAFile = certificates.caFile.string();
  }

  TempDir dir_;
  ServiceConfig config_ = ServiceConfig::defaults();
  RecordingLoadDiagnostics diagnostics_;
  GrantingCaptureAuthorization authorization_;
  std::shared_ptr<WebViewState> state_;
  std::unique_ptr<WebViewHost> host_;
  GtkWidget* window_ = nullptr;
  // The dispatcher's origin rule over this test's configuration.
  BridgeDispatcher trust_{[this] {
    BridgeDispatcher::Collaborators collaborators;
    collaborators.isTrustedHost = [this](std::string_view host) { return config_.isTrustedWebHost(host); };
    return collaborators;
  }()};
  std::unique_ptr<TestCertificates> certificates_;
  std::unique_ptr<LocalWebServer> server_;
  std::vector<BridgeMessage> messages_;
  std::vector<BridgeMessage> refused_;
  std::string url_;
};

TEST_F(WebViewHostIntegration, PageSeesTheGlobalsAtDocumentStartAndMessagesCarryTheRealOrigin) {
  if (!serviceOverrideBuild()) GTEST_SKIP() << "a local CA and loopback pages are trusted only in override builds";
  ASSERT_TRUE(serveTrusted(kBridgePage));
  LocalWebServer& server = *server_;
  makeHost(server.url("/"));
  ASSERT_TRUE(loaded());
  ASSERT_TRUE(runMainLoopUntil([&] { return messages_.size() >= 2; }));

  EXPECT_EQ(state_->loadingProgress(), 1.0);
  EXPECT_FALSE(state_->errorMessage());
  EXPECT_FALSE(diagnostics_.has("FAIL"));
  const auto& hello = messages_[0];
  EXPECT_EQ(hello.handler, "nativeApp");
  EXPECT_EQ(hello.origin, "https://127.0.0.1:" + std::to_string(server.port()));
  const auto& app = platform::AppInfo::current();
  EXPECT_EQ(hello.body["seen"]["version"], page_scripts::appVersion(app.shortVersion, app.build));
  EXPECT_EQ(hello.body["seen"]["call"], true);
  EXPECT_EQ(hello.body["seen"]["distribution"], "bucket");
  EXPECT_EQ(hello.body["seen"]["udid"], kUdid);
  EXPECT_EQ(hello.body["seen"]["launch"], "launch-1");
  EXPECT_EQ(hello.body["seen"]["collector"], true);
  EXPECT_EQ(messages_[1].body, "getAppVersion");
  EXPECT_TRUE(renderCheck().rendered);
  std::optional<platform::PageScriptResult> result;
  host_->page()->evaluateScript("({ root: !!document.getElementById('root'), n: 2 })",
                                [&](const platform::PageScriptResult& r) { result = r; });
  ASSERT_TRUE(runMainLoopUntil([&] { return result.has_value(); }));
  EXPECT_EQ(result->value, (nlohmann::json{{"root", true}, {"n", 2}}));
}

// Answers when the test says, as a keyring that takes its time.
class DeferredUdidProvider final : public DeviceUdidProvider {
 public:
  void requestDeviceUdid(Done done) override { pending = std::move(done); }
  Done pending;
};

TEST_F(WebViewHostIntegration, TheFirstLoadWaitsForTheDeviceIdentifierWithoutHoldingTheMainLoop) {
  if (!serviceOverrideBuild()) GTEST_SKIP() << "a local CA and loopback pages are trusted only in override builds";
  ASSERT_TRUE(serveTrusted(kBridgePage));
  DeferredUdidProvider deviceUdid;
  makeHost(server_->url("/"), &deviceUdid);
  // The main loop goes on meanwhile (this timer fires), but nothing loads.
  bool ticked = false;
  g_timeout_add(
      1000, [](gpointer flag) { *static_cast<bool*>(flag) = true; return G_SOURCE_REMOVE; }, &ticked);
  ASSERT_TRUE(runMainLoopUntil([&] { return ticked; }));
  ASSERT_TRUE(deviceUdid.pending);
  EXPECT_FALSE(host_->page()->currentURI());
  EXPECT_FALSE(diagnostics_.has("finished"));

  const std::string late(64, 'e');
  deviceUdid.pending(late);
  ASSERT_TRUE(loaded());
  ASSERT_TRUE(runMainLoopUntil([&] { return !messages_.empty(); }));
  EXPECT_EQ(messages_[0].body["seen"]["udid"], late);
}

TEST_F(WebViewHostIntegration, PinMismatchStopsTheLoadAtTheTLSErrorAndAtCommit) {
  if (!serviceOverrideBuild()) GTEST_SKIP() << "a local CA and loopback pages are trusted only in override builds";
  TestCertificates certificates(dir_.path());
  ASSERT_TRUE(certificates.ok);
  LocalWebServer server(&certificates);
  server.route("/", {200, "text/html", kBridgePage});

  // The chain is unknown to the system: refused while WebKit reports the TLS error.
  trustServer(certificates);
  config_.webPins = {"AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA="};
  makeHost(server.url("/"));
  ASSERT_TRUE(runMainLoopUntil([&] { return state_->errorMessage().has_value(); }));
  EXPECT_TRUE(diagnostics_.has("FAIL stage=certificatePinning details=host=127.0.0.1"));
  EXPECT_FALSE(state_->isLoading());

  // Once the certificate is allowed for the host, the pin test runs at commit.
  host_.reset();
  gtk_window_destroy(GTK_WINDOW(window_));
  diagnostics_.lines.clear();
  trustServer(certificates);
  makeHost(server.url("/"));
  ASSERT_TRUE(loaded());
  host_.reset();
  gtk_window_destroy(GTK_WINDOW(window_));
  diagnostics_.lines.clear();
  messages_.clear();
  config_.webPins = {"AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA="};
  makeHost(server.url("/"));
  ASSERT_TRUE(runMainLoopUntil([&] { return state_->errorMessage().has_value(); }));
  EXPECT_TRUE(diagnostics_.has("FAIL stage=certificatePinning details=host=127.0.0.1"));
  // The refused document's messages never reach the bridge, and an empty page replaced it.
  RenderCheckResult check;
  EXPECT_TRUE(runMainLoopUntil([&] {
    check = renderCheck();
    return check.details.rfind("hasRoot=false", 0) == 0;
  }, 10.0)) << check.details;
  EXPECT_TRUE(messages_.empty());
  EXPECT_FALSE(state_->isLoading());
  EXPECT_TRUE(state_->errorMessage().has_value());
}

// Posts to the bridge and asks for the camera when the test says.
constexpr const char* kStayingPage = R"(<!DOCTYPE html><div id="root"><p>x</p></div><script>
  window.say = function (word) { window.webkit.messageHandlers.nativeApp.postMessage(word); };
  window.askCapture = function () {
    navigator.mediaDevices.getUserMedia({ audio: true, video: true }).then(
      function (stream) { window.capture = 'granted'; stream.getTracks().forEach(function (t) { t.stop(); }); },
      function (error) { window.capture = 'refused: ' + error.name; });
  };
</script>)";

TEST_F(WebViewHostIntegration, ANavigationThatNeverCommitsLeavesTheShownPageItsBridgeAndCamera) {
  if (!serviceOverrideBuild()) GTEST_SKIP() << "a local CA and loopback pages are trusted only in override builds";
  ASSERT_TRUE(serveTrusted(kStayingPage));
  // Bytes the view does not show: WebKit drops the load before it commits,
  // as it does when a link leads to a download.
  server_->route("/report.bin", {200, "application/octet-stream", "not a page"});
  const std::string closedPort = [] {
    LocalWebServer gone;
    return gone.url("/");
  }();
  makeHost(server_->url("/"));
  ASSERT_TRUE(loaded());
  const std::string shown = server_->url("/");

  struct Case {
    std::string name, target;
  };
  const std::vector<Case> cases = {
      {"download", server_->url("/report.bin")},
      {"closed port", closedPort},
      {"mailto", "mailto:someone@example.org"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto starts = diagnostics_.count("started ");
    host_->page()->evaluateScript("location.href = " + nlohmann::json(c.target).dump());
    ASSERT_TRUE(runMainLoopUntil([&] {
      return diagnostics_.count("started ") > starts && !webkit_web_view_is_loading(host_->webView());
    }));
    EXPECT_EQ(host_->page()->currentURI(), shown);
    const auto before = messages_.size();
    host_->page()->evaluateScript("window.say(" + nlohmann::json(c.name).dump() + ")");
    ASSERT_TRUE(runMainLoopUntil([&] { return messages_.size() > before || !refused_.empty(); }));
    ASSERT_TRUE(refused_.empty()) << "refused after " << c.name;
    EXPECT_EQ(messages_.back().body, c.name);
  }
  host_->page()->evaluateScript("window.askCapture()");
  EXPECT_EQ(pageValue("window.capture"), "granted");
}

TEST_F(WebViewHostIntegration, ATLSFailureOnThePinnedHostIsRecordedAsPinningInEveryBuild) {
  // No extra CA, as in a build that reads no override: the chain is unknown.
  TestCertificates certificates(dir_.path());
  ASSERT_TRUE(certificates.ok);
  LocalWebServer server(&certificates);
  server.route("/", {200, "text/html", kBridgePage});
  struct Case {
    std::string host;
    bool pinning;
  };
  for (const auto& c : std::vector<Case>{{"127.0.0.1", true}, {"localhost", false}}) {
    SCOPED_TRACE(c.host);
    host_.reset();
    if (window_) gtk_window_destroy(GTK_WINDOW(window_));
    window_ = nullptr;
    diagnostics_.lines.clear();
    config_.pinnedWebHost = "127.0.0.1";
    config_.webPins = {pemPin(certificates.leafFile)};
    config_.extraCAFile.clear();
    makeHost(server.url("/", c.host));
    ASSERT_TRUE(runMainLoopUntil([&] { return state_->errorMessage().has_value(); }));
    EXPECT_EQ(diagnostics_.has("FAIL stage=certificatePinning details=host=" + c.host), c.pinning);
    EXPECT_TRUE(diagnostics_.has("FAIL stage=didFailProvisionalNavigation")) << ::testing::PrintToString(diagnostics_.lines);
    EXPECT_TRUE(messages_.empty());
  }
}

TEST_F(WebViewHostIntegration, RevokingTheInspectorAnswersWhetherAnOpenOneWasClosed) {
  LocalWebServer server;
  server.route("/", {200, "text/html", "<div id=root><p>x</p></div>"});
  makeHost(server.url("/"));
  ASSERT_TRUE(loaded());
  EXPECT_FALSE(host_->setInspectorAllowed(false));
  EXPECT_FALSE(host_->setInspectorAllowed(true));
  WebKitWebInspector* inspector = webkit_web_view_get_inspector(host_->webView());
  webkit_web_inspector_show(inspector);
  ASSERT_TRUE(runMainLoopUntil([&] { return webkit_web_inspector_get_web_view(inspector) != nullptr; }));
  EXPECT_TRUE(host_->setInspectorAllowed(false));
  ASSERT_TRUE(runMainLoopUntil([&] { return webkit_web_inspector_get_web_view(inspector) == nullptr; }));
  EXPECT_FALSE(host_->setInspectorAllowed(false));
}

TEST_F(WebViewHostIntegration, AKilledWebProcessReloadsThePage) {
  if (!serviceOverrideBuild()) GTEST_SKIP() << "a local CA and loopback pages are trusted only in override builds";
  ASSERT_TRUE(serveTrusted(kBridgePage));
  LocalWebServer& server = *server_;
  makeHost(server.url("/"));
  ASSERT_TRUE(loaded());
  const auto processes = descendantsNamed("WebKitWebProcess");
  ASSERT_FALSE(processes.empty());
  for (pid_t pid : processes) kill(pid, SIGKILL);
  ASSERT_TRUE(runMainLoopUntil([&] { return diagnostics_.count("finished") == 2 && !state_->isLoading(); }));
  EXPECT_TRUE(diagnostics_.has("FAIL stage=webContentProcessTerminated details=url=https://127.0.0.1:"));
  EXPECT_FALSE(state_->errorMessage());
  EXPECT_TRUE(renderCheck().rendered);
}

TEST_F(WebViewHostIntegration, ContentFilterBlocksScriptLoadsToUntrustedHostsButNotImages) {
  LocalWebServer server;  // plain http: only the filter can stop these loads
  server.route("/", {200, "text/html", R"(<!DOCTYPE html><div id="root"></div><script>
    var port = location.port;
    Promise.allSettled([fetch('http://localhost:' + port + '/blocked'), fetch('http://127.0.0.1:' + port + '/allowed')])
      .then(function () { window.fetchesDone = true; });
    var img = new Image(); img.onload = img.onerror = function () { window.imageDone = true; };
    img.src = 'http://localhost:' + port + '/image';
    window.webkit.messageHandlers.nativeApp.postMessage('fromPlainHttp');
  </script>)"});
  server.route("/allowed", {200, "text/plain", "ok"});
  server.route("/blocked", {200, "text/plain", "leak"});
  server.route("/image", {200, "image/svg+xml", "<svg xmlns='http://www.w3.org/2000/svg'/>"});
  makeHost(server.url("/"));
  ASSERT_TRUE(loaded());
  std::optional<std::string> done;
  ASSERT_TRUE(runMainLoopUntil([&] {
    host_->page()->evaluateForResult("String(!!(window.fetchesDone && window.imageDone))",
                                     [&](std::optional<std::string> value, std::optional<std::string>) { done = value; });
    runMainLoopUntil([&] { return done.has_value(); }, 5.0);
    return done == "true";
  }));
  EXPECT_TRUE(server.received("/allowed"));
  EXPECT_TRUE(server.received("/image"));
  EXPECT_FALSE(server.received("/blocked"));
  // A page that is not https never reaches the bridge, even from a trusted host.
  EXPECT_TRUE(messages_.empty());
  ASSERT_TRUE(runMainLoopUntil([&] { return !refused_.empty(); }));
  EXPECT_EQ(refused_[0].protocol, "http");
  EXPECT_EQ(refused_[0].host, "127.0.0.1");
  EXPECT_EQ(refused_[0].port, server.port());
  EXPECT_TRUE(refused_[0].isMainFrame);
}

TEST_F(WebViewHostIntegration, RenderCheckReadsTheRealPageAndItsCollectedErrors) {
  LocalWebServer server;
  server.route("/", {200, "text/html", R"(<!DOCTYPE html><div id="root"></div>
    <script src="/missing.js?v=1"></script><script>throw new Error('boom');</script>)"});
  makeHost(server.url("/"));
  ASSERT_TRUE(loaded());
  const auto result = renderCheck();
  EXPECT_FALSE(result.rendered);
  EXPECT_EQ(result.details.rfind("hasRoot=true readyState=complete jsErrors=[", 0), 0u) << result.details;
  EXPECT_NE(result.details.find("resource failed: <script> " + server.url("/missing.js") + " | js error: "),
            std::string::npos)
      << result.details;
  EXPECT_NE(result.details.find("boom @ " + server.url("/") + ":"), std::string::npos) << result.details;
}

TEST_F(WebViewHostIntegration, LoadFailuresAndReplacedLoadsReachTheState) {
  LocalWebServer server;
  server.route("/slow", {200, "text/html", "", true});
  server.route("/", {200, "text/html", "<div id=root><p>x</p></div>"});
  // Nothing listens on the port of a server that is gone.
  const std::string closed = [] {
    LocalWebServer gone;
    return gone.url("/");
  }();
  makeHost(closed);
  ASSERT_TRUE(runMainLoopUntil([&] { return state_->errorMessage().has_value(); }));
  EXPECT_FALSE(state_->isOffline());
  EXPECT_TRUE(diagnostics_.has("FAIL stage=didFailProvisionalNavigation error=g-io-error-quark#"));

  // A load replaced by the next one is no error, and the next one's time-out stays armed.
  host_->page()->load(server.url("/slow"), CachePolicy::useProtocolCachePolicy);
  ASSERT_TRUE(runMainLoopUntil([&] { return server.received("/slow"); }));
  host_->page()->load(server.url("/"), CachePolicy::useProtocolCachePolicy);
  ASSERT_TRUE(runMainLoopUntil([&] { return diagnostics_.has("finished " + server.url("/")) && !state_->isLoading(); }));
  EXPECT_FALSE(state_->errorMessage());
  EXPECT_FALSE(diagnostics_.has("FAIL stage=didFailProvisionalNavigation error=WebKitNetworkError"));
}

}  // namespace
}  // namespace orvik

namespace orvik {
namespace {

TEST_F(WebViewHostIntegration, CaptureIsGrantedOnlyToATrustedPinnedTopDocument) {
  if (!serviceOverrideBuild()) GTEST_SKIP() << "a local CA and loopback pages are trusted only in override builds";
  ASSERT_TRUE(serveTrusted(kCapturePage));
  LocalWebServer& server = *server_;
  makeHost(server.url("/"));
  ASSERT_TRUE(loaded());
  EXPECT_EQ(pageValue("window.capture"), "granted");

  // The same page from a host the program does not trust.
  host_.reset();
  gtk_window_destroy(GTK_WINDOW(window_));
  LocalWebServer plain;
  plain.route("/", {200, "text/html", kCapturePage});
  makeHost(plain.url("/"));
  ASSERT_TRUE(loaded());
  EXPECT_EQ(pageValue("window.capture"), "refused: NotAllowedError");
}

}  // namespace
}  // namespace orvik

namespace orvik {
namespace {

TEST_F(WebViewHostIntegration, AReplyWithQuotesBackslashesAndLineSeparatorsArrivesIntact) {
  LocalWebServer server;
  server.route("/", {200, "text/html", R"(<!DOCTYPE html><div id="root"><p>x</p></div><script>
    window.got = [];
    window.onReply = function (text) { window.got.push(text); };
  </script>)"});
  makeHost(server.url("/"));
  ASSERT_TRUE(loaded());
  const std::string tricky = "q\"uo'te \\ back\u2028sep\u2029end</script>";
  platform::callPage(host_->page(), platform::pageFunctionCall("onReply", {tricky}));
  EXPECT_EQ(pageValue("window.got.length ? window.got[0] : undefined"), tricky);
}

}  // namespace
}  // namespace orvik

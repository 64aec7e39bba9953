// The main web view: a WebKitGTK 6.0 view built once with the page scripts,
// the bridge's message handlers (in an isolated script world, so the page
// cannot forge where a message came from), the orvikfile:// and
// orvikupload:// schemes, the exfil-guard content filter and the user agent;
// its load events drive WebViewCoordinator, and the web application's host is
// pinned when each page commits.
//
//   auto host = std::make_unique<WebViewHost>(options, session, state, diagnostics, authorization);
//   window.set_child(*Glib::wrap(host->widget()));
//   host->start();  // compiles the content filter, then loads the web application
//
// The web context and network session come from the program's one
// WebSession, which the call-window views made later share.
//
// Owner: the main window's page slot. THREAD-SAFETY: main thread only.
#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include <gio/gio.h>
#include <nlohmann/json.hpp>

#include "calls/windows/call_page_view.h"
#include "platform/lifetime_token.h"
#include "platform/page_call.h"
#include "web/bridge_message.h"
#include "web/certificate_pinning.h"
#include "web/page_scripts.h"
#include "web/web_page.h"
#include "web/web_view_coordinator.h"

typedef struct _GtkWidget GtkWidget;
typedef struct _GtkNativeDialog GtkNativeDialog;
typedef struct _JSCValue JSCValue;
typedef struct _WebKitContextMenu WebKitContextMenu;
typedef struct _WebKitFileChooserRequest WebKitFileChooserRequest;
typedef struct _WebKitHitTestResult WebKitHitTestResult;
typedef struct _WebKitNavigationAction WebKitNavigationAction;
typedef struct _WebKitPermissionRequest WebKitPermissionRequest;
typedef struct _WebKitPolicyDecision WebKitPolicyDecision;
typedef struct _WebKitUserContentManager WebKitUserContentManager;
typedef struct _WebKitWebView WebKitWebView;

namespace orvik {
namespace platform {
class CaptureAuthorization;
}  // namespace platform

class CallWindowWebViews;
class DeviceUdidProvider;
class LoadDiagnostics;
class WebSession;
class WebViewState;
struct ServiceConfig;

// The main web view as WebPage and PageScriptSink. Outlives the host only as
// an empty shell: once the view is gone every call does nothing.
class WebViewPage final : public WebPage, public platform::PageScriptSink {
 public:
  explicit WebViewPage(WebKitWebView* view);
  ~WebViewPage() override;

  std::optional<std::string> currentURI() const override;
  void evaluateForResult(const std::string& script, EvaluationDone done) override;
  bool reload() override;
  void load(const std::string& uri, CachePolicy policy) override;
  bool isInVisibleWindow() const override;
  void evaluateScript(const std::string& script) override;
  void evaluateScript(const std::string& script, platform::PageScriptCompletion completion) override;

  // Replaces the document with an empty one under `baseURI`.
  void showEmptyDocument(const std::string& baseURI);
  void detach();

 private:
  WebKitWebView* view_;
  GCancellable* cancellable_;
};

struct WebViewHostOptions {
  std::string url;
  // Trusted hosts, pinned host, pins and the extra CA.
  const ServiceConfig* service = nullptr;
  // Asked for the device identifier when the host starts; the page scripts
  // are added and the first load starts once it answered (it answers within
  // its own time-out). Null: `deviceUdid` as given.
  DeviceUdidProvider* deviceUdidProvider = nullptr;
  std::string deviceUdid;
  std::optional<std::string> storedRingtone;
  // Empty: WebViewHost::launchId().
  std::string launchId;
  // The shell's distribution log (what the page is told of the distribution).
  std::function<void(std::string_view)> logDistribution;
  // Told each file the user picked for the page (the files it may load back).
  std::function<void(const std::string& path)> filesPicked;
  // Where WebKit keeps the compiled content filter.
  std::filesystem::path filterStoreFolder;
  // Tests: WebKit's fake cameras.
  bool mockCaptureDevices = false;
};

class WebViewHost {
 public:
  using BridgeMessageHandler = std::function<void(const BridgeMessage&)>;

  WebViewHost(WebViewHostOptions options, WebSession& session, std::shared_ptr<WebViewState> state,
              LoadDiagnostics& diagnostics, platform::CaptureAuthorization& captureAuthorization);
  ~WebViewHost();
  WebViewHost(const WebViewHost&) = delete;
  WebViewHost& operator=(const WebViewHost&) = delete;

  // Compiles and adds the content filter and asks for the device identifier
  // (neither holds the main loop), adds the page scripts once the identifier
  // is known, and loads the web application when both are done (also when the
  // filter failed, which is logged).
  void start();

  GtkWidget* widget() const;
  WebKitWebView* webView() const { return view_; }
  const std::shared_ptr<WebViewPage>& page() const { return page_; }
  WebViewCoordinator& coordinator() { return *coordinator_; }

  // Where page messages go, with the facts the origin check needs; the
  // dispatcher decides whether to trust them.
  void setBridgeMessageHandler(BridgeMessageHandler handler) { bridgeHandler_ = std::move(handler); }
  // MIME types the page's file input offers; empty offers every type.
  void setAllowedFileTypes(std::vector<std::string> mimeTypes) { allowedFileTypes_ = std::move(mimeTypes); }
  // The page's permission for the web inspector; false also closes an open
  // one. True when an open inspector was closed. Call windows made later
  // take it too.
  bool setInspectorAllowed(bool allowed);
  // Where call-window web views go (the web call window) and what their
  // ready messages reach. Until then a call-window address opens nothing.
  void setCallWindow(CallWindowSignals* signals, std::function<void(CallPageView)> showWindow);

  // Whether a page of `origin` ("https://host:port") may use the bridge and
  // the local schemes: https and a trusted host.
  static bool isTrustedOrigin(const ServiceConfig& service, std::string_view origin);

  // A random UUID made once per process, told to the page at document start.
  static const std::string& launchId();

 private:
  enum class Refusal { none, awaitingBlankStart, blankLoading };

  void connectSignals();
  void addUserScripts();
  void loadInitialPage();
  void onContentFilterSaved(GObject* store, GAsyncResult* result);
  void onDeviceUdid(const std::string& udid);
  // One of the steps the first load waits for is done.
  void stepBeforeLoadDone();
  std::optional<std::string> uri() const;
  bool pinnedTrustHolds(GTlsCertificate* certificate, const std::string& host) const;
  void refuseCommittedPage(const std::string& uri, const std::string& host);
  void focusWebView();
  void cancelFileChooser();

  void onLoadChanged(int event);
  bool onLoadFailed(int event, const char* failingURI, GError* error);
  bool onLoadFailedWithTLSErrors(const char* failingURI, GTlsCertificate* certificate);
  bool onDecidePolicy(WebKitPolicyDecision* decision, int type);
  void onWebProcessTerminated(int reason);
  bool onRunFileChooser(WebKitFileChooserRequest* request);
  bool onPermissionRequest(WebKitPermissionRequest* request);
  GtkWidget* onCreate(WebKitNavigationAction* action);
  bool onContextMenu(WebKitContextMenu* menu);
  void onScriptMessage(const char* handler, JSCValue* value);
  void onFileChooserResponse(int response);
  void showFileChooser(WebKitFileChooserRequest* request);

  static void loadChangedThunk(WebKitWebView*, int event, gpointer self);
  static gboolean loadFailedThunk(WebKitWebView*, int event, char* uri, GError* error, gpointer self);
  static gboolean loadFailedWithTLSErrorsThunk(WebKitWebView*, char* uri, GTlsCertificate* certificate, int errors,
                                               gpointer self);
  static gboolean decidePolicyThunk(WebKitWebView*, WebKitPolicyDecision* decision, int type, gpointer self);
  static void webProcessTerminatedThunk(WebKitWebView*, int reason, gpointer self);
  static gboolean runFileChooserThunk(WebKitWebView*, WebKitFileChooserRequest* request, gpointer self);
  static gboolean permissionRequestThunk(WebKitWebView*, WebKitPermissionRequest* request, gpointer self);
  static GtkWidget* createThunk(WebKitWebView*, WebKitNavigationAction* action, gpointer self);
  static gboolean contextMenuThunk(WebKitWebView*, WebKitContextMenu* menu, WebKitHitTestResult*, gpointer self);
  static void nativeAppMessageThunk(WebKitUserContentManager*, JSCValue* value, gpointer self);
  static void loggerMessageThunk(WebKitUserContentManager*, JSCValue* value, gpointer self);
  static void callWindowLoggerMessageThunk(WebKitUserContentManager*, JSCValue* value, gpointer self);
  static void callWindowReadyMessageThunk(WebKitUserContentManager*, JSCValue* value, gpointer self);
  static void fileChooserResponseThunk(GtkNativeDialog*, int response, gpointer self);
  static void mapThunk(GtkWidget*, gpointer self);

  WebViewHostOptions options_;
  WebSession& session_;
  std::shared_ptr<WebViewState> state_;
  LoadDiagnostics& diagnostics_;
  platform::CaptureAuthorization& captureAuthorization_;
  std::unique_ptr<CertificateTrust> trust_;
  WebKitUserContentManager* contentManager_ = nullptr;
  WebKitWebView* view_ = nullptr;
  GCancellable* cancellable_ = nullptr;
  std::shared_ptr<WebViewPage> page_;
  std::unique_ptr<WebViewCoordinator> coordinator_;
  BridgeMessageHandler bridgeHandler_;
  // What the page scripts were made from, for call windows made later.
  page_scripts::Inputs scriptInputs_;
  bool inspectorAllowed_ = false;
  std::unique_ptr<CallWindowWebViews> callWindows_;
  std::vector<std::string> allowedFileTypes_;
  GtkNativeDialog* fileChooser_ = nullptr;
  WebKitFileChooserRequest* fileChooserRequest_ = nullptr;
  // The document shown (the last one committed) passed the pin test, or its
  // host is not pinned; a load that never commits changes neither.
  bool bridgeOpen_ = false;
  std::string shownURI_;
  bool loadFailed_ = false;
  Refusal refusal_ = Refusal::none;
  int stepsBeforeLoad_ = 0;
  std::set<std::string> hostsAllowedByExtraCA_;
  // The window whose activation gives the page the focus (not owned).
  void* watchedWindow_ = nullptr;
  // Weakly held by answers that may come after the host is gone. Last member.
  platform::LifetimeToken lifetime_;
};

}  // namespace orvik

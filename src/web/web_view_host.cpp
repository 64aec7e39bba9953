#include "web/web_view_host.h"

#include <algorithm>
#include <map>

#include <gtk/gtk.h>
#include <webkit/webkit.h>

#include "core/device_udid_provider.h"
#include "core/file_security.h"
#include "core/load_diagnostics.h"
#include "core/native_logger.h"
#include "core/service_config.h"
#include "platform/capture_authorization.h"
#include "platform/json_limits.h"
#include "web/bridge_message.h"
#include "web/call_window_web_view.h"
#include "web/content_filter_rules.h"
#include "web/context_menu_trim.h"
#include "web/page_scripts.h"
#include "web/web_uri_glue.h"
#include "web/web_session.h"
#include "web/web_view_state.h"

#include "platform/app_info.h"

namespace orvik {
namespace {

// The open panel waits this long, so WebKit's signal has returned.
constexpr double kOpenPanelDelaySeconds = 0.05;

LoadError loadErrorFrom(const GError* error, const char* failingURI) {
  LoadError result;
  result.domain = g_quark_to_string(error->domain);
  result.code = error->code;
  result.message = error->message ? error->message : "";
  if (failingURI) result.failingURI = failingURI;
  return result;
}

bool isImageOrMediaAction(WebKitContextMenuAction action) {
  switch (action) {
    case WEBKIT_CONTEXT_MENU_ACTION_OPEN_IMAGE_IN_NEW_WINDOW:
    case WEBKIT_CONTEXT_MENU_ACTION_DOWNLOAD_IMAGE_TO_DISK:
    case WEBKIT_CONTEXT_MENU_ACTION_COPY_IMAGE_TO_CLIPBOARD:
    case WEBKIT_CONTEXT_MENU_ACTION_COPY_IMAGE_URL_TO_CLIPBOARD:
    case WEBKIT_CONTEXT_MENU_ACTION_OPEN_VIDEO_IN_NEW_WINDOW:
    case WEBKIT_CONTEXT_MENU_ACTION_OPEN_AUDIO_IN_NEW_WINDOW:
    case WEBKIT_CONTEXT_MENU_ACTION_COPY_VIDEO_LINK_TO_CLIPBOARD:
    case WEBKIT_CONTEXT_MENU_ACTION_COPY_AUDIO_LINK_TO_CLIPBOARD:
    case WEBKIT_CONTEXT_MENU_ACTION_TOGGLE_MEDIA_CONTROLS:
    case WEBKIT_CONTEXT_MENU_ACTION_TOGGLE_MEDIA_LOOP:
    case WEBKIT_CONTEXT_MENU_ACTION_ENTER_VIDEO_FULLSCREEN:
    case WEBKIT_CONTEXT_MENU_ACTION_MEDIA_PLAY:
    case WEBKIT_CONTEXT_MENU_ACTION_MEDIA_PAUSE:
    case WEBKIT_CONTEXT_MENU_ACTION_MEDIA_MUTE:
    case WEBKIT_CONTEXT_MENU_ACTION_DOWNLOAD_VIDEO_TO_DISK:
    case WEBKIT_CONTEXT_MENU_ACTION_DOWNLOAD_AUDIO_TO_DISK:
      return true;
    default:
      return false;
  }
}

}  // namespace

// ---------------------------------------------------------------- WebViewPage

WebViewPage::WebViewPage(WebKitWebView* view) : view_(view), cancellable_(g_cancellable_new()) {}

WebViewPage::~WebViewPage() {
  detach();
  g_object_unref(cancellable_);
}

void WebViewPage::detach() {
  g_cancellable_cancel(cancellable_);
  view_ = nullptr;
}

std::optional<std::string> WebViewPage::currentURI() const {
  if (!view_) return std::nullopt;
  const char* uri = webkit_web_view_get_uri(view_);
  if (!uri || !*uri) return std::nullopt;
  return std::string(uri);
}

void WebViewPage::evaluateForResult(const std::string& script, EvaluationDone done) {
  if (!view_) {
    done(std::nullopt, "no web view");
    return;
  }
  auto* pending = new EvaluationDone(std::move(done));
  webkit_web_view_evaluate_javascript(
      view_, script.c_str(), static_cast<gssize>(script.size()), nullptr, nullptr, cancellable_,
      [](GObject* source, GAsyncResult* result, gpointer data) {
        std::unique_ptr<EvaluationDone> done(static_cast<EvaluationDone*>(data));
        GError* error = nullptr;
        JSCValue* value = webkit_web_view_evaluate_javascript_finish(WEBKIT_WEB_VIEW(source), result, &error);
        std::optional<std::string> text;
        std::optional<std::string> errorText;
        if (error) {
          errorText = error->message ? error->message : "evaluation failed";
          g_error_free(error);
        } else if (value && jsc_value_is_string(value)) {
          char* chars = jsc_value_to_string(value);
          text = chars;
          g_free(chars);
        }
        if (value) g_object_unref(value);
        (*done)(std::move(text), std::move(errorText));
      },
      pending);
}

bool WebViewPage::reload() {
  if (!view_ || !webkit_web_view_get_uri(view_)) return false;
  webkit_web_view_reload(view_);
  return true;
}

void WebViewPage::load(const std::string& uri, CachePolicy) {
  // WebKitGTK has no per-request cache policy or time-out: the loading
  // time-out of WebViewState bounds every load.
  if (view_) webkit_web_view_load_uri(view_, uri.c_str());
}

bool WebViewPage::isInVisibleWindow() const {
  if (!view_ || !gtk_widget_get_mapped(GTK_WIDGET(view_))) return false;
  GtkRoot* root = gtk_widget_get_root(GTK_WIDGET(view_));
  return root && gtk_widget_get_visible(GTK_WIDGET(root));
}

void WebViewPage::showEmptyDocument(const std::string& baseURI) {
  if (view_) webkit_web_view_load_alternate_html(view_, "<!DOCTYPE html><title></title>", baseURI.c_str(), nullptr);
}

void WebViewPage::evaluateScript(const std::string& script, platform::PageScriptCompletion completion) {
  if (!view_) {
    if (completion) completion({"no web view", nullptr});
    return;
  }
  auto* pending = new platform::PageScriptCompletion(std::move(completion));
  webkit_web_view_evaluate_javascript(
      view_, script.c_str(), static_cast<gssize>(script.size()), nullptr, nullptr, cancellable_,
      [](GObject* source, GAsyncResult* result, gpointer data) {
        std::unique_ptr<platform::PageScriptCompletion> completion(static_cast<platform::PageScriptCompletion*>(data));
        GError* error = nullptr;
        JSCValue* value = webkit_web_view_evaluate_javascript_finish(WEBKIT_WEB_VIEW(source), result, &error);
        platform::PageScriptResult answer;
        if (error) {
          answer.error = error->message ? error->message : "evaluation failed";
          g_error_free(error);
        } else if (value && !jsc_value_is_undefined(value)) {
          char* json = jsc_value_to_json(value, 0);
          // A page can return anything; a value nested too deeply reads as none.
          if (json) answer.value = platform::parseOutsideJson(json, kMaxBridgeMessageBytes).value_or(nullptr);
          g_free(json);
        }
        if (value) g_object_unref(value);
        if (*completion) (*completion)(answer);
      },
      pending);
}

void WebViewPage::evaluateScript(const std::string& script) {
  if (!view_) return;
  webkit_web_view_evaluate_javascript(view_, script.c_str(), static_cast<gssize>(script.size()), nullptr, nullptr,
                                      nullptr, nullptr, nullptr);
}

bool WebViewHost::isTrustedOrigin(const ServiceConfig& service, std::string_view origin) {
  const std::string text(origin);
  return schemeOf(text) == "https" && service.isTrustedWebHost(hostOf(text));
}

const std::string& WebViewHost::launchId() {
  static const std::string id = [] {
    char* made = g_uuid_string_random();
    std::string text = made;
    g_free(made);
    return text;
  }();
  return id;
}

// ---------------------------------------------------------------- host

WebViewHost::WebViewHost(WebViewHostOptions options, WebSession& session, std::shared_ptr<WebViewState> state,
                         LoadDiagnostics& diagnostics, platform::CaptureAuthorization& captureAuthorization)
    : options_(std::move(options)),
      session_(session),
      state_(std::move(state)),
      diagnostics_(diagnostics),
      captureAuthorization_(captureAuthorization),
      cancellable_(g_cancellable_new()) {
  const ServiceConfig& service = *options_.service;
  std::string trustError;
  trust_ = CertificateTrust::make(true, service.extraCAFile, trustError);
  if (!trust_) nativeLog("[WebView] ❌ certificate trust unavailable, pinned host refused: " + trustError);

  contentManager_ = webkit_user_content_manager_new();
  WebKitSettings* settings = webkit_settings_new();
  webkit_settings_set_user_agent(settings, page_scripts::kUserAgent);
  webkit_settings_set_enable_javascript(settings, TRUE);
  webkit_settings_set_enable_developer_extras(settings, FALSE);
  webkit_settings_set_enable_media_stream(settings, TRUE);
  webkit_settings_set_media_playback_requires_user_gesture(settings, FALSE);
  webkit_settings_set_enable_mock_capture_devices(settings, options_.mockCaptureDevices);
  view_ = WEBKIT_WEB_VIEW(g_object_new(WEBKIT_TYPE_WEB_VIEW, "web-context", session_.context(), "network-session",
                                       session_.networkSession(), "user-content-manager",
                                       contentManager_, "settings", settings, nullptr));
  g_object_unref(settings);
  g_object_ref_sink(view_);

  page_ = std::make_shared<WebViewPage>(view_);
  WebViewCoordinator::Hooks hooks;
  hooks.pageReadyForLogs = [] {
    NativeLogger::shared().setReady();
    NativeLogger::shared().flushPending();
  };
  hooks.focusWebView = [this] { focusWebView(); };
  hooks.cancelFileChooser = [this] { cancelFileChooser(); };
  hooks.isFileInsideAppFolders = [](const std::string& uri) { return FileSecurity::isFileInsideAppFolders(uri); };
  coordinator_ = std::make_unique<WebViewCoordinator>(platform::mainQueue(), platform::systemClock(), state_,
                                                      diagnostics_, std::move(hooks));
  connectSignals();

  // The hand-off to whoever calls into the page.
  state_->attachPage(page_);
  state_->startHealthMonitoring();
  // The notification managers and the call manager get the page from the
  // composition root when it publishes the routes.
  NativeLogger::shared().attachWebView(page_);
  state_->setLoadedURL(options_.url);
}

WebViewHost::~WebViewHost() {
  g_cancellable_cancel(cancellable_);
  cancelFileChooser();
  g_signal_handlers_disconnect_by_data(view_, this);
  g_signal_handlers_disconnect_by_data(contentManager_, this);
  page_->detach();
  coordinator_.reset();
  g_object_unref(view_);
  g_object_unref(contentManager_);
  g_object_unref(cancellable_);
}

GtkWidget* WebViewHost::widget() const { return GTK_WIDGET(view_); }

void WebViewHost::connectSignals() {
  // Message signals first: a handler registered before its signal is
  // connected could drop the first messages.
  g_signal_connect(contentManager_, "script-message-received::nativeApp", G_CALLBACK(nativeAppMessageThunk), this);
  g_signal_connect(contentManager_, "script-message-received::logger", G_CALLBACK(loggerMessageThunk), this);
  webkit_user_content_manager_register_script_message_handler(contentManager_, page_scripts::kLoggerHandler,
                                                              page_scripts::kBridgeWorld);
  webkit_user_content_manager_register_script_message_handler(contentManager_, page_scripts::kNativeAppHandler,
                                                              page_scripts::kBridgeWorld);
  // The call page's handlers: call windows share this content manager.
  g_signal_connect(contentManager_, "script-message-received::callWindowLogger",
                   G_CALLBACK(callWindowLoggerMessageThunk), this);
  g_signal_connect(contentManager_, "script-message-received::callWindowReady",
                   G_CALLBACK(callWindowReadyMessageThunk), this);
  webkit_user_content_manager_register_script_message_handler(
      contentManager_, page_scripts::kCallWindowLoggerHandler, page_scripts::kBridgeWorld);
  webkit_user_content_manager_register_script_message_handler(contentManager_, page_scripts::kCallWindowReadyHandler,
                                                              page_scripts::kBridgeWorld);
  g_signal_connect(view_, "load-changed", G_CALLBACK(loadChangedThunk), this);
  g_signal_connect(view_, "load-failed", G_CALLBACK(loadFailedThunk), this);
  g_signal_connect(view_, "load-failed-with-tls-errors", G_CALLBACK(loadFailedWithTLSErrorsThunk), this);
  g_signal_connect(view_, "decide-policy", G_CALLBACK(decidePolicyThunk), this);
  g_signal_connect(view_, "web-process-terminated", G_CALLBACK(webProcessTerminatedThunk), this);
  g_signal_connect(view_, "run-file-chooser", G_CALLBACK(runFileChooserThunk), this);
  g_signal_connect(view_, "permission-request", G_CALLBACK(permissionRequestThunk), this);
  g_signal_connect(view_, "create", G_CALLBACK(createThunk), this);
  g_signal_connect(view_, "context-menu", G_CALLBACK(contextMenuThunk), this);
  g_signal_connect(view_, "map", G_CALLBACK(mapThunk), this);
}

void WebViewHost::addUserScripts() {
  auto add = [this](const page_scripts::UserScript& script) {
    const auto frames =
        script.topFrameOnly ? WEBKIT_USER_CONTENT_INJECT_TOP_FRAME : WEBKIT_USER_CONTENT_INJECT_ALL_FRAMES;
    WebKitUserScript* made =
        script.world.empty()
            ? webkit_user_script_new(script.source.c_str(), frames, WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_START,
                                     nullptr, nullptr)
            : webkit_user_script_new_for_world(script.source.c_str(), frames,
                                               WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_START, script.world.c_str(),
                                               nullptr, nullptr);
    webkit_user_content_manager_add_script(contentManager_, made);
    webkit_user_script_unref(made);
  };
  for (const auto& script : page_scripts::bridgeScripts()) add(script);
  const auto& app = platform::AppInfo::current();
  page_scripts::Inputs inputs;
  inputs.appVersion = page_scripts::appVersion(app.shortVersion, app.build);
  inputs.deviceUdid = options_.deviceUdid;
  inputs.storedRingtone = options_.storedRingtone;
  inputs.launchId = options_.launchId.empty() ? launchId() : options_.launchId;
  for (const auto& script : page_scripts::mainViewScripts(inputs)) add(script);
  scriptInputs_ = inputs;
  if (options_.logDistribution) {
    // The user agent carries no distribution tag of its own.
    options_.logDistribution(std::string("web told: window.ORVIK_DISTRIBUTION='") + page_scripts::kDistribution +
                             "', user-agent tag=''");
  }
  nativeLog(page_scripts::udidInjectedLogLine(options_.deviceUdid));
}

void WebViewHost::start() {
  stepsBeforeLoad_ = 2;
  if (options_.deviceUdidProvider) {
    options_.deviceUdidProvider->requestDeviceUdid([weak = lifetime_.weak(this)](const std::string& udid) {
      if (auto* self = weak.get()) self->onDeviceUdid(udid);
    });
  } else {
    onDeviceUdid(options_.deviceUdid);
  }
  const auto rules = web_content_filter::rulesJSON(options_.url);
  const auto folder = options_.filterStoreFolder.string();
  WebKitUserContentFilterStore* store = webkit_user_content_filter_store_new(folder.c_str());
  GBytes* bytes = g_bytes_new(rules.data(), rules.size());
  webkit_user_content_filter_store_save(
      store, web_content_filter::kIdentifier, bytes, cancellable_,
      [](GObject* source, GAsyncResult* result, gpointer self) {
        static_cast<WebViewHost*>(self)->onContentFilterSaved(source, result);
      },
      this);
  g_bytes_unref(bytes);
  g_object_unref(store);
}

void WebViewHost::onContentFilterSaved(GObject* store, GAsyncResult* result) {
  GError* error = nullptr;
  WebKitUserContentFilter* filter =
      webkit_user_content_filter_store_save_finish(WEBKIT_USER_CONTENT_FILTER_STORE(store), result, &error);
  if (error && g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED)) {
    // The host is gone: `this` must not be touched.
    g_error_free(error);
    return;
  }
  if (filter) {
    webkit_user_content_manager_add_filter(contentManager_, filter);
    webkit_user_content_filter_unref(filter);
  } else {
    // The page loads without the guard: say so rather than fail open silently.
    nativeLog(std::string("[WebView] ❌ content filter \"") + web_content_filter::kIdentifier +
              "\" not installed: " + (error && error->message ? error->message : "no filter compiled"));
  }
  if (error) g_error_free(error);
  stepBeforeLoadDone();
}

void WebViewHost::onDeviceUdid(const std::string& udid) {
  // The identifier is a page global from the first script on: the scripts
  // wait for it, and the load waits for the scripts.
  options_.deviceUdid = udid;
  addUserScripts();
  stepBeforeLoadDone();
}

void WebViewHost::stepBeforeLoadDone() {
  if (stepsBeforeLoad_ > 0 && --stepsBeforeLoad_ == 0) loadInitialPage();
}

void WebViewHost::loadInitialPage() {
  // A file URL needs no read-access grant on WebKitGTK: file navigations are
  // limited by the navigation policy instead.
  webkit_web_view_load_uri(view_, options_.url.c_str());
}

std::optional<std::string> WebViewHost::uri() const { return page_->currentURI(); }

void WebViewHost::focusWebView() {
  if (gtk_widget_get_root(GTK_WIDGET(view_))) gtk_widget_grab_focus(GTK_WIDGET(view_));
}

// ---------------------------------------------------------------- load events

void WebViewHost::onLoadChanged(int event) {
  if (refusal_ != Refusal::none) {
    // The empty page that replaced a refused one: not a load of the web app.
    if (event == WEBKIT_LOAD_STARTED) refusal_ = Refusal::blankLoading;
    if (event == WEBKIT_LOAD_FINISHED && refusal_ == Refusal::blankLoading) refusal_ = Refusal::none;
    return;
  }
  switch (event) {
    case WEBKIT_LOAD_STARTED:
      // The bridge stays as it is: until the new document commits, the one
      // on screen is still the old one, and a load that fails or is
      // cancelled before commit (a download, a refused connection, a
      // scheme WebKit cannot load) leaves it there.
      loadFailed_ = false;
      coordinator_->handleDidStartLoading(uri());
      break;
    case WEBKIT_LOAD_COMMITTED: {
      const std::string current = uri().value_or("");
      const std::string host = hostOf(current);
      if (schemeOf(current) == "https" && host == options_.service->pinnedWebHost) {
        GTlsCertificate* certificate = nullptr;
        GTlsCertificateFlags errors{};
        if (!webkit_web_view_get_tls_info(view_, &certificate, &errors) || !pinnedTrustHolds(certificate, host)) {
          refuseCommittedPage(current, host);
          return;
        }
      }
      bridgeOpen_ = true;
      shownURI_ = current;
      coordinator_->handleDidCommitNavigation();
      break;
    }
    case WEBKIT_LOAD_FINISHED:
      // WebKit also reports a failed load as finished, after load-failed.
      if (!loadFailed_) coordinator_->handleDidFinishLoading(uri());
      break;
    default:
      break;
  }
}

bool WebViewHost::pinnedTrustHolds(GTlsCertificate* certificate, const std::string& host) const {
  if (!trust_ || !certificate) return false;
  return evaluatePinnedTrust(*trust_, chainOf(certificate), host, options_.service->webPins);
}

void WebViewHost::refuseCommittedPage(const std::string& uri, const std::string& host) {
  coordinator_->handlePinningRefused(host);
  bridgeOpen_ = false;
  loadFailed_ = true;
  coordinator_->handleProvisionalNavigationFailure(
      uri, {load_error_domain::kPinning, 1, "The server of " + host + " could not be verified.", uri});
  // Replace the document at once, so that what the unverified server sent
  // stops running.
  refusal_ = Refusal::awaitingBlankStart;
  webkit_web_view_stop_loading(view_);
  // WebKit ignores a new load started from inside its commit signal.
  platform::mainQueue().post([weakPage = std::weak_ptr<WebViewPage>(page_), uri] {
    if (auto page = weakPage.lock()) page->showEmptyDocument(uri);
  });
}

bool WebViewHost::onLoadFailed(int event, const char* failingURI, GError* error) {
  if (refusal_ != Refusal::none) {
    if (refusal_ == Refusal::blankLoading) refusal_ = Refusal::none;
    return TRUE;
  }
  loadFailed_ = true;
  const auto failure = loadErrorFrom(error, failingURI);
  const auto current = uri();
  if (event == WEBKIT_LOAD_COMMITTED) {
    coordinator_->handleNavigationFailure(current, failure);
  } else {
    coordinator_->handleProvisionalNavigationFailure(current, failure);
  }
  // Handled: WebKit's own error page would start a load of its own.
  return TRUE;
}

bool WebViewHost::onLoadFailedWithTLSErrors(const char* failingURI, GTlsCertificate* certificate) {
  // A chain the system store does not know. Builds that read the service
  // override trust their extra CA for the trusted web hosts; the pinned host
  // must also carry a pinned key.
  const std::string failing = failingURI ? failingURI : "";
  const std::string host = hostOf(failing);
  const ServiceConfig& service = *options_.service;
  // Every build records a TLS failure on the pinned host as a pinning
  // failure; WebKit then fails the load with the TLS error.
  const auto refuse = [&] {
    if (host == service.pinnedWebHost) coordinator_->handlePinningRefused(host);
    return FALSE;
  };
  if (!serviceOverrideBuild() || !trust_ || service.extraCAFile.empty() || !service.isTrustedWebHost(host) ||
      hostsAllowedByExtraCA_.count(host)) {
    return refuse();
  }
  const auto chain = chainOf(certificate);
  if (!trust_->verifies(chain, host, std::nullopt)) return refuse();
  if (host == service.pinnedWebHost && !evaluatePinnedTrust(*trust_, chain, host, service.webPins)) return refuse();
  hostsAllowedByExtraCA_.insert(host);
  loadFailed_ = true;  // WebKit still reports this load as finished
  webkit_network_session_allow_tls_certificate_for_host(session_.networkSession(), certificate,
                                                        host.c_str());
  // This load has failed; start it again (not from inside WebKit's signal).
  auto weakPage = std::weak_ptr<WebViewPage>(page_);
  platform::mainQueue().post([weakPage, failing] {
    if (auto page = weakPage.lock()) page->load(failing, CachePolicy::useProtocolCachePolicy);
  });
  return TRUE;
}

bool WebViewHost::onDecidePolicy(WebKitPolicyDecision* decision, int type) {
  if (type != WEBKIT_POLICY_DECISION_TYPE_NAVIGATION_ACTION) return FALSE;
  WebKitNavigationAction* action =
      webkit_navigation_policy_decision_get_navigation_action(WEBKIT_NAVIGATION_POLICY_DECISION(decision));
  WebKitURIRequest* request = webkit_navigation_action_get_request(action);
  const char* target = request ? webkit_uri_request_get_uri(request) : nullptr;
  if (coordinator_->decideNavigationPolicy(target ? std::optional<std::string>(target) : std::nullopt)) return FALSE;
  webkit_policy_decision_ignore(decision);
  return TRUE;
}

void WebViewHost::onWebProcessTerminated(int reason) {
  if (reason == WEBKIT_WEB_PROCESS_TERMINATED_BY_API) return;
  bridgeOpen_ = false;
  coordinator_->handleContentProcessTermination(uri());
}

// ---------------------------------------------------------------- interface requests

bool WebViewHost::onRunFileChooser(WebKitFileChooserRequest* request) {
  // Shown a moment later, from the main loop rather than inside WebKit's signal.
  g_object_ref(request);
  platform::mainQueue().postAfter(kOpenPanelDelaySeconds, [weak = lifetime_.weak(this), request] {
    if (auto* self = weak.get()) {
      self->showFileChooser(request);
    } else {
      webkit_file_chooser_request_cancel(request);
    }
    g_object_unref(request);
  });
  return TRUE;
}

void WebViewHost::showFileChooser(WebKitFileChooserRequest* request) {
  cancelFileChooser();
  GtkRoot* root = gtk_widget_get_root(GTK_WIDGET(view_));
  GtkFileChooserNative* chooser = gtk_file_chooser_native_new(
      nullptr, GTK_IS_WINDOW(root) ? GTK_WINDOW(root) : nullptr, GTK_FILE_CHOOSER_ACTION_OPEN, nullptr, nullptr);
  gtk_file_chooser_set_select_multiple(GTK_FILE_CHOOSER(chooser),
                                       webkit_file_chooser_request_get_select_multiple(request));
  if (!allowedFileTypes_.empty()) {
    GtkFileFilter* filter = gtk_file_filter_new();
    for (const auto& type : allowedFileTypes_) gtk_file_filter_add_mime_type(filter, type.c_str());
    gtk_file_chooser_add_filter(GTK_FILE_CHOOSER(chooser), filter);
    g_object_unref(filter);
  }
  gtk_native_dialog_set_modal(GTK_NATIVE_DIALOG(chooser), TRUE);
  fileChooser_ = GTK_NATIVE_DIALOG(chooser);
  fileChooserRequest_ = WEBKIT_FILE_CHOOSER_REQUEST(g_object_ref(request));
  g_signal_connect(chooser, "response", G_CALLBACK(fileChooserResponseThunk), this);
  gtk_native_dialog_show(fileChooser_);
}

void WebViewHost::onFileChooserResponse(int response) {
  if (!fileChooser_) return;
  std::vector<std::string> paths;
  if (response == GTK_RESPONSE_ACCEPT) {
    GListModel* files = gtk_file_chooser_get_files(GTK_FILE_CHOOSER(fileChooser_));
    for (guint i = 0; i < g_list_model_get_n_items(files); ++i) {
      GFile* file = G_FILE(g_list_model_get_item(files, i));
      if (char* path = g_file_get_path(file)) {
        if (options_.filesPicked) options_.filesPicked(path);
        paths.emplace_back(path);
        g_free(path);
      }
      g_object_unref(file);
    }
    g_object_unref(files);
  }
  if (paths.empty()) {
    webkit_file_chooser_request_cancel(fileChooserRequest_);
  } else {
    std::vector<const char*> list;
    for (const auto& path : paths) list.push_back(path.c_str());
    list.push_back(nullptr);
    webkit_file_chooser_request_select_files(fileChooserRequest_, list.data());
  }
  g_signal_handlers_disconnect_by_data(fileChooser_, this);
  g_object_unref(fileChooser_);
  g_object_unref(fileChooserRequest_);
  fileChooser_ = nullptr;
  fileChooserRequest_ = nullptr;
}

void WebViewHost::cancelFileChooser() {
  if (!fileChooser_) return;
  g_signal_handlers_disconnect_by_data(fileChooser_, this);
  gtk_native_dialog_hide(fileChooser_);
  webkit_file_chooser_request_cancel(fileChooserRequest_);
  g_object_unref(fileChooser_);
  g_object_unref(fileChooserRequest_);
  fileChooser_ = nullptr;
  fileChooserRequest_ = nullptr;
}

bool WebViewHost::onPermissionRequest(WebKitPermissionRequest* request) {
  if (!WEBKIT_IS_USER_MEDIA_PERMISSION_REQUEST(request)) return FALSE;  // WebKit denies what we leave alone
  auto* media = WEBKIT_USER_MEDIA_PERMISSION_REQUEST(request);
  // Requests carry no frame: the top document decides. A cross-origin frame
  // reaches this point only when the trusted top page delegated capture to it.
  // The document that asks is the one shown, not one still loading.
  const bool trustedTop = bridgeOpen_ && schemeOf(shownURI_) == "https" &&
                          options_.service->isTrustedWebHost(hostOf(shownURI_));
  if (!trustedTop || webkit_user_media_permission_is_for_display_device(media)) {
    webkit_permission_request_deny(request);
    return TRUE;
  }
  g_object_ref(request);
  platform::decideMediaCapture(captureAuthorization_, webkit_user_media_permission_is_for_video_device(media),
                     [request](bool grant) {
                       // Answered on the main queue, whatever thread the system answered on.
                       platform::mainQueue().post([request, grant] {
                         if (grant) {
                           webkit_permission_request_allow(request);
                         } else {
                           webkit_permission_request_deny(request);
                         }
                         g_object_unref(request);
                       });
                     });
  return TRUE;
}

GtkWidget* WebViewHost::onCreate(WebKitNavigationAction* action) {
  WebKitURIRequest* request = webkit_navigation_action_get_request(action);
  const char* target = request ? webkit_uri_request_get_uri(request) : nullptr;
  if (!target) return nullptr;
  const std::string wanted = target;
  if (!CallWindowWebViews::hasMarker(wanted)) {
    SafeURLOpener::open(wanted);
    return nullptr;
  }
  // An in-app window only for the service's own call page, asked for by the
  // service's own verified page: a frame or a foreign page cannot open one
  // on any site by naming the marker.
  const bool trustedTop = bridgeOpen_ && schemeOf(shownURI_) == "https" &&
                          options_.service->isTrustedWebHost(hostOf(shownURI_));
  if (!callWindows_ || !trustedTop || !callWindows_->isTrustedCallURL(wanted)) {
    nativeLog("[WebView] call window refused for " + hostOf(wanted) + " (not the service's own page)");
    return nullptr;
  }
  return GTK_WIDGET(callWindows_->make(view_, wanted, scriptInputs_.deviceUdid));
}

void WebViewHost::setCallWindow(CallWindowSignals* signals, std::function<void(CallPageView)> showWindow) {
  CallWindowWebViews::Options options;
  options.service = options_.service;
  options.signals = signals;
  options.showWindow = std::move(showWindow);
  options.inspectorAllowed = [weak = lifetime_.weak(this)] {
    auto* self = weak.get();
    return self && self->inspectorAllowed_;
  };
  callWindows_ = std::make_unique<CallWindowWebViews>(std::move(options));
}

bool WebViewHost::onContextMenu(WebKitContextMenu* menu) {
  std::vector<WebKitContextMenuItem*> items;
  std::vector<ContextMenuEntry> entries;
  for (GList* node = webkit_context_menu_get_items(menu); node; node = node->next) {
    auto* item = WEBKIT_CONTEXT_MENU_ITEM(node->data);
    items.push_back(item);
    entries.push_back({static_cast<bool>(webkit_context_menu_item_is_separator(item)),
                       webkit_context_menu_item_get_submenu(item) != nullptr,
                       isImageOrMediaAction(webkit_context_menu_item_get_stock_action(item))});
  }
  const auto kept = trimmedContextMenu(entries);
  std::vector<bool> keep(items.size(), false);
  for (auto index : kept) keep[index] = true;
  for (std::size_t i = items.size(); i-- > 0;) {
    if (!keep[i]) webkit_context_menu_remove(menu, items[i]);
  }
  return FALSE;
}

// ---------------------------------------------------------------- page messages

void WebViewHost::onScriptMessage(const char* handler, JSCValue* value) {
  char* json = jsc_value_to_json(value, 0);
  // Only our isolated-world forwarder can post here, and it always sends an
  // envelope built from its own location.
  auto decoded = json ? bridgeMessageFromEnvelope(handler, json) : std::nullopt;
  g_free(json);
  if (!decoded) return;
  BridgeMessage message = std::move(*decoded);
  // The top document must also still be one that passed pinning.
  message.documentVerified = bridgeOpen_;
  if (message.handler == page_scripts::kCallWindowLoggerHandler ||
      message.handler == page_scripts::kCallWindowReadyHandler) {
    if (callWindows_) callWindows_->didReceive(message, bridgeOpen_);
    return;
  }
  if (bridgeHandler_) bridgeHandler_(message);
}

bool WebViewHost::setInspectorAllowed(bool allowed) {
  inspectorAllowed_ = allowed;
  webkit_settings_set_enable_developer_extras(webkit_web_view_get_settings(view_), allowed);
  if (allowed) return false;
  WebKitWebInspector* inspector = webkit_web_view_get_inspector(view_);
  // The inspector has a view of its own only while it is open.
  const bool open = webkit_web_inspector_get_web_view(inspector) != nullptr;
  if (open) webkit_web_inspector_close(inspector);
  return open;
}

// ---------------------------------------------------------------- thunks

void WebViewHost::loadChangedThunk(WebKitWebView*, int event, gpointer self) {
  static_cast<WebViewHost*>(self)->onLoadChanged(event);
}
gboolean WebViewHost::loadFailedThunk(WebKitWebView*, int event, char* uri, GError* error, gpointer self) {
  return static_cast<WebViewHost*>(self)->onLoadFailed(event, uri, error);
}
gboolean WebViewHost::loadFailedWithTLSErrorsThunk(WebKitWebView*, char* uri, GTlsCertificate* certificate, int,
                                                   gpointer self) {
  return static_cast<WebViewHost*>(self)->onLoadFailedWithTLSErrors(uri, certificate);
}
gboolean WebViewHost::decidePolicyThunk(WebKitWebView*, WebKitPolicyDecision* decision, int type, gpointer self) {
  return static_cast<WebViewHost*>(self)->onDecidePolicy(decision, type);
}
void WebViewHost::webProcessTerminatedThunk(WebKitWebView*, int reason, gpointer self) {
  static_cast<WebViewHost*>(self)->onWebProcessTerminated(reason);
}
gboolean WebViewHost::runFileChooserThunk(WebKitWebView*, WebKitFileChooserRequest* request, gpointer self) {
  return static_cast<WebViewHost*>(self)->onRunFileChooser(request);
}
gboolean WebViewHost::permissionRequestThunk(WebKitWebView*, WebKitPermissionRequest* request, gpointer self) {
  return static_cast<WebViewHost*>(self)->onPermissionRequest(request);
}
GtkWidget* WebViewHost::createThunk(WebKitWebView*, WebKitNavigationAction* action, gpointer self) {
  return static_cast<WebViewHost*>(self)->onCreate(action);
}
gboolean WebViewHost::contextMenuThunk(WebKitWebView*, WebKitContextMenu* menu, WebKitHitTestResult*, gpointer self) {
  return static_cast<WebViewHost*>(self)->onContextMenu(menu);
}
void WebViewHost::nativeAppMessageThunk(WebKitUserContentManager*, JSCValue* value, gpointer self) {
  static_cast<WebViewHost*>(self)->onScriptMessage(page_scripts::kNativeAppHandler, value);
}
void WebViewHost::loggerMessageThunk(WebKitUserContentManager*, JSCValue* value, gpointer self) {
  static_cast<WebViewHost*>(self)->onScriptMessage(page_scripts::kLoggerHandler, value);
}
void WebViewHost::callWindowLoggerMessageThunk(WebKitUserContentManager*, JSCValue* value, gpointer self) {
  static_cast<WebViewHost*>(self)->onScriptMessage(page_scripts::kCallWindowLoggerHandler, value);
}
void WebViewHost::callWindowReadyMessageThunk(WebKitUserContentManager*, JSCValue* value, gpointer self) {
  static_cast<WebViewHost*>(self)->onScriptMessage(page_scripts::kCallWindowReadyHandler, value);
}
void WebViewHost::fileChooserResponseThunk(GtkNativeDialog*, int response, gpointer self) {
  static_cast<WebViewHost*>(self)->onFileChooserResponse(response);
}
void WebViewHost::mapThunk(GtkWidget*, gpointer self) {
  // Keep typing in the page when its window comes back to the front.
  auto* host = static_cast<WebViewHost*>(self);
  GtkRoot* root = gtk_widget_get_root(GTK_WIDGET(host->view_));
  if (root && root != host->watchedWindow_) {
    host->watchedWindow_ = root;
    g_signal_connect_object(
        root, "notify::is-active",
        G_CALLBACK(+[](GObject* window, GParamSpec*, gpointer view) {
          if (gtk_window_is_active(GTK_WINDOW(window))) gtk_widget_grab_focus(GTK_WIDGET(view));
        }),
        host->view_, G_CONNECT_DEFAULT);
  }
  host->focusWebView();
}

}  // namespace orvik

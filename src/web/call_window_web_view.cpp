#include "web/call_window_web_view.h"

#include <algorithm>

#include <gtk/gtk.h>
#include <webkit/webkit.h>

#include "core/file_security.h"
#include "core/native_logger.h"
#include "core/service_config.h"
#include "platform/dispatch/task_queue.h"
#include "web/call_window_handlers.h"
#include "web/certificate_pinning.h"
#include "web/page_scripts.h"
#include "web/web_uri_glue.h"

namespace orvik {
namespace {

constexpr const char* kPageKey = "orvik-call-page";

// A copy of every setting a program may change, so the call view's changes
// stay its own.
WebKitSettings* copyOfSettings(WebKitSettings* from) {
  WebKitSettings* to = webkit_settings_new();
  guint count = 0;
  GParamSpec** specs = g_object_class_list_properties(G_OBJECT_GET_CLASS(from), &count);
  for (guint i = 0; i < count; ++i) {
    const GParamFlags flags = specs[i]->flags;
    if ((flags & G_PARAM_READWRITE) != G_PARAM_READWRITE || (flags & G_PARAM_CONSTRUCT_ONLY) ||
        (flags & G_PARAM_DEPRECATED)) {
      continue;
    }
    GValue value = G_VALUE_INIT;
    g_value_init(&value, specs[i]->value_type);
    g_object_get_property(G_OBJECT(from), specs[i]->name, &value);
    g_object_set_property(G_OBJECT(to), specs[i]->name, &value);
    g_value_unset(&value);
  }
  g_free(specs);
  return to;
}

}  // namespace

// One call view: what its signals need, kept on the view and freed with it.
struct CallWindowWebViews::CallPage {
  const ServiceConfig& service;
  std::shared_ptr<CertificateTrust> trust;
  std::weak_ptr<std::vector<CallPage*>> registry;
  WebKitWebView* view = nullptr;
  // The document on screen passed the pin test (or its host is not pinned).
  bool documentVerified = false;
  std::string shownURI;

  bool isTrustedDocument() const {
    return documentVerified && schemeOf(shownURI) == "https" && service.isTrustedWebHost(hostOf(shownURI));
  }

  void onCommitted() {
    const char* uri = webkit_web_view_get_uri(view);
    const std::string current = uri ? uri : "";
    const std::string host = hostOf(current);
    if (schemeOf(current) == "https" && host == service.pinnedWebHost) {
      GTlsCertificate* certificate = nullptr;
      GTlsCertificateFlags errors{};
      if (!trust || !webkit_web_view_get_tls_info(view, &certificate, &errors) || !certificate ||
          !evaluatePinnedTrust(*trust, chainOf(certificate), host, service.webPins)) {
        nativeLog("[WebView] ❌ call window refused " + host + ": certificate pinning failed");
        documentVerified = false;
        shownURI.clear();
        webkit_web_view_stop_loading(view);
        // Replace what the unverified server sent; not from inside WebKit's signal.
        platform::mainQueue().post([shown = WEBKIT_WEB_VIEW(g_object_ref(view))] {
          webkit_web_view_load_uri(shown, "about:blank");
          g_object_unref(shown);
        });
        return;
      }
    }
    documentVerified = true;
    shownURI = current;
  }

  static void free(gpointer data) {
    auto* page = static_cast<CallPage*>(data);
    if (auto pages = page->registry.lock()) std::erase(*pages, page);
    delete page;
  }
};

namespace {

using CallPage = CallWindowWebViews::CallPage;

void loadChangedThunk(WebKitWebView*, WebKitLoadEvent event, gpointer page) {
  if (event == WEBKIT_LOAD_COMMITTED) static_cast<CallPage*>(page)->onCommitted();
}

// The main view's navigation rule: a file address only inside the program's folders.
gboolean decidePolicyThunk(WebKitWebView*, WebKitPolicyDecision* decision, WebKitPolicyDecisionType type, gpointer) {
  if (type != WEBKIT_POLICY_DECISION_TYPE_NAVIGATION_ACTION && type != WEBKIT_POLICY_DECISION_TYPE_NEW_WINDOW_ACTION) {
    return FALSE;
  }
  WebKitNavigationAction* action =
      webkit_navigation_policy_decision_get_navigation_action(WEBKIT_NAVIGATION_POLICY_DECISION(decision));
  WebKitURIRequest* request = webkit_navigation_action_get_request(action);
  const char* target = request ? webkit_uri_request_get_uri(request) : nullptr;
  if (!target || std::string_view(target).rfind("file:", 0) != 0 || FileSecurity::isFileInsideAppFolders(target)) {
    return FALSE;
  }
  webkit_policy_decision_ignore(decision);
  return TRUE;
}

// A chain the system does not know: the main view's session already holds
// every certificate it allowed; anything else fails the load.
gboolean tlsErrorsThunk(WebKitWebView*, char*, GTlsCertificate*, GTlsCertificateFlags, gpointer) { return FALSE; }

}  // namespace

CallWindowWebViews::CallWindowWebViews(Options options) : options_(std::move(options)) {
  std::string error;
  auto trust = CertificateTrust::make(true, options_.service->extraCAFile, error);
  if (!trust) nativeLog("[WebView] ❌ certificate trust unavailable, call windows refuse the pinned host: " + error);
  trust_ = std::move(trust);
}

CallWindowWebViews::~CallWindowWebViews() = default;

bool CallWindowWebViews::hasMarker(std::string_view url) { return url.find(kMarker) != std::string_view::npos; }

bool CallWindowWebViews::isAudioCall(std::string_view url) {
  const std::string text(url);
  GUri* parsed = g_uri_parse(text.c_str(), G_URI_FLAGS_ENCODED_QUERY, nullptr);
  if (!parsed) return true;
  bool audio = true;
  if (const char* query = g_uri_get_query(parsed)) {
    GUriParamsIter iter;
    g_uri_params_iter_init(&iter, query, -1, "&", G_URI_PARAMS_NONE);
    char* name = nullptr;
    char* value = nullptr;
    while (g_uri_params_iter_next(&iter, &name, &value, nullptr)) {
      const bool isCallType = name && std::string_view(name) == "callType";
      if (isCallType) audio = !value || !*value || std::string_view(value) == "audio";
      g_free(name);
      g_free(value);
      if (isCallType) break;
    }
  }
  g_uri_unref(parsed);
  return audio;
}

bool CallWindowWebViews::isTrustedCallURL(const std::string& url) const {
  return schemeOf(url) == "https" && options_.service->isTrustedWebHost(hostOf(url));
}

WebKitWebView* CallWindowWebViews::make(WebKitWebView* opener, const std::string& url, const std::string& deviceUdid) {
  if (!options_.showWindow || !options_.signals) {
    nativeLog("[WebView] call window requested before the call windows exist — nothing opens");
    return nullptr;
  }
  const bool isAudio = isAudioCall(url);
  // WebKit hands the new view the opener's content manager: its page scripts
  // (the device identifier among them, as a JSON literal), its bridge and
  // the call-window handlers are the call page's too.
  if (!consoleScriptAdded_) {
    consoleScriptAdded_ = true;
    const auto script = page_scripts::callWindowConsoleScript();
    WebKitUserScript* made = webkit_user_script_new(script.source.c_str(), WEBKIT_USER_CONTENT_INJECT_ALL_FRAMES,
                                                    WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_START, nullptr, nullptr);
    webkit_user_content_manager_add_script(webkit_web_view_get_user_content_manager(opener), made);
    webkit_user_script_unref(made);
  }
  nativeLog(page_scripts::callWindowUdidLogLine(deviceUdid));

  WebKitSettings* settings = copyOfSettings(webkit_web_view_get_settings(opener));
  webkit_settings_set_user_agent(settings, page_scripts::kCallWindowUserAgent);
  webkit_settings_set_media_playback_requires_user_gesture(settings, FALSE);
  const bool inspector = options_.inspectorAllowed && options_.inspectorAllowed();
  webkit_settings_set_enable_developer_extras(settings, inspector);

  auto* view = WEBKIT_WEB_VIEW(g_object_new(WEBKIT_TYPE_WEB_VIEW, "related-view", opener, "settings", settings,
                                            "user-content-manager", webkit_web_view_get_user_content_manager(opener),
                                            nullptr));
  g_object_unref(settings);
  g_object_ref_sink(view);
  auto* page = new CallPage{*options_.service, trust_, pages_, view, false, {}};
  pages_->push_back(page);
  g_object_set_data_full(G_OBJECT(view), kPageKey, page, &CallPage::free);
  const GdkRGBA background{13.0f / 255.0f, 6.0f / 255.0f, 35.0f / 255.0f, 1.0f};
  webkit_web_view_set_background_color(view, &background);
  g_signal_connect(view, "decide-policy", G_CALLBACK(decidePolicyThunk), nullptr);
  g_signal_connect(view, "load-changed", G_CALLBACK(loadChangedThunk), page);
  g_signal_connect(view, "load-failed-with-tls-errors", G_CALLBACK(tlsErrorsThunk), nullptr);

  // The call window takes our reference; WebKit gets the same view back.
  options_.showWindow(CallPageView{view, isAudio, [page] { return page->isTrustedDocument(); }});
  return view;
}

void CallWindowWebViews::didReceive(const BridgeMessage& message, bool mainDocumentVerified) {
  bool verified = mainDocumentVerified;
  if (hasMarker(message.href)) {
    verified = std::any_of(pages_->begin(), pages_->end(), [&](const CallPage* page) {
      return page->isTrustedDocument() && hostOf(page->shownURI) == message.host;
    });
  }
  const bool trusted = message.isMainFrame && verified && message.protocol == "https" &&
                       options_.service->isTrustedWebHost(message.host);
  if (!trusted) {
    NativeLogger::shared().log("[WebView] Ignored call-window message '" + message.handler +
                                   "' from untrusted origin " + message.protocol + "://" + message.host + ":" +
                                   std::to_string(message.port) + " mainFrame=" +
                                   (message.isMainFrame ? "true" : "false"),
                               "NATIVE", NativeLogger::ForwardToWeb{true});
    return;
  }
  if (message.handler == page_scripts::kCallWindowReadyHandler) {
    if (options_.signals) CallWindowReadyHandler(*options_.signals).didReceive(message.body);
  } else {
    (void)CallWindowLogHandler().didReceive(message.body);
  }
}

}  // namespace orvik

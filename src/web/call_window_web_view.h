// The web views of web call windows. When the main page opens a new window
// whose address carries "callWindow=true" on one of the service's trusted
// hosts (over https), a new web view is made, related to the main one: WebKit
// gives it the main view's web process, network session and user content
// manager, so it runs the main view's page scripts and bridge. It gets its own
// copy of the main view's settings (the call user agent leaves the main
// view's untouched), the call page's console forwarder (added once to the
// shared manager; it acts only in call-window documents), the main view's
// navigation rule and the pin test at every commit, and is handed to the call
// window with its call type.
//
//   CallWindowWebViews views({service, &callWindow, show, inspectorAllowed});
//   WebKitWebView* made = views.make(mainView, url, deviceUdid);   // null: no window
//   views.didReceive(message, mainDocumentVerified);   // "callWindowLogger" / "callWindowReady"
//
// The call page's messages travel like the main page's, through the shared
// isolated-world forwarder whose envelope says where they came from; the
// call-window handlers answer only a trusted, verified top document.
//
// Owner: the main web view's host. THREAD-SAFETY: main thread only.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "calls/windows/call_page_view.h"
#include "web/bridge_message.h"

namespace orvik {

class CertificateTrust;
struct ServiceConfig;

class CallWindowWebViews {
 public:
  static constexpr const char* kMarker = "callWindow=true";

  struct Options {
    const ServiceConfig* service = nullptr;
    // Where the ready messages go (the web call window).
    CallWindowSignals* signals = nullptr;
    // Takes the made view (NativeCallWindow::showWindow).
    std::function<void(CallPageView page)> showWindow;
    // The page's permission for the web inspector, at the moment a view is made.
    std::function<bool()> inspectorAllowed;
  };

  explicit CallWindowWebViews(Options options);
  ~CallWindowWebViews();
  CallWindowWebViews(const CallWindowWebViews&) = delete;
  CallWindowWebViews& operator=(const CallWindowWebViews&) = delete;

  // Whether `url` carries the call-window marker anywhere (path, query or fragment).
  static bool hasMarker(std::string_view url);
  // The first "callType" query item decides: exactly "audio", no item or no
  // value → audio; anything else → video.
  static bool isAudioCall(std::string_view url);
  // Whether a call window may be opened at `url`: https on a trusted host.
  bool isTrustedCallURL(const std::string& url) const;

  // A new call-window web view related to `opener`, already handed to the
  // call window; null (nothing opens) without a call window to take it.
  WebKitWebView* make(WebKitWebView* opener, const std::string& url, const std::string& deviceUdid);

  // A "callWindowLogger" or "callWindowReady" message from any document of
  // the shared content manager. A call-window document counts as verified
  // when a live call view of its host shows a trusted, pinned page; any other
  // document when `mainDocumentVerified`.
  void didReceive(const BridgeMessage& message, bool mainDocumentVerified);

  struct CallPage;

 private:
  Options options_;
  std::shared_ptr<CertificateTrust> trust_;
  // The call views alive now; each takes itself out when its view goes.
  std::shared_ptr<std::vector<CallPage*>> pages_ = std::make_shared<std::vector<CallPage*>>();
  bool consoleScriptAdded_ = false;
};

}  // namespace orvik

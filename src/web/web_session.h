// The program's one WebKit web context and network session, and the table of
// its local schemes (orvikfile://, orvikupload://) with the handler each one
// answers with. The main web view and the call-window views are built on it.
// Made once by the composition root; tests make their own (an ephemeral one).
//
//   WebSession session(WebSession::Storage::persistent);
//   session.setSchemeHandler(platform::kOrvikFileScheme, orvikFileRequestHandler(files));
//
// Owner: the composition root (app/app_services.h). THREAD-SAFETY: main queue only.
#pragma once

#include <map>
#include <memory>
#include <string>

#include "platform/local_schemes.h"

typedef struct _WebKitNetworkSession WebKitNetworkSession;
typedef struct _WebKitWebContext WebKitWebContext;

namespace orvik {

class WebSession {
 public:
  // persistent: WebKit's default network session (cookies and site data kept
  // in the user's data folder); ephemeral: one that keeps nothing (tests).
  enum class Storage { persistent, ephemeral };

  explicit WebSession(Storage storage);
  ~WebSession();
  WebSession(const WebSession&) = delete;
  WebSession& operator=(const WebSession&) = delete;

  WebKitWebContext* context() const { return context_; }
  WebKitNetworkSession* networkSession() const { return networkSession_; }

  // The handler of one of the local schemes, replacing an earlier one. Until
  // a scheme has one, its requests fail with "not available".
  void setSchemeHandler(const std::string& scheme, platform::SchemeRequestHandler handler);

 private:
  using SchemeTable = std::map<std::string, platform::SchemeRequestHandler>;

  // Shared with the registered handlers, which WebKit may call for as long as
  // the context lives.
  std::shared_ptr<SchemeTable> schemes_ = std::make_shared<SchemeTable>();
  WebKitWebContext* context_ = nullptr;
  WebKitNetworkSession* networkSession_ = nullptr;
};

}  // namespace orvik

// What the web host hands the web call window: the call page's web view with
// its call type and the trust of the document it shows, and what the call
// page's ready messages reach (CallWindowSignals, NativeCallWindow in the
// program).
//
// THREAD-SAFETY: main queue only.
#pragma once

#include <functional>

typedef struct _WebKitWebView WebKitWebView;

namespace orvik {

struct CallPageView {
  // The call page's web view; the receiver takes over this one (non-floating)
  // reference.
  WebKitWebView* view = nullptr;
  bool isAudio = true;
  // Whether the document the view shows is the service's own, top frame, and
  // passed the pin test: only it may have the camera and microphone. Valid
  // while the view lives.
  std::function<bool()> isTrustedDocument;
};

class CallWindowSignals {
 public:
  virtual ~CallWindowSignals() = default;
  // The call screen is ready to be seen.
  virtual void revealWindow() = 0;
  // The call page's camera is live: a hidden video call window shows.
  virtual void cameraReady() = 0;
};

}  // namespace orvik

// The call page's two message handlers: "callWindowLogger" (its console
// lines, {level, msg}) and "callWindowReady" ("cameraReady", or anything else
// for "the call screen is ready"). Each call-window web view gets a new pair;
// they keep no state and answer nothing to the page.
//
//   CallWindowReadyHandler ready(nativeCallWindow);
//   ready.didReceive("cameraReady");   // → cameraReady(); anything else → revealWindow()
//
// THREAD-SAFETY: main queue only.
#pragma once

#include <nlohmann/json.hpp>

namespace orvik {

class CallWindowSignals;

class CallWindowLogHandler {
 public:
  // A well-formed line is accepted and goes nowhere: the call page's
  // console lines are not written to the native log. False for a body that
  // is not {level: text, msg: text}.
  bool didReceive(const nlohmann::json& body) const;
};

class CallWindowReadyHandler {
 public:
  explicit CallWindowReadyHandler(CallWindowSignals& window) : window_(window) {}
  // Exactly "cameraReady" shows a hidden video window; any other body
  // (another text, an object, a number) reveals the window.
  void didReceive(const nlohmann::json& body) const;

 private:
  CallWindowSignals& window_;
};

}  // namespace orvik

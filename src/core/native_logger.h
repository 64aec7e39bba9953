// The one log path of the program. `nativeLog(message)` prints
// "[NATIVE] message" to standard output and hands the line to the shared
// NativeLogger, which mirrors native lines into the web application's console
// once the page has loaded and allowed it; until then the newest 400 lines
// wait in a buffer. Routine chatter of the call engine (a message whose
// leading bracketed tag is one of the muted call tags) takes neither path.
//
// Messages follow one convention: an optional emoji and a blank, the
// component tag in square brackets, then the text: "[udid] Keychain HIT …".
//
// THREAD-SAFETY: nativeLog, log, warn, error and emit may be called from any
// thread. The lock covers only the buffer and the decision; printing happens
// before it and page scripts are evaluated afterwards, on the main queue.
#pragma once

#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/page_call.h"

namespace orvik {

// The 21 call-engine tags whose lines are muted, compared exactly.
extern const std::vector<std::string_view> callLogMuteTags;

// Whether `message` is routine call-engine chatter: its first "[" stands
// after at most four user-perceived characters and the text up to the next
// "]" is one of callLogMuteTags. Allocates nothing unless the first "[" comes
// after non-ASCII text.
bool isMutedCallLogLine(std::string_view message);

class NativeLogger : public std::enable_shared_from_this<NativeLogger> {
 public:
  using PrintFunction = std::function<void(const std::string& line)>;
  static constexpr std::size_t kMaxPendingLines = 400;

  // `print` writes one line (without its newline) to standard output; tests
  // pass their own.
  explicit NativeLogger(PrintFunction print = {});

  static NativeLogger& shared();

  // Replaces where lines are printed (empty: standard output). For tests that
  // read what the program logged.
  void setPrintFunction(PrintFunction print);

  // A distinct type, so that a level given as a string literal can never be
  // taken for this flag.
  struct ForwardToWeb {
    bool value;
  };

  // Same mute test as nativeLog; prints "[tag] message" and, when
  // `forwardToWeb`, emits it with the level "log".
  void log(std::string_view message, std::string_view tag, ForwardToWeb forwardToWeb);
  // No mute test: prints "[tag] message" and emits it with `level`.
  void log(std::string_view message, std::string_view tag, std::string_view level);
  void warn(std::string_view message, std::string_view tag) { log(message, tag, std::string_view("warn")); }
  void error(std::string_view message, std::string_view tag) { log(message, tag, std::string_view("error")); }

  // The sink: forwards the line to the page, buffers it, or drops it.
  void emit(std::string line, std::string level);
  void flushPending();

  // The main web view to forward to (held weakly). Main queue.
  void attachWebView(std::weak_ptr<platform::PageScriptSink> webView);
  // The main page has finished loading at least once; never reset.
  void setReady();
  // The web application's permission; false also empties the buffer, true
  // flushes it.
  void setWebConsoleAllowed(bool allowed);

  // For tests and diagnostics.
  std::vector<std::pair<std::string, std::string>> pendingLines() const;
  std::optional<bool> webConsoleAllowed() const;

  // The page script that writes `line` to the page console at `level`
  // ("log", "warn" or "error"; anything else is "log"), prefixed "📱 ".
  static std::string consoleScript(std::string_view line, std::string_view level);

 private:
  bool canForwardLocked() const;
  void forwardToWebConsole(const std::string& line, const std::string& level);

  void print(const std::string& line) const;

  mutable std::mutex printMutex_;
  std::shared_ptr<const PrintFunction> print_;
  mutable std::mutex mutex_;
  std::weak_ptr<platform::PageScriptSink> webView_;
  bool isReady_ = false;
  std::optional<bool> webConsoleAllowed_;
  std::deque<std::pair<std::string, std::string>> pending_;
};

// The common log call of every subsystem.
void nativeLog(std::string_view message);

// Sends the platform layer's lines (platform/platform_log.h) through
// nativeLog. The program calls this once at start-up.
void routePlatformLogToNativeLog();

// A token shortened for logs: its first 8 characters, "…(len=", its length in
// characters and ")"; "EMPTY" for an empty token.
std::string shortToken(std::string_view token);

// The first `count` characters (code points) of UTF-8 `text`, never cutting
// one in half.
std::string firstCharacters(std::string_view text, std::size_t count);
// The number of characters (code points) of UTF-8 `text`.
std::size_t characterCount(std::string_view text);

}  // namespace orvik

#include "core/native_logger.h"

#include <unicode/brkiter.h>
#include <unicode/utext.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "platform/dispatch/task_queue.h"
#include "platform/platform_log.h"

namespace orvik {

const std::vector<std::string_view> callLogMuteTags = {
    "NativeCallMgr", "PeerConn",       "CallLog",         "Signaling",       "ICERestart",  "MultiDeviceCall",
    "CallAudio",     "ScreenShare",    "FloatingPanel",   "IncomingCall",    "IncomingFlow", "ICEMgr",
    "ICEConfig",     "AudioRouter",    "OutputPicker",    "CALL",            "AudioCallWindow",
    "VideoCallWindow", "RemoteVideo",  "ReliableCancel",  "CallStrings",
};

namespace {

constexpr std::size_t kMaxCharactersBeforeTag = 4;

// User-perceived characters of `text`, counted up to `limit + 1`.
std::size_t graphemesUpTo(std::string_view text, std::size_t limit) {
  // ASCII needs no segmenter: every byte is a character, except CR LF.
  std::size_t count = 0;
  std::size_t i = 0;
  for (; i < text.size() && static_cast<unsigned char>(text[i]) < 0x80; ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    if (++count > limit) return count;
  }
  if (i == text.size()) return count;

  // Non-ASCII text: ask ICU for grapheme cluster boundaries. The iterator is
  // made once per thread; UText over UTF-8 reads the bytes in place.
  thread_local std::unique_ptr<icu::BreakIterator> iterator = [] {
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::BreakIterator> made(icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
    return U_SUCCESS(status) ? std::move(made) : nullptr;
  }();
  if (!iterator) return text.size();  // no segmenter: bytes over-count, never mute wrongly
  UErrorCode status = U_ZERO_ERROR;
  UText ut = UTEXT_INITIALIZER;
  utext_openUTF8(&ut, text.data(), static_cast<int64_t>(text.size()), &status);
  if (U_FAILURE(status)) return text.size();
  iterator->setText(&ut, status);
  count = 0;
  if (U_SUCCESS(status)) {
    iterator->first();
    while (iterator->next() != icu::BreakIterator::DONE) {
      if (++count > limit) break;
    }
  } else {
    count = text.size();
  }
  utext_close(&ut);
  return count;
}

void printToStdout(const std::string& line) {
  std::string out = line;
  out.push_back('\n');
  // One write per line so that lines of different threads never interleave.
  std::fwrite(out.data(), 1, out.size(), stdout);
  std::fflush(stdout);
}

std::string bracketed(std::string_view tag, std::string_view message) {
  std::string line;
  line.reserve(tag.size() + message.size() + 3);
  line += '[';
  line += tag;
  line += "] ";
  line += message;
  return line;
}

}  // namespace

bool isMutedCallLogLine(std::string_view message) {
  const std::size_t open = message.find('[');
  if (open == std::string_view::npos) return false;
  if (open > kMaxCharactersBeforeTag && graphemesUpTo(message.substr(0, open), kMaxCharactersBeforeTag) > kMaxCharactersBeforeTag) {
    return false;
  }
  const std::size_t close = message.find(']', open + 1);
  if (close == std::string_view::npos) return false;
  const std::string_view tag = message.substr(open + 1, close - open - 1);
  return std::find(callLogMuteTags.begin(), callLogMuteTags.end(), tag) != callLogMuteTags.end();
}

NativeLogger::NativeLogger(PrintFunction print) { setPrintFunction(std::move(print)); }

void NativeLogger::setPrintFunction(PrintFunction print) {
  auto next = std::make_shared<const PrintFunction>(print ? std::move(print) : PrintFunction(printToStdout));
  std::lock_guard lock(printMutex_);
  print_ = std::move(next);
}

void NativeLogger::print(const std::string& line) const {
  std::shared_ptr<const PrintFunction> print;
  {
    std::lock_guard lock(printMutex_);
    print = print_;
  }
  (*print)(line);
}

NativeLogger& NativeLogger::shared() {
  // Never destroyed: threads may log while the process exits.
  static auto* instance = new std::shared_ptr<NativeLogger>(std::make_shared<NativeLogger>());
  return **instance;
}

void NativeLogger::log(std::string_view message, std::string_view tag, ForwardToWeb forwardToWeb) {
  if (isMutedCallLogLine(message)) return;
  std::string line = bracketed(tag, message);
  print(line);
  if (forwardToWeb.value) emit(std::move(line), "log");
}

void NativeLogger::log(std::string_view message, std::string_view tag, std::string_view level) {
  std::string line = bracketed(tag, message);
  print(line);
  emit(std::move(line), std::string(level));
}

bool NativeLogger::canForwardLocked() const {
  return isReady_ && webConsoleAllowed_ == true && !webView_.expired();
}

void NativeLogger::emit(std::string line, std::string level) {
  {
    std::lock_guard lock(mutex_);
    if (webConsoleAllowed_ == false) return;
    if (!canForwardLocked()) {
      pending_.emplace_back(std::move(line), std::move(level));
      if (pending_.size() > kMaxPendingLines) {
        pending_.erase(pending_.begin(), pending_.begin() + static_cast<long>(pending_.size() - kMaxPendingLines));
      }
      return;
    }
  }
  forwardToWebConsole(line, level);
}

void NativeLogger::flushPending() {
  std::deque<std::pair<std::string, std::string>> lines;
  {
    std::lock_guard lock(mutex_);
    if (!canForwardLocked()) return;
    lines.swap(pending_);
  }
  for (const auto& [line, level] : lines) forwardToWebConsole(line, level);
}

void NativeLogger::attachWebView(std::weak_ptr<platform::PageScriptSink> webView) {
  std::lock_guard lock(mutex_);
  webView_ = std::move(webView);
}

void NativeLogger::setReady() {
  std::lock_guard lock(mutex_);
  isReady_ = true;
}

void NativeLogger::setWebConsoleAllowed(bool allowed) {
  {
    std::lock_guard lock(mutex_);
    webConsoleAllowed_ = allowed;
    if (!allowed) {
      pending_.clear();
      return;
    }
  }
  flushPending();
}

std::vector<std::pair<std::string, std::string>> NativeLogger::pendingLines() const {
  std::lock_guard lock(mutex_);
  return {pending_.begin(), pending_.end()};
}

std::optional<bool> NativeLogger::webConsoleAllowed() const {
  std::lock_guard lock(mutex_);
  return webConsoleAllowed_;
}

std::string NativeLogger::consoleScript(std::string_view line, std::string_view level) {
  const std::string_view method = (level == "warn" || level == "error") ? level : std::string_view("log");
  return platform::pageMethodCall("__orvikNativeConsole", method, {"📱 " + std::string(line)});
}

void NativeLogger::forwardToWebConsole(const std::string& line, const std::string& level) {
  std::weak_ptr<platform::PageScriptSink> webView;
  {
    std::lock_guard lock(mutex_);
    webView = webView_;
  }
  // The logger lives for the whole run; the web view is looked up again when
  // the task runs and skipped if it is gone by then.
  platform::callPage(std::move(webView), consoleScript(line, level));
}

void nativeLog(std::string_view message) { NativeLogger::shared().log(message, "NATIVE", NativeLogger::ForwardToWeb{true}); }

void routePlatformLogToNativeLog() {
  platform::setPlatformLogSink([](const std::string& message) { nativeLog(message); });
}

std::size_t characterCount(std::string_view text) {
  return static_cast<std::size_t>(std::count_if(text.begin(), text.end(), [](char c) {
    return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  }));
}

std::string firstCharacters(std::string_view text, std::size_t count) {
  std::size_t seen = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80 && seen++ == count) return std::string(text.substr(0, i));
  }
  return std::string(text);
}

std::string shortToken(std::string_view token) {
  if (token.empty()) return "EMPTY";
  return firstCharacters(token, 8) + "…(len=" + std::to_string(characterCount(token)) + ")";
}

}  // namespace orvik

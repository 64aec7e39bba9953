// Tells the page the writing direction and language of the keyboard input
// source the user switched to ("orvikSetInputDirection(dir, code)"), so that
// text fields can follow it. Nothing is sent at launch: the page learns the
// direction at the first switch.
//
//   KeyboardInputDirection direction(source, page);
//   direction.start();
//
// Owner: the application. THREAD-SAFETY: main queue only.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/page_call.h"

namespace orvik {

// The current keyboard input source, as the desktop describes it.
// Linux backend: GNOME's input-source settings (the most recently used
// source's XKB layout, its languages from xkeyboard-config) and GDK's
// keyboard direction (makeDesktopInputSource).
class InputSource {
 public:
  virtual ~InputSource() = default;
  // The source's languages (BCP 47 texts like "ar-SA" or "he"), empty when
  // the desktop does not say.
  virtual std::vector<std::string> currentLanguages() const = 0;
  // The direction GDK reads off the keyboard layout, when it knows one.
  virtual std::optional<bool> isRightToLeft() const = 0;
  // `changed` runs on the main queue after each switch of input source.
  virtual void start(std::function<void()> changed) = 0;
};

std::unique_ptr<InputSource> makeDesktopInputSource();

struct InputDirection {
  std::string dir;   // "rtl" or "ltr"
  std::string code;  // the language code the page gets
  friend bool operator==(const InputDirection&, const InputDirection&) = default;
};

// The direction and code for a source whose first language is `languages[0]`;
// none without languages.
std::optional<InputDirection> inputDirectionFor(const std::vector<std::string>& languages);

class KeyboardInputDirection {
 public:
  KeyboardInputDirection(InputSource& source, std::function<std::weak_ptr<platform::PageScriptSink>()> page);
  void start();
  void forwardKeyboardInputDirection();

 private:
  InputSource& source_;
  std::function<std::weak_ptr<platform::PageScriptSink>()> page_;
};

}  // namespace orvik

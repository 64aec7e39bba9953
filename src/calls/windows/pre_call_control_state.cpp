#include "calls/windows/pre_call_control_state.h"

#include <unicode/uchar.h>
#include <unicode/utf8.h>

#include <array>
#include <cstdint>

#include "calls/screens/format_user_number.h"

namespace orvik {

namespace {

constexpr std::array<std::string_view, 6> kEndingStatuses = {"Busy",       "User Busy",         "End Call",
                                                             "Call Ended", "Connection failed", "Failed"};
constexpr std::string_view kRingingSuffix = "...";

// The characters that are numbers in the Unicode sense, as formatUserNumber
// keeps them.
int numberCharacters(std::string_view text) {
  int count = 0;
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
  const auto length = static_cast<std::int32_t>(text.size());
  std::int32_t at = 0;
  while (at < length) {
    UChar32 c = 0;
    U8_NEXT(bytes, at, length, c);
    if (c >= 0 && u_getIntPropertyValue(c, UCHAR_NUMERIC_TYPE) != U_NT_NONE) ++count;
  }
  return count;
}

}  // namespace

bool isPreCallEndingStatus(std::string_view status) {
  for (std::string_view ending : kEndingStatuses) {
    if (status == ending) return true;
  }
  return false;
}

std::string preCallFormattedNumber(std::string_view userNumber) {
  if (numberCharacters(userNumber) < 3) return std::string(userNumber);
  return formatUserNumber(userNumber);
}

std::string preCallStatusText(std::string_view status, int dotCount) {
  if (isPreCallEndingStatus(status) || !status.ends_with(kRingingSuffix)) return std::string(status);
  std::string text(status.substr(0, status.size() - kRingingSuffix.size()));
  text.append(static_cast<std::size_t>(dotCount < 1 ? 1 : dotCount > 3 ? 3 : dotCount), '.');
  return text;
}

// ---------------------------------------------------------------- PreCallControlState

bool PreCallControlState::isEndingStatus() const { return isPreCallEndingStatus(status_); }

template <typename T>
void PreCallControlState::assign(T& field, T value) {
  if (field == value) return;
  field = std::move(value);
  observers_.notify();
}

void PreCallControlState::setStatus(std::string status) { assign(status_, std::move(status)); }
void PreCallControlState::setMuted(bool muted) { assign(isMuted_, muted); }
void PreCallControlState::setVideoOn(bool on) { assign(isVideoOn_, on); }
void PreCallControlState::setSpeakerOn(bool on) { assign(isSpeakerOn_, on); }

void PreCallControlState::reset(std::string callingText) {
  const bool changed = status_ != callingText || isMuted_ || !isVideoOn_ || !isSpeakerOn_;
  status_ = std::move(callingText);
  isMuted_ = false;
  isVideoOn_ = true;
  isSpeakerOn_ = true;
  if (changed) observers_.notify();
}

// ---------------------------------------------------------------- CaptureSessionBox

void CaptureSessionBox::setSession(CameraSessionHandle session) {
  if (session == session_) return;
  session_ = std::move(session);
  observers_.notify();
}

CameraSessionHandle CaptureSessionBox::take() {
  CameraSessionHandle session = std::move(session_);
  session_.reset();
  if (session) observers_.notify();
  return session;
}

}  // namespace orvik

#include "calls/screens/audio_call_view_model.h"

#include "calls/control/call_strings.h"

namespace orvik {

AudioCallViewModel::AudioCallViewModel(const CallStrings& strings) {
  state_.timerText = strings.string(CallStrings::kCalling, CallStrings::kCallingDefault);
}

void AudioCallViewModel::update(const std::function<void(AudioCallViewState&)>& change) {
  AudioCallViewState next = state_;
  change(next);
  if (next == state_) return;
  state_ = std::move(next);
  observers_.notify();
}

}  // namespace orvik

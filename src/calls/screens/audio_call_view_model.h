// The observable state of the native audio call screen and the states of a
// switch from audio to video. The audio call window makes one model and
// keeps it; it writes the model when it opens for a call and the call
// manager writes it through the window afterwards. The screen only reads it,
// apart from closing the call-limit banner.
//
//   AudioCallViewModel model(strings);
//   auto seen = model.addObserver([&] { view.render(model.state()); });
//   model.update([](AudioCallViewState& s) { s.isConnected = true; });
//
// Owner: NativeAudioCallWindow. THREAD-SAFETY: main queue only.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "platform/observer_list.h"

namespace orvik {

class CallStrings;

enum class VideoUpgradeState { none, requesting, incomingRequest, connecting };

struct AudioCallViewState {
  std::string calleeName;
  std::string calleeOrvikID;  // an ID line only when not empty
  std::string imageUrl;
  bool isConnected = false;
  bool isMuted = false;
  bool isSpeakerOff = false;  // not shown; the speaker callback passes it on
  std::string timerText;      // status text until connected, then the call time
  bool isIncoming = false;
  bool isSubscribed = false;
  bool remoteMuted = false;
  bool isDarkMode = true;
  std::optional<std::string> limitWarning;  // nothing hides the banner
  bool callLimitCanExtend = false;
  VideoUpgradeState upgradeState = VideoUpgradeState::none;
  bool canRequestVideoUpgrade = false;  // not shown

  bool operator==(const AudioCallViewState&) const = default;
};

class AudioCallViewModel {
 public:
  using Observers = platform::ObserverList<>;

  // `timerText` starts as the page's text for "calling", looked up once here.
  explicit AudioCallViewModel(const CallStrings& strings);
  AudioCallViewModel(const AudioCallViewModel&) = delete;
  AudioCallViewModel& operator=(const AudioCallViewModel&) = delete;

  const AudioCallViewState& state() const { return state_; }
  // Applies `change`; observers hear of it once when anything changed.
  void update(const std::function<void(AudioCallViewState&)>& change);

  [[nodiscard]] platform::Subscription addObserver(Observers::Observer observer) {
    return observers_.add(std::move(observer));
  }

 private:
  AudioCallViewState state_;
  Observers observers_;
};

}  // namespace orvik

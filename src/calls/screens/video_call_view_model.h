// The observable state of the native video call screen. One model lives as
// long as the process, owned by the video call window's controller: the
// controller rewrites the window's own fields each time it opens a window,
// the call manager writes the call's progress, and the views of the screen
// read it and write back only what belongs to the screen (the tile swap, the
// screen-share prompts, the limit banner's close).
//
//   model.set(&VideoCallFields::isSwapped, true);   // observers run now
//   model.setRemoteVideoTrack(track);               // no change notice
//
// The 26 published fields live in VideoCallFields, in their declaration
// order, with their start values. Setting one to a different value tells the
// observers; setting the value it already has tells nobody. The two plain
// fields (the remote and the local screen track) change silently: the call
// manager sets each together with a published field (`hasRemoteVideo`,
// `isScreenSharing`), and views pick them up from that change.
//
// THREAD-SAFETY: main queue only. Observers run on the main queue, inside the
// write that changed the model.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "calls/control/call_ports.h"
#include "calls/media/peer_connection.h"
#include "calls/media/screen_source.h"
#include "platform/observer_list.h"

namespace orvik {

class CallStrings;

struct VideoCallFields {
  std::string calleeName;
  std::string calleeOrvikID;
  std::string imageUrl;
  std::string localName;
  std::string localImageUrl;
  bool isConnected = false;
  bool isMuted = false;
  bool isCameraOff = false;
  bool isSpeakerOff = false;
  // Set from the call-screen text "calling" by the model's constructor.
  std::string timerText;
  bool hasRemoteVideo = false;
  CameraSessionHandle cameraSession;
  bool isIncoming = false;
  bool isSubscribed = false;
  bool callEnded = false;
  bool remoteMuted = false;
  bool remoteVideoOff = false;
  bool isScreenSharing = false;
  bool remoteScreenSharing = false;
  bool isSwapped = false;
  // The displays and windows the picker offers; set while it is shown.
  std::shared_ptr<const ShareableContent> screenShareOptions;
  bool showScreenSharePrimer = false;
  bool showScreenRecordingDenied = false;
  // Set while the limit banner is shown.
  std::optional<std::string> limitWarning;
  bool callLimitCanExtend = false;
  bool isDarkMode = true;

  bool operator==(const VideoCallFields&) const = default;
};

// What the window controller writes when it opens a window; everything else
// in the model stays as it was (the call manager's teardown clears it).
struct VideoCallOpening {
  std::string calleeName;
  std::string calleeOrvikID;
  std::string imageUrl;
  // Already resolved by the controller (argument, my display name, my user
  // number, "?").
  std::string localName;
  std::string localImageUrl;
  bool isConnected = false;
  bool isSubscribed = false;
  bool isDarkMode = true;
  bool isUpgrade = false;
  bool isOutgoing = true;
};

class VideoCallViewModel {
 public:
  // `strings` gives the start status text ("calling") and the status texts
  // of an opening.
  explicit VideoCallViewModel(const CallStrings& strings);
  VideoCallViewModel(const VideoCallViewModel&) = delete;
  VideoCallViewModel& operator=(const VideoCallViewModel&) = delete;

  const VideoCallFields& fields() const { return fields_; }
  const VideoCallFields* operator->() const { return &fields_; }

  // Writes one published field; observers hear of it when the value changed.
  template <typename T, typename V>
  void set(T VideoCallFields::*field, V&& value) {
    assertOnMain();
    T next(std::forward<V>(value));
    if (fields_.*field == next) return;
    fields_.*field = std::move(next);
    changed_.notify();
  }

  // The plain fields: no change notice.
  const VideoTrackHandle& remoteVideoTrack() const { return remoteVideoTrack_; }
  void setRemoteVideoTrack(VideoTrackHandle track);
  const VideoTrackHandle& localScreenTrack() const { return localScreenTrack_; }
  void setLocalScreenTrack(VideoTrackHandle track);

  // A window opens: the window's own fields are rewritten in one change.
  void applyOpening(const VideoCallOpening& opening);

  // Runs after every change of a published field.
  [[nodiscard]] platform::Subscription addObserver(std::function<void()> observer) {
    return changed_.add(std::move(observer));
  }

 private:
  void assertOnMain() const;

  const CallStrings& strings_;
  VideoCallFields fields_;
  VideoTrackHandle remoteVideoTrack_;
  VideoTrackHandle localScreenTrack_;
  platform::ObserverList<> changed_;
};

}  // namespace orvik

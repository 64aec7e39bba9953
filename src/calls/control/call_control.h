// The call manager's operations as the shell and the call windows use them:
// the main window and the quit path ask whether a call is active and hang it
// up; the call windows and screens turn the user's clicks into these
// operations and never change call state themselves. Implemented over the
// call manager by the composition root (ManagerCallControl); windows are
// built and tested against a recording fake
// (test_support/recording_call_control.h).
//
// THREAD-SAFETY: main queue only.
#pragma once

#include "calls/media/screen_source.h"
#include "calls/signaling/call_model.h"

namespace orvik {

class CallControl {
 public:
  virtual ~CallControl() = default;

  // Ringing, calling, connecting or connected.
  virtual bool isCallActive() const = 0;
  // Ends a call in progress or declines a ringing one; nothing otherwise.
  virtual void hangUpCurrentCall() = 0;

  virtual CallState callState() const = 0;
  // Read by each call window once, when it is built: whether screen captures
  // may show the program's call windows.
  virtual bool isScreenshotAccessAllowed() const = 0;

  // Places an outgoing call; the manager refuses (with its own alerts) when
  // it cannot.
  virtual void makeCall(const CallUser& callee, CallType type) = 0;
  // Answers or declines the ringing call; nothing unless a call rings.
  virtual void acceptCall() = 0;
  virtual void rejectCall() = 0;
  // Hangs up or cancels the current call; harmless without one.
  virtual void endCall() = 0;
  virtual void setMuted(bool muted) = 0;
  virtual void setSpeakerEnabled(bool enabled) = 0;
  // My camera off (true) or on again; a running share stops first.
  virtual void setCameraOff(bool off) = 0;
  // The video screen's share button: stops my share, or starts the share
  // flow (access, then the picker's contents in the video screen's model).
  virtual void toggleScreenShare() = 0;
  // `afterPrimer`: the user went on from the explanation screen.
  virtual void requestScreenShareOptions(bool afterPrimer) = 0;
  // The picker's Share.
  virtual void startScreenShare(const ShareTarget& target) = 0;
  // Adds 20 minutes to a limited call; `sendToPeer`: the extension was made
  // on this side and the other party is told.
  virtual void extendCall(bool sendToPeer) = 0;

  // Switching a connected audio call to video. The request checks for a
  // camera itself (an alert without one).
  virtual void requestVideoUpgrade() = 0;
  virtual void acceptVideoUpgrade() = 0;
  virtual void declineVideoUpgrade() = 0;
};

}  // namespace orvik

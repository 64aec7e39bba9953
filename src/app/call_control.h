// What the shell needs of the call engine: whether a call is active (ringing,
// calling, connecting or connected) and hanging it up.
// THREAD-SAFETY: main queue only.
#pragma once

namespace orvik {

class CallControl {
 public:
  virtual ~CallControl() = default;
  virtual bool isCallActive() const = 0;
  // Ends a call in progress or declines a ringing one; nothing otherwise.
  virtual void hangUpCurrentCall() = 0;
};

}  // namespace orvik

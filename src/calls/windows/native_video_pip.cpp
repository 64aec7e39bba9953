#include "calls/windows/native_video_pip.h"

#include "calls/control/call_control.h"
#include "calls/screens/video_call_view_model.h"
#include "calls/screens/video_pip_layout.h"
#include "platform/dispatch/task_queue.h"

namespace orvik {

std::shared_ptr<NativeVideoPiP> NativeVideoPiP::create(Collaborators collaborators) {
  return std::shared_ptr<NativeVideoPiP>(new NativeVideoPiP(std::move(collaborators)));
}

void NativeVideoPiP::onMain(std::function<void(NativeVideoPiP&)> step) {
  platform::mainQueue().post([weak = weak_from_this(), step = std::move(step)] {
    if (auto self = weak.lock()) step(*self);
  });
}

void NativeVideoPiP::markActive() {
  onMain([](NativeVideoPiP& self) { self.isActive_ = true; });
}

void NativeVideoPiP::close() {
  onMain([](NativeVideoPiP& self) {
    self.isActive_ = false;
    if (auto panel = std::move(self.panel_)) panel->orderOut();
  });
}

void NativeVideoPiP::hide() {
  onMain([](NativeVideoPiP& self) {
    if (self.panel_) self.panel_->orderOut();
  });
}

void NativeVideoPiP::showIfActive() {
  onMain([](NativeVideoPiP& self) {
    if (!self.isActive_ || self.c_.model->callEnded) return;
    if (self.panel_) {
      self.panel_->orderFront();
      return;
    }
    VideoPiPSetup setup;
    setup.frame = videoPiPFrame(self.c_.workArea ? self.c_.workArea() : StageRect{});
    setup.capturable = self.c_.capturable && self.c_.capturable();
    self.panel_ = self.c_.makePanel(setup, self.c_.model, self.makeActions());
    if (self.panel_) self.panel_->orderFront();
  });
}

VideoPiPActions NativeVideoPiP::makeActions() {
  const std::weak_ptr<NativeVideoPiP> weak = weak_from_this();
  VideoPiPActions actions;
  actions.onExpand = [weak] {
    auto self = weak.lock();
    if (!self) return;
    self->hide();
    if (self->c_.returnToCall) self->c_.returnToCall();
  };
  actions.onMute = [weak] {
    auto self = weak.lock();
    if (!self) return;
    const bool muted = !self->c_.model->isMuted;
    self->c_.model.set(&VideoCallFields::isMuted, muted);
    self->c_.calls.setMuted(muted);
  };
  actions.onEnd = [weak] {
    if (auto self = weak.lock()) self->c_.calls.endCall();
  };
  return actions;
}

}  // namespace orvik

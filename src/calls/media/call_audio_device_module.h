// The call audio device as WebRTC sees it: a webrtc::AudioDeviceModule that
// drives a CallAudioDevice, for the peer connection factory. WebRTC's audio
// transport is fed in 10 ms chunks: playout 48 kHz stereo, capture mono at
// the input device's rate.
//
// Owner: the peer connection set-up, which publishes the CallAudioDevice in
// the CallAudioDeviceSlot and hands the module to the factory.
// THREAD-SAFETY: as webrtc::AudioDeviceModule; the device's own rules apply
// beneath it.
#pragma once

#include <memory>

#include "api/scoped_refptr.h"

namespace webrtc {
class AudioDeviceModule;
}

namespace orvik {

class CallAudioDevice;

rtc::scoped_refptr<webrtc::AudioDeviceModule> makeCallAudioDeviceModule(std::shared_ptr<CallAudioDevice> device);

}  // namespace orvik

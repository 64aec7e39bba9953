// The WebRTC face of CallPeerConnection, for the media code and its tests
// only: test knobs, the track handles opened, the current WebRTC connection
// and factory.
#pragma once

#include <functional>

#include <api/media_stream_interface.h>
#include <api/peer_connection_interface.h>
#include <api/scoped_refptr.h>
#include <api/task_queue/task_queue_factory.h>
#include <modules/audio_device/include/audio_device.h>

#include "calls/media/call_peer_connection.h"
#include "calls/media/opus_tuned_description.h"

namespace orvik {

struct CallPeerConnection::TestHooks {
  // Loopback is ignored by WebRTC by default; two peers in one test process
  // talk over it.
  bool allowLoopback = false;
  // Host candidates too (the program never uses them).
  bool allowAllCandidates = false;
  // The audio device to hand to the factory instead of the call's own.
  std::function<rtc::scoped_refptr<webrtc::AudioDeviceModule>(webrtc::TaskQueueFactory&)> audioDevice;
};

struct VideoTrackRef {
  rtc::scoped_refptr<webrtc::VideoTrackInterface> track;
};
struct VideoSourceRef {
  rtc::scoped_refptr<webrtc::VideoTrackSourceInterface> source;
};

// The current WebRTC connection and factory, or null; call on the peer queue.
webrtc::PeerConnectionInterface* webrtcConnection(CallPeerConnection& connection);
webrtc::PeerConnectionFactoryInterface* webrtcFactory(CallPeerConnection& connection);

}  // namespace orvik

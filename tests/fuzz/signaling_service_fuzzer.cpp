// Frames from the call server, one per line of the input, through the
// Socket.IO client into the signalling service on the fake transport, with
// virtual time: whatever the server sends, the program goes on.
#include <cstdint>

#include "calls/signaling/call_signaling_service.h"
#include "calls/signaling/socketio/fake_transport.h"
#include "calls/signaling/test_support/recording_signaling_delegate.h"
#include "fuzz_support.h"
#include "platform/dispatch/virtual_queue.h"

using namespace orvik;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  platform::VirtualQueue queue;
  platform::ScopedMainQueue main(queue);
  platform::ScopedClock clock(queue.clock());
  socketio::FakeTransportHub hub;
  auto delegate = std::make_shared<testing::RecordingSignalingDelegate>();
  std::size_t logged = 0;
  auto service = CallSignalingService::make("https://calls.example", hub.factory(),
                                            [&logged](std::string_view) { ++logged; });
  service->setDelegate(delegate);
  service->connect(CallingSocketParams{"token-token-token", "4711", "DEV", "", "false"});
  hub.last()->acceptWith();
  queue.runUntilIdle();
  // Something of ours waits for an ack, as during a call.
  service->emitCall(nlohmann::json{{"type", "offer"}, {"to", "9_dev"}, {"from", "4711_DEV"}}, std::string("offer"));
  queue.runUntilIdle();

  std::string_view input = fuzz::text(data, size);
  while (!input.empty()) {
    const std::size_t end = input.find('\n');
    const std::string_view frame = input.substr(0, end);
    if (auto* connection = hub.last(); connection && connection->isLive()) connection->receive(std::string(frame));
    queue.runUntilIdle();
    if (end == std::string_view::npos) break;
    input.remove_prefix(end + 1);
  }
  // Time-outs and reconnects run too.
  queue.advance(60.0);
  service->disconnect();
  queue.runUntilIdle();
  return 0;
}

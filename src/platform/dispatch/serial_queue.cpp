#include "platform/dispatch/serial_queue.h"

#include <future>

namespace orvik::platform {

void SerialQueue::flush() {
  std::promise<void> done;
  auto future = done.get_future();
  post([&done] { done.set_value(); });
  future.wait();
}

}  // namespace orvik::platform

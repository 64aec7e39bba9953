#include "platform/queue_checker.h"

#include <cstdio>
#include <cstdlib>

namespace orvik::platform {

void queueCheckFailed(const char* function, const char* file, int line) {
  // Straight to standard error: the log sinks may live on the very queue
  // whose contract was just broken.
  std::fprintf(stderr, "Queue check failed: %s called off its queue at %s:%d\n", function, file, line);
  std::fflush(stderr);
  std::abort();
}

}  // namespace orvik::platform

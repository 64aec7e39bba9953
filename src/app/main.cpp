// orvikdesk: the desktop client's program entry.
#include "app/application.h"
#include "core/native_logger.h"
#include "platform/dispatch/glib_main_queue.h"

int main(int, char** argv) {
  orvik::platform::GlibMainQueue queue;
  orvik::platform::ScopedMainQueue mainQueue(queue);
  orvik::routePlatformLogToNativeLog();
  auto application = orvik::OrvikApplication::create();
  return application->runProgram(argv[0]);
}

#include "platform/platform_log.h"

#include <cstdio>
#include <memory>
#include <mutex>

namespace orvik::platform {
namespace {

std::mutex gSinkMutex;
std::shared_ptr<const PlatformLogSink> gSink;

}  // namespace

void setPlatformLogSink(PlatformLogSink sink) {
  auto next = sink ? std::make_shared<const PlatformLogSink>(std::move(sink)) : nullptr;
  std::lock_guard lock(gSinkMutex);
  gSink = std::move(next);
}

void platformLog(std::string_view message) {
  std::shared_ptr<const PlatformLogSink> sink;
  {
    std::lock_guard lock(gSinkMutex);
    sink = gSink;
  }
  if (sink) {
    (*sink)(std::string(message));
    return;
  }
  std::string line(message);
  line.push_back('\n');
  std::fwrite(line.data(), 1, line.size(), stderr);
}

}  // namespace orvik::platform

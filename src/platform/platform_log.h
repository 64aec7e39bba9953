// The platform layer sits below the native logger, so it reports through this
// hook. The core installs the native logger as the sink at start-up; until
// then (and in platform tests) lines go to standard error.
// THREAD-SAFETY: platformLog from any thread; setPlatformLogSink at start-up.
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace orvik::platform {

using PlatformLogSink = std::function<void(const std::string& message)>;

void setPlatformLogSink(PlatformLogSink sink);
void platformLog(std::string_view message);

}  // namespace orvik::platform

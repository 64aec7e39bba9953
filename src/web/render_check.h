// The render check: a short script asks the page whether the web application
// has drawn anything into its root element. The reply parser and the runner
// (one answer per check, whichever of reply and 10 s time-out comes first)
// are shared by the load time-out, the after-load series and the health check.
//
// Owner: WebViewState. THREAD-SAFETY: main queue only.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/dispatch/task_queue.h"

namespace orvik {

class LoadDiagnostics;
class WebPage;

struct RenderCheckResult {
  bool rendered = false;
  std::string details;
};

// The script evaluated in the page; its value is a JSON text.
extern const char* const kRenderCheckScript;
inline constexpr double kRenderCheckReplyLimitSeconds = 10.0;
inline constexpr const char* kRenderCheckNoReplyDetails = "unresponsive=evaluateJavaScript no reply in 10s";

// Turns the script's value (or the evaluation error) into an answer.
RenderCheckResult parseRenderCheckReply(const std::optional<std::string>& value,
                                        const std::optional<std::string>& evaluationError);

// Runs one check on `page` and calls `done` exactly once on `queue`: at once
// for a vanished page or a page not served over http(s), otherwise with the
// parsed reply or, after 10 s without one, the no-reply answer.
void runRenderCheck(platform::TaskQueue& queue, const LoadDiagnostics& diagnostics, std::weak_ptr<WebPage> page,
                    std::function<void(RenderCheckResult)> done);

}  // namespace orvik

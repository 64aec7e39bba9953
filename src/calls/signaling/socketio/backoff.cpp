#include "calls/signaling/socketio/backoff.h"

#include <algorithm>
#include <cmath>

namespace orvik::socketio {

double backoffDelay(const BackoffPolicy& policy, unsigned attempt, double random01) {
  const double minWait = std::max(0.0, policy.minWait);
  const double maxWait = std::max(minWait, policy.maxWait);
  const double jitter = std::clamp(policy.jitter, 0.0, 1.0);
  const double random = std::clamp(random01, 0.0, 1.0);
  // 2^attempt overflows nothing: the exponent is capped long before doubles do.
  const double base = std::min(maxWait, minWait * std::exp2(std::min(attempt, 60u)));
  // random in [0, 1) maps to a factor in [1 - jitter, 1 + jitter).
  const double spread = base * (1.0 + jitter * (2.0 * random - 1.0));
  return std::clamp(spread, 0.0, maxWait);
}

}  // namespace orvik::socketio

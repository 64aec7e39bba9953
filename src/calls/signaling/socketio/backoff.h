// Reconnect waits: exponential from `minWait` doubling per attempt up to
// `maxWait`, spread by `jitter` (0.5 means ±50 %) so that many clients do not
// come back in step after a server restart, and never above `maxWait`.
// Pure: the random number is passed in. Safe from any thread.
#pragma once

namespace orvik::socketio {

struct BackoffPolicy {
  double minWait = 0.5;  // seconds
  double maxWait = 2.0;  // seconds
  double jitter = 0.5;   // 0 … 1
};

// The wait before reconnect attempt `attempt` (0 for the first), given a
// uniform random number `random01` in [0, 1).
double backoffDelay(const BackoffPolicy& policy, unsigned attempt, double random01);

}  // namespace orvik::socketio

// Checks that a class's methods run on the queue the class lives on (the role
// of a sequence checker). A class that lives on the main queue opens each
// public method with ORVIK_ASSERT_ON_MAIN_QUEUE(); one that lives on an
// injected queue keeps a QueueChecker (or the queue itself) and opens them
// with ORVIK_ASSERT_ON_QUEUE(checker).
//
//   void CallTimerManager::startTimer() {
//     ORVIK_ASSERT_ON_QUEUE(queueChecker_);
//     ...
//   }
//
// The checks are compiled into debug builds and into every build configured
// with ORVIK_QUEUE_CHECKS (on by default wherever the tests are built, so the
// test suite always runs with them, RelWithDebInfo included). Elsewhere they
// compile to nothing. A failed check names the method and aborts: a method
// called off its queue races with the queue's own work, and the crash report
// is the cheapest place to learn about it.
//
// THREAD-SAFETY: a QueueChecker may be asked from any thread; that is its point.
#pragma once

#include "platform/dispatch/task_queue.h"

#if defined(ORVIK_QUEUE_CHECKS) || !defined(NDEBUG)
#define ORVIK_QUEUE_CHECKS_ACTIVE 1
#else
#define ORVIK_QUEUE_CHECKS_ACTIVE 0
#endif

namespace orvik::platform {

inline constexpr bool kQueueChecksActive = ORVIK_QUEUE_CHECKS_ACTIVE != 0;

class QueueChecker {
 public:
  // Checks against whatever main queue is installed at the time of the check
  // (the GLib main context in the program, a VirtualQueue in unit tests).
  QueueChecker() = default;
  // Checks against `queue`, which must outlive the checker.
  explicit QueueChecker(TaskQueue& queue) : queue_(&queue) {}

  bool isCurrent() const { return (queue_ ? *queue_ : mainQueue()).isCurrent(); }

 private:
  TaskQueue* queue_ = nullptr;
};

// Reports the failed check on standard error ("Queue check failed: <function>
// called off its queue at <file>:<line>") and aborts.
[[noreturn]] void queueCheckFailed(const char* function, const char* file, int line);

}  // namespace orvik::platform

#if ORVIK_QUEUE_CHECKS_ACTIVE
// `checker` is anything with isCurrent(): a QueueChecker or a TaskQueue.
#define ORVIK_ASSERT_ON_QUEUE(checker)                                         \
  do {                                                                         \
    if (!(checker).isCurrent()) {                                              \
      ::orvik::platform::queueCheckFailed(__func__, __FILE__, __LINE__);       \
    }                                                                          \
  } while (false)
#else
#define ORVIK_ASSERT_ON_QUEUE(checker) \
  do {                                 \
    (void)sizeof((checker).isCurrent()); \
  } while (false)
#endif

#define ORVIK_ASSERT_ON_MAIN_QUEUE() ORVIK_ASSERT_ON_QUEUE(::orvik::platform::QueueChecker())

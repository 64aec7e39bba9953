// Writes a readable backtrace of the crashing thread to standard error when
// the process receives a fatal signal, then lets the signal take its normal
// course (the default action: a core dump or the end of the process). Only
// standard error sees these lines; the native logger and the page never do.
//
// The handler runs on an alternate stack (so a stack overflow is reported
// too) and uses only async-signal-safe calls: write(2), backtrace(3), which
// is loaded at installation so that it does not allocate in the handler, and
// backtrace_symbols_fd(3).
//
// THREAD-SAFETY: install once from the main thread at start-up. The
// alternate stack is the main thread's; other threads report on their own
// stacks.
#pragma once

#include <array>
#include <csignal>

namespace orvik {

class CrashBacktraceLogger {
 public:
  // In the order they are installed.
  static constexpr std::array<int, 6> kSignals = {SIGSEGV, SIGABRT, SIGBUS, SIGILL, SIGTRAP, SIGFPE};

  // Installs the handler for kSignals and writes the confirmation line.
  static void install();

 private:
  static void handle(int signalNumber);
};

}  // namespace orvik

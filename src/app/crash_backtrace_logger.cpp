#include "app/crash_backtrace_logger.h"

#include <execinfo.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace orvik {
namespace {

constexpr int kMaxFrames = 128;

void writeText(const char* text) {
  std::size_t left = std::strlen(text);
  while (left > 0) {
    const ssize_t written = ::write(STDERR_FILENO, text, left);
    if (written <= 0) return;
    text += written;
    left -= static_cast<std::size_t>(written);
  }
}

void writeNumber(int number) {
  char digits[16];
  char* end = digits + sizeof digits;
  char* at = end;
  *--at = '\0';
  unsigned value = number < 0 ? 0u - static_cast<unsigned>(number) : static_cast<unsigned>(number);
  do {
    *--at = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0);
  if (number < 0) *--at = '-';
  writeText(at);
}

}  // namespace

void CrashBacktraceLogger::handle(int signalNumber) {
  writeText("\n💥💥💥 [CRASH] caught signal ");
  writeNumber(signalNumber);
  writeText(" — backtrace of crashing thread:\n");
  void* frames[kMaxFrames];
  const int count = ::backtrace(frames, kMaxFrames);
  ::backtrace_symbols_fd(frames, count, STDERR_FILENO);
  writeText("💥💥💥 [CRASH] end of backtrace (signal ");
  writeNumber(signalNumber);
  writeText(")\n\n");
  ::fsync(STDERR_FILENO);
  // The signal is blocked while this handler runs; it is delivered with the
  // default action as soon as the handler returns.
  std::signal(signalNumber, SIG_DFL);
  std::raise(signalNumber);
}

void CrashBacktraceLogger::install() {
  // The first backtrace() call loads the unwinder, which allocates: do it now
  // rather than inside the handler.
  void* warmUp[1];
  (void)::backtrace(warmUp, 1);

  // A stack overflow leaves no stack for the handler; give it its own.
  static char* alternateStack = nullptr;
  if (!alternateStack) {
    const std::size_t size = SIGSTKSZ < 65536 ? 65536 : SIGSTKSZ;
    alternateStack = static_cast<char*>(std::malloc(size));
    if (alternateStack) {
      stack_t stack{};
      stack.ss_sp = alternateStack;
      stack.ss_size = size;
      ::sigaltstack(&stack, nullptr);
    }
  }

  struct sigaction action {};
  action.sa_handler = &CrashBacktraceLogger::handle;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_ONSTACK;
  for (const int signalNumber : kSignals) ::sigaction(signalNumber, &action, nullptr);
  std::fputs("✅ [CrashBacktraceLogger] installed\n", stderr);
}

}  // namespace orvik

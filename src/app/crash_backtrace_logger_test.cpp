#include "app/crash_backtrace_logger.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <functional>
#include <string>

namespace orvik {
namespace {

struct ChildResult {
  std::string standardError;
  int terminatingSignal = 0;  // 0 when it exited normally
};

// Runs `body` in a forked child whose standard error is collected.
ChildResult runInChild(const std::function<void()>& body) {
  int pipeFds[2];
  if (::pipe(pipeFds) != 0) return {};
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::close(pipeFds[0]);
    ::dup2(pipeFds[1], STDERR_FILENO);
    body();
    ::_exit(0);
  }
  ::close(pipeFds[1]);
  ChildResult result;
  char buffer[4096];
  for (ssize_t n; (n = ::read(pipeFds[0], buffer, sizeof buffer)) > 0;) result.standardError.append(buffer, n);
  ::close(pipeFds[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  if (WIFSIGNALED(status)) result.terminatingSignal = WTERMSIG(status);
  return result;
}

// Recurses until the stack runs out (the limit is never reached in practice).
[[gnu::noinline]] int recurseDeeply(long depth) {
  volatile char frame[1024];
  frame[0] = static_cast<char>(depth);
  if (depth > (1L << 40)) return frame[0];
  return recurseDeeply(depth + 1) + frame[0];
}

TEST(CrashBacktraceLogger, FatalSignalsPrintTheBacktraceAndEndTheProcessAsBefore) {
  struct Case {
    const char* name;
    int signal;
    std::function<void()> crash;
  };
  const Case cases[] = {
      {"abort", SIGABRT, [] { std::abort(); }},
      {"bad pointer", SIGSEGV, [] { *static_cast<volatile int*>(nullptr) = 1; }},
      {"stack overflow", SIGSEGV, [] { (void)recurseDeeply(0); }},
      {"floating point", SIGFPE, [] { std::raise(SIGFPE); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const ChildResult child = runInChild([&] {
      CrashBacktraceLogger::install();
      c.crash();
    });
    EXPECT_EQ(child.terminatingSignal, c.signal);
    const std::string number = std::to_string(c.signal);
    const std::string banner = "\n💥💥💥 [CRASH] caught signal " + number + " — backtrace of crashing thread:\n";
    const std::string closing = "💥💥💥 [CRASH] end of backtrace (signal " + number + ")\n\n";
    EXPECT_EQ(child.standardError.rfind("✅ [CrashBacktraceLogger] installed\n", 0), 0u) << child.standardError;
    const auto bannerAt = child.standardError.find(banner);
    const auto closingAt = child.standardError.find(closing);
    ASSERT_NE(bannerAt, std::string::npos) << child.standardError;
    ASSERT_NE(closingAt, std::string::npos) << child.standardError;
    // At least the handler's own frame and the crashing code's stand between.
    const std::string frames = child.standardError.substr(bannerAt + banner.size(), closingAt - bannerAt - banner.size());
    EXPECT_GE(std::count(frames.begin(), frames.end(), '\n'), 2) << frames;
  }
}

TEST(CrashBacktraceLogger, OtherSignalsKeepTheirDefaultAndPrintNothing) {
  const ChildResult child = runInChild([] {
    CrashBacktraceLogger::install();
    std::raise(SIGTERM);
  });
  EXPECT_EQ(child.terminatingSignal, SIGTERM);
  EXPECT_EQ(child.standardError, "✅ [CrashBacktraceLogger] installed\n");
}

}  // namespace
}  // namespace orvik

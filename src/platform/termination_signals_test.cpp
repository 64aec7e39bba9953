#include "platform/termination_signals.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <glib.h>
#include <gtest/gtest.h>

namespace orvik::platform {
namespace {

enum class Child { quitsPolitely, ignoresTheQuit, blocksTheMainLoop };

// Runs `behaviour` in a child that installs the handlers with a 1 s deadline,
// sends it SIGTERM once it is ready, and returns its wait status.
int terminateChild(Child behaviour) {
  int ready[2];
  if (::pipe(ready) != 0) return -1;
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::close(ready[0]);
    GMainLoop* loop = g_main_loop_new(nullptr, FALSE);
    installTerminationSignals([loop, behaviour] {
      if (behaviour == Child::quitsPolitely) g_main_loop_quit(loop);
    }, 1);
    [[maybe_unused]] const ssize_t written = ::write(ready[1], "r", 1);
    if (behaviour == Child::blocksTheMainLoop) {
      for (;;) ::pause();
    }
    g_main_loop_run(loop);
    ::_exit(0);
  }
  ::close(ready[1]);
  char byte = 0;
  [[maybe_unused]] const ssize_t got = ::read(ready[0], &byte, 1);
  ::close(ready[0]);
  ::kill(pid, SIGTERM);
  int status = 0;
  ::waitpid(pid, &status, 0);
  return status;
}

TEST(TerminationSignalsTest, APoliteQuitEndsNormally) {
  const int status = terminateChild(Child::quitsPolitely);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST(TerminationSignalsTest, AProgramThatDoesNotEndIsEndedByTheSignalAfterTheDeadline) {
  for (const Child behaviour : {Child::ignoresTheQuit, Child::blocksTheMainLoop}) {
    const int status = terminateChild(behaviour);
    ASSERT_TRUE(WIFSIGNALED(status)) << static_cast<int>(behaviour);
    EXPECT_EQ(WTERMSIG(status), SIGTERM) << static_cast<int>(behaviour);
  }
}

}  // namespace
}  // namespace orvik::platform

#include "platform/termination_signals.h"

#include <fcntl.h>
#include <glib-unix.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>

namespace orvik::platform {
namespace {

int wakeFds[2] = {-1, -1};
unsigned deadline = kTerminationDeadlineSeconds;
volatile sig_atomic_t received = 0;
std::function<void()>* handler = nullptr;

void endNow(int signalNumber) {
  ::signal(signalNumber, SIG_DFL);
  ::raise(signalNumber);
  ::_exit(128 + signalNumber);
}

void onTerminationSignal(int signalNumber) {
  const int saved = errno;
  if (received != 0) endNow(signalNumber);
  received = signalNumber;
  ::alarm(deadline);
  const char byte = 1;
  [[maybe_unused]] const ssize_t written = ::write(wakeFds[1], &byte, 1);
  errno = saved;
}

void onDeadline(int) {
  static const char kLine[] = "[Quit] still running after a termination signal — ending now\n";
  [[maybe_unused]] const ssize_t written = ::write(STDERR_FILENO, kLine, sizeof kLine - 1);
  endNow(received != 0 ? static_cast<int>(received) : SIGTERM);
}

gboolean onWake(gint fd, GIOCondition, gpointer) {
  char buffer[16];
  while (::read(fd, buffer, sizeof buffer) > 0) {
  }
  if (handler && *handler) (*handler)();
  return G_SOURCE_CONTINUE;
}

void install(int signalNumber, void (*function)(int)) {
  struct sigaction action {};
  action.sa_handler = function;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  ::sigaction(signalNumber, &action, nullptr);
}

}  // namespace

void installTerminationSignals(std::function<void()> onSignal, unsigned deadlineSeconds) {
  if (wakeFds[0] < 0 && ::pipe2(wakeFds, O_CLOEXEC | O_NONBLOCK) != 0) {
    wakeFds[0] = wakeFds[1] = -1;
  }
  delete handler;
  handler = new std::function<void()>(std::move(onSignal));
  deadline = deadlineSeconds;
  if (wakeFds[0] >= 0) g_unix_fd_add(wakeFds[0], G_IO_IN, onWake, nullptr);
  install(SIGALRM, onDeadline);
  install(SIGTERM, onTerminationSignal);
  install(SIGINT, onTerminationSignal);
}

}  // namespace orvik::platform

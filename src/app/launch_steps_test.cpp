#include "app/launch_steps.h"

#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <glib.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/app_info.h"

namespace orvik {
namespace {

constexpr int kCannotMount = 77;

bool writeProcFile(const char* path, const std::string& text) {
  const int fd = ::open(path, O_WRONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool written = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  ::close(fd);
  return written;
}

// In a child of its own (a mount namespace needs a single-threaded process):
// mounts a read-only file system where an AppImage mounts itself, installs
// the program there and asks the launch step. The exit status is the answer.
[[noreturn]] void runFromReadOnlyImage(const std::filesystem::path& mountPoint) {
  // Today's refusal would wait for a click on its alert: end it instead.
  alarm(20);
  const uid_t uid = getuid();
  const gid_t gid = getgid();
  if (unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0 || !writeProcFile("/proc/self/setgroups", "deny") ||
      !writeProcFile("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1") ||
      !writeProcFile("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1") ||
      mount("none", mountPoint.c_str(), "tmpfs", MS_RDONLY, nullptr) != 0) {
    _exit(kCannotMount);
  }
  if (!isRunningFromReadOnlyImage(mountPoint)) _exit(2);
  auto info = platform::AppInfo::current();
  info.installFolder = mountPoint;
  platform::AppInfo::setCurrent(info);
  auto application = Gtk::Application::create("com.orvik.desk.launchStepsTest", Gio::Application::Flags::NON_UNIQUE);
  ProgramLaunchSteps steps(*application, [] { return nullptr; });
  _exit(steps.refuseDiskImageLocation() ? 1 : 0);
}

TEST(ProgramLaunchSteps, RunningFromAnAppImageMountIsANormalInstall) {
  const std::filesystem::path mountPoint =
      std::filesystem::path(g_get_tmp_dir()) / (".mount_orvikdesk" + std::to_string(getpid()));
  std::filesystem::create_directories(mountPoint);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) runFromReadOnlyImage(mountPoint);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  std::filesystem::remove(mountPoint);
  if (WIFEXITED(status) && WEXITSTATUS(status) == kCannotMount) {
    GTEST_SKIP() << "this machine lets no unprivileged process mount a file system";
  }
  ASSERT_TRUE(WIFEXITED(status)) << "the launch step never answered (signal " << WTERMSIG(status) << ")";
  EXPECT_EQ(WEXITSTATUS(status), 0) << "1: refused; 2: the mount was not taken for an image";
}

}  // namespace
}  // namespace orvik

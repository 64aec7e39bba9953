#include "installer/installer_services.h"

#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>
#include <fstream>
#include <thread>

#include <glib.h>

namespace orvik::installer {

std::string InstallerLog::line(const std::string& message, std::int64_t unixSeconds) {
  std::time_t time = static_cast<std::time_t>(unixSeconds);
  std::tm utc{};
  gmtime_r(&time, &utc);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%SZ", &utc);
  return "[" + std::string(stamp) + "] " + message + "\n";
}

void InstallerLog::write(const std::string& message) {
  std::printf("%s\n", message.c_str());
  std::fflush(stdout);
  std::error_code error;
  std::filesystem::create_directories(file_.parent_path(), error);
  std::ofstream out(file_, std::ios::binary | std::ios::app);
  if (out) out << line(message, g_get_real_time() / G_USEC_PER_SEC);
}

std::string trimmedUtf8(const std::string& bytes) {
  if (!g_utf8_validate(bytes.data(), static_cast<gssize>(bytes.size()), nullptr)) return "";
  const char* blanks = " \t\r\n\v\f";
  auto first = bytes.find_first_not_of(blanks);
  if (first == std::string::npos) return "";
  return bytes.substr(first, bytes.find_last_not_of(blanks) - first + 1);
}

CommandResult runCommand(const std::vector<std::string>& argv) {
  std::vector<char*> args;
  for (const auto& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  gchar* out = nullptr;
  gchar* err = nullptr;
  gint waitStatus = 0;
  CommandResult result;
  // g_spawn_sync reads both pipes together, so a child filling one of them
  // never blocks on the other.
  if (!g_spawn_sync(nullptr, args.data(), nullptr, G_SPAWN_SEARCH_PATH, nullptr, nullptr, &out, &err, &waitStatus,
                    nullptr)) {
    return result;
  }
  result.started = true;
  result.out = trimmedUtf8(out ? out : "");
  result.err = trimmedUtf8(err ? err : "");
  g_free(out);
  g_free(err);
  if (WIFEXITED(waitStatus)) result.exitStatus = WEXITSTATUS(waitStatus);
  return result;
}

CommandResult runShell(const std::string& commandLine) {
  return runCommand({"/bin/sh", "-c", commandLine});
}

CommandResult PkexecElevator::runAsAdministrator(const std::string& commandLine) {
  return runCommand({"pkexec", "/bin/sh", "-c", commandLine});
}

std::vector<pid_t> ProcAppProcesses::running(const std::filesystem::path& program) {
  std::vector<pid_t> pids;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator("/proc", error)) {
    const auto name = entry.path().filename().string();
    if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos) continue;
    auto exe = std::filesystem::read_symlink(entry.path() / "exe", error);
    if (!error && exe == program) pids.push_back(static_cast<pid_t>(std::stol(name)));
  }
  return pids;
}

void ProcAppProcesses::waitForExit(const std::vector<pid_t>& pids) {
  for (pid_t pid : pids) {
    while (pid > 0 && (kill(pid, 0) == 0 || errno == EPERM)) std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
}

bool ProcAppProcesses::launch(const std::filesystem::path& program) {
  gchar* argv[] = {const_cast<gchar*>(program.c_str()), nullptr};
  // A session of its own: the new copy outlives the installer.
  auto ownSession = [](gpointer) { setsid(); };
  return g_spawn_async(nullptr, argv, nullptr, G_SPAWN_STDIN_FROM_DEV_NULL, ownSession, nullptr, nullptr, nullptr);
}

}  // namespace orvik::installer

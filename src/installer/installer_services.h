// The installer's small services: its log file, the command runner, the
// result notifications, the elevator and the application's processes. The
// install sequence reaches each through an interface so that tests can
// record what it did.
//
// THREAD-SAFETY: the installer runs its job on one thread; none of these
// hold locks.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace orvik::installer {

// "[" ISO 8601 UTC time to the second with "Z" "] " message "\n", appended
// to the log file (its folder created on first use) and printed to standard
// output. Failures are silent.
class InstallerLog {
 public:
  explicit InstallerLog(std::filesystem::path file) : file_(std::move(file)) {}
  void write(const std::string& message);
  static std::string line(const std::string& message, std::int64_t unixSeconds);

 private:
  std::filesystem::path file_;
};

struct CommandResult {
  bool started = false;
  int exitStatus = -1;  // the exit code; -1 when it was killed by a signal or never started
  std::string out;      // UTF-8, trimmed; empty when not valid UTF-8
  std::string err;
};
// Runs argv[0] (searched in PATH) with both pipes drained to their ends, and
// waits for it.
CommandResult runCommand(const std::vector<std::string>& argv);
// "/bin/sh" "-c" `commandLine`.
CommandResult runShell(const std::string& commandLine);
std::string trimmedUtf8(const std::string& bytes);

class InstallerNotifier {
 public:
  virtual ~InstallerNotifier() = default;
  virtual void sendProgress(bool needsAdmin) = 0;
  virtual void sendResult(bool success, const std::optional<std::string>& error) = 0;
};

// Runs one shell command line with administrator rights.
class Elevator {
 public:
  virtual ~Elevator() = default;
  virtual CommandResult runAsAdministrator(const std::string& commandLine) = 0;
};
// pkexec /bin/sh -c …; exit 126 when the user dismissed the prompt, 127
// when not authorised.
class PkexecElevator : public Elevator {
 public:
  CommandResult runAsAdministrator(const std::string& commandLine) override;
};

class AppProcesses {
 public:
  virtual ~AppProcesses() = default;
  // The processes whose program is `program`.
  virtual std::vector<pid_t> running(const std::filesystem::path& program) = 0;
  // Returns once none of `pids` exists any more.
  virtual void waitForExit(const std::vector<pid_t>& pids) = 0;
  // Starts `program` in a session of its own, not waiting for it.
  virtual bool launch(const std::filesystem::path& program) = 0;
};
class ProcAppProcesses : public AppProcesses {
 public:
  std::vector<pid_t> running(const std::filesystem::path& program) override;
  void waitForExit(const std::vector<pid_t>& pids) override;
  bool launch(const std::filesystem::path& program) override;
};

}  // namespace orvik::installer

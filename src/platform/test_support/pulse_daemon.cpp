#include "platform/test_support/pulse_daemon.h"

#include "platform/test_support/wait_for.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <map>
#include <sstream>

namespace orvik::testing {
namespace {

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) out.push_back(line);
  return out;
}

std::vector<std::string> fields(const std::string& line) {
  std::vector<std::string> out;
  std::istringstream in(line);
  for (std::string field; std::getline(in, field, '\t');) out.push_back(field);
  return out;
}

std::string nullSinkArguments(const std::string& name) {
  return "sink_name=" + name + " sink_properties=device.description=" + name;
}

}  // namespace

bool PulseDaemon::available() { return hasProgram("pulseaudio") && hasProgram("pactl"); }

PulseDaemon::PulseDaemon(const std::vector<std::string>& sinks) {
  if (!available()) return;
  std::vector<std::string> args = {
      "pulseaudio", "--daemonize=no", "--exit-idle-time=-1", "-n", "--use-pid-file=no",
      "--load=module-native-protocol-unix auth-anonymous=1 socket=" + (dir_ / "native").string(),
  };
  for (const auto& sink : sinks) args.push_back("--load=module-null-sink " + nullSinkArguments(sink));
  // Nothing buffered may be written twice by the child.
  std::fflush(nullptr);
  pid_ = fork();
  if (pid_ == 0) {
    std::vector<char*> argv;
    for (auto& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    setenv("XDG_RUNTIME_DIR", dir_.path().c_str(), 1);
    setenv("HOME", dir_.path().c_str(), 1);
    unsetenv("DBUS_SESSION_BUS_ADDRESS");
    const int devNull = open("/dev/null", O_WRONLY);
    dup2(devNull, STDOUT_FILENO);
    dup2(devNull, STDERR_FILENO);
    execvp(argv[0], argv.data());
    _exit(127);
  }
  if (pid_ < 0) return;
  // A real daemon takes a moment to come up.
  bool exited = false;
  running_ = waitFor([&] {
    int status = 0;
    exited = exited || waitpid(pid_, &status, WNOHANG) == pid_;
    std::error_code ec;
    return exited || (std::filesystem::exists(dir_ / "native", ec) && pactl({"info"}).exitCode == 0);
  }) && !exited;
  if (exited) pid_ = -1;
}

PulseDaemon::~PulseDaemon() {
  if (pid_ > 0) {
    kill(pid_, SIGTERM);
    int status = 0;
    waitpid(pid_, &status, 0);
  }
}

std::string PulseDaemon::server() const { return "unix:" + (dir_ / "native").string(); }

ProcessResult PulseDaemon::pactl(const std::vector<std::string>& args) const {
  std::vector<std::string> argv = {"pactl", "--server=" + server()};
  argv.insert(argv.end(), args.begin(), args.end());
  return runProcess(argv);
}

std::optional<std::uint32_t> PulseDaemon::loadNullSink(const std::string& name) const {
  const auto result = pactl({"load-module", "module-null-sink", "sink_name=" + name,
                             "sink_properties=device.description=" + name});
  if (result.exitCode != 0) return std::nullopt;
  try {
    return static_cast<std::uint32_t>(std::stoul(result.output));
  } catch (...) {
    return std::nullopt;
  }
}

bool PulseDaemon::unloadModule(std::uint32_t module) const {
  return pactl({"unload-module", std::to_string(module)}).exitCode == 0;
}

std::string PulseDaemon::defaultSink() const {
  auto result = pactl({"get-default-sink"});
  std::string name = result.output;
  while (!name.empty() && (name.back() == '\n' || name.back() == ' ')) name.pop_back();
  return name;
}

bool PulseDaemon::setDefaultSink(const std::string& name) const {
  return pactl({"set-default-sink", name}).exitCode == 0;
}

std::vector<std::string> PulseDaemon::sinksWithStreams() const {
  std::map<std::string, std::string> sinkNames;  // index -> name
  for (const auto& line : lines(pactl({"list", "short", "sinks"}).output)) {
    auto f = fields(line);
    if (f.size() > 1) sinkNames[f[0]] = f[1];
  }
  std::vector<std::string> out;
  for (const auto& line : lines(pactl({"list", "short", "sink-inputs"}).output)) {
    auto f = fields(line);
    if (f.size() > 1) out.push_back(sinkNames.count(f[1]) ? sinkNames[f[1]] : f[1]);
  }
  return out;
}

}  // namespace orvik::testing

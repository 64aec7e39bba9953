// A private PulseAudio daemon for integration tests: its own runtime folder,
// anonymous access on its own socket, no default script, and the null sinks
// the test asks for (each described by its own name). Clients reach it with
// server(); the daemon is stopped and its folder removed with the object.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/test_support/subprocess.h"
#include "platform/test_support/temp_dir.h"

namespace orvik::testing {

class PulseDaemon {
 public:
  explicit PulseDaemon(const std::vector<std::string>& sinks = {"nullA", "nullB"});
  ~PulseDaemon();
  PulseDaemon(const PulseDaemon&) = delete;
  PulseDaemon& operator=(const PulseDaemon&) = delete;

  // Whether the programs are installed.
  static bool available();
  // Whether the daemon started and answers.
  bool isRunning() const { return running_; }
  // The address for libpulse ("unix:/…/native").
  std::string server() const;
  pid_t pid() const { return pid_; }

  // Runs pactl against this daemon.
  ProcessResult pactl(const std::vector<std::string>& args) const;
  // Adds a null sink; its module index, for unloadModule.
  std::optional<std::uint32_t> loadNullSink(const std::string& name) const;
  bool unloadModule(std::uint32_t module) const;
  std::string defaultSink() const;
  bool setDefaultSink(const std::string& name) const;
  // The names of the sinks that streams now play on (pactl's sink-inputs).
  std::vector<std::string> sinksWithStreams() const;

 private:
  TempDir dir_;
  pid_t pid_ = -1;
  bool running_ = false;
};

}  // namespace orvik::testing

// A program a test runs in the background (a local server): started with
// extra environment variables, its standard output collected line by line as
// it comes, killed and reaped when the object goes. Standard error goes to the
// test's own.
//
//   auto server = BackgroundProcess::start({"node", "server.js"});
//   auto first = server->waitForLine([](auto&) { return true; }, 10.0);
//
// THREAD-SAFETY: one reader thread collects lines; every method may be called
// from the test's thread.
#pragma once

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

typedef struct _GSubprocess GSubprocess;

namespace orvik::testing {

class BackgroundProcess {
 public:
  // Null when the program could not be started.
  static std::unique_ptr<BackgroundProcess> start(const std::vector<std::string>& argv,
                                                  const std::vector<std::pair<std::string, std::string>>& env = {});
  ~BackgroundProcess();
  BackgroundProcess(const BackgroundProcess&) = delete;
  BackgroundProcess& operator=(const BackgroundProcess&) = delete;

  // The first line at index `from` or later for which `match` is true, waiting
  // up to `timeoutSeconds` (a safety net against a hung test, not a measure).
  // Nothing when it did not come or the output ended.
  std::optional<std::string> waitForLine(const std::function<bool(const std::string&)>& match, double timeoutSeconds,
                                         std::size_t from = 0);
  std::vector<std::string> lines() const;
  std::size_t lineCount() const;

  // Sends `signal` (SIGSTOP and SIGCONT freeze and thaw the program).
  void sendSignal(int signal);
  // Kills the program and waits for it; later calls do nothing.
  void kill();

 private:
  explicit BackgroundProcess(GSubprocess* process);
  void readLines();

  GSubprocess* process_;
  std::thread reader_;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::string> lines_;
  bool ended_ = false;
  bool killed_ = false;
};

}  // namespace orvik::testing

#include "platform/test_support/background_process.h"

#include <gio/gio.h>

#include <chrono>
#include <csignal>

namespace orvik::testing {

std::unique_ptr<BackgroundProcess> BackgroundProcess::start(
    const std::vector<std::string>& argv, const std::vector<std::pair<std::string, std::string>>& env) {
  GSubprocessLauncher* launcher = g_subprocess_launcher_new(G_SUBPROCESS_FLAGS_STDOUT_PIPE);
  for (const auto& [name, value] : env) g_subprocess_launcher_setenv(launcher, name.c_str(), value.c_str(), TRUE);
  std::vector<const char*> args;
  for (const auto& arg : argv) args.push_back(arg.c_str());
  args.push_back(nullptr);
  GError* error = nullptr;
  GSubprocess* process = g_subprocess_launcher_spawnv(launcher, args.data(), &error);
  g_object_unref(launcher);
  if (!process) {
    g_clear_error(&error);
    return nullptr;
  }
  std::unique_ptr<BackgroundProcess> result(new BackgroundProcess(process));
  result->reader_ = std::thread([raw = result.get()] { raw->readLines(); });
  return result;
}

BackgroundProcess::BackgroundProcess(GSubprocess* process) : process_(process) {}

BackgroundProcess::~BackgroundProcess() {
  kill();
  if (reader_.joinable()) reader_.join();
  g_object_unref(process_);
}

void BackgroundProcess::readLines() {
  GDataInputStream* input = g_data_input_stream_new(g_subprocess_get_stdout_pipe(process_));
  while (true) {
    gsize length = 0;
    char* line = g_data_input_stream_read_line_utf8(input, &length, nullptr, nullptr);
    if (!line) break;
    {
      std::lock_guard lock(mutex_);
      lines_.emplace_back(line, length);
    }
    g_free(line);
    changed_.notify_all();
  }
  g_object_unref(input);
  {
    std::lock_guard lock(mutex_);
    ended_ = true;
  }
  changed_.notify_all();
}

std::optional<std::string> BackgroundProcess::waitForLine(const std::function<bool(const std::string&)>& match,
                                                          double timeoutSeconds, std::size_t from) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(timeoutSeconds);
  std::unique_lock lock(mutex_);
  std::size_t next = from;
  while (true) {
    for (; next < lines_.size(); ++next) {
      if (match(lines_[next])) return lines_[next];
    }
    if (ended_) return std::nullopt;
    if (changed_.wait_until(lock, deadline) == std::cv_status::timeout && next == lines_.size()) return std::nullopt;
  }
}

std::vector<std::string> BackgroundProcess::lines() const {
  std::lock_guard lock(mutex_);
  return lines_;
}

std::size_t BackgroundProcess::lineCount() const {
  std::lock_guard lock(mutex_);
  return lines_.size();
}

void BackgroundProcess::sendSignal(int signal) {
  if (!killed_) g_subprocess_send_signal(process_, signal);
}

void BackgroundProcess::kill() {
  if (killed_) return;
  killed_ = true;
  g_subprocess_force_exit(process_);
  g_subprocess_wait(process_, nullptr, nullptr);
}

}  // namespace orvik::testing

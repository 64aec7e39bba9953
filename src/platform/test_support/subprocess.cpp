#include "platform/test_support/subprocess.h"

#include <gio/gio.h>

namespace orvik::testing {

ProcessResult runProcess(const std::vector<std::string>& argv, const std::string& input) {
  ProcessResult result;
  std::vector<const char*> args;
  for (const auto& arg : argv) args.push_back(arg.c_str());
  args.push_back(nullptr);
  GError* error = nullptr;
  GSubprocess* process = g_subprocess_newv(args.data(), static_cast<GSubprocessFlags>(
      G_SUBPROCESS_FLAGS_STDIN_PIPE | G_SUBPROCESS_FLAGS_STDOUT_PIPE), &error);
  if (!process) {
    g_clear_error(&error);
    return result;
  }
  GBytes* stdinBytes = g_bytes_new(input.data(), input.size());
  GBytes* stdoutBytes = nullptr;
  if (g_subprocess_communicate(process, stdinBytes, nullptr, &stdoutBytes, nullptr, &error)) {
    gsize size = 0;
    const auto* data = static_cast<const char*>(g_bytes_get_data(stdoutBytes, &size));
    result.output.assign(data ? data : "", size);
    if (g_subprocess_get_if_exited(process)) result.exitCode = g_subprocess_get_exit_status(process);
  }
  g_clear_error(&error);
  if (stdoutBytes) g_bytes_unref(stdoutBytes);
  g_bytes_unref(stdinBytes);
  g_object_unref(process);
  return result;
}

bool hasProgram(const std::string& program) {
  gchar* found = g_find_program_in_path(program.c_str());
  const bool ok = found != nullptr;
  g_free(found);
  return ok;
}

}  // namespace orvik::testing

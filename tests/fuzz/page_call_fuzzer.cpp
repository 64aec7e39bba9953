// Native → page calls: every value, page text included, becomes an argument
// literal that a JavaScript engine (node, kept running beside the fuzzer)
// evaluates back to the same value, calling the named function exactly once
// and nothing else.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <string>

#include "fuzz_support.h"
#include "platform/json_limits.h"
#include "platform/page_call.h"

extern char** environ;

using namespace orvik;
using nlohmann::json;

namespace {

// Reads one request per line: [script, expected arguments as JSON text].
constexpr const char* kEvaluator = R"JS(
const vm = require('vm');
const readline = require('readline');
const context = vm.createContext({});
readline.createInterface({input: process.stdin}).on('line', (line) => {
  let reply = 'ok';
  try {
    const [script, expected] = JSON.parse(line);
    let calls = 0, got;
    context.window = {f(...args) { calls++; got = args; }};
    vm.runInContext(script, context, {timeout: 2000});
    if (calls !== 1) reply = 'called ' + calls + ' times';
    else if (JSON.stringify(got) !== JSON.stringify(JSON.parse(expected))) reply = 'got ' + JSON.stringify(got);
  } catch (e) {
    reply = 'threw ' + e;
  }
  process.stdout.write(reply.replace(/\n/g, ' ') + '\n');
});
)JS";

class Evaluator {
 public:
  Evaluator() { start(); }

  // "ok", or what went wrong. A node that went away (the machine's memory
  // killer, say) is started again and asked once more: only an answer about
  // the script counts.
  std::string evaluate(const std::string& script, const std::string& expected) {
    if (in_ < 0 || out_ < 0) return "ok";
    std::string reply = ask(script, expected);
    if (reply.empty()) {
      stop();
      start();
      reply = ask(script, expected);
    }
    return reply.empty() ? "node stopped answering" : reply;
  }

 private:
  void start() {
    // A node that went away must not take the fuzzer with it on the next write.
    std::signal(SIGPIPE, SIG_IGN);
    int toChild[2], fromChild[2];
    if (::pipe2(toChild, O_CLOEXEC) != 0 || ::pipe2(fromChild, O_CLOEXEC) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, toChild[0], 0);
    posix_spawn_file_actions_adddup2(&actions, fromChild[1], 1);
    posix_spawn_file_actions_addclose(&actions, toChild[1]);
    posix_spawn_file_actions_addclose(&actions, fromChild[0]);
    char* argv[] = {const_cast<char*>("node"), const_cast<char*>("-e"), const_cast<char*>(kEvaluator), nullptr};
    const int failed = posix_spawnp(&child_, "node", &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(toChild[0]);
    ::close(fromChild[1]);
    if (failed) {
      std::fprintf(stderr, "page_call_fuzzer: node not found; literals are built but not evaluated\n");
      ::close(toChild[1]);
      ::close(fromChild[0]);
      return;
    }
    in_ = toChild[1];
    out_ = fromChild[0];
  }

  void stop() {
    ::close(in_);
    ::close(out_);
    in_ = out_ = -1;
    int status = 0;
    ::waitpid(child_, &status, 0);
    std::fprintf(stderr, "page_call_fuzzer: node ended (%s %d); starting it again\n",
                 WIFSIGNALED(status) ? "signal" : "status", WIFSIGNALED(status) ? WTERMSIG(status) : WEXITSTATUS(status));
  }

  // libFuzzer's once-a-second timer interrupts blocking calls (EINTR): they
  // are repeated, or a busy node would look like one that went away.
  std::string ask(const std::string& script, const std::string& expected) {
    const std::string line =
        json::array({script, expected}).dump(-1, ' ', true, json::error_handler_t::replace) + "\n";
    for (std::size_t written = 0; written < line.size();) {
      const ssize_t n = ::write(in_, line.data() + written, line.size() - written);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return {};
      written += static_cast<std::size_t>(n);
    }
    std::string reply;
    for (char c = 0;;) {
      const ssize_t n = ::read(out_, &c, 1);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0 || c == '\n') break;
      reply.push_back(c);
    }
    return reply;
  }

  pid_t child_ = 0;
  int in_ = -1;
  int out_ = -1;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static Evaluator evaluator;
  const std::string_view input = fuzz::text(data, size);
  std::vector<json> args{json(std::string(input))};
  if (auto parsed = platform::parseOutsideJson(input, input.size())) args.push_back(std::move(*parsed));
  const std::string script = platform::pageFunctionCall("f", args);
  const std::string expected = json(args).dump(-1, ' ', false, json::error_handler_t::replace);
  const std::string verdict = evaluator.evaluate(script, expected);
  if (verdict != "ok") std::fprintf(stderr, "script: %s\nverdict: %s\n", script.c_str(), verdict.c_str());
  fuzz::check(verdict == "ok", "the literal evaluates to the value");
  return 0;
}

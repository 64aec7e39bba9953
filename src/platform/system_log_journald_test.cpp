#include <sched.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <optional>
#include <string>
#include <map>

#include <gtest/gtest.h>

#include "platform/capturing_system_log.h"
#include "platform/system_log.h"

namespace orvik::platform {
namespace {

// Fields of one journal datagram in the native protocol: "KEY=value\n", or
// "KEY\n" + 64-bit little-endian length + value + "\n" for values holding a
// newline.
std::map<std::string, std::string> parseJournalDatagram(const std::string& data) {
  std::map<std::string, std::string> fields;
  std::size_t at = 0;
  while (at < data.size()) {
    const std::size_t newline = data.find('\n', at);
    if (newline == std::string::npos) break;
    const std::string line = data.substr(at, newline - at);
    if (const std::size_t equals = line.find('='); equals != std::string::npos) {
      fields[line.substr(0, equals)] = line.substr(equals + 1);
      at = newline + 1;
    } else {
      std::uint64_t length = 0;
      std::memcpy(&length, data.data() + newline + 1, sizeof length);  // little-endian host
      fields[line] = data.substr(newline + 1 + sizeof length, length);
      at = newline + 1 + sizeof length + length + 1;
    }
  }
  return fields;
}

constexpr int kSkipExit = 77;

// Runs `send` in a child with a private mount namespace whose
// /run/systemd/journal/socket is a socket of ours, and returns the datagram
// it received. Needs root (as CI runs); skips otherwise.
std::optional<std::string> captureJournalDatagram(const std::function<void()>& send, bool& skipped) {
  int pipeFds[2];
  if (::pipe(pipeFds) != 0) return std::nullopt;
  const pid_t child = ::fork();
  if (child == 0) {
    ::close(pipeFds[0]);
    if (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
      ::_exit(kSkipExit);
    }
    ::mkdir("/run/systemd", 0755);
    if (::mount("orvik-test", "/run/systemd", "tmpfs", 0, "mode=0755") != 0) ::_exit(kSkipExit);
    ::mkdir("/run/systemd/journal", 0755);
    const int receiver = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strcpy(address.sun_path, "/run/systemd/journal/socket");
    if (::bind(receiver, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) ::_exit(kSkipExit);
    send();
    // The send is a datagram written before sd_journal_send returns.
    char buffer[65536];
    const ssize_t n = ::recv(receiver, buffer, sizeof buffer, MSG_DONTWAIT);
    if (n > 0) (void)::write(pipeFds[1], buffer, static_cast<std::size_t>(n));
    ::_exit(n > 0 ? 0 : 1);
  }
  ::close(pipeFds[1]);
  std::string received;
  char buffer[4096];
  ssize_t n;
  while ((n = ::read(pipeFds[0], buffer, sizeof buffer)) > 0) received.append(buffer, static_cast<std::size_t>(n));
  ::close(pipeFds[0]);
  int status = 0;
  ::waitpid(child, &status, 0);
  skipped = WIFEXITED(status) && WEXITSTATUS(status) == kSkipExit;
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return std::nullopt;
  return received;
}

TEST(JournaldSystemLogIntegration, SendsMessageLevelSubsystemAndCategory) {
  struct Case {
    SystemLogLevel level;
    std::string message;
    const char* priority;
  };
  const Case cases[] = {
      {SystemLogLevel::standard, "load started url=https://example.org/", "5"},
      // A "%" is text, not a conversion; a line break travels in the binary form.
      {SystemLogLevel::error, "FAIL stage=didFail desc=\"100% %s lost\"\nsecond line", "3"},
  };
  for (const Case& c : cases) {
    bool skipped = false;
    auto datagram = captureJournalDatagram(
        [&] { makeJournaldSystemLog("com.orvik.desk", "WebLoad")->write(c.level, c.message); }, skipped);
    if (skipped) GTEST_SKIP() << "needs root for a private mount namespace";
    ASSERT_TRUE(datagram) << c.message;
    auto fields = parseJournalDatagram(*datagram);
    EXPECT_EQ(fields["MESSAGE"], c.message);
    EXPECT_EQ(fields["PRIORITY"], c.priority);
    EXPECT_EQ(fields["ORVIK_SUBSYSTEM"], "com.orvik.desk");
    EXPECT_EQ(fields["ORVIK_CATEGORY"], "WebLoad");
  }
}

// Runs `send` in a child whose /run/systemd holds no journal socket, with its
// standard output and error going to a pipe. Returns what the child printed,
// or nothing when it did not end normally with status 0.
std::optional<std::string> outputWithoutAJournal(const std::function<void()>& send, bool& skipped) {
  int pipeFds[2];
  if (::pipe(pipeFds) != 0) return std::nullopt;
  const pid_t child = ::fork();
  if (child == 0) {
    ::close(pipeFds[0]);
    if (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
      ::_exit(kSkipExit);
    }
    ::mkdir("/run/systemd", 0755);
    if (::mount("orvik-test", "/run/systemd", "tmpfs", 0, "mode=0755") != 0) ::_exit(kSkipExit);
    ::dup2(pipeFds[1], STDOUT_FILENO);
    ::dup2(pipeFds[1], STDERR_FILENO);
    send();
    std::fflush(stdout);
    std::fflush(stderr);
    ::_exit(0);
  }
  ::close(pipeFds[1]);
  std::string printed;
  char buffer[4096];
  ssize_t n;
  while ((n = ::read(pipeFds[0], buffer, sizeof buffer)) > 0) printed.append(buffer, static_cast<std::size_t>(n));
  ::close(pipeFds[0]);
  int status = 0;
  ::waitpid(child, &status, 0);
  skipped = WIFEXITED(status) && WEXITSTATUS(status) == kSkipExit;
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return std::nullopt;
  return printed;
}

// No journal (a container, a minimal session): every level is dropped, the
// call returns, nothing is printed in its place and no signal ends the process.
TEST(JournaldSystemLog, WithoutARunningJournalRecordsAreDroppedQuietly) {
  bool skipped = false;
  const auto printed = outputWithoutAJournal(
      [] {
        auto log = makeJournaldSystemLog("com.orvik.desk", "WebLoad");
        for (int i = 0; i < 100; ++i) {
          log->write(SystemLogLevel::error, "nobody listens");
          log->write(SystemLogLevel::standard, "still nobody");
        }
      },
      skipped);
  if (skipped) GTEST_SKIP() << "needs root for a private mount namespace";
  ASSERT_TRUE(printed) << "the writes did not return normally";
  EXPECT_EQ(*printed, "");
}

}  // namespace
}  // namespace orvik::platform

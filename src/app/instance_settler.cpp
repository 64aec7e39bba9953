#include "app/instance_settler.h"

#include <cctype>
#include <utility>

#include "core/native_logger.h"

namespace orvik {
namespace {

bool isDigit(char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; }

std::string_view digitRun(std::string_view text, std::size_t& at) {
  const std::size_t start = at;
  while (at < text.size() && isDigit(text[at])) ++at;
  std::string_view run = text.substr(start, at - start);
  while (run.size() > 1 && run.front() == '0') run.remove_prefix(1);
  return run;
}

}  // namespace

int compareVersionsNumerically(std::string_view a, std::string_view b) {
  std::size_t i = 0;
  std::size_t j = 0;
  while (i < a.size() && j < b.size()) {
    if (isDigit(a[i]) && isDigit(b[j])) {
      const std::string_view x = digitRun(a, i);
      const std::string_view y = digitRun(b, j);
      if (x.size() != y.size()) return x.size() < y.size() ? -1 : 1;
      if (const int order = x.compare(y); order != 0) return order < 0 ? -1 : 1;
      continue;
    }
    if (a[i] != b[j]) return static_cast<unsigned char>(a[i]) < static_cast<unsigned char>(b[j]) ? -1 : 1;
    ++i;
    ++j;
  }
  if (i < a.size()) return 1;
  if (j < b.size()) return -1;
  return 0;
}

InstanceSettler::InstanceSettler(RunningInstanceChannel& channel, std::string ownVersion)
    : channel_(channel), ownVersion_(std::move(ownVersion)) {}

InstanceSettlement InstanceSettler::settle() {
  const std::optional<OtherInstance> other = channel_.findOther();
  if (!other) return InstanceSettlement::noOtherInstance;
  if (ownVersion_.empty() || other->version.empty() ||
      compareVersionsNumerically(ownVersion_, other->version) <= 0) {
    return InstanceSettlement::handBack;
  }
  nativeLog("[Launch] another instance running (v" + other->version + ", " + other->path.value_or("?") +
            ") — taking over (storeOverWebsite=false newerBuild=true)");
  channel_.askToQuit();
  bool closed = channel_.waitForExit(kGracefulQuitTimeout);
  if (!closed) {
    channel_.forceTerminate();
    closed = channel_.waitForExit(kForcedQuitTimeout);
  }
  if (!closed) {
    nativeLog("[Launch] could not close the other instance — handing back to it");
    return InstanceSettlement::handBack;
  }
  nativeLog("[Launch] old instance closed — continuing launch");
  return InstanceSettlement::tookOver;
}

}  // namespace orvik

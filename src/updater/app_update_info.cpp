#include "updater/app_update_info.h"

#include <nlohmann/json.hpp>

namespace orvik {
namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// Compares two runs of digits by value without converting them, so a build
// number longer than any integer type still orders correctly.
int compareDigitRuns(std::string_view a, std::string_view b) {
  auto stripZeros = [](std::string_view run) {
    while (run.size() > 1 && run.front() == '0') run.remove_prefix(1);
    return run;
  };
  a = stripZeros(a);
  b = stripZeros(b);
  if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
  const int order = a.compare(b);
  return order < 0 ? -1 : (order > 0 ? 1 : 0);
}

}  // namespace

std::optional<AppUpdateInfo> decodeAppUpdateInfo(std::string_view body) {
  const nlohmann::json document = nlohmann::json::parse(body, nullptr, /*allow_exceptions=*/false);
  if (document.is_discarded() || !document.is_object()) return std::nullopt;
  AppUpdateInfo info;
  const std::pair<const char*, std::string*> required[] = {{"version", &info.version},
                                                           {"buildVersion", &info.buildVersion},
                                                           {"downloadUrl", &info.downloadUrl},
                                                           {"releaseNotes", &info.releaseNotes}};
  for (const auto& [key, field] : required) {
    const auto found = document.find(key);
    if (found == document.end() || !found->is_string()) return std::nullopt;
    *field = found->get<std::string>();
  }
  if (const auto found = document.find("sha256"); found != document.end() && !found->is_null()) {
    if (!found->is_string()) return std::nullopt;
    info.sha256 = found->get<std::string>();
  }
  return info;
}

int compareBuildNumbers(std::string_view a, std::string_view b) {
  std::size_t i = 0;
  std::size_t j = 0;
  while (i < a.size() && j < b.size()) {
    if (isDigit(a[i]) && isDigit(b[j])) {
      std::size_t endA = i;
      while (endA < a.size() && isDigit(a[endA])) ++endA;
      std::size_t endB = j;
      while (endB < b.size() && isDigit(b[endB])) ++endB;
      if (const int order = compareDigitRuns(a.substr(i, endA - i), b.substr(j, endB - j)); order != 0) return order;
      i = endA;
      j = endB;
      continue;
    }
    const auto x = static_cast<unsigned char>(a[i]);
    const auto y = static_cast<unsigned char>(b[j]);
    if (x != y) return x < y ? -1 : 1;
    ++i;
    ++j;
  }
  const bool aLeft = i < a.size();
  const bool bLeft = j < b.size();
  if (aLeft == bLeft) return 0;
  return aLeft ? 1 : -1;
}

bool isNewerBuild(std::string_view remoteBuild, std::string_view runningBuild) {
  return compareBuildNumbers(remoteBuild, runningBuild) > 0;
}

}  // namespace orvik

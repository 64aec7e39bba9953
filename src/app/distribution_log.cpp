#include "app/distribution_log.h"

#include <fstream>
#include <mutex>

#include "core/native_logger.h"
#include "platform/app_info.h"

namespace orvik {
namespace {

std::mutex gSystemLogMutex;
DistributionSystemLog gSystemLog;

std::string orUnknown(const std::string& text) { return text.empty() ? "?" : text; }

}  // namespace

void setDistributionSystemLog(DistributionSystemLog log) {
  std::lock_guard lock(gSystemLogMutex);
  gSystemLog = std::move(log);
}

void logDistribution(std::string_view message) {
  NativeLogger::shared().log(message, "Distribution", NativeLogger::ForwardToWeb{true});
  DistributionSystemLog systemLog;
  {
    std::lock_guard lock(gSystemLogMutex);
    systemLog = gSystemLog;
  }
  if (systemLog) systemLog(std::string(message));
}

void logDistributionSelfCheck(const DistributionFacts& facts) {
  const std::string marker = facts.marker.value_or("missing");
  logDistribution("build=" + std::string(kCompiledDistribution) + " (Info.plist marker=" + marker +
                  ") id=" + orUnknown(facts.bundleIdentifier) + " v" + orUnknown(facts.shortVersion) + " (" +
                  orUnknown(facts.build) + ") | self-updater compiled in: true | OrvikInstaller embedded: " +
                  (facts.installerEmbedded ? "true" : "false"));
  if (marker != kCompiledDistribution) {
    NativeLogger::shared().error(
        "Info.plist marker '" + marker + "' does not match compiled build '" + kCompiledDistribution + "'",
        "Distribution");
  }
}

std::optional<std::string> readDistributionMarker(const std::filesystem::path& resourcesFolder) {
  std::ifstream in(resourcesFolder / "distribution");
  std::string line;
  if (!in || !std::getline(in, line)) return std::nullopt;
  const auto first = line.find_first_not_of(" \t\r");
  if (first == std::string::npos) return std::nullopt;
  const auto last = line.find_last_not_of(" \t\r");
  return line.substr(first, last - first + 1);
}

DistributionFacts currentDistributionFacts() {
  const auto& info = platform::AppInfo::current();
  DistributionFacts facts;
  facts.marker = readDistributionMarker(info.resourcesFolder);
  facts.bundleIdentifier = info.bundleIdentifier;
  facts.shortVersion = info.shortVersion;
  facts.build = info.build;
  std::error_code ec;
  facts.installerEmbedded =
      !info.installFolder.empty() && std::filesystem::is_regular_file(info.installFolder / "orvik-installer", ec);
  return facts;
}

}  // namespace orvik

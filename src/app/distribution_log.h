// The program's distribution flavour in the log: at launch it logs the
// flavour, version and whether the installer program is installed beside it,
// and reports an error when the packaged marker disagrees with the compiled
// flavour. The web view host logs its own distribution messages through the
// same call.
//
// The packaged marker is the first line of "distribution" in the resources
// folder, written when the program is packaged.
//
// THREAD-SAFETY: any thread.
#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace orvik {

inline constexpr const char* kCompiledDistribution = "bucket";

// Where a distribution line goes besides standard output and the native
// logger: the system log with the category "Distribution".
using DistributionSystemLog = std::function<void(const std::string& message)>;

// Prints "[Distribution] message" and hands it to the native logger (unless
// it is muted call-engine chatter), then to the system log.
void logDistribution(std::string_view message);

struct DistributionFacts {
  std::optional<std::string> marker;  // absent when the resources hold none
  std::string bundleIdentifier;
  std::string shortVersion;
  std::string build;
  bool installerEmbedded = false;
};

// The launch check.
void logDistributionSelfCheck(const DistributionFacts& facts);
// The facts of the running program.
DistributionFacts currentDistributionFacts();
// The marker file's first line, without surrounding blanks; absent when the
// file is missing or empty.
std::optional<std::string> readDistributionMarker(const std::filesystem::path& resourcesFolder);

// Replaces the system-log side (tests; the program installs the journal).
void setDistributionSystemLog(DistributionSystemLog log);

}  // namespace orvik

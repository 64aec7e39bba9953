// The update feed's record and the rule that says whether it offers a newer
// build than the running one.
//
//   auto info = decodeAppUpdateInfo(body);       // none: not a valid feed
//   if (info && isNewerBuild(info->buildVersion, runningBuild)) …
//
// THREAD-SAFETY: values and pure functions.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace orvik {

struct AppUpdateInfo {
  std::string version;       // shown to the user
  std::string buildVersion;  // compared with the running build
  std::string downloadUrl;   // the archive, handed to the downloader
  std::string releaseNotes;  // carried, shown nowhere
  std::optional<std::string> sha256;  // expected digest of the archive

  bool operator==(const AppUpdateInfo&) const = default;
};

// The feed is one JSON object: four required strings ("version",
// "buildVersion", "downloadUrl", "releaseNotes") and an optional "sha256"
// (a string, or absent, or null). Other keys are ignored. Anything else — not
// JSON, not an object, a required key missing, null or of another type, a
// "sha256" that is neither string nor null — gives none.
std::optional<AppUpdateInfo> decodeAppUpdateInfo(std::string_view body);

// Orders two build texts: runs of ASCII digits compare by their numeric value
// (of any length), every other byte by its value, case-sensitively and
// without locale; when one text runs out first it orders first. Negative,
// zero or positive like strcmp.
int compareBuildNumbers(std::string_view a, std::string_view b);

// Whether `remoteBuild` orders after `runningBuild`; equal builds are not newer.
bool isNewerBuild(std::string_view remoteBuild, std::string_view runningBuild);

}  // namespace orvik

#include "core/file_security.h"

#include <sys/xattr.h>

#include <algorithm>
#include <cstdio>
#include <memory>

#include <glib.h>

#include "platform/app_folders.h"
#include "platform/app_info.h"

namespace orvik {
namespace fs = std::filesystem;

const std::set<std::string, std::less<>>& blockedFileExtensions() {
  static const std::set<std::string, std::less<>> extensions = {
      "command", "sh",     "bash", "zsh", "csh", "ksh",      "py",       "rb",  "pl",
      "php",     "scpt",   "scptd", "applescript", "app", "action", "workflow", "term", "terminal",
      "exe",     "bat",    "cmd",  "com", "jar", "dmg",      "pkg",      "mpkg",
      // What a Linux desktop starts or installs when the file is opened.
      "desktop", "appimage", "run", "deb", "rpm", "flatpakref", "snap"};
  return extensions;
}

namespace FileSecurity {
namespace {

// Symbolic links and ".." resolved as the file system sees them; a missing
// tail is normalised lexically, which cannot leave a folder that exists.
fs::path resolved(const fs::path& path) {
  std::error_code ec;
  fs::path real = fs::weakly_canonical(path, ec);
  return ec ? fs::path() : real;
}

bool isSameOrInside(const std::string& path, const std::string& folder) {
  if (folder.empty()) return false;
  if (path == folder) return true;
  const std::string prefix = folder.ends_with('/') ? folder : folder + "/";
  return path.starts_with(prefix);
}

}  // namespace

bool isFileInsideAppFolders(std::string_view url) {
  const std::string text(url);
  gchar* host = nullptr;
  gchar* local = g_filename_from_uri(text.c_str(), &host, nullptr);
  // A file URL naming another machine is no file of this one.
  const bool onThisMachine = !host || g_ascii_strcasecmp(host, "localhost") == 0;
  const fs::path path(local && onThisMachine ? local : "");
  g_free(host);
  g_free(local);
  if (path.empty()) return false;
  const std::string real = resolved(path).string();
  if (real.empty()) return false;

  const fs::path documents = platform::documentsFolder();
  platform::ensureFolder(documents);
  for (const fs::path& folder : {platform::AppInfo::current().installFolder, documents}) {
    if (isSameOrInside(real, resolved(folder).string())) return true;
  }
  return false;
}

namespace {

// `name` without control characters: C0 (NUL included), DEL, and C1 as
// UTF-8 encodes it (0xC2 0x80-0x9F). A NUL would end the name the file system
// sees while the name we keep and report goes on.
std::string withoutControlCharacters(std::string_view name) {
  std::string kept;
  kept.reserve(name.size());
  for (std::size_t i = 0; i < name.size(); ++i) {
    const auto c = static_cast<unsigned char>(name[i]);
    if (c < 0x20 || c == 0x7F) continue;
    if (c == 0xC2 && i + 1 < name.size()) {
      const auto next = static_cast<unsigned char>(name[i + 1]);
      if (next >= 0x80 && next <= 0x9F) {
        ++i;
        continue;
      }
    }
    kept.push_back(static_cast<char>(c));
  }
  return kept;
}

}  // namespace

std::string sanitizedFileName(std::string_view original) {
  const std::string cleaned = withoutControlCharacters(original);
  std::string_view name = cleaned;
  while (name.size() > 1 && name.ends_with('/')) name.remove_suffix(1);
  const std::size_t slash = name.rfind('/');
  const std::string_view last = slash == std::string_view::npos || name == "/" ? name : name.substr(slash + 1);
  if (last.empty() || last == "." || last == ".." || last == "/") return "file";
  return std::string(last);
}

std::string quarantineValue(platform::Clock::WallTime now) {
  const auto seconds = std::chrono::floor<std::chrono::seconds>(now.time_since_epoch()).count();
  char hex[9];
  std::snprintf(hex, sizeof hex, "%08x", static_cast<std::uint32_t>(seconds));
  return std::string("0001;") + hex + ";OrvikReveraraz;";
}

void markQuarantined(const fs::path& file) {
  const std::string value = quarantineValue(platform::systemClock().now());
  (void)::setxattr(file.c_str(), quarantineAttribute, value.data(), value.size(), 0);
}

}  // namespace FileSecurity

namespace SafeURLOpener {

const std::set<std::string, std::less<>>& allowedSchemes() {
  static const std::set<std::string, std::less<>> schemes = {"https", "http", "mailto", "tel"};
  return schemes;
}

bool open(std::string_view url, platform::SystemOpener& opener) {
  const std::string text(url);
  std::unique_ptr<gchar, decltype(&g_free)> scheme(g_uri_parse_scheme(text.c_str()), &g_free);
  if (!scheme) return false;
  std::string lower(scheme.get());
  std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return g_ascii_tolower(c); });
  if (!allowedSchemes().contains(lower)) return false;
  return opener.openURL(text);
}

bool open(std::string_view url) {
  static auto* opener = platform::makeGioSystemOpener().release();
  return open(url, *opener);
}

}  // namespace SafeURLOpener

}  // namespace orvik

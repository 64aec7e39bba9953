#include "installer/install_job.h"

#include <fstream>
#include <sstream>

#include <nlohmann/json.hpp>

#include "installer/installer_paths.h"

namespace orvik::installer {
namespace {

std::optional<nlohmann::json> parseObject(const std::string& text) {
  auto json = nlohmann::json::parse(text, nullptr, /*allow_exceptions=*/false);
  if (json.is_discarded() || !json.is_object()) return std::nullopt;
  return json;
}

}  // namespace

std::optional<InstallJob> parseInstallJob(const std::string& text) {
  auto json = parseObject(text);
  if (!json || json->empty()) return std::nullopt;
  for (const auto& [key, value] : json->items()) {
    if (!value.is_string()) return std::nullopt;
  }
  InstallJob job;
  for (auto [key, field] : {std::pair{"dmgPath", &job.dmgPath}, std::pair{"installPath", &job.installPath},
                            std::pair{"mainBundleID", &job.mainBundleID}}) {
    auto found = json->find(key);
    if (found == json->end()) return std::nullopt;
    *field = found->get<std::string>();
  }
  return job;
}

std::optional<InstalledIdentity> readIdentity(const std::filesystem::path& manifestFile) {
  std::ifstream in(manifestFile, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream text;
  text << in.rdbuf();
  auto json = parseObject(text.str());
  if (!json) return std::nullopt;
  auto field = [&](const char* key) {
    auto found = json->find(key);
    return found != json->end() && found->is_string() ? found->get<std::string>() : std::string();
  };
  return InstalledIdentity{field("identifier"), field("version"), field("build"), field("distributionChannel")};
}

InstallPathCheck checkInstallPath(const std::string& installPath, const std::string& expectedIdentifier) {
  std::filesystem::path path(installPath);
  if (!path.is_absolute()) return InstallPathCheck::notAbsolute;
  if (installPath.size() > 1 && installPath.back() == '/') return InstallPathCheck::notNormalised;
  if (installPath.find("//") != std::string::npos) return InstallPathCheck::notNormalised;
  if (path.lexically_normal().string() != installPath || path == path.root_path()) {
    return InstallPathCheck::notNormalised;
  }
  std::error_code error;
  // A link could point the replacement anywhere: only a real folder counts.
  if (std::filesystem::symlink_status(path, error).type() != std::filesystem::file_type::directory) {
    return InstallPathCheck::notAFolder;
  }
  auto manifest = path / "manifest.json";
  if (std::filesystem::symlink_status(manifest, error).type() != std::filesystem::file_type::regular) {
    return InstallPathCheck::noManifest;
  }
  auto identity = readIdentity(manifest);
  if (!identity) return InstallPathCheck::noManifest;
  if (identity->identifier != expectedIdentifier) return InstallPathCheck::wrongIdentifier;
  return InstallPathCheck::ok;
}

const char* describe(InstallPathCheck check) {
  switch (check) {
    case InstallPathCheck::ok: return "ok";
    case InstallPathCheck::notAbsolute: return "not an absolute path";
    case InstallPathCheck::notNormalised: return "not a normalised path";
    case InstallPathCheck::notAFolder: return "not an existing folder";
    case InstallPathCheck::noManifest: return "no readable manifest.json";
    case InstallPathCheck::wrongIdentifier: return "another application's folder";
  }
  return "?";
}

bool isStagedArchive(const std::string& dmgPath, const std::filesystem::path& pendingFolder) {
  if (std::filesystem::path(dmgPath) != pendingFolder / kStagedArchiveName) return false;
  std::error_code error;
  return std::filesystem::symlink_status(dmgPath, error).type() == std::filesystem::file_type::regular;
}

}  // namespace orvik::installer

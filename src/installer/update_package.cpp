#include "installer/update_package.h"

#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <sstream>

#include <nlohmann/json.hpp>
#include <openssl/evp.h>

#include "installer/installer_paths.h"

namespace orvik::installer {
namespace {

constexpr std::uintmax_t kMaxManifestBytes = 8 * 1024 * 1024;

std::optional<std::string> readSmallFile(const std::filesystem::path& file, std::uintmax_t limit) {
  std::error_code error;
  if (std::filesystem::symlink_status(file, error).type() != std::filesystem::file_type::regular) return std::nullopt;
  auto size = std::filesystem::file_size(file, error);
  if (error || size > limit) return std::nullopt;
  std::ifstream in(file, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

bool stringMap(const nlohmann::json& json, const char* key, std::map<std::string, std::string>& out) {
  auto found = json.find(key);
  if (found == json.end()) return true;  // an empty list may be left out
  if (!found->is_object()) return false;
  for (const auto& [path, value] : found->items()) {
    if (!value.is_string()) return false;
    out[path] = value.get<std::string>();
  }
  return true;
}

}  // namespace

std::string bytesFromHex(const std::string& hex) {
  if (hex.size() % 2) return "";
  std::string bytes;
  for (size_t i = 0; i < hex.size(); i += 2) {
    auto digit = [](char c) -> int {
      if (c >= '0' && c <= '9') return c - '0';
      if (c >= 'a' && c <= 'f') return c - 'a' + 10;
      if (c >= 'A' && c <= 'F') return c - 'A' + 10;
      return -1;
    };
    int high = digit(hex[i]), low = digit(hex[i + 1]);
    if (high < 0 || low < 0) return "";
    bytes += static_cast<char>(high * 16 + low);
  }
  return bytes;
}

bool verifyEd25519(const std::string& publicKey, const std::string& message, const std::string& signature) {
  if (publicKey.size() != 32 || signature.size() != 64) return false;
  std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> key(
      EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr, reinterpret_cast<const unsigned char*>(publicKey.data()),
                                  publicKey.size()),
      EVP_PKEY_free);
  if (!key) return false;
  std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(), EVP_MD_CTX_free);
  if (!context || EVP_DigestVerifyInit(context.get(), nullptr, nullptr, nullptr, key.get()) != 1) return false;
  return EVP_DigestVerify(context.get(), reinterpret_cast<const unsigned char*>(signature.data()), signature.size(),
                          reinterpret_cast<const unsigned char*>(message.data()), message.size()) == 1;
}

std::string fileSha256(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) return "";
  std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(), EVP_MD_CTX_free);
  if (!context || EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) != 1) return "";
  std::string buffer(1 << 16, '\0');
  while (in) {
    in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
    if (in.gcount() > 0) EVP_DigestUpdate(context.get(), buffer.data(), static_cast<size_t>(in.gcount()));
  }
  if (in.bad()) return "";
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (EVP_DigestFinal_ex(context.get(), digest, &length) != 1) return "";
  static const char* hex = "0123456789abcdef";
  std::string text;
  for (unsigned i = 0; i < length; ++i) {
    text += hex[digest[i] >> 4];
    text += hex[digest[i] & 15];
  }
  return text;
}

PackageCheck verifyUpdatePackage(const std::filesystem::path& root, const std::string& publicKey,
                                 std::string* detail) {
  auto note = [&](const std::string& text) {
    if (detail) *detail = text;
  };
  auto manifestBytes = readSmallFile(root / kPackageManifestName, kMaxManifestBytes);
  auto signature = readSmallFile(root / kPackageSignatureName, 64);
  if (!manifestBytes || !signature || !verifyEd25519(publicKey, *manifestBytes, *signature)) {
    note("the manifest's signature does not verify");
    return PackageCheck::badSignature;
  }
  auto manifest = nlohmann::json::parse(*manifestBytes, nullptr, false);
  if (manifest.is_discarded() || !manifest.is_object()) return PackageCheck::badManifest;
  auto text = [&](const char* key) {
    auto found = manifest.find(key);
    return found != manifest.end() && found->is_string() ? found->get<std::string>() : std::string();
  };
  if (text("identifier") != kAppIdentifier || text("team") != kTeamIdentifier) {
    note("identifier " + text("identifier") + ", team " + text("team"));
    return PackageCheck::wrongIdentity;
  }
  std::map<std::string, std::string> files, links;
  if (!stringMap(manifest, "files", files) || !stringMap(manifest, "links", links)) return PackageCheck::badManifest;

  std::error_code error;
  std::set<std::string> top;
  for (const auto& entry : std::filesystem::directory_iterator(root, error)) top.insert(entry.path().filename());
  for (const auto& name : top) {
    if (name != kPackageManifestName && name != kPackageSignatureName && name != kPackageAppFolderName) {
      note(name);
      return PackageCheck::unlistedFile;
    }
  }
  auto app = root / kPackageAppFolderName;
  if (std::filesystem::symlink_status(app, error).type() != std::filesystem::file_type::directory) {
    note(kPackageAppFolderName);
    return PackageCheck::missingFile;
  }
  size_t seen = 0;
  std::filesystem::recursive_directory_iterator walk(app, error), end;
  if (error) return PackageCheck::missingFile;
  for (; walk != end; walk.increment(error)) {
    if (error) return PackageCheck::missingFile;
    auto relative = walk->path().lexically_relative(app).string();
    auto type = walk->symlink_status(error).type();
    if (type == std::filesystem::file_type::directory) continue;
    if (type == std::filesystem::file_type::regular) {
      auto listed = files.find(relative);
      if (listed == files.end()) {
        note(relative);
        return PackageCheck::unlistedFile;
      }
      if (fileSha256(walk->path()) != listed->second) {
        note(relative);
        return PackageCheck::changedFile;
      }
    } else if (type == std::filesystem::file_type::symlink) {
      auto listed = links.find(relative);
      if (listed == links.end()) {
        note(relative);
        return PackageCheck::unlistedFile;
      }
      if (std::filesystem::read_symlink(walk->path(), error).string() != listed->second) {
        note(relative);
        return PackageCheck::changedFile;
      }
    } else {
      note(relative);
      return PackageCheck::unlistedFile;
    }
    ++seen;
  }
  if (seen != files.size() + links.size()) return PackageCheck::missingFile;
  return PackageCheck::ok;
}

const char* describe(PackageCheck check) {
  switch (check) {
    case PackageCheck::ok: return "ok";
    case PackageCheck::badSignature: return "signature does not verify";
    case PackageCheck::wrongIdentity: return "wrong identifier or team";
    case PackageCheck::unlistedFile: return "a file the manifest does not list";
    case PackageCheck::missingFile: return "a listed file is missing";
    case PackageCheck::changedFile: return "a file differs from its manifest entry";
    case PackageCheck::badManifest: return "malformed manifest";
  }
  return "?";
}

}  // namespace orvik::installer

#include "installer/testing/test_package.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <fstream>
#include <memory>
#include <sstream>

#include <archive.h>
#include <archive_entry.h>
#include <glib.h>
#include <nlohmann/json.hpp>
#include <openssl/evp.h>

#include "installer/update_package.h"

namespace orvik::installer::testing {

TestKey makeTestKey() {
  EVP_PKEY* key = nullptr;
  std::unique_ptr<EVP_PKEY_CTX, decltype(&EVP_PKEY_CTX_free)> context(EVP_PKEY_CTX_new_id(EVP_PKEY_ED25519, nullptr),
                                                                      EVP_PKEY_CTX_free);
  EVP_PKEY_keygen_init(context.get());
  EVP_PKEY_keygen(context.get(), &key);
  TestKey result;
  result.privateKey.resize(32);
  result.publicKey.resize(32);
  size_t length = 32;
  EVP_PKEY_get_raw_private_key(key, reinterpret_cast<unsigned char*>(result.privateKey.data()), &length);
  length = 32;
  EVP_PKEY_get_raw_public_key(key, reinterpret_cast<unsigned char*>(result.publicKey.data()), &length);
  EVP_PKEY_free(key);
  return result;
}

std::string signEd25519(const TestKey& key, const std::string& message) {
  std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> pkey(
      EVP_PKEY_new_raw_private_key(EVP_PKEY_ED25519, nullptr,
                                   reinterpret_cast<const unsigned char*>(key.privateKey.data()), 32),
      EVP_PKEY_free);
  std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(), EVP_MD_CTX_free);
  EVP_DigestSignInit(context.get(), nullptr, nullptr, nullptr, pkey.get());
  std::string signature(64, '\0');
  size_t length = 64;
  EVP_DigestSign(context.get(), reinterpret_cast<unsigned char*>(signature.data()), &length,
                 reinterpret_cast<const unsigned char*>(message.data()), message.size());
  return signature;
}

TempFolder::TempFolder() {
  std::string pattern = (std::filesystem::temp_directory_path() / "orvik-installer-test-XXXXXX").string();
  path = g_mkdtemp(pattern.data());
}

TempFolder::~TempFolder() {
  std::error_code error;
  // Tests make folders read-only; give them back before removing.
  for (auto it = std::filesystem::recursive_directory_iterator(path, error);
       it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
    if (it->is_directory(error)) chmod(it->path().c_str(), 0755);
  }
  chmod(path.c_str(), 0755);
  std::filesystem::remove_all(path, error);
}

void writeFile(const std::filesystem::path& file, const std::string& content, unsigned mode) {
  std::filesystem::create_directories(file.parent_path());
  std::ofstream(file, std::ios::binary | std::ios::trunc) << content;
  chmod(file.c_str(), mode);
}

std::string readFile(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void makeInstallFolder(const std::filesystem::path& folder, const std::string& version, const std::string& identifier,
                       const std::string& channel) {
  writeFile(folder / "orvikdesk", "#!/bin/sh\necho " + version + "\n", 0755);
  nlohmann::json manifest = {
      {"identifier", identifier}, {"version", version}, {"build", "1"}, {"distributionChannel", channel}};
  writeFile(folder / "manifest.json", manifest.dump(2));
  writeFile(folder / "resources" / "readme.txt", "version " + version + "\n");
}

void signPackage(const std::filesystem::path& root, const TestKey& key, const PackageOptions& options) {
  auto app = root / kPackageAppFolderName;
  nlohmann::json files = nlohmann::json::object(), links = nlohmann::json::object();
  for (const auto& entry : std::filesystem::recursive_directory_iterator(app)) {
    auto relative = entry.path().lexically_relative(app).string();
    if (entry.is_symlink()) links[relative] = std::filesystem::read_symlink(entry.path()).string();
    else if (entry.is_regular_file()) files[relative] = fileSha256(entry.path());
  }
  nlohmann::json manifest = {{"identifier", options.identifier}, {"team", options.team}, {"version", "2"},
                             {"build", "2"}, {"files", files}, {"links", links}};
  auto bytes = manifest.dump(2);
  writeFile(root / kPackageManifestName, bytes);
  writeFile(root / kPackageSignatureName, signEd25519(key, bytes));
}

void writeTar(const std::filesystem::path& archivePath, const std::vector<TarEntry>& entries) {
  archive* writer = archive_write_new();
  archive_write_set_format_pax_restricted(writer);
  archive_write_open_filename(writer, archivePath.c_str());
  for (const auto& item : entries) {
    archive_entry* entry = archive_entry_new();
    archive_entry_set_pathname(entry, item.name.c_str());
    archive_entry_set_perm(entry, item.mode);
    switch (item.kind) {
      case TarEntry::file:
        archive_entry_set_filetype(entry, AE_IFREG);
        archive_entry_set_size(entry, static_cast<la_int64_t>(item.content.size()));
        break;
      case TarEntry::folder: archive_entry_set_filetype(entry, AE_IFDIR); break;
      case TarEntry::symlink:
        archive_entry_set_filetype(entry, AE_IFLNK);
        archive_entry_set_symlink(entry, item.content.c_str());
        break;
      case TarEntry::hardlink:
        archive_entry_set_filetype(entry, AE_IFREG);
        archive_entry_set_hardlink(entry, item.content.c_str());
        break;
      case TarEntry::device:
        archive_entry_set_filetype(entry, AE_IFCHR);
        archive_entry_set_rdev(entry, makedev(1, 3));
        break;
    }
    archive_write_header(writer, entry);
    if (item.kind == TarEntry::file) archive_write_data(writer, item.content.data(), item.content.size());
    archive_entry_free(entry);
  }
  archive_write_close(writer);
  archive_write_free(writer);
}

std::vector<TarEntry> entriesOf(const std::filesystem::path& root) {
  std::vector<TarEntry> entries;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
    auto name = entry.path().lexically_relative(root).string();
    struct stat info {};
    lstat(entry.path().c_str(), &info);
    unsigned mode = info.st_mode & 07777;
    if (entry.is_symlink()) {
      entries.push_back({name, TarEntry::symlink, std::filesystem::read_symlink(entry.path()).string(), 0777});
    } else if (entry.is_directory()) {
      entries.push_back({name, TarEntry::folder, "", mode});
    } else {
      entries.push_back({name, TarEntry::file, readFile(entry.path()), mode});
    }
  }
  return entries;
}

}  // namespace orvik::installer::testing

// Builds signed update packages for the installer's tests: a throwaway
// Ed25519 key, an install folder, its manifest and signature, and a tar
// archive of them, written with libarchive. TEST-ONLY keys.
#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace orvik::installer::testing {

struct TestKey {
  std::string privateKey;  // raw 32 bytes
  std::string publicKey;   // raw 32 bytes
};
TestKey makeTestKey();
std::string signEd25519(const TestKey& key, const std::string& message);

// A fresh temporary folder, removed by the destructor.
struct TempFolder {
  TempFolder();
  ~TempFolder();
  std::filesystem::path path;
};

void writeFile(const std::filesystem::path& file, const std::string& content, unsigned mode = 0644);
std::string readFile(const std::filesystem::path& file);

// An install folder of version `version`: orvikdesk (a script printing the
// version), manifest.json and resources/readme.txt.
void makeInstallFolder(const std::filesystem::path& folder, const std::string& version,
                       const std::string& identifier = "com.orvik.desk", const std::string& channel = "bucket");

struct PackageOptions {
  std::string identifier = "com.orvik.desk";
  std::string team = "OR5VK2D8QK";
};
// Writes update-manifest.json and update-manifest.sig for `root`/orvikdesk.
void signPackage(const std::filesystem::path& root, const TestKey& key, const PackageOptions& options = {});

// One tar entry: a regular file, a folder, a symbolic or hard link, or a
// character device, with its mode bits.
struct TarEntry {
  std::string name;
  enum Kind { file, folder, symlink, hardlink, device } kind = file;
  std::string content;  // the file's bytes, or the link's target
  unsigned mode = 0644;
};
void writeTar(const std::filesystem::path& archive, const std::vector<TarEntry>& entries);
// Every file, folder and link under `root`, as tar entries with its mode.
std::vector<TarEntry> entriesOf(const std::filesystem::path& root);

}  // namespace orvik::installer::testing

// The signature check of an unpacked update package. A package is a folder
// holding exactly:
//
//   update-manifest.json   {"identifier", "team", "version", "build",
//                           "files": {relative path: lower-case SHA-256 hex},
//                           "links": {relative path: link target}}
//   update-manifest.sig    the 64-byte Ed25519 signature of the manifest's bytes
//   orvikdesk/             the install folder of the new version
//
// The manifest is trusted only when the signature verifies with the public
// key compiled into the installer and it names this application's identifier
// and the maker's team; then every file and link of orvikdesk/ must be listed
// with its digest or target, and everything listed must be there.
//
// THREAD-SAFETY: blocks on file I/O; no shared state.
#pragma once

#include <filesystem>
#include <string>

namespace orvik::installer {

inline constexpr const char* kPackageManifestName = "update-manifest.json";
inline constexpr const char* kPackageSignatureName = "update-manifest.sig";
inline constexpr const char* kPackageAppFolderName = "orvikdesk";

enum class PackageCheck {
  ok,
  badSignature,     // missing, malformed, or not made by the key's owner
  wrongIdentity,    // another identifier or team
  unlistedFile,     // something on disk the manifest does not name
  missingFile,      // something the manifest names that is not there
  changedFile,      // a digest or link target that differs
  badManifest,      // signed, but not the manifest's shape
};

// `publicKey`: the raw 32 bytes of an Ed25519 public key; any other length
// never verifies.
[[nodiscard]] PackageCheck verifyUpdatePackage(const std::filesystem::path& packageRoot, const std::string& publicKey,
                                               std::string* detail = nullptr);
const char* describe(PackageCheck check);

// Ed25519 over `message`; false for a key or signature of the wrong size.
[[nodiscard]] bool verifyEd25519(const std::string& publicKey, const std::string& message,
                                 const std::string& signature);
// Lower-case hex SHA-256 of a file; empty when it cannot be read.
std::string fileSha256(const std::filesystem::path& file);
// Raw bytes from hex text; empty for malformed text.
std::string bytesFromHex(const std::string& hex);

}  // namespace orvik::installer

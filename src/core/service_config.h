// The service's endpoints, trusted hosts and key pins. Release builds use the
// fixed deployment values below. Builds made with -DORVIK_SERVICE_OVERRIDE=ON
// also read the JSON object in the file named by the environment variable
// ORVIK_SERVICE_CONFIG, whose keys replace the fixed values (the local service
// and the tests use this):
//
//   { "webAppURL": "https://127.0.0.1:40443/", "webHosts": ["127.0.0.1"],
//     "pinnedWebHost": "127.0.0.1", "webPins": ["…44 base64 characters…"],
//     "callServerURL": "http://127.0.0.1:40123",
//     "contentHostURL": "http://127.0.0.1:40124", "extraCAFile": "/abs/ca.pem" }
//
// Keys this build does not know are ignored; a key of the wrong type, a file
// that is not a JSON object or a pin that is not 44 base64 characters stops
// the program with a message naming the file and the key.
//
// Owner: the composition root, which reads it once (`forThisBuild()`) and
// hands it on. THREAD-SAFETY: a value; it never changes once read.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace orvik {

struct ServiceConfig {
  // The web application's address, loaded by the main web view.
  std::string webAppURL;
  // Hosts whose top-level pages may use the bridge (exact names).
  std::vector<std::string> webHosts;
  // The one host whose certificate chain must carry one of `webPins`.
  std::string pinnedWebHost;
  // Base64 SHA-256 digests of SubjectPublicKeyInfo (pin-sha256).
  std::vector<std::string> webPins;
  // Scheme and host (and port) of the call server, no path.
  std::string callServerURL;
  std::string updateFeedURL;
  std::vector<std::string> updateHosts;
  std::vector<std::string> updatePins;
  // Scheme and host (and port) of the content-delivery host that serves the
  // call screens' shared pictures (the subscribers' default avatar, the
  // subscriber badge), no path.
  std::string contentHostURL;
  // Absolute path of a PEM CA trusted besides the system store; empty when none.
  std::string extraCAFile;

  // The fixed deployment values.
  static ServiceConfig defaults();
  // `defaults()` with the keys present in `file` applied. On failure
  // `error` says which file and key.
  static std::optional<ServiceConfig> load(const std::filesystem::path& file, std::string& error);
  // The program's configuration: the override file's, when this build reads
  // one and ORVIK_SERVICE_CONFIG names it, else `defaults()`. A malformed
  // override file stops the program.
  static ServiceConfig forThisBuild();

  // Whether a page of `host` may use the bridge: exactly one of `webHosts`,
  // or, only in builds that read the override, a loopback name. Release
  // builds never trust loopback: any local process could serve that page.
  bool isTrustedWebHost(std::string_view host) const;
};

// The trusted-host rule behind isTrustedWebHost, with the build's choice
// spelled out.
bool isTrustedWebHost(const std::vector<std::string>& webHosts, std::string_view host, bool loopbackTrusted);

// Whether this build reads ORVIK_SERVICE_CONFIG (and trusts loopback).
constexpr bool serviceOverrideBuild() {
#ifdef ORVIK_SERVICE_OVERRIDE
  return true;
#else
  return false;
#endif
}

}  // namespace orvik

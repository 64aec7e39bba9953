// The service's endpoints. Release builds use the fixed deployment values.
// Builds made with -DORVIK_SERVICE_OVERRIDE=ON also read the JSON object in
// the file named by the environment variable ORVIK_SERVICE_CONFIG, whose keys
// replace the fixed values (the local service and the tests use this).
//
//   { "callServerURL": "http://127.0.0.1:40123" }
//
// Keys this build does not know are ignored; a key of the wrong type or a
// file that is not a JSON object stops the program with a message naming the
// file and the key.
// THREAD-SAFETY: `current()` reads the file once, on first use, from any
// thread.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace orvik {

struct ServiceConfig {
  // Scheme and host (and port) of the call server, no path.
  std::string callServerURL;

  // The fixed deployment values.
  static ServiceConfig defaults();
  // `defaults()` with the keys present in `file` applied. On failure
  // `error` says which file and key.
  static std::optional<ServiceConfig> load(const std::filesystem::path& file, std::string& error);
  // The program's configuration: the override file's, when this build reads
  // one and ORVIK_SERVICE_CONFIG names it, else `defaults()`.
  static const ServiceConfig& current();
};

}  // namespace orvik

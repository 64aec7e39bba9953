// The updater's failures and the texts the user sees for them.
// THREAD-SAFETY: values.
#pragma once

#include <string>

namespace orvik {

struct UpdateError {
  enum class Kind { installFailed, downloadFailed, mountFailed, appNotFound };
  Kind kind = Kind::downloadFailed;
  std::string detail;  // installFailed's text

  static UpdateError installFailed(std::string detail) { return {Kind::installFailed, std::move(detail)}; }
  static UpdateError downloadFailed() { return {Kind::downloadFailed, {}}; }

  std::string errorDescription() const {
    switch (kind) {
      case Kind::installFailed: return "Install failed: " + detail;
      case Kind::downloadFailed: return "DMG download failed.";
      case Kind::mountFailed: return "Could not mount the update file.";
      case Kind::appNotFound: return "App not found inside the update.";
    }
    return {};
  }
};

}  // namespace orvik

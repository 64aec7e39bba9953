#include "files/file_open_messages.h"

#include <glib.h>

#include <algorithm>
#include <cctype>
#include <utility>

#include "core/file_security.h"
#include "core/native_logger.h"
#include "files/file_access_policy.h"
#include "files/image_clipboard.h"
#include "files/orvik_file_scheme_handler.h"
#include "files/orvik_helper.h"
#include "files/video_readback.h"
#include "platform/base64.h"
#include "platform/message_routes.h"
#include "platform/page_payload.h"
#include "platform/queue_checker.h"
#include "platform/system_opener.h"

namespace orvik {
namespace fs = std::filesystem;
namespace {

using platform::payloadString;

constexpr std::string_view kOrvikFilePrefix = "orvikfile://";

std::string lowerExtension(const fs::path& file) {
  std::string extension = file.extension().string();
  if (!extension.empty()) extension.erase(0, 1);
  std::transform(extension.begin(), extension.end(), extension.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return extension;
}

std::string withoutOrvikFilePrefix(std::string path) {
  for (auto at = path.find(kOrvikFilePrefix); at != std::string::npos; at = path.find(kOrvikFilePrefix, at)) {
    path.erase(at, kOrvikFilePrefix.size());
  }
  return path;
}

std::string fileURI(const fs::path& file) {
  gchar* uri = g_filename_to_uri(file.c_str(), nullptr, nullptr);
  std::string text = uri ? uri : "";
  g_free(uri);
  return text;
}

}  // namespace

FileOpenMessages::FileOpenMessages(Collaborators collaborators) : c_(std::move(collaborators)) {}

std::optional<fs::path> FileOpenMessages::appFileAt(const std::string& path) {
  if (path.empty()) return std::nullopt;
  std::error_code error;
  const fs::path real = fs::canonical(fs::path(path), error);
  if (error || !fs::is_regular_file(real, error)) return std::nullopt;
  if (!FileSecurity::isFileInsideAppFolders(fileURI(real))) return std::nullopt;
  return real;
}

bool FileOpenMessages::isBlockedType(const fs::path& file) {
  return blockedFileExtensions().contains(lowerExtension(file));
}

bool FileOpenMessages::isArchive(const fs::path& file) {
  static const std::set<std::string, std::less<>> archives = {"zip", "7z", "rar", "tar", "gz"};
  return archives.contains(lowerExtension(file));
}

void FileOpenMessages::open(const std::string& path) {
  const auto file = appFileAt(path);
  if (!file) {
    nativeLog("[Files] not opened: no file of the program at " + path);
    return;
  }
  // Both the name the page gave and the file it leads to must be harmless.
  if (isBlockedType(path) || isBlockedType(*file)) {
    nativeLog("[Files] not opened: blocked file type " + file->filename().string());
    return;
  }
  if (!c_.opener.openURL(fileURI(*file))) nativeLog("[Files] no application opened " + file->filename().string());
}

void FileOpenMessages::openOrSaveImage(const nlohmann::json& payload) {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  const auto path = payloadString(payload, "localFilePath");
  if (!path) return;
  open(*path);
}

void FileOpenMessages::openOrSaveDocument(const nlohmann::json& payload) {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  const auto path = payloadString(payload, "localFilePath");
  const auto fileName = payloadString(payload, "fileName");
  if (!path || !fileName) return;
  if (isBlockedType(*path)) {
    // Never opened; the user may still find it where it lies.
    if (const auto file = appFileAt(*path)) {
      c_.helper.revealInFinder(*file);
    } else {
      nativeLog("[Files] not revealed: no file of the program at " + *path);
    }
    return;
  }
  if (isArchive(*path)) {
    if (!appFileAt(*path)) {
      nativeLog("[Files] not saved: no file of the program at " + *path);
      return;
    }
    c_.helper.saveWithPanel(*path, *fileName);
    return;
  }
  open(*path);
}

void FileOpenMessages::openOrSaveVideo(const nlohmann::json& payload) {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  const auto path = payloadString(payload, "localFilePath");
  const auto fileName = payloadString(payload, "fileName");
  if (!path || !fileName) return;
  std::error_code error;
  const fs::path real = fs::canonical(*path, error);
  if (error || !fs::is_regular_file(real, error) || !c_.policy.allows(real)) {
    nativeLog("[Files] not saved: no file the program may serve at " + *path);
    return;
  }
  platform::mainQueue().post([&helper = c_.helper, file = fs::path(*path), name = *fileName] {
    helper.saveWithPanel(file, name);
  });
}

void FileOpenMessages::copyImageToClipboard(const nlohmann::json& payload) {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  const auto base64 = payloadString(payload, "base64");
  if (!base64) return;
  auto bytes = platform::decodeBase64Strict(*base64);
  if (!bytes) return;
  platform::mainQueue().post(
      [&clipboard = c_.clipboard, bytes = std::move(*bytes), text = payloadString(payload, "text")] {
        if (!clipboard.writeImage(bytes, text)) nativeLog("[Files] copyImageToClipboard: the bytes are not an image");
      });
}

void FileOpenMessages::shareImageToSystem(const nlohmann::json& payload) {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  const auto base64 = payloadString(payload, "base64");
  if (!base64) return;
  auto bytes = platform::decodeBase64Strict(*base64);
  if (!bytes) return;
  std::string fileName = payloadString(payload, "fileName").value_or(std::string(kDefaultShareName));
  platform::mainQueue().post([&helper = c_.helper, bytes = std::move(*bytes), fileName = std::move(fileName),
                              text = payloadString(payload, "text")] {
    if (!helper.shareImage(bytes, fileName, text)) nativeLog("[Files] shareImageToSystem: nothing to share from");
  });
}

void FileOpenMessages::readVideoForPlayback(const nlohmann::json& payload) {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  const auto transferId = payloadString(payload, "transferId");
  const auto path = payloadString(payload, "path");
  if (!transferId || !path) return;
  const std::string local = withoutOrvikFilePrefix(*path);
  const auto file = appFileAt(local);
  if (!file) {
    nativeLog("[Files] readVideoForPlayback: no file of the program at " + local);
    VideoReadback::sendMissing(c_.page, *transferId);
    return;
  }
  VideoReadback::start(c_.page, c_.background, *file, *transferId, OrvikFileSchemeHandler::mimeType(local));
}

void FileOpenMessages::publishRoutes(platform::MessageRoutes& routes) {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  using Handler = void (FileOpenMessages::*)(const nlohmann::json&);
  const std::pair<std::string_view, Handler> messages[] = {
      {"openOrSaveImage", &FileOpenMessages::openOrSaveImage},
      {"openOrSaveDocument", &FileOpenMessages::openOrSaveDocument},
      {"openOrSaveVideo", &FileOpenMessages::openOrSaveVideo},
      {"copyImageToClipboard", &FileOpenMessages::copyImageToClipboard},
      {"shareImageToSystem", &FileOpenMessages::shareImageToSystem},
      {"readVideoForPlayback", &FileOpenMessages::readVideoForPlayback},
  };
  for (const auto& [name, handler] : messages) {
    [[maybe_unused]] const bool known =
        routes.route(name, [this, handler = handler](const nlohmann::json& body) { (this->*handler)(body); });
  }
}

}  // namespace orvik

// The page's messages that open, share, copy and read back local files:
// "openOrSaveImage", "openOrSaveDocument", "openOrSaveVideo",
// "copyImageToClipboard", "shareImageToSystem" and "readVideoForPlayback".
// None but the read-back answers the page; refusals are logged.
//
// Files named by the page are opened, read back or revealed only when they
// are regular files inside the program's folders (FileSecurity's containment
// test, after links and ".." are resolved), and a file whose type is blocked
// (scripts, programs, installers, desktop launchers) is never opened: the
// document rule shows it in the file manager instead. Archives are offered
// for saving rather than opened.
//
// THREAD-SAFETY: handlers on the main queue; the read-back reads on the
// background queue given.
#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "platform/dispatch/task_queue.h"
#include "platform/page_call.h"

namespace orvik {
namespace platform {
class MessageRoutes;
class SystemOpener;
}  // namespace platform

class FileAccessPolicy;
class ImageClipboard;
class OrvikHelper;

class FileOpenMessages {
 public:
  static constexpr std::string_view kDefaultShareName = "Orvik-card.png";

  struct Collaborators {
    std::weak_ptr<platform::PageScriptSink> page;
    OrvikHelper& helper;
    ImageClipboard& clipboard;
    platform::SystemOpener& opener;
    FileAccessPolicy& policy;
    platform::TaskQueue& background;
  };
  explicit FileOpenMessages(Collaborators collaborators);

  void openOrSaveImage(const nlohmann::json& payload);
  void openOrSaveDocument(const nlohmann::json& payload);
  void openOrSaveVideo(const nlohmann::json& payload);
  void copyImageToClipboard(const nlohmann::json& payload);
  void shareImageToSystem(const nlohmann::json& payload);
  void readVideoForPlayback(const nlohmann::json& payload);

  void publishRoutes(platform::MessageRoutes& routes);

  // The real path of `path` when it names a regular file inside the
  // program's folders; none otherwise.
  static std::optional<std::filesystem::path> appFileAt(const std::string& path);
  // Whether `file`'s extension, lower-cased, is one of the blocked types.
  static bool isBlockedType(const std::filesystem::path& file);
  // "zip", "7z", "rar", "tar", "gz", in any case.
  static bool isArchive(const std::filesystem::path& file);

 private:
  void open(const std::string& path);

  Collaborators c_;
};

}  // namespace orvik

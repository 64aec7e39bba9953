// The page's transfer messages ("docTransferStart" … "videoTransferEnd") and
// "getThumbnail": each handler takes the message's decoded payload, drives the
// transfer managers and thumbnails, and answers the page through the page-call
// helper ("window.onNativeFileSaved", "window.onThumbnailReady"), every
// argument JSON-encoded. The bridge dispatcher calls the handler named after
// the message.
//
// Payload values are read by key with a type check; a missing or mistyped
// required value drops the message without a reply. A chunk that is present
// but not strict Base64 (or missing) fails its transfer: the end then sends
// nothing rather than a file with bytes missing.
//
// THREAD-SAFETY: handlers on the main queue. Thumbnails are made on the
// background queue; replies are evaluated on the main queue.
#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "files/file_access_policy.h"
#include "files/transfer_managers.h"
#include "platform/dispatch/task_queue.h"
#include "platform/page_call.h"

namespace orvik {
namespace platform {
class MessageRoutes;
}  // namespace platform

class FileTransferMessages {
 public:
  // Makes a thumbnail of a file under a name (the transfer id); none when it
  // cannot. Called on the background queue.
  using ThumbnailMaker =
      std::function<std::optional<std::filesystem::path>(const std::filesystem::path& source, std::string_view name)>;
  struct Thumbnailers {
    ThumbnailMaker image;
    ThumbnailMaker video;
  };
  static Thumbnailers realThumbnailers();

  FileTransferMessages(std::weak_ptr<platform::PageScriptSink> page, DocTransferManager& documents,
                       ImgTransferManager& images, VideoTransferManager& videos, platform::TaskQueue& background,
                       FileAccessPolicy& policy, Thumbnailers thumbnailers = realThumbnailers());

  void docTransferStart(const nlohmann::json& payload);
  void docTransferChunk(const nlohmann::json& payload);
  void docTransferEnd(const nlohmann::json& payload);
  void imgTransferStart(const nlohmann::json& payload);
  void imgTransferChunk(const nlohmann::json& payload);
  void imgTransferEnd(const nlohmann::json& payload);
  void videoTransferStart(const nlohmann::json& payload);
  void videoTransferChunk(const nlohmann::json& payload);
  void videoTransferEnd(const nlohmann::json& payload);
  void getThumbnail(const nlohmann::json& payload);

  // The names of the messages above, as the page sends them ("eventType").
  static std::span<const std::string_view> messageNames();
  // Calls the handler for `eventType`; false when the name is not one of
  // the messages above.
  bool handle(std::string_view eventType, const nlohmann::json& payload);
  // Routes every message above to its handler; the routes call into this
  // object, which outlives them.
  void publishRoutes(platform::MessageRoutes& routes);

  // "orvikfile://" + the path, as the page loads it back.
  static std::string localUrl(const std::filesystem::path& file);

 private:
  template <typename Manager>
  void chunk(Manager& manager, const nlohmann::json& payload);
  void replyFileSaved(const std::string& transferId, const std::filesystem::path& file);
  void sendFileSavedWithThumbnail(const std::string& transferId, const std::filesystem::path& file,
                                  ThumbnailMaker maker);

  std::weak_ptr<platform::PageScriptSink> page_;
  DocTransferManager& documents_;
  ImgTransferManager& images_;
  VideoTransferManager& videos_;
  platform::TaskQueue& background_;
  FileAccessPolicy& policy_;
  Thumbnailers thumbnailers_;
};

}  // namespace orvik

// The page's viewer messages: "openImageModal", "openImageGallery",
// "openDocumentModal", "openVideoModal" and "deleteLocalFiles". They read the
// payload by key and call the viewers' entry points; none answers the page,
// except the gallery's reply button ("onNativeGalleryReply" with the message
// id).
//
// "deleteLocalFiles" asks every viewer to close when it shows a path and
// then removes the file, in the order given; it removes only regular files
// inside the documents folder (after links and ".." are resolved), so the
// page cannot have the program delete anything else of the user's, and logs
// every path it refuses.
//
// THREAD-SAFETY: handlers on the main queue.
#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include <nlohmann/json.hpp>

#include "platform/page_call.h"
#include "viewers/viewer_entry_points.h"

namespace orvik {
namespace platform {
class MessageRoutes;
}  // namespace platform

class ViewerMessages {
 public:
  using FolderProvider = std::function<std::filesystem::path()>;

  // `documents` names the folder whose files may be deleted.
  ViewerMessages(ViewerEntryPoints& viewers, std::weak_ptr<platform::PageScriptSink> page, FolderProvider documents);

  void openImageModal(const nlohmann::json& payload);
  void openImageGallery(const nlohmann::json& payload);
  void openDocumentModal(const nlohmann::json& payload);
  void openVideoModal(const nlohmann::json& payload);
  void deleteLocalFiles(const nlohmann::json& payload);

  void publishRoutes(platform::MessageRoutes& routes);

  // The gallery reply's script for `messageId`.
  static std::string galleryReplyScript(const std::string& messageId);

 private:
  bool isDeletable(const std::filesystem::path& path) const;

  ViewerEntryPoints& viewers_;
  std::weak_ptr<platform::PageScriptSink> page_;
  FolderProvider documents_;
};

}  // namespace orvik

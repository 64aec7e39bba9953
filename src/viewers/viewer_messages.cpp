#include "viewers/viewer_messages.h"

#include <utility>

#include "core/native_logger.h"
#include "files/file_access_policy.h"
#include "platform/message_routes.h"
#include "platform/page_payload.h"
#include "platform/queue_checker.h"

namespace orvik {
namespace fs = std::filesystem;
namespace {

using platform::payloadArray;
using platform::payloadFlag;
using platform::payloadInteger;
using platform::payloadString;

// A number keeps its digits ("12"), a text itself; anything else its JSON text.
std::string describe(const nlohmann::json& value) {
  if (value.is_string()) return value.get<std::string>();
  return value.dump();
}

// True only for a real boolean true.
bool strictlyTrue(const nlohmann::json& payload, std::string_view key) {
  const auto it = payload.is_object() ? payload.find(std::string(key)) : payload.end();
  return payload.is_object() && it != payload.end() && it->is_boolean() && it->get<bool>();
}

}  // namespace

ViewerMessages::ViewerMessages(ViewerEntryPoints& viewers, std::weak_ptr<platform::PageScriptSink> page,
                               FolderProvider documents)
    : viewers_(viewers), page_(std::move(page)), documents_(std::move(documents)) {}

std::string ViewerMessages::galleryReplyScript(const std::string& messageId) {
  return platform::pageFunctionCall("onNativeGalleryReply", {messageId});
}

void ViewerMessages::openImageModal(const nlohmann::json& payload) {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  const auto path = payloadString(payload, "localFilePath");
  if (!path) return;
  viewers_.showImage(*path, strictlyTrue(payload, "downloadAllowed"));
}

void ViewerMessages::openImageGallery(const nlohmann::json& payload) {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  const auto list = payloadArray(payload, "localFilePaths");
  if (!list || list->empty()) return;
  GalleryRequest request;
  for (const auto& path : *list) {
    if (!path.is_string()) return;  // a list of texts, or nothing
    request.paths.push_back(path.get<std::string>());
  }
  request.startIndex = payloadInteger(payload, "startIndex").value_or(0);
  if (const auto ids = payloadArray(payload, "messageIds")) {
    request.messageIds.emplace();
    for (const auto& id : *ids) request.messageIds->push_back(describe(id));
    request.onReply = [page = page_](const std::string& messageId) {
      platform::callPage(page, galleryReplyScript(messageId));
    };
  }
  if (const auto flags = payloadArray(payload, "downloadAllowed")) {
    request.downloadAllowed.emplace();
    for (const auto& flag : *flags) request.downloadAllowed->push_back(flag.is_boolean() && flag.get<bool>());
  }
  viewers_.showImages(std::move(request));
}

void ViewerMessages::openDocumentModal(const nlohmann::json& payload) {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  const auto path = payloadString(payload, "localFilePath");
  const auto fileName = payloadString(payload, "fileName");
  if (!path || !fileName) return;
  viewers_.showDocument(*path, *fileName);
}

void ViewerMessages::openVideoModal(const nlohmann::json& payload) {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  const auto path = payloadString(payload, "localFilePath");
  if (!path) return;
  viewers_.showVideo(*path, strictlyTrue(payload, "downloadAllowed"));
}

bool ViewerMessages::isDeletable(const fs::path& path) const {
  std::error_code error;
  // The entry itself must be a plain file (a link is not followed out), and
  // its folder must be the documents folder or below it.
  if (!path.is_absolute() || !fs::is_regular_file(fs::symlink_status(path, error))) return false;
  const fs::path folder = fs::canonical(path.parent_path(), error);
  if (error) return false;
  const fs::path documents = fs::weakly_canonical(documents_(), error);
  return !error && isPathInside(folder, documents);
}

void ViewerMessages::deleteLocalFiles(const nlohmann::json& payload) {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  const auto list = payloadArray(payload, "filePaths");
  if (!list) return;
  for (const auto& path : *list) {
    if (!path.is_string()) return;
  }
  for (const auto& entry : *list) {
    const std::string path = entry.get<std::string>();
    viewers_.closeImageViewerIfShowing(path);
    viewers_.closeImagePiPIfShowing(path);
    viewers_.closeVideoPlayerIfShowing(path);
    viewers_.closeDocumentViewerIfShowing(path);
    if (!isDeletable(path)) {
      nativeLog("[Files] deleteLocalFiles: not deleted, no file of the documents folder: " + path);
      continue;
    }
    std::error_code error;
    fs::remove(path, error);
  }
}

void ViewerMessages::publishRoutes(platform::MessageRoutes& routes) {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  using Handler = void (ViewerMessages::*)(const nlohmann::json&);
  const std::pair<std::string_view, Handler> messages[] = {
      {"openImageModal", &ViewerMessages::openImageModal},
      {"openImageGallery", &ViewerMessages::openImageGallery},
      {"openDocumentModal", &ViewerMessages::openDocumentModal},
      {"openVideoModal", &ViewerMessages::openVideoModal},
      {"deleteLocalFiles", &ViewerMessages::deleteLocalFiles},
  };
  for (const auto& [name, handler] : messages) {
    [[maybe_unused]] const bool known =
        routes.route(name, [this, handler = handler](const nlohmann::json& body) { (this->*handler)(body); });
  }
}

}  // namespace orvik

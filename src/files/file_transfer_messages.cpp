#include "files/file_transfer_messages.h"

#include <array>

#include "files/thumbnails.h"
#include "platform/base64.h"
#include "platform/local_schemes.h"
#include "platform/message_routes.h"
#include "platform/page_payload.h"
#include "platform/queue_checker.h"

namespace orvik {
namespace fs = std::filesystem;
namespace {

const std::string kLocalUrlPrefix = std::string(platform::kOrvikFileScheme) + "://";

using platform::payloadInteger;
using platform::payloadString;

std::string withoutLocalUrlPrefix(std::string text) {
  for (std::size_t at = text.find(kLocalUrlPrefix); at != std::string::npos; at = text.find(kLocalUrlPrefix, at)) {
    text.erase(at, kLocalUrlPrefix.size());
  }
  return text;
}

std::string thumbnailReadyScript(const std::string& transferId, const fs::path& thumbnail) {
  const nlohmann::json ready = {{"transferId", transferId}, {"thumbUrl", FileTransferMessages::localUrl(thumbnail)}};
  return platform::pageFunctionCall("onThumbnailReady", {ready});
}

}  // namespace

FileTransferMessages::Thumbnailers FileTransferMessages::realThumbnailers() {
  return {makeImageThumbnail, makeVideoThumbnail};
}

FileTransferMessages::FileTransferMessages(std::weak_ptr<platform::PageScriptSink> page,
                                           DocTransferManager& documents, ImgTransferManager& images,
                                           VideoTransferManager& videos, platform::TaskQueue& background,
                                           FileAccessPolicy& policy, Thumbnailers thumbnailers)
    : page_(std::move(page)),
      documents_(documents),
      images_(images),
      videos_(videos),
      background_(background),
      policy_(policy),
      thumbnailers_(std::move(thumbnailers)) {}

std::string FileTransferMessages::localUrl(const fs::path& file) { return std::string(kLocalUrlPrefix) + file.string(); }

namespace {

using MessageHandler = void (FileTransferMessages::*)(const nlohmann::json&);
struct FileMessage {
  std::string_view name;
  MessageHandler handler;
};
// The files subsystem's page messages: the one table of their names.
constexpr std::array<FileMessage, 10> kFileMessages = {{
    {"docTransferStart", &FileTransferMessages::docTransferStart},
    {"docTransferChunk", &FileTransferMessages::docTransferChunk},
    {"docTransferEnd", &FileTransferMessages::docTransferEnd},
    {"imgTransferStart", &FileTransferMessages::imgTransferStart},
    {"imgTransferChunk", &FileTransferMessages::imgTransferChunk},
    {"imgTransferEnd", &FileTransferMessages::imgTransferEnd},
    {"videoTransferStart", &FileTransferMessages::videoTransferStart},
    {"videoTransferChunk", &FileTransferMessages::videoTransferChunk},
    {"videoTransferEnd", &FileTransferMessages::videoTransferEnd},
    {"getThumbnail", &FileTransferMessages::getThumbnail},
}};

constexpr std::array<std::string_view, kFileMessages.size()> kFileMessageNames = [] {
  std::array<std::string_view, kFileMessages.size()> names{};
  for (std::size_t i = 0; i < kFileMessages.size(); ++i) names[i] = kFileMessages[i].name;
  return names;
}();

}  // namespace

std::span<const std::string_view> FileTransferMessages::messageNames() { return kFileMessageNames; }

bool FileTransferMessages::handle(std::string_view eventType, const nlohmann::json& payload) {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  for (const auto& [name, handler] : kFileMessages) {
    if (name == eventType) {
      (this->*handler)(payload);
      return true;
    }
  }
  return false;
}

void FileTransferMessages::publishRoutes(platform::MessageRoutes& routes) {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  for (const auto& [name, handler] : kFileMessages) {
    [[maybe_unused]] const bool known =
        routes.route(name, [this, handler = handler](const nlohmann::json& body) { (this->*handler)(body); });
  }
}

void FileTransferMessages::docTransferStart(const nlohmann::json& payload) {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  const auto transferId = payloadString(payload, "transferId");
  const auto fileName = payloadString(payload, "fileName");
  if (!transferId || !fileName || !payloadString(payload, "mimeType") || !payloadInteger(payload, "totalSize")) return;
  (void)documents_.start(*transferId, *fileName);
}

void FileTransferMessages::imgTransferStart(const nlohmann::json& payload) {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  const auto transferId = payloadString(payload, "transferId");
  if (!transferId || !payloadInteger(payload, "totalSize")) return;
  (void)images_.start(*transferId, payloadString(payload, "fileName"));
}

void FileTransferMessages::videoTransferStart(const nlohmann::json& payload) {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  const auto transferId = payloadString(payload, "transferId");
  const auto totalSize = payloadInteger(payload, "totalSize");
  if (!transferId || !totalSize) return;
  (void)videos_.start(*transferId, payloadString(payload, "mimeType").value_or("video/mp4"), *totalSize);
}

template <typename Manager>
void FileTransferMessages::chunk(Manager& manager, const nlohmann::json& payload) {
  const auto transferId = payloadString(payload, "transferId");
  if (!transferId) return;
  const auto text = payloadString(payload, "chunk");
  const std::optional<std::string> bytes = text ? platform::decodeBase64Strict(*text) : std::nullopt;
  // Dropping the chunk alone would leave a file with a hole that the end
  // then reports as saved.
  if (!bytes) {
    manager.fail(*transferId);
    return;
  }
  (void)manager.append(*transferId, *bytes);
}

void FileTransferMessages::docTransferChunk(const nlohmann::json& payload) {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  chunk(documents_, payload);
}
void FileTransferMessages::imgTransferChunk(const nlohmann::json& payload) {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  chunk(images_, payload);
}
void FileTransferMessages::videoTransferChunk(const nlohmann::json& payload) { chunk(videos_, payload); }

void FileTransferMessages::docTransferEnd(const nlohmann::json& payload) {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  const auto transferId = payloadString(payload, "transferId");
  if (!transferId) return;
  const TransferFinish done = documents_.finish(*transferId);
  if (done.status != TransferStatus::ok) return;
  replyFileSaved(*transferId, done.file);
}

void FileTransferMessages::imgTransferEnd(const nlohmann::json& payload) {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  const auto transferId = payloadString(payload, "transferId");
  if (!transferId) return;
  const TransferFinish done = images_.finish(*transferId);
  if (done.status != TransferStatus::ok) return;
  sendFileSavedWithThumbnail(*transferId, done.file, thumbnailers_.image);
}

void FileTransferMessages::videoTransferEnd(const nlohmann::json& payload) {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  const auto transferId = payloadString(payload, "transferId");
  if (!transferId) return;
  const TransferFinish done = videos_.finish(*transferId);
  if (done.status != TransferStatus::ok) return;
  sendFileSavedWithThumbnail(*transferId, done.file, thumbnailers_.video);
}

void FileTransferMessages::replyFileSaved(const std::string& transferId, const fs::path& file) {
  const nlohmann::json saved = {{"transferId", transferId}, {"path", file.string()}, {"localUrl", localUrl(file)}};
  platform::callPage(page_, platform::pageFunctionCall("onNativeFileSaved", {saved}));
}

void FileTransferMessages::sendFileSavedWithThumbnail(const std::string& transferId, const fs::path& file,
                                                      ThumbnailMaker maker) {
  background_.post([page = page_, transferId, file, maker = std::move(maker)] {
    const std::optional<fs::path> thumbnail = maker ? maker(file, transferId) : std::nullopt;
    const nlohmann::json saved = {{"transferId", transferId},
                                  {"path", file.string()},
                                  {"localUrl", localUrl(file)},
                                  {"thumbUrl", thumbnail ? localUrl(*thumbnail) : std::string()}};
    platform::callPage(page, platform::pageFunctionCall("onNativeFileSaved", {saved}));
  });
}

void FileTransferMessages::getThumbnail(const nlohmann::json& payload) {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  const auto transferId = payloadString(payload, "transferId");
  const auto url = payloadString(payload, "localUrl");
  if (!transferId || !url) return;
  const std::optional<fs::path> existing = thumbnailPath(*transferId);
  if (!existing) return;
  std::error_code ec;
  if (fs::exists(*existing, ec)) {
    platform::callPage(page_, thumbnailReadyScript(*transferId, *existing));
    return;
  }
  const fs::path source = withoutLocalUrlPrefix(*url);
  // The same places as orvikfile:// serves, or the thumbnail would hand the
  // page a picture of any file in the home folder.
  const fs::path real = fs::canonical(source, ec);
  if (ec || !fs::is_regular_file(real, ec) || !policy_.allows(real)) return;
  ThumbnailMaker maker = isVideoPath(source.string()) ? thumbnailers_.video : thumbnailers_.image;
  background_.post([page = page_, transferId = *transferId, source, maker = std::move(maker)] {
    const std::optional<fs::path> thumbnail = maker ? maker(source, transferId) : std::nullopt;
    if (thumbnail) platform::callPage(page, thumbnailReadyScript(transferId, *thumbnail));
  });
}

}  // namespace orvik

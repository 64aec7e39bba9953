#include "files/file_save_messages.h"

#include <stdlib.h>

#include <cmath>
#include <limits>

#include "core/file_security.h"
#include "platform/base64.h"
#include "platform/dispatch/task_queue.h"
#include "platform/file_io.h"
#include "platform/message_routes.h"
#include "platform/page_payload.h"
#include "platform/queue_checker.h"

namespace orvik {
namespace fs = std::filesystem;
namespace {

using platform::payloadNumber;
using platform::payloadString;

// Removes its staging folder when the last save holding it is over.
class StagingFolder {
 public:
  explicit StagingFolder(fs::path made) : folder(std::move(made)) {}
  StagingFolder(const StagingFolder&) = delete;
  StagingFolder& operator=(const StagingFolder&) = delete;
  ~StagingFolder() {
    std::error_code error;
    fs::remove_all(folder, error);
  }
  const fs::path folder;
};

std::int64_t batchCountOf(const nlohmann::json& payload) {
  const auto count = payloadNumber(payload, "batchCount");
  if (!count || !std::isfinite(*count)) return 1;
  // Read as an integer; anything beyond these bounds means "many" or "none".
  if (*count >= 1e9) return 1'000'000'000;
  if (*count <= -1e9) return 0;
  return static_cast<std::int64_t>(*count);
}

}  // namespace

FileSaveMessages::FileSaveMessages(OrvikHelper& helper, FileAccessPolicy& policy, fs::path stagingRoot)
    : helper_(helper), policy_(policy), stagingRoot_(std::move(stagingRoot)) {}

std::optional<FileSaveMessages::Source> FileSaveMessages::stage(std::string_view bytes,
                                                                std::string_view fileName) const {
  std::string pattern = (stagingRoot_ / "orvik-save-XXXXXX").string();
  if (!::mkdtemp(pattern.data())) return std::nullopt;
  auto staging = std::make_shared<StagingFolder>(fs::path(pattern));
  const std::string name = FileSecurity::sanitizedFileName(fileName);
  const fs::path file = staging->folder / name;
  if (!platform::writeFileAtomically(file, bytes)) return std::nullopt;  // the folder goes with `staging`
  return Source{file, name, staging};
}

std::optional<FileSaveMessages::Source> FileSaveMessages::sourceOf(const nlohmann::json& payload) const {
  if (const auto localPath = payloadString(payload, "localFilePath")) {
    // A path that names no file ends the message, even with bytes beside it.
    std::error_code error;
    const fs::path real = fs::canonical(*localPath, error);
    if (error || !fs::is_regular_file(real, error) || !policy_.allows(real)) return std::nullopt;
    const auto fileName = payloadString(payload, "fileName");
    return Source{fs::path(*localPath), fileName ? *fileName : fs::path(*localPath).filename().string(), nullptr};
  }
  const auto base64 = payloadString(payload, "base64");
  const auto fileName = payloadString(payload, "fileName");
  if (!base64 || !fileName || !payloadString(payload, "mimeType")) return std::nullopt;
  const auto bytes = platform::decodeBase64Strict(*base64);
  if (!bytes) return std::nullopt;
  return stage(*bytes, *fileName);
}

void FileSaveMessages::saveImageToSystem(const nlohmann::json& payload) {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  auto source = sourceOf(payload);
  if (!source) return;
  const auto batchId = payloadString(payload, "batchId");
  const std::int64_t count = batchCountOf(payload);
  platform::mainQueue().post([&helper = helper_, source = std::move(*source), batchId, count]() mutable {
    if (batchId) {
      helper.addToSaveBatch(source.file, source.suggestedName, *batchId, count, std::move(source.hold));
    } else {
      helper.saveWithPanel(source.file, source.suggestedName, nullptr, std::move(source.hold));
    }
  });
}

void FileSaveMessages::saveVideoToSystem(const nlohmann::json& payload) {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  auto source = sourceOf(payload);
  if (!source) return;
  platform::mainQueue().post([&helper = helper_, source = std::move(*source)]() mutable {
    helper.saveWithPanel(source.file, source.suggestedName, nullptr, std::move(source.hold));
  });
}

void FileSaveMessages::saveDocumentToSystem(const nlohmann::json& payload) { saveVideoToSystem(payload); }

void FileSaveMessages::publishRoutes(platform::MessageRoutes& routes) {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  using Handler = void (FileSaveMessages::*)(const nlohmann::json&);
  const std::pair<std::string_view, Handler> messages[] = {
      {"saveImageToSystem", &FileSaveMessages::saveImageToSystem},
      {"saveVideoToSystem", &FileSaveMessages::saveVideoToSystem},
      {"saveDocumentToSystem", &FileSaveMessages::saveDocumentToSystem},
  };
  for (const auto& [name, handler] : messages) {
    [[maybe_unused]] const bool known =
        routes.route(name, [this, handler = handler](const nlohmann::json& body) { (this->*handler)(body); });
  }
}

}  // namespace orvik

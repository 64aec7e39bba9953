// The page's save messages ("saveImageToSystem", "saveVideoToSystem",
// "saveDocumentToSystem"): each names a local file (`localFilePath`, optional
// `fileName`) or carries the file itself (`base64`, `mimeType`, `fileName`),
// and hands it to the file helper's save chooser; images sent with a
// `batchId` join that batch (`batchCount`, default 1). None is answered.
//
// A local file must be a regular file the program may serve (the same policy
// as orvikfile://), so the page cannot have the user save arbitrary files of
// theirs. Bytes sent by the page are staged in a private temporary folder of
// their own under the cleaned file name; the folder is removed once the save
// is over, whether it was saved, cancelled or dropped.
//
// THREAD-SAFETY: handlers on the main queue.
#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "files/file_access_policy.h"
#include "files/orvik_helper.h"

namespace orvik {
namespace platform {
class MessageRoutes;
}  // namespace platform

class FileSaveMessages {
 public:
  // Staging folders are made inside `stagingRoot` (the system's temporary
  // folder in the program).
  FileSaveMessages(OrvikHelper& helper, FileAccessPolicy& policy,
                   std::filesystem::path stagingRoot = std::filesystem::temp_directory_path());

  void saveImageToSystem(const nlohmann::json& payload);
  void saveVideoToSystem(const nlohmann::json& payload);
  void saveDocumentToSystem(const nlohmann::json& payload);

  void publishRoutes(platform::MessageRoutes& routes);

 private:
  struct Source {
    std::filesystem::path file;
    std::string suggestedName;
    OrvikHelper::Hold hold;
  };
  std::optional<Source> sourceOf(const nlohmann::json& payload) const;
  std::optional<Source> stage(std::string_view bytes, std::string_view fileName) const;

  OrvikHelper& helper_;
  FileAccessPolicy& policy_;
  std::filesystem::path stagingRoot_;
};

}  // namespace orvik

// File names and ids the page gives with a transfer: the cleaned name is one
// usable path component without control characters, and a document stored
// under it lands in the documents folder under exactly the name reported.
//
// The first two bytes give the lengths of the id and the name that follow;
// the rest is the document's content.
#include <cctype>
#include <cstdint>
#include <filesystem>

#include "core/file_security.h"
#include "files/documents_folder.h"
#include "files/transfer_managers.h"
#include "fuzz_support.h"

using namespace orvik;
namespace fs = std::filesystem;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::privateHome();
  if (size < 2) return 0;
  std::string_view input = fuzz::text(data + 2, size - 2);
  auto take = [&input](std::size_t count) {
    const std::string_view part = input.substr(0, count);
    input.remove_prefix(part.size());
    return part;
  };
  const std::string_view id = take(data[0]);
  const std::string_view name = take(data[1]);
  const std::string_view bytes = input;

  for (const std::string_view given : {name, id, bytes}) {
    const std::string cleaned = FileSecurity::sanitizedFileName(given);
    fuzz::check(!cleaned.empty() && cleaned != "." && cleaned != "..", "a usable name");
    fuzz::check(cleaned.find('/') == std::string::npos, "one path component");
    for (const char c : cleaned) {
      fuzz::check(static_cast<unsigned char>(c) >= 0x20 && c != 0x7F, "no control character");
    }
    (void)numberedCopyName(cleaned, 2);
  }
  const bool validId = isValidTransferId(id);
  for (const char c : id) {
    if (validId) fuzz::check(std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '-', "id characters");
  }

  const fs::path folder = documentsDirectory();
  DocTransferManager documents(documentsDirectory);
  if (documents.start(id, name) == TransferStatus::ok) {
    (void)documents.append(id, bytes);
    const TransferFinish finish = documents.finish(id);
    if (finish.status == TransferStatus::ok) {
      fuzz::check(finish.file.parent_path() == folder, "stored in the documents folder");
      fuzz::check(fs::is_regular_file(finish.file), "stored under the name reported");
      fuzz::check(fs::file_size(finish.file) == bytes.size(), "every byte stored");
    }
  }
  std::error_code ec;
  fs::remove_all(folder, ec);
  return 0;
}

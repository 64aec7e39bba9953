#include "files/transfer_managers.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "core/file_security.h"
#include "files/documents_folder.h"
#include "platform/file_io.h"
#include "platform/queue_checker.h"

namespace orvik {
namespace fs = std::filesystem;
namespace {

// Far more copies of one name than anyone keeps; beyond it the start fails
// rather than searching for ever.
constexpr int kMaxCopyNumber = 10000;

int openNew(const fs::path& file) {
  int fd;
  do {
    fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

}  // namespace

const char* describe(TransferStatus status) {
  switch (status) {
    case TransferStatus::ok: return "ok";
    case TransferStatus::invalidTransferId: return "invalid transfer id";
    case TransferStatus::unknownTransfer: return "unknown transfer";
    case TransferStatus::cannotCreateFile: return "cannot create file";
    case TransferStatus::writeFailed: return "write failed";
    case TransferStatus::closeFailed: return "close failed";
  }
  return "unknown";
}

ChunkedFileWriter::ChunkedFileWriter(FolderProvider folder) : folder_(std::move(folder)) {}

ChunkedFileWriter::~ChunkedFileWriter() {
  for (auto& [id, transfer] : transfers_) {
    if (transfer.fd >= 0) ::close(transfer.fd);
  }
}

TransferStatus ChunkedFileWriter::start(std::string_view transferId, const std::string& fileName) {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  if (!isAcceptableTransferId(transferId)) return TransferStatus::invalidTransferId;
  const fs::path folder = folder_();

  // A start for an open id starts that transfer over: its handle is closed
  // and, when the name is the same, its own file is emptied and reused.
  if (auto open = transfers_.find(transferId); open != transfers_.end()) {
    Transfer previous = std::move(open->second);
    transfers_.erase(open);
    if (previous.fd >= 0) ::close(previous.fd);
    if (previous.requestedName == fileName) {
      const int fd = ::open(previous.file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600);
      if (fd < 0) return TransferStatus::cannotCreateFile;
      transfers_.emplace(std::string(transferId), Transfer{previous.file, fileName, fd, false});
      return TransferStatus::ok;
    }
  }

  for (int k = 1; k <= kMaxCopyNumber; ++k) {
    const fs::path candidate = folder / (k == 1 ? fileName : numberedCopyName(fileName, k));
    const int fd = openNew(candidate);
    if (fd >= 0) {
      transfers_.emplace(std::string(transferId), Transfer{candidate, fileName, fd, false});
      return TransferStatus::ok;
    }
    if (errno != EEXIST) return TransferStatus::cannotCreateFile;
  }
  return TransferStatus::cannotCreateFile;
}

TransferStatus ChunkedFileWriter::append(std::string_view transferId, std::string_view bytes) {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  auto open = transfers_.find(transferId);
  if (open == transfers_.end()) return TransferStatus::unknownTransfer;
  Transfer& transfer = open->second;
  if (transfer.failed) return TransferStatus::writeFailed;
  if (!platform::writeAll(transfer.fd, bytes)) {
    transfer.failed = true;
    return TransferStatus::writeFailed;
  }
  return TransferStatus::ok;
}

void ChunkedFileWriter::fail(std::string_view transferId) {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  if (auto open = transfers_.find(transferId); open != transfers_.end()) open->second.failed = true;
}

TransferFinish ChunkedFileWriter::finish(std::string_view transferId) {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  auto open = transfers_.find(transferId);
  if (open == transfers_.end()) return {TransferStatus::unknownTransfer, {}};
  Transfer transfer = std::move(open->second);
  transfers_.erase(open);

  const bool closed = ::close(transfer.fd) == 0;
  if (transfer.failed || !closed) {
    // Never hand the page a file with bytes missing.
    std::error_code ec;
    fs::remove(transfer.file, ec);
    return {transfer.failed ? TransferStatus::writeFailed : TransferStatus::closeFailed, {}};
  }
  return {TransferStatus::ok, transfer.file};
}

bool ChunkedFileWriter::isOpen(std::string_view transferId) const { return transfers_.contains(transferId); }

DocTransferManager::DocTransferManager(ChunkedFileWriter::FolderProvider folder) : writer_(std::move(folder)) {}

TransferStatus DocTransferManager::start(std::string_view transferId, std::string_view fileName) {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  return writer_.start(transferId, FileSecurity::sanitizedFileName(fileName));
}

TransferFinish DocTransferManager::finish(std::string_view transferId) {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  TransferFinish result = writer_.finish(transferId);
  if (result.status == TransferStatus::ok) FileSecurity::markQuarantined(result.file);
  return result;
}

ImgTransferManager::ImgTransferManager(ChunkedFileWriter::FolderProvider folder) : writer_(std::move(folder)) {}

TransferStatus ImgTransferManager::start(std::string_view transferId, const std::optional<std::string>& fileName) {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  if (fileName) return writer_.start(transferId, FileSecurity::sanitizedFileName(*fileName));
  if (!isValidTransferId(transferId)) return TransferStatus::invalidTransferId;
  return writer_.start(transferId, std::string(transferId) + ".jpg");
}

VideoTransferManager::VideoTransferManager(ChunkedFileWriter::FolderProvider folder) : writer_(std::move(folder)) {}

std::string VideoTransferManager::fileExtension(std::string_view mimeType) {
  std::string lower(mimeType);
  for (char& c : lower) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  if (lower == "video/quicktime") return "mov";
  if (lower == "video/x-msvideo") return "avi";
  if (lower == "video/webm") return "webm";
  if (lower == "video/x-matroska") return "mkv";
  return "mp4";
}

TransferStatus VideoTransferManager::start(std::string_view transferId, std::string_view mimeType,
                                           std::int64_t /*totalSize*/) {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  if (!isValidTransferId(transferId)) return TransferStatus::invalidTransferId;
  return writer_.start(transferId, std::string(transferId) + "." + fileExtension(mimeType));
}

}  // namespace orvik

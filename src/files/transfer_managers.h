// The three chunked file writers the page's transfers and uploads go
// through: start opens a file in the documents folder under the transfer id,
// append writes one chunk at its end, finish closes it and hands back its
// path. DocTransferManager, ImgTransferManager and VideoTransferManager
// differ only in how the file is named and whether it is marked quarantined.
//
// Names never leave the documents folder: an id that becomes part of the
// file's name (videos, images sent without a name) must pass
// isValidTransferId, any other only isAcceptableTransferId, and names are
// reduced to their last component by FileSecurity. A name that is
// taken (by an earlier file, or by another open transfer) gets the next free
// "name 2.ext", so a later transfer never destroys a file the chat already
// links to; a second start with the id of an open transfer starts that
// transfer over in its own file.
//
// A transfer whose write failed, or whose chunk could not be decoded, is
// failed: later chunks are dropped and finish removes the partial file and
// reports the failure instead of a file.
//
// THREAD-SAFETY: main queue only; no locks.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace orvik {

enum class [[nodiscard]] TransferStatus {
  ok,
  invalidTransferId,  // the id breaks the rule for its use; nothing was opened
  unknownTransfer,    // no open transfer has that id
  cannotCreateFile,   // the file could not be created in the documents folder
  writeFailed,        // a chunk could not be written (or decoded): the transfer is failed
  closeFailed,        // the file could not be closed cleanly: the transfer is failed
};

const char* describe(TransferStatus status);

struct TransferFinish {
  TransferStatus status = TransferStatus::unknownTransfer;
  std::filesystem::path file;  // set when status is ok
};

// The writer behind the three managers.
class ChunkedFileWriter {
 public:
  using FolderProvider = std::function<std::filesystem::path()>;
  // `folder` gives the documents folder (created when missing); tests pass
  // their own.
  explicit ChunkedFileWriter(FolderProvider folder);
  ~ChunkedFileWriter();
  ChunkedFileWriter(const ChunkedFileWriter&) = delete;
  ChunkedFileWriter& operator=(const ChunkedFileWriter&) = delete;

  // Opens `fileName` (already reduced to one path component) for `transferId`.
  TransferStatus start(std::string_view transferId, const std::string& fileName);
  TransferStatus append(std::string_view transferId, std::string_view bytes);
  // Marks the open transfer failed (a chunk that could not be decoded).
  void fail(std::string_view transferId);
  TransferFinish finish(std::string_view transferId);

  bool isOpen(std::string_view transferId) const;
  std::size_t openCount() const { return transfers_.size(); }

 private:
  struct Transfer {
    std::filesystem::path file;
    std::string requestedName;  // the name asked for; `file` may be a numbered copy of it
    int fd = -1;
    bool failed = false;
  };

  FolderProvider folder_;
  std::map<std::string, Transfer, std::less<>> transfers_;
};

class DocTransferManager {
 public:
  explicit DocTransferManager(ChunkedFileWriter::FolderProvider folder);

  // The name is reduced by FileSecurity::sanitizedFileName.
  TransferStatus start(std::string_view transferId, std::string_view fileName);
  TransferStatus append(std::string_view transferId, std::string_view bytes) { return writer_.append(transferId, bytes); }
  void fail(std::string_view transferId) { writer_.fail(transferId); }
  // Also marks the finished file quarantined.
  TransferFinish finish(std::string_view transferId);
  bool isOpen(std::string_view transferId) const { return writer_.isOpen(transferId); }

 private:
  ChunkedFileWriter writer_;
};

class ImgTransferManager {
 public:
  explicit ImgTransferManager(ChunkedFileWriter::FolderProvider folder);

  // Without a name the file is the transfer id followed by ".jpg".
  TransferStatus start(std::string_view transferId, const std::optional<std::string>& fileName);
  TransferStatus append(std::string_view transferId, std::string_view bytes) { return writer_.append(transferId, bytes); }
  void fail(std::string_view transferId) { writer_.fail(transferId); }
  TransferFinish finish(std::string_view transferId) { return writer_.finish(transferId); }
  bool isOpen(std::string_view transferId) const { return writer_.isOpen(transferId); }

 private:
  ChunkedFileWriter writer_;
};

class VideoTransferManager {
 public:
  explicit VideoTransferManager(ChunkedFileWriter::FolderProvider folder);

  // "mp4" for anything the table does not know; compared in lower case.
  static std::string fileExtension(std::string_view mimeType);

  // The file is the transfer id, a dot and the extension for `mimeType`.
  // `totalSize` is the page's announcement and is not checked.
  TransferStatus start(std::string_view transferId, std::string_view mimeType, std::int64_t totalSize);
  TransferStatus append(std::string_view transferId, std::string_view bytes) { return writer_.append(transferId, bytes); }
  void fail(std::string_view transferId) { writer_.fail(transferId); }
  TransferFinish finish(std::string_view transferId) { return writer_.finish(transferId); }
  bool isOpen(std::string_view transferId) const { return writer_.isOpen(transferId); }

 private:
  ChunkedFileWriter writer_;
};

}  // namespace orvik

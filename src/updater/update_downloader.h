// Fetches the archive a newer build is in, proves it is the one the feed
// announced, and keeps it for the installer hand-off. One download or
// installation at a time: a start while either is under way is ignored.
//
// The body is streamed into a private temporary folder as it arrives; a file
// is accepted only when the server answered 200, it holds at least 512,000
// bytes and its SHA-256 equals the expected digest, in that order (an empty
// expected digest never matches). A file that fails after it was written is
// deleted. The trust refusals of the update connection and a digest mismatch
// show a critical alert; every failure ends as an UpdateError text.
//
//   auto subscription = downloader.changed.add([&] { card.render(downloader.state()); });
//   downloader.downloadAndInstall(info.downloadUrl, info.sha256.value_or(""));
//
// Owner: the composition root. THREAD-SAFETY: main queue only; the transfer
// and the hashing run on the downloader's own queue
// ("com.orvik.updateDownloader") and hop back with their results.
#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/observer_list.h"
#include "updater/update_error.h"
#include "updater/update_http_client.h"
#include "updater/update_service.h"

namespace orvik {

class UpdateAlerts;
namespace platform {
class SerialQueue;
class TaskQueue;
}  // namespace platform

// The smallest archive taken for one: anything shorter is an error document.
inline constexpr std::uint64_t kMinimumUpdateArchiveBytes = 512000;
inline constexpr std::size_t kUpdateHashChunkBytes = 1024 * 1024;

// The download session's texts for a refusal of `host`.
UpdateSecurityAlertText downloadSecurityAlertText(UpdateTrustVerdict verdict, const std::string& host);
UpdateSecurityAlertText tamperedAlertText(const std::string& supportEmail);

// The lower-case hexadecimal SHA-256 of a file's contents, read in 1 MiB
// pieces; none when it cannot be opened or read.
std::optional<std::string> sha256OfFile(const std::filesystem::path& file);

// What happens to a fully written file.
enum class ArchiveCheck { accepted, tooSmall, unreadable, tampered };
struct ArchiveVerdict {
  ArchiveCheck check = ArchiveCheck::accepted;
  std::uint64_t size = 0;
};
// Size first, then the digest (case-insensitive; an empty expectation never
// matches). Runs on a worker: it reads the whole file.
ArchiveVerdict checkDownloadedArchive(const std::filesystem::path& file, const std::string& expectedSHA256);

struct UpdateDownloadState {
  double downloadProgress = 0.0;
  bool isDownloading = false;
  bool isInstalling = false;
  std::optional<std::string> errorMessage;
};

class UpdateDownloader {
 public:
  struct Dependencies {
    platform::TaskQueue& queue;  // the main queue
    UpdateAlerts& alerts;
    UpdateConnectionSettings connection;
    // Where archives are written; empty: a private folder made on first use.
    std::filesystem::path folder;
    std::string supportEmail;
  };

  explicit UpdateDownloader(Dependencies dependencies);
  // Cancels a running transfer without waiting for it (a name lookup cannot
  // be cancelled); a partly written file is deleted when it ends.
  ~UpdateDownloader();
  UpdateDownloader(const UpdateDownloader&) = delete;
  UpdateDownloader& operator=(const UpdateDownloader&) = delete;

  void downloadAndInstall(const std::string& url, const std::string& expectedSHA256);

  const UpdateDownloadState& state() const { return state_; }
  // The verified archive kept for the installer, while Installing.
  const std::optional<std::filesystem::path>& stagedArchive() const { return staged_; }

  void reportFailure(const UpdateError& error);
  void showSecurityAlert(const UpdateSecurityAlertText& text);
  // Back to Idle once the installation (a later step) has ended.
  void finishInstalling();
  // Receives each verified archive (main queue), while Installing.
  void setHandOff(std::function<void(const std::filesystem::path&)> handOff) { handOff_ = std::move(handOff); }

  platform::ObserverList<> changed;

 private:
  struct Job;
  static void runJob(const Job& job);
  void setProgress(double progress);
  void verified(const std::filesystem::path& file);
  void post(std::function<void(UpdateDownloader&)> task);
  std::filesystem::path folder();

  Dependencies d_;
  UpdateDownloadState state_;
  std::optional<std::filesystem::path> staged_;
  std::function<void(const std::filesystem::path&)> handOff_;
  std::shared_ptr<UpdateHttpClient> client_;
  std::shared_ptr<UpdateWorkerGate> gate_ = std::make_shared<UpdateWorkerGate>();
  std::unique_ptr<platform::SerialQueue> worker_;
  std::shared_ptr<UpdateDownloader*> self_ = std::make_shared<UpdateDownloader*>(this);
};

}  // namespace orvik

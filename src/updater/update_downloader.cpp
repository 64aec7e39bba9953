#include "updater/update_downloader.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <fstream>

#include <glib.h>
#include <openssl/evp.h>

#include "platform/crypto.h"
#include "platform/dispatch/serial_queue.h"
#include "platform/dispatch/task_queue.h"
#include "updater/update_alerts.h"

namespace orvik {
namespace {

constexpr const char* kDownloadAdvice =
    "Switch to a trusted network (home WiFi or mobile data) and try again. No changes were made to your app.";
constexpr const char* kSecurityFailedText = "Security check failed — update blocked.";

std::string lowered(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
  return text;
}

bool writeAll(int fd, const char* bytes, std::size_t length) {
  while (length > 0) {
    const ssize_t written = ::write(fd, bytes, length);
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes += written;
    length -= static_cast<std::size_t>(written);
  }
  return true;
}

void removeQuietly(const std::filesystem::path& file) {
  std::error_code ignored;
  if (!file.empty()) std::filesystem::remove(file, ignored);
}

// The file's digest, fed to OpenSSL in 1 MiB reads so memory use does not
// grow with the archive.
std::optional<std::string> hashFile(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) return std::nullopt;
  std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(), EVP_MD_CTX_free);
  if (!context || EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) != 1) return std::nullopt;
  std::vector<char> chunk(kUpdateHashChunkBytes);
  for (;;) {
    in.read(chunk.data(), static_cast<std::streamsize>(chunk.size()));
    const std::streamsize got = in.gcount();
    if (got > 0 && EVP_DigestUpdate(context.get(), chunk.data(), static_cast<std::size_t>(got)) != 1) {
      return std::nullopt;
    }
    if (!in) break;
  }
  if (in.bad()) return std::nullopt;
  platform::crypto::Sha256Digest digest{};
  unsigned int length = 0;
  if (EVP_DigestFinal_ex(context.get(), digest.data(), &length) != 1 || length != digest.size()) return std::nullopt;
  return platform::crypto::hexString(digest);
}

}  // namespace

UpdateSecurityAlertText downloadSecurityAlertText(UpdateTrustVerdict verdict, const std::string& host) {
  if (verdict == UpdateTrustVerdict::unknownHost) {
    return {kUpdateBlockedTitle,
            "Orvik detected that your update request was redirected to an unknown server (" + host +
                "). This may indicate a Man-in-the-Middle attack — someone on your network may be trying to install "
                "malicious software.",
            kDownloadAdvice};
  }
  return {kUpdateBlockedTitle,
          "Orvik could not verify the identity of the update server (" + host +
              "). Its security certificate did not match the one Orvik expects — someone on your network may be "
              "trying to install malicious software.",
          kDownloadAdvice};
}

UpdateSecurityAlertText tamperedAlertText(const std::string& supportEmail) {
  return {"Update Blocked — File Tampered",
          "The downloaded update file does not match the expected checksum. The file may have been modified or "
          "corrupted during download — this could indicate a network attack.",
          "The downloaded file has been deleted. Try again on a trusted network. If this keeps happening, contact "
          "Orvik support at " +
              supportEmail + "."};
}

std::optional<std::string> sha256OfFile(const std::filesystem::path& file) { return hashFile(file); }

ArchiveVerdict checkDownloadedArchive(const std::filesystem::path& file, const std::string& expectedSHA256) {
  ArchiveVerdict verdict;
  std::error_code error;
  const auto size = std::filesystem::file_size(file, error);
  verdict.size = error ? 0 : size;
  if (verdict.size < kMinimumUpdateArchiveBytes) {
    verdict.check = ArchiveCheck::tooSmall;
    return verdict;
  }
  const auto digest = sha256OfFile(file);
  if (!digest) {
    verdict.check = ArchiveCheck::unreadable;
    return verdict;
  }
  if (expectedSHA256.empty() || lowered(*digest) != lowered(expectedSHA256)) verdict.check = ArchiveCheck::tampered;
  return verdict;
}

// Everything a transfer uses: the worker never touches the downloader, which
// may be gone before a transfer stuck in a name lookup ends.
struct UpdateDownloader::Job {
  std::string url;
  std::string expectedSHA256;
  std::filesystem::path folder;
  std::string supportEmail;
  std::shared_ptr<UpdateHttpClient> client;
  platform::TaskQueue* queue;
  std::weak_ptr<UpdateDownloader*> alive;
  std::shared_ptr<UpdateWorkerGate> gate;

  void post(std::function<void(UpdateDownloader&)> task) const {
    gate->pass([&] {
      queue->post([alive = alive, task = std::move(task)] {
        if (auto self = alive.lock()) task(**self);
      });
    });
  }
};

UpdateDownloader::UpdateDownloader(Dependencies dependencies)
    : d_(std::move(dependencies)),
      client_(std::make_shared<UpdateHttpClient>(d_.connection)),
      worker_(std::make_unique<platform::SerialQueue>("com.orvik.updateDownloader")) {}

UpdateDownloader::~UpdateDownloader() {
  gate_->close();
  self_.reset();
  client_->cancel();
  (void)worker_.release();
}

std::filesystem::path UpdateDownloader::folder() {
  if (d_.folder.empty()) {
    // Readable by this user only: nobody else can swap the archive between
    // its check and its installation.
    if (char* made = g_dir_make_tmp("orvik-update-XXXXXX", nullptr)) {
      d_.folder = made;
      g_free(made);
    }
  }
  return d_.folder;
}

void UpdateDownloader::post(std::function<void(UpdateDownloader&)> task) {
  d_.queue.post([alive = std::weak_ptr<UpdateDownloader*>(self_), task = std::move(task)] {
    if (auto self = alive.lock()) task(**self);
  });
}

void UpdateDownloader::downloadAndInstall(const std::string& url, const std::string& expectedSHA256) {
  if (state_.isDownloading || state_.isInstalling) return;
  GUri* parsed = g_uri_parse(url.c_str(), G_URI_FLAGS_NONE, nullptr);
  if (!parsed) return;
  g_uri_unref(parsed);
  state_.isDownloading = true;
  state_.downloadProgress = 0.0;
  state_.errorMessage.reset();
  staged_.reset();
  changed.notify();
  Job job{url, expectedSHA256, folder(), d_.supportEmail, client_, &d_.queue, self_, gate_};
  worker_->post([job = std::move(job)] { runJob(job); });
}

void UpdateDownloader::runJob(const Job& job) {
  std::filesystem::path file;
  int fd = -1;
  int status = 0;
  bool writeFailed = false;
  std::optional<std::uint64_t> total;
  std::uint64_t written = 0;
  double lastPosted = -1.0;
  const auto result = job.client->get(
      job.url,
      [&](const UpdateHttpClient::Response& response) {
        status = response.status;
        if (status != 200) return false;
        if (job.folder.empty()) {
          writeFailed = true;
          return false;
        }
        char* uuid = g_uuid_string_random();
        file = job.folder / ("OrvikUpdate_" + std::string(uuid) + ".tar");
        g_free(uuid);
        fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd < 0) {
          writeFailed = true;
          file.clear();
          return false;
        }
        total = response.contentLength;
        return true;
      },
      [&](const char* bytes, std::size_t length) {
        if (!writeAll(fd, bytes, length)) {
          writeFailed = true;
          return false;
        }
        written += length;
        if (total && *total > 0) {
          const double progress = std::min(1.0, static_cast<double>(written) / static_cast<double>(*total));
          if (progress - lastPosted >= 0.005 || progress >= 1.0) {
            lastPosted = progress;
            job.post([progress](UpdateDownloader& self) { self.setProgress(progress); });
          }
        }
        return true;
      });
  if (fd >= 0 && ::close(fd) != 0) writeFailed = true;

  using Outcome = UpdateHttpClient::Outcome;
  if (result.outcome == Outcome::cancelled) {
    removeQuietly(file);
    return;
  }
  if (result.outcome == Outcome::refused) {
    const auto refusal = result.refusal.value_or(UpdateTrustEvent{"", UpdateTrustVerdict::untrusted});
    job.post([text = downloadSecurityAlertText(refusal.verdict, refusal.host)](UpdateDownloader& self) {
      self.showSecurityAlert(text);
    });
    // The refused transfer ends with an error, reported like any other.
    job.post([](UpdateDownloader& self) { self.reportFailure(UpdateError::downloadFailed()); });
    return;
  }
  if (result.outcome != Outcome::completed || writeFailed) {
    removeQuietly(file);
    job.post([](UpdateDownloader& self) { self.reportFailure(UpdateError::downloadFailed()); });
    return;
  }
  const ArchiveVerdict verdict = checkDownloadedArchive(file, job.expectedSHA256);
  switch (verdict.check) {
    case ArchiveCheck::accepted:
      job.post([file](UpdateDownloader& self) { self.verified(file); });
      return;
    case ArchiveCheck::tooSmall:
      removeQuietly(file);
      job.post([kb = verdict.size / 1024](UpdateDownloader& self) {
        self.reportFailure(UpdateError::installFailed("Download failed: received invalid file (" + std::to_string(kb) +
                                                      " KB). Please check your connection and try again."));
      });
      return;
    case ArchiveCheck::unreadable:
      removeQuietly(file);
      job.post([](UpdateDownloader& self) {
        self.reportFailure(UpdateError::installFailed("Could not verify file integrity."));
      });
      return;
    case ArchiveCheck::tampered:
      removeQuietly(file);
      job.post([text = tamperedAlertText(job.supportEmail)](UpdateDownloader& self) { self.showSecurityAlert(text); });
      return;
  }
}

void UpdateDownloader::setProgress(double progress) {
  if (!state_.isDownloading) return;
  state_.downloadProgress = progress;
  changed.notify();
}

void UpdateDownloader::verified(const std::filesystem::path& file) {
  state_.isDownloading = false;
  state_.isInstalling = true;
  staged_ = file;
  changed.notify();
  if (handOff_) handOff_(file);
}

void UpdateDownloader::finishInstalling() {
  state_.isInstalling = false;
  changed.notify();
}

void UpdateDownloader::reportFailure(const UpdateError& error) {
  state_.isDownloading = false;
  state_.isInstalling = false;
  state_.errorMessage = error.errorDescription();
  changed.notify();
}

void UpdateDownloader::showSecurityAlert(const UpdateSecurityAlertText& text) {
  state_.isDownloading = false;
  state_.isInstalling = false;
  state_.errorMessage = kSecurityFailedText;
  changed.notify();
  d_.alerts.showCritical("⚠️ " + text.title, text.reason + "\n\n" + text.advice, nullptr);
}

}  // namespace orvik

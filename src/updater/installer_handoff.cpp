#include "updater/installer_handoff.h"

#include <sys/stat.h>
#include <sys/xattr.h>

#include <fstream>

#include <nlohmann/json.hpp>

#include "core/file_security.h"
#include "platform/dispatch/task_queue.h"
#include "updater/pending_update_location.h"

namespace orvik {
namespace {

std::string escapeSolidus(const std::string& json) {
  std::string out;
  for (char c : json) {
    if (c == '/') out += "\\/";
    else out += c;
  }
  return out;
}

bool writeAtomically(const std::filesystem::path& file, const std::string& text) {
  auto temporary = file;
  temporary += ".tmp";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    if (!(out << text) || !out.flush()) return false;
  }
  std::error_code error;
  std::filesystem::rename(temporary, file, error);
  if (error) std::filesystem::remove(temporary, error);
  return !error;
}

}  // namespace

std::string installJobText(const std::filesystem::path& archive, const std::filesystem::path& installPath,
                           const std::string& bundleIdentifier) {
  nlohmann::ordered_json job = {{"dmgPath", archive.string()},
                                {"installPath", installPath.string()},
                                {"mainBundleID", bundleIdentifier.empty() ? kFallbackBundleIdentifier
                                                                          : bundleIdentifier}};
  // Slashes escaped as the platform serialiser writes them; only string
  // contents hold a solidus, so escaping the whole text is exact.
  return escapeSolidus(job.dump(2));
}

std::variant<StagedUpdate, UpdateError> stageForInstaller(const std::filesystem::path& download,
                                                          const std::filesystem::path& pendingFolder,
                                                          const std::filesystem::path& installPath,
                                                          const std::string& bundleIdentifier) {
  std::error_code error;
  StagedUpdate staged{pendingFolder / kPendingArchiveName, pendingFolder / kPendingJobFileName};
  std::filesystem::create_directories(pendingFolder, error);
  chmod(pendingFolder.c_str(), 0700);
  std::filesystem::remove(staged.archive, error);
  std::filesystem::copy_file(download, staged.archive, std::filesystem::copy_options::overwrite_existing, error);
  if (error) {
    std::filesystem::remove(staged.archive, error);
    return UpdateError{UpdateError::Kind::mountFailed, {}};
  }
  std::filesystem::remove(download, error);
  removexattr(staged.archive.c_str(), FileSecurity::quarantineAttribute);
  if (!writeAtomically(staged.jobFile, installJobText(staged.archive, installPath, bundleIdentifier))) {
    return UpdateError::installFailed("Could not write installer instructions");
  }
  return staged;
}

InstallerHandoff::InstallerHandoff(platform::TaskQueue& queue, InstallerSignalSource& signals,
                                   InstallerLauncher& launcher, InstallerHandoffDelegate& delegate)
    : queue_(queue), signals_(signals), launcher_(launcher), delegate_(delegate) {}

InstallerHandoff::~InstallerHandoff() {
  disarm();
  stopListening();
}

void InstallerHandoff::begin(const StagedUpdate& staged, const std::vector<std::filesystem::path>& candidates) {
  disarm();
  staged_ = staged;
  relaunches_ = 0;
  progressSeen_ = false;
  signals_.subscribe(*this);
  listening_ = true;
  program_.clear();
  for (const auto& candidate : candidates) {
    if (launcher_.exists(candidate)) {
      program_ = candidate;
      break;
    }
  }
  if (program_.empty()) {
    stopListening();
    std::error_code error;
    std::filesystem::remove(staged_.jobFile, error);
    std::filesystem::remove(staged_.archive, error);
    state_ = State::manualFallback;
    delegate_.showManualFallback(std::nullopt);
    return;
  }
  launch();
}

void InstallerHandoff::launch() {
  if (!launcher_.launch(program_)) {
    fallBack();
    return;
  }
  state_ = State::waiting;
  arm(kInstallerFirstTimeout);
}

void InstallerHandoff::arm(double seconds) {
  disarm();
  timeout_ = std::make_shared<platform::WorkItem>([this] { timedOut(); });
  queue_.postAfter(seconds, timeout_);
}

void InstallerHandoff::disarm() {
  if (timeout_) timeout_->cancel();
  timeout_.reset();
}

void InstallerHandoff::timedOut() {
  timeout_.reset();
  if (state_ != State::waiting && state_ != State::copying) return;
  std::error_code error;
  bool jobUntaken = !progressSeen_ && std::filesystem::exists(staged_.jobFile, error);
  if (jobUntaken && relaunches_ < kInstallerMaxRelaunches) {
    ++relaunches_;
    launch();
    return;
  }
  fallBack();
}

void InstallerHandoff::fallBack() {
  disarm();
  stopListening();
  // Whoever removes the job file owns the archive: when the installer got
  // there first, it is unpacking or deleting the archive, and the user is
  // sent to the download page instead.
  std::error_code error;
  bool archiveIsOurs = std::filesystem::remove(staged_.jobFile, error) && !error;
  state_ = State::manualFallback;
  if (archiveIsOurs && std::filesystem::exists(staged_.archive, error)) {
    delegate_.showManualFallback(staged_.archive);
  } else {
    delegate_.showManualFallback(std::nullopt);
  }
}

void InstallerHandoff::installerReportedProgress(std::optional<bool> needsAdmin) {
  // A notice without a usable value changes nothing.
  if (state_ != State::waiting || !needsAdmin) return;
  progressSeen_ = true;
  if (*needsAdmin) {
    // The password prompt may stay open for as long as the user likes.
    disarm();
    state_ = State::waitingForPassword;
    return;
  }
  state_ = State::copying;
  arm(kInstallerCopyTimeout);
}

void InstallerHandoff::installerFinished(bool success, const std::optional<std::string>& error) {
  if (state_ != State::waiting && state_ != State::waitingForPassword && state_ != State::copying) return;
  disarm();
  stopListening();
  state_ = State::finished;
  if (success) {
    delegate_.installSucceeded();
  } else if (error && *error == "cancelled") {
    delegate_.installCancelled();
  } else {
    delegate_.installFailed(UpdateError::installFailed(error.value_or("Installation failed. Please try again.")));
  }
}

void InstallerHandoff::stopListening() {
  if (listening_) signals_.unsubscribe();
  listening_ = false;
}

}  // namespace orvik

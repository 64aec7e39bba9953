// The hand-off of a verified update archive to orvik-installer, and the wait
// for its two notices.
//
// `stageForInstaller` (a worker: it copies the archive) moves the archive
// into the pending-update folder, clears our quarantine mark from it and
// writes the job file atomically. `InstallerHandoff::begin` (main queue)
// then listens for the installer's signals, finds the installer program
// (beside the installed copy, then beside the running one), starts it in a
// session of its own and waits:
//
//   launched ──90 s──▶ job file still there, < 2 relaunches ─▶ launched again
//        │                 otherwise ─▶ manual fallback
//        ├─ progress needsAdmin=false ─▶ 15 s for the copy ─▶ manual fallback
//        ├─ progress needsAdmin=true  ─▶ no deadline: a password prompt may
//        │                               stay open as long as the user likes
//        └─ result ─▶ succeeded / cancelled (silent) / failed
//
// The archive belongs to the updater only while the job file is unread.
// Once the installer has taken the job, a fallback never offers the staged
// archive (the installer is unpacking or deleting it) but the download page.
// A notice after the fallback or after a result is ignored.
//
// THREAD-SAFETY: `InstallerHandoff` lives on the main queue; its signal
// source delivers there.
#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "updater/update_error.h"

namespace orvik {

namespace platform {
class TaskQueue;
class WorkItem;
}  // namespace platform

inline constexpr double kInstallerFirstTimeout = 90.0;
inline constexpr double kInstallerCopyTimeout = 15.0;
inline constexpr int kInstallerMaxRelaunches = 2;

struct StagedUpdate {
  std::filesystem::path archive;
  std::filesystem::path jobFile;
};

// The job file's text: one JSON object with dmgPath, installPath and
// mainBundleID (escaped solidus and all, as the installer accepts).
std::string installJobText(const std::filesystem::path& archive, const std::filesystem::path& installPath,
                           const std::string& bundleIdentifier);

// Copies `download` into `pendingFolder` (made private when missing),
// deletes the download, clears the quarantine mark and writes the job file
// through a temporary file and a rename. The download stays where it is
// when the copy fails; the staged archive stays when the job cannot be
// written.
std::variant<StagedUpdate, UpdateError> stageForInstaller(const std::filesystem::path& download,
                                                          const std::filesystem::path& pendingFolder,
                                                          const std::filesystem::path& installPath,
                                                          const std::string& bundleIdentifier);

// The installer's D-Bus signals, delivered on the main queue.
class InstallerSignalObserver {
 public:
  virtual ~InstallerSignalObserver() = default;
  // `needsAdmin` is empty when the notice lacked it or had another type.
  virtual void installerReportedProgress(std::optional<bool> needsAdmin) = 0;
  virtual void installerFinished(bool success, const std::optional<std::string>& error) = 0;
};
class InstallerSignalSource {
 public:
  virtual ~InstallerSignalSource() = default;
  virtual void subscribe(InstallerSignalObserver& observer) = 0;
  // Nothing is delivered after it returns.
  virtual void unsubscribe() = 0;
};

class InstallerLauncher {
 public:
  virtual ~InstallerLauncher() = default;
  virtual bool exists(const std::filesystem::path& program) = 0;
  // Starts `program` in a session of its own, so that it outlives us.
  virtual bool launch(const std::filesystem::path& program) = 0;
};

class InstallerHandoffDelegate {
 public:
  virtual ~InstallerHandoffDelegate() = default;
  virtual void installSucceeded() = 0;
  virtual void installCancelled() = 0;
  virtual void installFailed(const UpdateError& error) = 0;
  // `stagedArchive` empty: offer the download page instead.
  virtual void showManualFallback(const std::optional<std::filesystem::path>& stagedArchive) = 0;
};

class InstallerHandoff : public InstallerSignalObserver {
 public:
  enum class State { idle, waiting, waitingForPassword, copying, finished, manualFallback };

  InstallerHandoff(platform::TaskQueue& queue, InstallerSignalSource& signals, InstallerLauncher& launcher,
                   InstallerHandoffDelegate& delegate);
  ~InstallerHandoff() override;

  // `installerCandidates`: where the installer program may be, in order.
  void begin(const StagedUpdate& staged, const std::vector<std::filesystem::path>& installerCandidates);

  State state() const { return state_; }
  int relaunches() const { return relaunches_; }

  void installerReportedProgress(std::optional<bool> needsAdmin) override;
  void installerFinished(bool success, const std::optional<std::string>& error) override;

 private:
  void launch();
  void arm(double seconds);
  void disarm();
  void timedOut();
  void fallBack();
  void stopListening();

  platform::TaskQueue& queue_;
  InstallerSignalSource& signals_;
  InstallerLauncher& launcher_;
  InstallerHandoffDelegate& delegate_;
  State state_ = State::idle;
  StagedUpdate staged_;
  std::filesystem::path program_;
  int relaunches_ = 0;
  bool listening_ = false;
  bool progressSeen_ = false;
  std::shared_ptr<platform::WorkItem> timeout_;
};

}  // namespace orvik

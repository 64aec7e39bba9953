// The program's launch steps (app_delegate.h) and the call sites through which
// the shell reaches subsystems built elsewhere. Each such call site is one
// function here, so wiring the subsystem in is a change of one line.
//
// THREAD-SAFETY: main queue only.
#pragma once

#include <filesystem>
#include <memory>

#include <gtkmm.h>

#include "app/app_delegate.h"
#include "platform/page_call.h"

namespace orvik {

class ProgramLaunchSteps final : public LaunchSteps {
 public:
  explicit ProgramLaunchSteps(Gtk::Application& application);

  HandOffResult handOffFromDiskImage() override;
  HandOffResult deferToStoreCopy() override;
  void hideAllWindows() override;
  void installCrashLogger() override;
  void logDistributionSelfCheck() override;
  void registerSupplementalDecoder() override;
  bool refuseDiskImageLocation() override;
  void setDarkAppearance() override;
  void observeWindowMinimising() override;
  void startSystemLockObserver() override;
  void queueWindowTitles() override;
  InstanceSettlement settleRunningInstance() override;
  std::vector<std::string> documentsFolderEntries() override;
  WebsiteDataStore* websiteDataStore() override;
  void registerLaunchAtLogin() override;
  void setUpNotifications() override;
  void observeFirstPageLoad() override;
  void observeKeyboardInputSource() override;
  void observeShowMainWindowRequests() override;

  // Set by the last step: from then on an activation by a second launch
  // brings the main window forward.
  bool observesShowMainWindowRequests() const { return observesShowMainWindowRequests_; }

 private:
  Gtk::Application& application_;
  bool observesShowMainWindowRequests_ = false;
};

// Whether `folder` lies on a read-only image mounted by a self-mounting
// package (an AppImage's mount under the temporary folder): such a copy
// cannot update itself.
bool isRunningFromReadOnlyImage(const std::filesystem::path& folder);

// The main web view as the shell reaches it for its page calls; empty while
// there is none, and such calls are skipped.
std::weak_ptr<platform::PageScriptSink> shellPage();
// The menu command "Check for Updates…".
void checkForUpdatesFromMenu();
// The menu command that shows the web-load diagnostics file in the file
// manager.
void revealWebLoadDiagnostics();

}  // namespace orvik

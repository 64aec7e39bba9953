// The program's launch steps (app_delegate.h). They run before the main loop
// and before the composition root exists (app_services.h); what needs the
// root's services waits for the main loop, by then the main web view is
// loading.
//
// THREAD-SAFETY: main queue only.
#pragma once

#include <filesystem>
#include <functional>
#include <memory>

#include <gtkmm.h>

#include "app/app_delegate.h"
#include "platform/page_call.h"

namespace orvik {

class SystemLockObserver;
class UpdateBanner;

class AppServices;

class InputSource;
class KeyboardInputDirection;

class ProgramLaunchSteps final : public LaunchSteps {
 public:
  // `services`: the composition root once start-up has built it, else null.
  ProgramLaunchSteps(Gtk::Application& application, std::function<AppServices*()> services);
  ~ProgramLaunchSteps() override;

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

  // The main web view as the shell reaches it for its page calls; empty while
  // there is none, and such calls are skipped.
  std::weak_ptr<platform::PageScriptSink> shellPage() const;

 private:
  Gtk::Application& application_;
  std::function<AppServices*()> services_;
  std::unique_ptr<WebsiteDataStore> websiteData_;
  std::unique_ptr<SystemLockObserver> systemLock_;
  std::unique_ptr<InputSource> inputSource_;
  std::unique_ptr<KeyboardInputDirection> inputDirection_;
  bool observesShowMainWindowRequests_ = false;
};

// Whether `folder` lies on a read-only image mounted by a self-mounting
// package (an AppImage's mount under the temporary folder): such a copy
// cannot update itself.
bool isRunningFromReadOnlyImage(const std::filesystem::path& folder);

// The menu command "Check for Updates…": hides a card on screen, then checks
// as a check the user asked for.
void checkForUpdatesFromMenu(UpdateBanner& updates);

}  // namespace orvik

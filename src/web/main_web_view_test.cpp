#include "web/main_web_view.h"

#include "core/device_udid_provider.h"

#include <chrono>
#include <cstdlib>
#include <thread>

#include <gtest/gtest.h>
#include <gtkmm/init.h>

#include "core/service_config.h"
#include "core/web_load_diagnostics.h"
#include "platform/test_support/local_web_server.h"
#include "platform/test_support/temp_dir.h"

namespace orvik {
namespace {

using testing::LocalWebServer;
using testing::TempDir;
using testing::TestCertificates;

// The program's own wiring, in a process of its own: the service override
// file, the shared diagnostics file and the overlays, against a local server
// whose key is not the pinned one.
TEST(MainWebViewIntegration, APinMismatchIsRecordedInTheDiagnosticsFileAndShownAsAnError) {
  if (!serviceOverrideBuild()) GTEST_SKIP() << "only builds that read the override trust a local CA";
  TempDir home;
  for (const char* name : {"HOME", "XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME"}) {
    setenv(name, home.path().c_str(), 1);
  }
  TestCertificates certificates(home.path());
  ASSERT_TRUE(certificates.ok);
  LocalWebServer server(&certificates);
  server.route("/", {200, "text/html", "<div id=root><p>hi</p></div>"});
  const auto config = home / "service.json";
  TempDir::writeFile(config, R"({"webAppURL": ")" + server.url("/") + R"(", "webHosts": ["127.0.0.1"],
      "pinnedWebHost": "127.0.0.1", "webPins": ["AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA="],
      "extraCAFile": ")" + certificates.caFile.string() + R"("})");
  setenv("ORVIK_SERVICE_CONFIG", config.c_str(), 1);

  gtk_init();
  Gtk::init_gtkmm_internals();
  Gtk::Window window;
  Gtk::Overlay overlay;
  Gtk::Box pageSlot;
  overlay.set_child(pageSlot);
  window.set_child(overlay);
  window.present();
  std::vector<std::string> distribution;
  struct FixedUdid final : DeviceUdidProvider {
    void requestDeviceUdid(Done done) override { done(std::string(64, 'a')); }
  } udid;
  auto web = MainWebView::install(overlay, pageSlot,
                                  {&udid,
                                   [&](std::string_view line) { distribution.emplace_back(line); },
                                   {},
                                   {}});
  EXPECT_EQ(distribution,
            std::vector<std::string>{"web told: window.ORVIK_DISTRIBUTION='bucket', user-agent tag=''"});

  const auto diagnostics = WebLoadDiagnostics::shared().file();
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  auto recorded = [&] {
    WebLoadDiagnostics::shared().flush();
    return std::filesystem::exists(diagnostics) &&
           TempDir::readFile(diagnostics).find("FAIL stage=certificatePinning") != std::string::npos &&
           web->state()->errorMessage().has_value();
  };
  while (!recorded() && std::chrono::steady_clock::now() < deadline) {
    if (!g_main_context_iteration(nullptr, FALSE)) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  ASSERT_TRUE(recorded()) << TempDir::readFile(diagnostics);
  EXPECT_NE(TempDir::readFile(diagnostics).find("details=host=127.0.0.1"), std::string::npos);
  EXPECT_FALSE(web->state()->isLoading());
  web.reset();
}

}  // namespace
}  // namespace orvik

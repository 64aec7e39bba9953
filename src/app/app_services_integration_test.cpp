#include "app/app_services.h"

#include <chrono>
#include <cstdlib>
#include <thread>

#include <gtest/gtest.h>
#include <gtkmm/init.h>

#include "calls/control/call_control.h"
#include "app/distribution_log.h"
#include "app/main_window.h"
#include "core/network_monitor.h"
#include "core/service_config.h"
#include "core/web_load_diagnostics.h"
#include "platform/fake_secret_store.h"
#include "platform/test_support/local_web_server.h"
#include "platform/test_support/main_loop.h"
#include "platform/test_support/scoped_environment.h"
#include "platform/test_support/temp_dir.h"

namespace orvik {
namespace {

using testing::LocalWebServer;
using testing::TempDir;
using testing::TestHome;
using testing::runMainLoopUntil;
using testing::TestCertificates;

// The program's own wiring, in a process of its own: the service override
// file, the root's diagnostics file and the overlays, against a local server
// whose key is not the pinned one.
TEST(AppServicesIntegration, APinMismatchIsRecordedInTheDiagnosticsFileAndShownAsAnError) {
  if (!serviceOverrideBuild()) GTEST_SKIP() << "only builds that read the override trust a local CA";
  TestHome home;
  // Restored when the test ends: later tests in this process start programs.
  orvik::testing::ScopedEnvironment environment;
  TestCertificates certificates(home.outside());
  ASSERT_TRUE(certificates.ok);
  LocalWebServer server(&certificates);
  server.route("/", {200, "text/html", "<div id=root><p>hi</p></div>"});
  const auto config = home.outside() / "service.json";
  TempDir::writeFile(config, R"({"webAppURL": ")" + server.url("/") + R"(", "webHosts": ["127.0.0.1"],
      "pinnedWebHost": "127.0.0.1", "webPins": ["AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA="],
      "extraCAFile": ")" + certificates.caFile.string() + R"("})");
  environment.set("ORVIK_SERVICE_CONFIG", config.string());

  gtk_init();
  Gtk::init_gtkmm_internals();
  std::vector<std::string> distribution;
  setDistributionSystemLog([&](const std::string& line) { distribution.push_back(line); });
  AppServices::Options options;
  options.ephemeralWebSession = true;
  options.secretStore = std::make_unique<platform::FakeSecretStore>();
  AppServices services(std::move(options));
  MainWindow window(nullptr, MainWindowServices{services.defaults(), services.calls(), services.network(),
                                                services.theme(), services.titlebarLayout()});
  window.present();
  services.installMainWebView(window.home());
  MainWebView* web = services.mainWebView();
  ASSERT_NE(web, nullptr);
  EXPECT_EQ(window.home().webView(), web);
  // The call engine waits for its first use.
  EXPECT_FALSE(services.isCallEngineLoaded());

  const auto diagnostics = services.webLoadDiagnostics().file();
  auto recorded = [&] {
    services.webLoadDiagnostics().flush();
    return std::filesystem::exists(diagnostics) &&
           TempDir::readFile(diagnostics).find("FAIL stage=certificatePinning") != std::string::npos &&
           web->state()->errorMessage().has_value();
  };
  ASSERT_TRUE(runMainLoopUntil(recorded, 60.0)) << TempDir::readFile(diagnostics);
  EXPECT_NE(TempDir::readFile(diagnostics).find("details=host=127.0.0.1"), std::string::npos);
  EXPECT_FALSE(web->state()->isLoading());
  // Told once, when the page scripts went in (after the device identifier came).
  EXPECT_EQ(distribution,
            std::vector<std::string>{"web told: window.ORVIK_DISTRIBUTION='bucket', user-agent tag=''"});
  setDistributionSystemLog({});
}

}  // namespace
}  // namespace orvik

#include <gtest/gtest.h>

#include "platform/secret_store.h"
#include "platform/test_support/private_session_bus.h"
#include "platform/test_support/scoped_environment.h"
#include "platform/test_support/subprocess.h"

namespace orvik::platform {
namespace {

using orvik::testing::PrivateSessionBus;
using orvik::testing::runProcess;
using orvik::testing::TestHome;

constexpr const char* kService = "com.orvik.test.secrets";
constexpr const char* kAccount = "device-udid-v2";

// A real Secret Service: gnome-keyring on a private bus, its keyring in a
// temporary home.
class SecretStoreIntegration : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(bus.address().empty()) << "dbus-daemon did not start";
    if (!bus.isProcessSessionBus()) GTEST_SKIP() << "an earlier test in this process holds another session bus";
    if (!bus.startUnlockedKeyring()) GTEST_SKIP() << "gnome-keyring-daemon is not available";
  }

  TestHome home;
  PrivateSessionBus bus;
  std::unique_ptr<SecretStore> store = makeLibsecretSecretStore();
};

TEST_F(SecretStoreIntegration, AddsOnceAndNeverReplaces) {
  SecretReadResult missing = store->read(kService, kAccount);
  EXPECT_EQ(missing.status, SecretStatus::itemNotFound);
  EXPECT_FALSE(missing.data);

  EXPECT_EQ(store->add(kService, kAccount, "first"), SecretStatus::success);
  EXPECT_EQ(store->add(kService, kAccount, "second"), SecretStatus::duplicateItem);

  SecretReadResult stored = store->read(kService, kAccount);
  EXPECT_EQ(stored.status, SecretStatus::success);
  EXPECT_EQ(stored.data, "first");
  // Another account of the same service is another item.
  EXPECT_EQ(store->read(kService, "other").status, SecretStatus::itemNotFound);
}

TEST_F(SecretStoreIntegration, ItemsAreFoundByServiceAndAccountFromOtherProcesses) {
  ASSERT_EQ(store->add(kService, kAccount, "shared value"), SecretStatus::success);
  auto lookup = runProcess({"secret-tool", "lookup", "service", kService, "account", kAccount});
  if (lookup.exitCode == -1) GTEST_SKIP() << "secret-tool is not available";
  EXPECT_EQ(lookup.output, "shared value");

  ASSERT_EQ(runProcess({"secret-tool", "store", "--label=x", "service", kService, "account", "other"}, "theirs").exitCode, 0);
  EXPECT_EQ(store->read(kService, "other").data, "theirs");
}

TEST_F(SecretStoreIntegration, BytesComeBackUnchangedEvenWhenNotText) {
  const std::string bytes("\xff\x00\xfe", 3);
  ASSERT_EQ(store->add(kService, kAccount, bytes), SecretStatus::success);
  EXPECT_EQ(store->read(kService, kAccount).data, bytes);
}

TEST(SecretStoreWithoutServiceIntegration, ReportsNotAvailable) {
  TestHome home;
  PrivateSessionBus bus;  // nothing provides a Secret Service on it
  ASSERT_FALSE(bus.address().empty());
  if (!bus.isProcessSessionBus()) GTEST_SKIP() << "an earlier test in this process holds another session bus";
  auto store = makeLibsecretSecretStore();
  EXPECT_EQ(store->read(kService, kAccount).status, SecretStatus::notAvailable);
  EXPECT_EQ(store->add(kService, kAccount, "x"), SecretStatus::notAvailable);
}

}  // namespace
}  // namespace orvik::platform

#include <gtest/gtest.h>

#include <gio/gio.h>

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

// Locks the login keyring of the Secret Service on the session bus, as on a
// desktop whose keyring was never unlocked.
bool lockLoginKeyring() {
  GDBusConnection* connection = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
  if (!connection) return false;
  const char* paths[] = {"/org/freedesktop/secrets/collection/login", nullptr};
  GError* error = nullptr;
  GVariant* reply = g_dbus_connection_call_sync(
      connection, "org.freedesktop.secrets", "/org/freedesktop/secrets", "org.freedesktop.Secret.Service", "Lock",
      g_variant_new("(^ao)", paths), G_VARIANT_TYPE("(aoo)"), G_DBUS_CALL_FLAGS_NONE, -1, nullptr, &error);
  g_object_unref(connection);
  if (error) g_error_free(error);
  if (reply) g_variant_unref(reply);
  return reply != nullptr;
}

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

// Nobody answers a prompt in these tests: a call that needed one would hang
// until ctest gives up, so finishing at all shows the prompt was refused.
TEST_F(SecretStoreIntegration, ALockedKeyringNeverPromptsAndTellsALockedItemFromAMissingOne) {
  ASSERT_EQ(store->add(kService, kAccount, "first"), SecretStatus::success);
  ASSERT_TRUE(lockLoginKeyring());
  auto fresh = makeLibsecretSecretStore();
  SecretReadResult locked = fresh->read(kService, kAccount);
  EXPECT_EQ(locked.status, SecretStatus::interactionNotAllowed);
  EXPECT_FALSE(locked.data);
  EXPECT_EQ(fresh->read(kService, "other").status, SecretStatus::itemNotFound);
  // Storing into the locked keyring would need its password.
  EXPECT_EQ(fresh->add(kService, "other", "second"), SecretStatus::interactionNotAllowed);
  EXPECT_EQ(fresh->add(kService, kAccount, "second"), SecretStatus::interactionNotAllowed);
}

TEST(SecretStoreWithoutKeyringIntegration, AServiceWithNoKeyringYetRefusesTheStoreInsteadOfAskingForAPassword) {
  TestHome home;
  PrivateSessionBus bus;
  ASSERT_FALSE(bus.address().empty());
  if (!bus.isProcessSessionBus()) GTEST_SKIP() << "an earlier test in this process holds another session bus";
  // The daemon as a first login starts it without a password: no keyring yet.
  if (runProcess({"gnome-keyring-daemon", "--daemonize", "--components=secrets"}).exitCode != 0 ||
      !bus.waitForName("org.freedesktop.secrets")) {
    GTEST_SKIP() << "gnome-keyring-daemon is not available";
  }
  auto store = makeLibsecretSecretStore();
  EXPECT_EQ(store->read(kService, kAccount).status, SecretStatus::itemNotFound);
  EXPECT_EQ(store->add(kService, kAccount, "x"), SecretStatus::interactionNotAllowed);
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

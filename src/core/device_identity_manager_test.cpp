#include "core/device_identity_manager.h"

#include <gtest/gtest.h>

#include <regex>
#include <thread>

#include "platform/fake_secret_store.h"

namespace orvik {
namespace {

using platform::FakeSecretStore;
using platform::SecretStatus;

constexpr const char* kService = DeviceIdentityManager::service;
constexpr const char* kAccount = DeviceIdentityManager::account;
const std::string kStored = "0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef";

bool isUdid(const std::string& text) { return std::regex_match(text, std::regex("[0-9a-f]{64}")); }

class DeviceIdentityManagerTest : public ::testing::Test {
 protected:
  DeviceIdentityManager makeManager(DeviceIdentityManager::RandomSource random = {}) {
    return DeviceIdentityManager(store, [this](const std::string& line) { lines.push_back(line); }, std::move(random));
  }

  FakeSecretStore store;
  std::vector<std::string> lines;
};

TEST_F(DeviceIdentityManagerTest, FirstRunStoresANewIdentifierThatLaterRunsReuse) {
  auto manager = makeManager();
  const std::string udid = manager.getOrCreateDeviceUdid();
  ASSERT_TRUE(isUdid(udid)) << udid;
  EXPECT_EQ(store.item(kService, kAccount), udid);
  EXPECT_EQ(lines, (std::vector<std::string>{
                       "[udid] Keychain MISS (not found) — generating new secure udid",
                       "[udid] Keychain STORE verified — persisted (…" + udid.substr(52) + ")"}));

  lines.clear();
  EXPECT_EQ(manager.getOrCreateDeviceUdid(), udid);
  EXPECT_EQ(lines, std::vector<std::string>{"[udid] Keychain HIT — reusing existing udid (…" + udid.substr(52) + ")"});
  EXPECT_EQ(store.adds(), 1);
}

TEST_F(DeviceIdentityManagerTest, UnreadableItemsAreNeverOverwritten) {
  struct Case {
    const char* name;
    std::function<void(FakeSecretStore&)> arrange;
    const char* status;
  };
  const Case cases[] = {
      {"store not available", [](FakeSecretStore& s) { s.failReads(SecretStatus::notAvailable); }, "-25291"},
      {"value not UTF-8", [](FakeSecretStore& s) { s.set(kService, kAccount, "\xff\xfe"); }, "0"},
      {"empty value", [](FakeSecretStore& s) { s.set(kService, kAccount, ""); }, "0"},
  };
  for (const Case& c : cases) {
    FakeSecretStore fresh;
    c.arrange(fresh);
    std::vector<std::string> logged;
    DeviceIdentityManager manager(fresh, [&](const std::string& line) { logged.push_back(line); });
    EXPECT_EQ(manager.getOrCreateDeviceUdid(), "") << c.name;
    EXPECT_EQ(fresh.adds(), 0) << c.name;
    EXPECT_EQ(logged, std::vector<std::string>{std::string("[udid] Keychain read error (OSStatus=") + c.status +
                                               ") — NOT creating/overwriting; returning empty so callers keep their "
                                               "current udid"})
        << c.name;
  }
}

TEST_F(DeviceIdentityManagerTest, AnotherProcessStoringFirstWinsTheRace) {
  store.storeFromOtherProcessBeforeNextAdd(kStored);
  auto manager = makeManager();
  EXPECT_EQ(manager.getOrCreateDeviceUdid(), kStored);
  EXPECT_EQ(store.item(kService, kAccount), kStored);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[1], "[udid] Keychain add race — adopting concurrently-stored udid (…456789abcdef)");
}

TEST_F(DeviceIdentityManagerTest, AFailedStoreStillAnswersTheNewIdentifierForThisRun) {
  store.failAdds(SecretStatus::notAvailable);
  auto manager = makeManager();
  const std::string udid = manager.getOrCreateDeviceUdid();
  EXPECT_TRUE(isUdid(udid));
  EXPECT_EQ(lines, (std::vector<std::string>{
                       "[udid] Keychain MISS (not found) — generating new secure udid",
                       "[udid] Keychain data-protection store failed (OSStatus=-25291)",
                       "[udid] Keychain STORE FAILED verification (addStatus=-25291) — value did not read back"}));
}

TEST_F(DeviceIdentityManagerTest, AStoreThatLosesTheValueFailsVerification) {
  store.dropAdds();
  auto manager = makeManager();
  EXPECT_TRUE(isUdid(manager.getOrCreateDeviceUdid()));
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[1], "[udid] Keychain STORE FAILED verification (addStatus=0) — value did not read back");
}

TEST_F(DeviceIdentityManagerTest, RandomSourceFailureFallsBackToTwoUuids) {
  auto manager = makeManager([](std::size_t) { return std::nullopt; });
  const std::string udid = manager.generateUdid();
  ASSERT_TRUE(isUdid(udid)) << udid;
  // Each half is a version-4 UUID without its dashes.
  EXPECT_EQ(udid[12], '4');
  EXPECT_EQ(udid[44], '4');
  EXPECT_NE(udid.substr(0, 32), udid.substr(32));
}

TEST_F(DeviceIdentityManagerTest, RandomBytesBecomeLowerCaseHex) {
  auto manager = makeManager([](std::size_t count) { return std::vector<std::uint8_t>(count, 0xAB); });
  std::string expected;
  for (int i = 0; i < 32; ++i) expected += "ab";
  EXPECT_EQ(manager.generateUdid(), expected);
}

TEST_F(DeviceIdentityManagerTest, ConcurrentFirstCallsGenerateOnce) {
  auto manager = makeManager();
  std::string first, second;
  std::thread a([&] { first = manager.getOrCreateDeviceUdid(); });
  std::thread b([&] { second = manager.getOrCreateDeviceUdid(); });
  a.join();
  b.join();
  EXPECT_EQ(first, second);
  EXPECT_EQ(store.adds(), 1);
}

}  // namespace
}  // namespace orvik

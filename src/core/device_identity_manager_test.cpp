#include "core/device_identity_manager.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <regex>
#include <thread>

#include "platform/fake_secret_store.h"
#include "platform/test_support/temp_dir.h"

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
    return DeviceIdentityManager(store, [this](const std::string& line) { lines.push_back(line); }, std::move(random),
                                 fallbackFile());
  }
  std::filesystem::path fallbackFile() const { return dir / "com.orvik.desk/device-udid"; }
  bool fallbackExists() const { return std::filesystem::exists(fallbackFile()); }

  orvik::testing::TempDir dir;
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
      {"locked keyring", [](FakeSecretStore& s) { s.failReads(SecretStatus::interactionNotAllowed); }, "-25308"},
      {"value not UTF-8", [](FakeSecretStore& s) { s.set(kService, kAccount, "\xff\xfe"); }, "0"},
      {"empty value", [](FakeSecretStore& s) { s.set(kService, kAccount, ""); }, "0"},
  };
  for (const Case& c : cases) {
    FakeSecretStore fresh;
    c.arrange(fresh);
    std::vector<std::string> logged;
    // Even an identifier in the private file does not stand in for an item
    // the keyring holds.
    orvik::testing::TempDir folder;
    orvik::testing::TempDir::writeFile(folder / "device-udid", kStored);
    DeviceIdentityManager manager(fresh, [&](const std::string& line) { logged.push_back(line); }, {},
                                  folder / "device-udid");
    EXPECT_EQ(manager.getOrCreateDeviceUdid(), "") << c.name;
    EXPECT_EQ(fresh.adds(), 0) << c.name;
    EXPECT_EQ(orvik::testing::TempDir::readFile(folder / "device-udid"), kStored) << c.name;
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

TEST_F(DeviceIdentityManagerTest, AKeyringThatCannotTakeTheItemLeavesItInThePrivateFileForTheNextRun) {
  // A keyring that would need a password prompt (locked, or not made yet).
  store.failAdds(SecretStatus::interactionNotAllowed);
  auto manager = makeManager();
  const std::string udid = manager.getOrCreateDeviceUdid();
  ASSERT_TRUE(isUdid(udid));
  EXPECT_EQ(lines, (std::vector<std::string>{
                       "[udid] Keychain MISS (not found) — generating new secure udid",
                       "[udid] Keychain data-protection store failed (OSStatus=-25308)",
                       "[udid] Keychain STORE FAILED verification (addStatus=-25308) — value did not read back",
                       "[udid] keyring cannot keep the udid — kept in the private udid file (…" + udid.substr(52) +
                           ")"}));
  EXPECT_EQ(orvik::testing::TempDir::readFile(fallbackFile()), udid);
  struct stat info {};
  ASSERT_EQ(::stat(fallbackFile().c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);

  lines.clear();
  EXPECT_EQ(makeManager().getOrCreateDeviceUdid(), udid);
  EXPECT_EQ(lines, std::vector<std::string>{"[udid] Keychain MISS — reusing the udid kept in the private udid file (…" +
                                            udid.substr(52) + ")"});
  EXPECT_EQ(store.adds(), 1) << "the file's identifier is not pushed into the keyring behind the user's back";
}

TEST_F(DeviceIdentityManagerTest, WithoutAnySecretServiceThePrivateFileKeepsTheIdentity) {
  store.failReads(SecretStatus::notAvailable);
  const std::string udid = makeManager().getOrCreateDeviceUdid();
  ASSERT_TRUE(isUdid(udid));
  EXPECT_EQ(store.adds(), 0);
  EXPECT_EQ(lines.front(), "[udid] Keychain unavailable (OSStatus=-25291) — generating new secure udid for the "
                           "private udid file");
  EXPECT_EQ(makeManager().getOrCreateDeviceUdid(), udid);
}

TEST_F(DeviceIdentityManagerTest, AKeyringItemWinsOverThePrivateFile) {
  orvik::testing::TempDir::writeFile(fallbackFile(), std::string(64, 'b'));
  store.set(kService, kAccount, kStored);
  EXPECT_EQ(makeManager().getOrCreateDeviceUdid(), kStored);
  EXPECT_EQ(orvik::testing::TempDir::readFile(fallbackFile()), std::string(64, 'b'));
}

TEST_F(DeviceIdentityManagerTest, ADamagedPrivateFileIsReplacedAndAFileOfAnotherProcessIsAdopted) {
  store.failReads(SecretStatus::notAvailable);
  struct Case {
    const char* name;
    std::string before;
    bool adopted;
  };
  const Case cases[] = {
      {"damaged", "not an identifier", false},
      {"upper case", std::string(64, 'A'), false},
      {"kept by another process", kStored + "\n", true},
  };
  for (const Case& c : cases) {
    orvik::testing::TempDir::writeFile(fallbackFile(), c.before);
    const std::string udid = makeManager().getOrCreateDeviceUdid();
    ASSERT_TRUE(isUdid(udid)) << c.name;
    EXPECT_EQ(udid == kStored, c.adopted) << c.name;
    if (!c.adopted) {
      EXPECT_EQ(orvik::testing::TempDir::readFile(fallbackFile()), udid) << c.name;
    }
  }
}

TEST_F(DeviceIdentityManagerTest, AnUnwritablePrivateFileStillAnswersTheNewIdentifierForThisRun) {
  store.failAdds(SecretStatus::notAvailable);
  // A plain file where the configuration folder should be.
  orvik::testing::TempDir::writeFile(dir / "com.orvik.desk", "");
  auto manager = makeManager();
  const std::string udid = manager.getOrCreateDeviceUdid();
  EXPECT_TRUE(isUdid(udid));
  EXPECT_EQ(lines.back(), "[udid] private udid file not written (no configuration folder) — udid holds for this run "
                          "only (…" + udid.substr(52) + ")");
}

TEST_F(DeviceIdentityManagerTest, AStoreThatLosesTheValueFailsVerification) {
  store.dropAdds();
  auto manager = makeManager();
  const std::string udid = manager.getOrCreateDeviceUdid();
  EXPECT_TRUE(isUdid(udid));
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[1], "[udid] Keychain STORE FAILED verification (addStatus=0) — value did not read back");
  EXPECT_EQ(orvik::testing::TempDir::readFile(fallbackFile()), udid);
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

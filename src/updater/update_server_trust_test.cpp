#include "updater/update_server_trust.h"

#include <gtest/gtest.h>

#include "platform/test_support/temp_dir.h"
#include "updater/testing/test_chain.h"

namespace orvik {
namespace {

using testing::KeyKind;
using testing::TestChain;

struct KeyCase {
  const char* name;
  KeyKind kind;
  bool hasHash;
};

class SpkiHashTest : public ::testing::TestWithParam<KeyCase> {};

// The fixed headers plus the raw key rebuild the standard SubjectPublicKeyInfo
// for the four supported kinds, so the hash equals the usual pin-sha256.
TEST_P(SpkiHashTest, EqualsTheStandardPinForSupportedKeysOnly) {
  const auto& c = GetParam();
  TestChain::Options options;
  options.leaf = c.kind;
  const TestChain chain(options);
  const auto hash = spkiSHA256(chain.leaf);
  ASSERT_EQ(hash.has_value(), c.hasHash);
  if (hash) {
    EXPECT_EQ(*hash, chain.leafKey->standardPin());
    EXPECT_EQ(hash->size(), 44u);
  }
}

INSTANTIATE_TEST_SUITE_P(Table, SpkiHashTest,
                         ::testing::Values(KeyCase{"rsa2048", KeyKind::rsa2048, true},
                                           KeyCase{"rsa4096", KeyKind::rsa4096, true},
                                           KeyCase{"p256", KeyKind::p256, true}, KeyCase{"p384", KeyKind::p384, true},
                                           KeyCase{"rsa3072", KeyKind::rsa3072, false},
                                           KeyCase{"p521", KeyKind::p521, false},
                                           KeyCase{"ed25519", KeyKind::ed25519, false}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(SpkiHashTest, GivesNoHashForBytesThatAreNoCertificate) {
  EXPECT_FALSE(spkiSHA256({}));
  EXPECT_FALSE(spkiSHA256({0x30, 0x03, 0x02, 0x01, 0x00}));
}

// One chain shared by the decision table: root P-384, intermediate P-384,
// server P-256, for 127.0.0.1 and updates.test.
class UpdateServerTrustTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    chain_ = new TestChain();
    other_ = new TestChain();
  }
  static void TearDownTestSuite() {
    delete chain_;
    delete other_;
  }
  void SetUp() override {
    chain_->writePem(dir_.path());
    std::string error;
    anchors_ = UpdateTrustAnchors::make(false, (dir_.path() / "root.pem").string(), error);
    ASSERT_TRUE(anchors_) << error;
  }
  static TestChain* chain_;
  static TestChain* other_;
  testing::TempDir dir_;
  std::unique_ptr<UpdateTrustAnchors> anchors_;
};
TestChain* UpdateServerTrustTest::chain_ = nullptr;
TestChain* UpdateServerTrustTest::other_ = nullptr;

enum class Pin { leaf, intermediate, root, otherChainsLeaf, none };
enum class Served { fullChain, leafOnly, foreignChain };

struct TrustCase {
  const char* name;
  const char* host;
  Served served;
  Pin pin;
  UpdateTrustVerdict verdict;
};

class UpdateTrustDecisionTest : public UpdateServerTrustTest, public ::testing::WithParamInterface<TrustCase> {};

TEST_P(UpdateTrustDecisionTest, NeedsTheHostAVerifiedChainAndAPinnedKey) {
  const auto& c = GetParam();
  std::vector<std::string> pins = {"AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA="};
  switch (c.pin) {
    case Pin::leaf: pins.push_back(*spkiSHA256(chain_->leaf)); break;
    case Pin::intermediate: pins.push_back(*spkiSHA256(chain_->intermediate)); break;
    case Pin::root: pins.push_back(*spkiSHA256(chain_->root)); break;
    case Pin::otherChainsLeaf: pins.push_back(*spkiSHA256(other_->leaf)); break;
    case Pin::none: break;
  }
  std::vector<CertificateDer> served;
  switch (c.served) {
    case Served::fullChain: served = chain_->served(); break;
    case Served::leafOnly: served = {chain_->leaf}; break;
    case Served::foreignChain: served = other_->served(); break;
  }
  EXPECT_EQ(decideUpdateServerTrust(c.host, served, {"127.0.0.1", "updates.test"}, pins, *anchors_), c.verdict);
}

INSTANTIATE_TEST_SUITE_P(
    Table, UpdateTrustDecisionTest,
    ::testing::Values(
        TrustCase{"leafPinned", "127.0.0.1", Served::fullChain, Pin::leaf, UpdateTrustVerdict::accepted},
        TrustCase{"intermediatePinned", "updates.test", Served::fullChain, Pin::intermediate,
                  UpdateTrustVerdict::accepted},
        TrustCase{"rootPinned", "127.0.0.1", Served::fullChain, Pin::root, UpdateTrustVerdict::accepted},
        TrustCase{"noKeyPinned", "127.0.0.1", Served::fullChain, Pin::none, UpdateTrustVerdict::untrusted},
        TrustCase{"anotherServersKeyPinned", "127.0.0.1", Served::fullChain, Pin::otherChainsLeaf,
                  UpdateTrustVerdict::untrusted},
        // Pinned, but its issuer is missing: the chain does not verify.
        TrustCase{"chainIncomplete", "127.0.0.1", Served::leafOnly, Pin::leaf, UpdateTrustVerdict::untrusted},
        // A chain from an anchor nobody trusts, whose own key is pinned.
        TrustCase{"untrustedAnchor", "127.0.0.1", Served::foreignChain, Pin::otherChainsLeaf,
                  UpdateTrustVerdict::untrusted},
        TrustCase{"hostNotAllowed", "evil.test", Served::fullChain, Pin::leaf, UpdateTrustVerdict::unknownHost},
        TrustCase{"hostInOtherCase", "Updates.test", Served::fullChain, Pin::leaf, UpdateTrustVerdict::unknownHost},
        TrustCase{"emptyHost", "", Served::fullChain, Pin::leaf, UpdateTrustVerdict::unknownHost}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(UpdateServerTrustTest, AnAllowedHostTheCertificateDoesNotNameIsRefused) {
  const std::vector<std::string> pins = {*spkiSHA256(chain_->leaf)};
  EXPECT_EQ(decideUpdateServerTrust("updates2.test", chain_->served(), {"updates2.test"}, pins, *anchors_),
            UpdateTrustVerdict::untrusted);
}

TEST_F(UpdateServerTrustTest, AnExpiredPinnedChainIsRefused) {
  const std::vector<std::string> pins = {*spkiSHA256(chain_->leaf)};
  const std::time_t inTenDays = std::time(nullptr) + 10 * 86400;
  EXPECT_EQ(decideUpdateServerTrust("127.0.0.1", chain_->served(), {"127.0.0.1"}, pins, *anchors_, inTenDays),
            UpdateTrustVerdict::untrusted);
}

TEST_F(UpdateServerTrustTest, AServerKeyWithoutAHeaderNeverMatchesEvenWhenItsPinIsListed) {
  for (const KeyKind kind : {KeyKind::rsa3072, KeyKind::p521}) {
    TestChain::Options options;
    options.leaf = kind;
    const TestChain weak(options);
    testing::TempDir dir;
    weak.writePem(dir.path());
    std::string error;
    const auto anchors = UpdateTrustAnchors::make(false, (dir.path() / "root.pem").string(), error);
    ASSERT_TRUE(anchors);
    EXPECT_EQ(decideUpdateServerTrust("127.0.0.1", weak.served(), {"127.0.0.1"}, {weak.leafKey->standardPin()},
                                      *anchors),
              UpdateTrustVerdict::untrusted);
  }
}

TEST(UpdateAddressTest, OnlyHttpsToAnUpdateHostMayBeRequested) {
  const std::vector<std::string> hosts = {"127.0.0.1", "updates.test"};
  struct {
    const char* url;
    UpdateTrustVerdict verdict;
    const char* alertHost;
  } cases[] = {
      {"https://updates.test/feed.json", UpdateTrustVerdict::accepted, "updates.test"},
      {"https://127.0.0.1:4443/a.tar", UpdateTrustVerdict::accepted, "127.0.0.1"},
      {"http://updates.test/feed.json", UpdateTrustVerdict::unknownHost, "http://updates.test"},
      {"https://evil.test/feed.json", UpdateTrustVerdict::unknownHost, "evil.test"},
      {"https://updates.test.evil.test/", UpdateTrustVerdict::unknownHost, "updates.test.evil.test"},
      {"https://updates.test@evil.test/", UpdateTrustVerdict::unknownHost, "evil.test"},
      {"ftp://updates.test/a.tar", UpdateTrustVerdict::unknownHost, "ftp://updates.test"},
      {"file:///etc/passwd", UpdateTrustVerdict::unknownHost, "file:///etc/passwd"},
      {"not a url", UpdateTrustVerdict::unknownHost, "not a url"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(decideUpdateAddress(c.url, hosts), c.verdict) << c.url;
    EXPECT_EQ(updateAddressHostForAlert(c.url), c.alertHost) << c.url;
  }
}

}  // namespace
}  // namespace orvik

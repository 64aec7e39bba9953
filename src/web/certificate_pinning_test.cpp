#include "web/certificate_pinning.h"

#include <fstream>
#include <map>
#include <sstream>

#include <gtest/gtest.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

namespace orvik {
namespace {

// Chains made once with the openssl tool (tests/fixtures/pinning/make-fixtures.sh):
// root (RSA 4096) → intermediate (RSA 4096) → leaves for app.orvik.test and
// 127.0.0.1 with RSA 2048, P-384 and P-256 keys; another root with its leaf.
const std::string kFixtures = std::string(ORVIK_SOURCE_DIR) + "/tests/fixtures/pinning/";
constexpr std::time_t kDuringValidity = 1830297600;  // 2028-01-01
constexpr std::time_t kAfterLeafExpiry = 2208988800;  // 2040-01-01

DerBytes der(const std::string& name) {
  FILE* file = std::fopen((kFixtures + name).c_str(), "r");
  EXPECT_NE(file, nullptr) << name;
  if (!file) return {};
  X509* certificate = PEM_read_X509(file, nullptr, nullptr, nullptr);
  std::fclose(file);
  unsigned char* bytes = nullptr;
  const int length = i2d_X509(certificate, &bytes);
  DerBytes result(bytes, bytes + length);
  OPENSSL_free(bytes);
  X509_free(certificate);
  return result;
}

// The pins the openssl tool computed for each fixture.
std::map<std::string, std::string> expectedPins() {
  std::ifstream in(kFixtures + "pins.txt");
  std::map<std::string, std::string> pins;
  std::string name, pin;
  while (in >> name >> pin) pins[name] = pin;
  return pins;
}

class CertificatePinningTest : public ::testing::Test {
 protected:
  CertificatePinningTest() {
    std::string error;
    trust_ = CertificateTrust::make(false, kFixtures + "test-only-root.pem", error);
    EXPECT_TRUE(trust_) << error;
  }
  bool trusted(const std::vector<std::string>& chain, const std::vector<std::string>& pinnedFixtures,
               const std::string& host = "app.orvik.test", std::time_t at = kDuringValidity) {
    std::vector<DerBytes> certificates;
    for (const auto& name : chain) certificates.push_back(der(name));
    std::vector<std::string> pins;
    for (const auto& name : pinnedFixtures) pins.push_back(pins_.at(name));
    return evaluatePinnedTrust(*trust_, certificates, host, pins, at);
  }

  std::unique_ptr<CertificateTrust> trust_;
  std::map<std::string, std::string> pins_ = expectedPins();
};

TEST_F(CertificatePinningTest, PinsOnlyRSA4096AndP384KeysAsTheOpenSSLToolComputesThem) {
  struct Case {
    const char* fixture;
    bool hasPin;
  };
  for (const Case c : {Case{"test-only-root.pem", true}, Case{"test-only-intermediate.pem", true},
                       Case{"test-only-leaf-p384.pem", true}, Case{"test-only-other-leaf.pem", true},
                       Case{"test-only-leaf-rsa2048.pem", false}, Case{"test-only-leaf-p256.pem", false}}) {
    const auto pin = publicKeyPinHash(der(c.fixture));
    if (c.hasPin) {
      ASSERT_TRUE(pin) << c.fixture;
      EXPECT_EQ(*pin, pins_.at(c.fixture)) << c.fixture;
      EXPECT_EQ(pin->size(), 44u);
    } else {
      EXPECT_FALSE(pin) << c.fixture;
    }
  }
  EXPECT_FALSE(publicKeyPinHash({}));
  EXPECT_FALSE(publicKeyPinHash({0x30, 0x03, 0x02, 0x01, 0x00}));
}

TEST_F(CertificatePinningTest, TrustDecisions) {
  const std::string leaf2048 = "test-only-leaf-rsa2048.pem", leafP384 = "test-only-leaf-p384.pem",
                    leafP256 = "test-only-leaf-p256.pem", intermediate = "test-only-intermediate.pem";
  // A pinned intermediate carries an unpinned RSA 2048 server key.
  EXPECT_TRUE(trusted({leaf2048, intermediate}, {intermediate}));
  // The server's own P-384 key, by name and by address.
  EXPECT_TRUE(trusted({leafP384, intermediate}, {leafP384}));
  EXPECT_TRUE(trusted({leafP384, intermediate}, {leafP384}, "127.0.0.1"));
  // The anchor found in the store counts as part of the verified chain.
  EXPECT_TRUE(trusted({leaf2048, intermediate}, {"test-only-root.pem"}));
  // Valid chain, no pinned key in it.
  EXPECT_FALSE(trusted({leaf2048, intermediate}, {"test-only-other-root.pem"}));
  // A P-256 server key never matches, whatever the pins hold.
  EXPECT_FALSE(trusted({leafP256}, {}, "app.orvik.test") );
  // Pinned key, but the chain fails verification: wrong host, expired,
  // missing intermediate, untrusted root.
  EXPECT_FALSE(trusted({leafP384, intermediate}, {leafP384}, "other.orvik.test"));
  EXPECT_FALSE(trusted({leafP384, intermediate}, {leafP384}, "127.0.0.2"));
  EXPECT_FALSE(trusted({leafP384, intermediate}, {leafP384}, "app.orvik.test", kAfterLeafExpiry));
  EXPECT_FALSE(trusted({leafP384}, {leafP384}));
  EXPECT_FALSE(trusted({"test-only-other-leaf.pem", "test-only-other-root.pem"}, {"test-only-other-leaf.pem"}));
  // No chain at all.
  EXPECT_FALSE(evaluatePinnedTrust(*trust_, {}, "app.orvik.test", {pins_.at(leafP384)}, kDuringValidity));
  EXPECT_FALSE(evaluatePinnedTrust(*trust_, {{0x01, 0x02}}, "app.orvik.test", {pins_.at(leafP384)}, kDuringValidity));
}

TEST(CertificateTrust, AnUnreadableExtraCAIsAnError) {
  std::string error;
  EXPECT_FALSE(CertificateTrust::make(false, "/nonexistent/ca.pem", error));
  EXPECT_NE(error.find("/nonexistent/ca.pem"), std::string::npos);
  EXPECT_TRUE(CertificateTrust::make(true, "", error));
}

}  // namespace
}  // namespace orvik

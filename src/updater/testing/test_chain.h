// Throwaway keys and certificates made with OpenSSL for the updater's tests:
// a root CA, an intermediate and a server certificate, each with a chosen
// key kind, written as DER values and (on demand) as PEM files.
#pragma once

#include <ctime>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "updater/update_server_trust.h"

typedef struct evp_pkey_st EVP_PKEY;

namespace orvik::testing {

enum class KeyKind { rsa2048, rsa3072, rsa4096, p256, p384, p521, ed25519 };

struct TestKey {
  explicit TestKey(KeyKind kind);
  ~TestKey();
  TestKey(const TestKey&) = delete;
  TestKey& operator=(const TestKey&) = delete;
  EVP_PKEY* key = nullptr;
  // The standard pin: base64 SHA-256 of the DER SubjectPublicKeyInfo.
  std::string standardPin() const;
};

struct TestChain {
  struct Options {
    KeyKind root = KeyKind::p384;
    KeyKind intermediate = KeyKind::p384;
    KeyKind leaf = KeyKind::p256;
    std::vector<std::string> names = {"127.0.0.1", "updates.test"};
    // Validity: from `notBefore` for `days` days.
    std::time_t notBefore = std::time(nullptr) - 3600;
    int days = 7;
  };
  TestChain() : TestChain(Options{}) {}
  explicit TestChain(const Options& options);
  ~TestChain();

  CertificateDer root, intermediate, leaf;
  std::unique_ptr<TestKey> rootKey, intermediateKey, leafKey;
  // What a server sends: its certificate, then the intermediate.
  std::vector<CertificateDer> served() const { return {leaf, intermediate}; }

  // root.pem; chain.pem (leaf then intermediate) and leaf.key for a server.
  void writePem(const std::filesystem::path& folder) const;
};

}  // namespace orvik::testing

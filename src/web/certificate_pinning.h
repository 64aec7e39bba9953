// Public-key pinning of the web application's host: a certificate chain is
// trusted only when it verifies against the trust anchors (the system store,
// plus an extra CA in builds that read the service override) for the host,
// and at least one certificate of the verified chain carries a pinned key.
//
// A pin is the base64 SHA-256 of a key's DER SubjectPublicKeyInfo
// (pin-sha256). Only RSA 4096 (exponent 65537) and P-384 keys yield a pin;
// every other key type or size yields none, so a pin can never be matched by
// a weaker key.
//
// Owner: WebViewHost (one CertificateTrust per host). THREAD-SAFETY: the
// functions are pure; a CertificateTrust may be used from one thread at a time.
#pragma once

#include <ctime>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace orvik {

using DerBytes = std::vector<unsigned char>;

// The pin of one DER certificate, or none (unparsable, unsupported key).
std::optional<std::string> publicKeyPinHash(const DerBytes& certificate);

class CertificateTrust {
 public:
  // Anchors: the system's CA store when `useSystemStore`, plus the PEM
  // certificates in `extraCAFile` when it is not empty. None when the extra
  // file cannot be read (a configured anchor that silently vanished would hide
  // a broken set-up).
  static std::unique_ptr<CertificateTrust> make(bool useSystemStore, const std::string& extraCAFile,
                                                std::string& error);
  ~CertificateTrust();
  CertificateTrust(const CertificateTrust&) = delete;
  CertificateTrust& operator=(const CertificateTrust&) = delete;

  // Whether `chain` (server certificate first, then what the server sent)
  // verifies for `host` (a name or an IP address literal), at `at` when given
  // (else now). On success `verifiedChain` holds the chain up to the anchor.
  bool verifies(const std::vector<DerBytes>& chain, const std::string& host, std::optional<std::time_t> at,
                std::vector<DerBytes>* verifiedChain = nullptr) const;

 private:
  struct Store;
  explicit CertificateTrust(std::unique_ptr<Store> store);
  std::unique_ptr<Store> store_;
};

// The trust decision: the chain verifies, and a certificate of the verified
// chain, walked from the server's to the anchor, has a pin in `pins`.
bool evaluatePinnedTrust(const CertificateTrust& trust, const std::vector<DerBytes>& chain, const std::string& host,
                         const std::vector<std::string>& pins, std::optional<std::time_t> at = std::nullopt);

}  // namespace orvik

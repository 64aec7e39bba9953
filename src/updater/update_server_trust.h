// Trust in the update download host. A connection is accepted only when its
// host is one of the update hosts, its chain verifies against the trust
// anchors for that host, and the public key of one certificate of the
// verified chain (server certificate, intermediates or anchor) hashes to one
// of the pinned values.
//
// The key hash is SHA-256 over a fixed SubjectPublicKeyInfo header for the
// key's type and size followed by the raw key (PKCS#1 RSAPublicKey for RSA,
// the uncompressed point for EC), as base64. Only RSA 2048 and 4096 and the
// NIST curves P-256 and P-384 have a header; every other key has no hash and
// never matches.
//
// THREAD-SAFETY: the functions are pure; an UpdateTrustAnchors may be used
// from any thread once made.
#pragma once

#include <ctime>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace orvik {

using CertificateDer = std::vector<unsigned char>;

// The pin of one DER certificate's key, or none (unparsable, key without a header).
std::optional<std::string> spkiSHA256(const CertificateDer& certificate);

enum class UpdateTrustVerdict {
  accepted,
  unknownHost,  // the host is not an update host (or the address is not https)
  untrusted,    // the chain does not verify, or no key of it is pinned
};

// Chain verification against the system's anchors (and an extra CA file in
// builds that read the service override).
class UpdateTrustAnchors {
 public:
  // None when `extraCAFile` is named but cannot be read.
  static std::unique_ptr<UpdateTrustAnchors> make(bool useSystemStore, const std::string& extraCAFile,
                                                  std::string& error);
  ~UpdateTrustAnchors();
  UpdateTrustAnchors(const UpdateTrustAnchors&) = delete;
  UpdateTrustAnchors& operator=(const UpdateTrustAnchors&) = delete;

  // The verified chain (server certificate first, anchor last) when `chain`
  // (server certificate first, then what the server sent) verifies for `host`
  // at `at` (now when none); none otherwise.
  std::optional<std::vector<CertificateDer>> verify(const std::vector<CertificateDer>& chain, const std::string& host,
                                                    std::optional<std::time_t> at = std::nullopt) const;

 private:
  struct Store;
  explicit UpdateTrustAnchors(std::unique_ptr<Store> store);
  std::unique_ptr<Store> store_;
};

// Whether a key of `verifiedChain` has a pin in `pins` (exact comparison).
bool chainMatchesPin(const std::vector<CertificateDer>& verifiedChain, const std::vector<std::string>& pins);

// Exact, case-sensitive membership.
bool isUpdateHost(std::string_view host, const std::vector<std::string>& allowedHosts);

// The whole decision for one TLS handshake: host first, then the chain and
// the pins.
UpdateTrustVerdict decideUpdateServerTrust(const std::string& host, const std::vector<CertificateDer>& chain,
                                           const std::vector<std::string>& allowedHosts,
                                           const std::vector<std::string>& pins, const UpdateTrustAnchors& anchors,
                                           std::optional<std::time_t> at = std::nullopt);

// What may be requested at all: an https address whose host is an update
// host. Checked before the first request and before following each redirect,
// so a plain-http address never goes out.
UpdateTrustVerdict decideUpdateAddress(std::string_view url, const std::vector<std::string>& allowedHosts);

// The host of an address as the alerts name it: the host for https, else the
// address's scheme and host ("http://127.0.0.1"), else the whole text.
std::string updateAddressHostForAlert(std::string_view url);

}  // namespace orvik

#include "web/certificate_pinning.h"

#include <algorithm>

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>
#include <openssl/x509v3.h>

namespace orvik {
namespace {

struct X509Deleter {
  void operator()(X509* certificate) const { X509_free(certificate); }
};
using X509Ptr = std::unique_ptr<X509, X509Deleter>;

X509Ptr parse(const DerBytes& der) {
  const unsigned char* bytes = der.data();
  return X509Ptr(d2i_X509(nullptr, &bytes, static_cast<long>(der.size())));
}

DerBytes encode(X509* certificate) {
  unsigned char* bytes = nullptr;
  const int length = i2d_X509(certificate, &bytes);
  if (length <= 0) return {};
  DerBytes der(bytes, bytes + length);
  OPENSSL_free(bytes);
  return der;
}

// SubjectPublicKeyInfo sizes of the two accepted key kinds: RSA 4096 with
// exponent 65537, and an uncompressed P-384 point.
constexpr int kRSA4096InfoLength = 550;
constexpr int kP384InfoLength = 120;

bool isAcceptedKey(EVP_PKEY* key, int infoLength) {
  switch (EVP_PKEY_get_base_id(key)) {
    case EVP_PKEY_RSA:
      return EVP_PKEY_get_bits(key) == 4096 && infoLength == kRSA4096InfoLength;
    case EVP_PKEY_EC: {
      char curve[64] = {};
      size_t length = 0;
      if (EVP_PKEY_get_group_name(key, curve, sizeof curve, &length) != 1) return false;
      return std::string_view(curve) == SN_secp384r1 && infoLength == kP384InfoLength;
    }
    default:
      return false;
  }
}

std::string base64(const unsigned char* bytes, int length) {
  std::string text(4 * ((length + 2) / 3), '\0');
  const int written = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(text.data()), bytes, length);
  text.resize(std::max(written, 0));
  return text;
}

}  // namespace

std::optional<std::string> publicKeyPinHash(const DerBytes& certificate) {
  const auto parsed = parse(certificate);
  if (!parsed) return std::nullopt;
  EVP_PKEY* key = X509_get0_pubkey(parsed.get());
  if (!key) return std::nullopt;
  unsigned char* info = nullptr;
  const int infoLength = i2d_PUBKEY(key, &info);
  if (infoLength <= 0) return std::nullopt;
  std::optional<std::string> pin;
  if (isAcceptedKey(key, infoLength)) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int digestLength = 0;
    if (EVP_Digest(info, infoLength, digest, &digestLength, EVP_sha256(), nullptr) == 1) {
      pin = base64(digest, static_cast<int>(digestLength));
    }
  }
  OPENSSL_free(info);
  return pin;
}

struct CertificateTrust::Store {
  X509_STORE* store = X509_STORE_new();
  ~Store() { X509_STORE_free(store); }
};

CertificateTrust::CertificateTrust(std::unique_ptr<Store> store) : store_(std::move(store)) {}
CertificateTrust::~CertificateTrust() = default;

std::unique_ptr<CertificateTrust> CertificateTrust::make(bool useSystemStore, const std::string& extraCAFile,
                                                         std::string& error) {
  auto store = std::make_unique<Store>();
  if (!store->store) {
    error = "cannot create a certificate store";
    return nullptr;
  }
  if (useSystemStore && X509_STORE_set_default_paths(store->store) != 1) {
    error = "cannot read the system's certificate store";
    return nullptr;
  }
  if (!extraCAFile.empty() && X509_STORE_load_file(store->store, extraCAFile.c_str()) != 1) {
    error = extraCAFile + ": cannot be read as PEM certificates";
    return nullptr;
  }
  return std::unique_ptr<CertificateTrust>(new CertificateTrust(std::move(store)));
}

bool CertificateTrust::verifies(const std::vector<DerBytes>& chain, const std::string& host,
                                std::optional<std::time_t> at, std::vector<DerBytes>* verifiedChain) const {
  if (chain.empty() || host.empty()) return false;
  std::vector<X509Ptr> parsed;
  for (const auto& der : chain) {
    auto certificate = parse(der);
    if (!certificate) return false;
    parsed.push_back(std::move(certificate));
  }
  STACK_OF(X509)* untrusted = sk_X509_new_null();
  for (std::size_t i = 1; i < parsed.size(); ++i) sk_X509_push(untrusted, parsed[i].get());
  X509_STORE_CTX* context = X509_STORE_CTX_new();
  bool ok = context && X509_STORE_CTX_init(context, store_->store, parsed.front().get(), untrusted) == 1;
  if (ok) {
    X509_VERIFY_PARAM* param = X509_STORE_CTX_get0_param(context);
    X509_VERIFY_PARAM_set_purpose(param, X509_PURPOSE_SSL_SERVER);
    // An address literal is checked against the IP entries, a name against
    // the DNS entries (never the subject's common name).
    if (X509_VERIFY_PARAM_set1_ip_asc(param, host.c_str()) != 1) {
      X509_VERIFY_PARAM_set_hostflags(param, X509_CHECK_FLAG_NEVER_CHECK_SUBJECT);
      ok = X509_VERIFY_PARAM_set1_host(param, host.c_str(), host.size()) == 1;
    }
    if (at) X509_VERIFY_PARAM_set_time(param, *at);
  }
  ok = ok && X509_verify_cert(context) == 1;
  if (ok && verifiedChain) {
    verifiedChain->clear();
    STACK_OF(X509)* verified = X509_STORE_CTX_get0_chain(context);
    for (int i = 0; i < sk_X509_num(verified); ++i) verifiedChain->push_back(encode(sk_X509_value(verified, i)));
  }
  X509_STORE_CTX_free(context);
  sk_X509_free(untrusted);
  return ok;
}

bool evaluatePinnedTrust(const CertificateTrust& trust, const std::vector<DerBytes>& chain, const std::string& host,
                         const std::vector<std::string>& pins, std::optional<std::time_t> at) {
  std::vector<DerBytes> verified;
  if (!trust.verifies(chain, host, at, &verified) || verified.empty()) return false;
  return std::any_of(verified.begin(), verified.end(), [&pins](const DerBytes& certificate) {
    const auto pin = publicKeyPinHash(certificate);
    return pin && std::find(pins.begin(), pins.end(), *pin) != pins.end();
  });
}

}  // namespace orvik

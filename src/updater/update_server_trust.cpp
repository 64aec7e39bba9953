#include "updater/update_server_trust.h"

#include <algorithm>
#include <array>
#include <span>

#include <glib.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/obj_mac.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>
#include <openssl/x509v3.h>

#include "platform/base64.h"
#include "platform/crypto.h"

namespace orvik {
namespace {

struct X509Deleter {
  void operator()(X509* certificate) const { X509_free(certificate); }
};
using X509Ptr = std::unique_ptr<X509, X509Deleter>;

X509Ptr parse(const CertificateDer& der) {
  const unsigned char* bytes = der.data();
  return X509Ptr(d2i_X509(nullptr, &bytes, static_cast<long>(der.size())));
}

CertificateDer encode(X509* certificate) {
  unsigned char* bytes = nullptr;
  const int length = i2d_X509(certificate, &bytes);
  if (length <= 0) return {};
  CertificateDer der(bytes, bytes + length);
  OPENSSL_free(bytes);
  return der;
}

// The DER SubjectPublicKeyInfo prefixes placed before the raw key.
constexpr std::array<unsigned char, 24> kRSA2048Header = {0x30, 0x82, 0x01, 0x22, 0x30, 0x0d, 0x06, 0x09,
                                                          0x2a, 0x86, 0x48, 0x86, 0xf7, 0x0d, 0x01, 0x01,
                                                          0x01, 0x05, 0x00, 0x03, 0x82, 0x01, 0x0f, 0x00};
constexpr std::array<unsigned char, 24> kRSA4096Header = {0x30, 0x82, 0x02, 0x22, 0x30, 0x0d, 0x06, 0x09,
                                                          0x2a, 0x86, 0x48, 0x86, 0xf7, 0x0d, 0x01, 0x01,
                                                          0x01, 0x05, 0x00, 0x03, 0x82, 0x02, 0x0f, 0x00};
constexpr std::array<unsigned char, 26> kP256Header = {0x30, 0x59, 0x30, 0x13, 0x06, 0x07, 0x2a, 0x86, 0x48,
                                                       0xce, 0x3d, 0x02, 0x01, 0x06, 0x08, 0x2a, 0x86, 0x48,
                                                       0xce, 0x3d, 0x03, 0x01, 0x07, 0x03, 0x42, 0x00};
constexpr std::array<unsigned char, 23> kP384Header = {0x30, 0x76, 0x30, 0x10, 0x06, 0x07, 0x2a, 0x86,
                                                       0x48, 0xce, 0x3d, 0x02, 0x01, 0x06, 0x05, 0x2b,
                                                       0x81, 0x04, 0x00, 0x22, 0x03, 0x62, 0x00};

// PKCS#1 RSAPublicKey.
std::optional<CertificateDer> rawRSAKey(EVP_PKEY* key) {
  unsigned char* bytes = nullptr;
  const int length = i2d_PublicKey(key, &bytes);
  if (length <= 0) return std::nullopt;
  CertificateDer raw(bytes, bytes + length);
  OPENSSL_free(bytes);
  return raw;
}

// The point in uncompressed form, whatever form the certificate carries.
std::optional<CertificateDer> rawECKey(EVP_PKEY* key, int curve) {
  std::size_t length = 0;
  if (EVP_PKEY_get_octet_string_param(key, "pub", nullptr, 0, &length) != 1 || length == 0) return std::nullopt;
  CertificateDer encoded(length);
  if (EVP_PKEY_get_octet_string_param(key, "pub", encoded.data(), encoded.size(), &length) != 1) return std::nullopt;
  encoded.resize(length);
  std::unique_ptr<EC_GROUP, decltype(&EC_GROUP_free)> group(EC_GROUP_new_by_curve_name(curve), EC_GROUP_free);
  if (!group) return std::nullopt;
  std::unique_ptr<EC_POINT, decltype(&EC_POINT_free)> point(EC_POINT_new(group.get()), EC_POINT_free);
  if (!point || EC_POINT_oct2point(group.get(), point.get(), encoded.data(), encoded.size(), nullptr) != 1) {
    return std::nullopt;
  }
  const std::size_t size =
      EC_POINT_point2oct(group.get(), point.get(), POINT_CONVERSION_UNCOMPRESSED, nullptr, 0, nullptr);
  if (size == 0) return std::nullopt;
  CertificateDer raw(size);
  if (EC_POINT_point2oct(group.get(), point.get(), POINT_CONVERSION_UNCOMPRESSED, raw.data(), raw.size(), nullptr) !=
      size) {
    return std::nullopt;
  }
  return raw;
}

std::string hostOf(std::string_view url, std::string* scheme) {
  GUri* uri = g_uri_parse(std::string(url).c_str(), G_URI_FLAGS_NONE, nullptr);
  if (!uri) return {};
  if (scheme) *scheme = g_uri_get_scheme(uri) ? g_uri_get_scheme(uri) : "";
  std::string host = g_uri_get_host(uri) ? g_uri_get_host(uri) : "";
  g_uri_unref(uri);
  return host;
}

}  // namespace

std::optional<std::string> spkiSHA256(const CertificateDer& certificate) {
  const auto parsed = parse(certificate);
  if (!parsed) return std::nullopt;
  EVP_PKEY* key = X509_get0_pubkey(parsed.get());
  if (!key) return std::nullopt;
  std::span<const unsigned char> header;
  std::optional<CertificateDer> raw;
  const int bits = EVP_PKEY_get_bits(key);
  switch (EVP_PKEY_get_base_id(key)) {
    case EVP_PKEY_RSA:
      if (bits == 2048) header = kRSA2048Header;
      if (bits == 4096) header = kRSA4096Header;
      if (!header.empty()) raw = rawRSAKey(key);
      break;
    case EVP_PKEY_EC: {
      char name[64] = {};
      std::size_t length = 0;
      if (EVP_PKEY_get_group_name(key, name, sizeof name, &length) != 1) return std::nullopt;
      const int curve = OBJ_sn2nid(name);
      if (curve == NID_X9_62_prime256v1 && bits == 256) header = kP256Header;
      if (curve == NID_secp384r1 && bits == 384) header = kP384Header;
      if (!header.empty()) raw = rawECKey(key, curve);
      break;
    }
    default:
      break;
  }
  if (header.empty() || !raw) return std::nullopt;
  std::vector<std::uint8_t> info(header.begin(), header.end());
  info.insert(info.end(), raw->begin(), raw->end());
  const auto digest = platform::crypto::sha256(info);
  return platform::encodeBase64(std::string_view(reinterpret_cast<const char*>(digest.data()), digest.size()));
}

struct UpdateTrustAnchors::Store {
  X509_STORE* store = nullptr;
  ~Store() { X509_STORE_free(store); }
};

UpdateTrustAnchors::UpdateTrustAnchors(std::unique_ptr<Store> store) : store_(std::move(store)) {}
UpdateTrustAnchors::~UpdateTrustAnchors() = default;

std::unique_ptr<UpdateTrustAnchors> UpdateTrustAnchors::make(bool useSystemStore, const std::string& extraCAFile,
                                                            std::string& error) {
  auto store = std::make_unique<Store>();
  store->store = X509_STORE_new();
  if (!store->store) {
    error = "could not make a certificate store";
    return nullptr;
  }
  if (useSystemStore) X509_STORE_set_default_paths(store->store);
  if (!extraCAFile.empty() && X509_STORE_load_file(store->store, extraCAFile.c_str()) != 1) {
    error = "could not read the CA file " + extraCAFile;
    return nullptr;
  }
  return std::unique_ptr<UpdateTrustAnchors>(new UpdateTrustAnchors(std::move(store)));
}

std::optional<std::vector<CertificateDer>> UpdateTrustAnchors::verify(const std::vector<CertificateDer>& chain,
                                                                      const std::string& host,
                                                                      std::optional<std::time_t> at) const {
  if (chain.empty() || host.empty()) return std::nullopt;
  auto leaf = parse(chain.front());
  if (!leaf) return std::nullopt;
  std::unique_ptr<STACK_OF(X509), void (*)(STACK_OF(X509)*)> untrusted(
      sk_X509_new_null(), [](STACK_OF(X509) * stack) { sk_X509_pop_free(stack, X509_free); });
  for (std::size_t i = 1; i < chain.size(); ++i) {
    if (auto certificate = parse(chain[i])) sk_X509_push(untrusted.get(), certificate.release());
  }
  std::unique_ptr<X509_STORE_CTX, decltype(&X509_STORE_CTX_free)> context(X509_STORE_CTX_new(), X509_STORE_CTX_free);
  if (!context || X509_STORE_CTX_init(context.get(), store_->store, leaf.get(), untrusted.get()) != 1) {
    return std::nullopt;
  }
  X509_VERIFY_PARAM* parameters = X509_STORE_CTX_get0_param(context.get());
  X509_VERIFY_PARAM_set_purpose(parameters, X509_PURPOSE_SSL_SERVER);
  if (at) X509_VERIFY_PARAM_set_time(parameters, *at);
  // An IP address literal is checked against the certificate's IP entries.
  if (X509_VERIFY_PARAM_set1_ip_asc(parameters, host.c_str()) != 1) {
    X509_VERIFY_PARAM_set_hostflags(parameters, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
    if (X509_VERIFY_PARAM_set1_host(parameters, host.c_str(), host.size()) != 1) return std::nullopt;
  }
  if (X509_verify_cert(context.get()) != 1) return std::nullopt;
  std::vector<CertificateDer> verified;
  STACK_OF(X509)* built = X509_STORE_CTX_get0_chain(context.get());
  for (int i = 0; i < sk_X509_num(built); ++i) verified.push_back(encode(sk_X509_value(built, i)));
  return verified;
}

bool chainMatchesPin(const std::vector<CertificateDer>& verifiedChain, const std::vector<std::string>& pins) {
  return std::any_of(verifiedChain.begin(), verifiedChain.end(), [&pins](const CertificateDer& certificate) {
    const auto pin = spkiSHA256(certificate);
    return pin && std::find(pins.begin(), pins.end(), *pin) != pins.end();
  });
}

bool isUpdateHost(std::string_view host, const std::vector<std::string>& allowedHosts) {
  return !host.empty() && std::find(allowedHosts.begin(), allowedHosts.end(), host) != allowedHosts.end();
}

UpdateTrustVerdict decideUpdateServerTrust(const std::string& host, const std::vector<CertificateDer>& chain,
                                           const std::vector<std::string>& allowedHosts,
                                           const std::vector<std::string>& pins, const UpdateTrustAnchors& anchors,
                                           std::optional<std::time_t> at) {
  if (!isUpdateHost(host, allowedHosts)) return UpdateTrustVerdict::unknownHost;
  const auto verified = anchors.verify(chain, host, at);
  if (!verified || !chainMatchesPin(*verified, pins)) return UpdateTrustVerdict::untrusted;
  return UpdateTrustVerdict::accepted;
}

UpdateTrustVerdict decideUpdateAddress(std::string_view url, const std::vector<std::string>& allowedHosts) {
  std::string scheme;
  const std::string host = hostOf(url, &scheme);
  if (scheme != "https" || !isUpdateHost(host, allowedHosts)) return UpdateTrustVerdict::unknownHost;
  return UpdateTrustVerdict::accepted;
}

std::string updateAddressHostForAlert(std::string_view url) {
  std::string scheme;
  const std::string host = hostOf(url, &scheme);
  if (host.empty()) return std::string(url);
  return scheme == "https" ? host : scheme + "://" + host;
}

}  // namespace orvik

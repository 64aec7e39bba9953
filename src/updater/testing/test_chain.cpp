#include "updater/testing/test_chain.h"

#include <fstream>
#include <stdexcept>

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include "platform/base64.h"
#include "platform/crypto.h"

namespace orvik::testing {
namespace {

EVP_PKEY* generate(KeyKind kind) {
  switch (kind) {
    case KeyKind::rsa2048: return EVP_PKEY_Q_keygen(nullptr, nullptr, "RSA", static_cast<size_t>(2048));
    case KeyKind::rsa3072: return EVP_PKEY_Q_keygen(nullptr, nullptr, "RSA", static_cast<size_t>(3072));
    case KeyKind::rsa4096: return EVP_PKEY_Q_keygen(nullptr, nullptr, "RSA", static_cast<size_t>(4096));
    case KeyKind::p256: return EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-256");
    case KeyKind::p384: return EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-384");
    case KeyKind::p521: return EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-521");
    case KeyKind::ed25519: return EVP_PKEY_Q_keygen(nullptr, nullptr, "ED25519");
  }
  return nullptr;
}

void addExtension(X509* certificate, X509* issuer, int nid, const char* value) {
  X509V3_CTX context;
  X509V3_set_ctx_nodb(&context);
  X509V3_set_ctx(&context, issuer, certificate, nullptr, nullptr, 0);
  X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value);
  if (!extension) throw std::runtime_error("bad extension");
  X509_add_ext(certificate, extension, -1);
  X509_EXTENSION_free(extension);
}

CertificateDer makeCertificate(const std::string& commonName, EVP_PKEY* subjectKey, X509* issuer,
                               EVP_PKEY* issuerKey, bool isCA, const std::vector<std::string>& names,
                               const TestChain::Options& options, long serial) {
  X509* certificate = X509_new();
  X509_set_version(certificate, 2);
  ASN1_INTEGER_set(X509_get_serialNumber(certificate), serial);
  X509_time_adj_ex(X509_getm_notBefore(certificate), 0, 0, const_cast<std::time_t*>(&options.notBefore));
  X509_time_adj_ex(X509_getm_notAfter(certificate), options.days, 0, const_cast<std::time_t*>(&options.notBefore));
  X509_set_pubkey(certificate, subjectKey);
  X509_NAME* name = X509_get_subject_name(certificate);
  X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>(commonName.c_str()), -1,
                             -1, 0);
  X509_set_issuer_name(certificate, issuer ? X509_get_subject_name(issuer) : name);
  X509* issuerCertificate = issuer ? issuer : certificate;
  addExtension(certificate, issuerCertificate, NID_subject_key_identifier, "hash");
  if (isCA) {
    addExtension(certificate, issuerCertificate, NID_basic_constraints, "critical,CA:TRUE");
    addExtension(certificate, issuerCertificate, NID_key_usage, "critical,keyCertSign,cRLSign");
  } else {
    addExtension(certificate, issuerCertificate, NID_basic_constraints, "critical,CA:FALSE");
    addExtension(certificate, issuerCertificate, NID_ext_key_usage, "serverAuth");
    std::string alternatives;
    for (const auto& entry : names) {
      if (!alternatives.empty()) alternatives += ",";
      const bool ip = entry.find_first_not_of("0123456789.") == std::string::npos;
      alternatives += (ip ? "IP:" : "DNS:") + entry;
    }
    if (!alternatives.empty()) addExtension(certificate, issuerCertificate, NID_subject_alt_name, alternatives.c_str());
  }
  if (issuer) addExtension(certificate, issuerCertificate, NID_authority_key_identifier, "keyid");
  const bool needsDigest = EVP_PKEY_get_base_id(issuerKey) != EVP_PKEY_ED25519;
  if (X509_sign(certificate, issuerKey, needsDigest ? EVP_sha256() : nullptr) <= 0) {
    X509_free(certificate);
    throw std::runtime_error("could not sign");
  }
  unsigned char* bytes = nullptr;
  const int length = i2d_X509(certificate, &bytes);
  CertificateDer der(bytes, bytes + length);
  OPENSSL_free(bytes);
  X509_free(certificate);
  return der;
}

X509* parse(const CertificateDer& der) {
  const unsigned char* bytes = der.data();
  return d2i_X509(nullptr, &bytes, static_cast<long>(der.size()));
}

void writeCertificatePem(std::ofstream& out, const CertificateDer& der) {
  X509* certificate = parse(der);
  BIO* bio = BIO_new(BIO_s_mem());
  PEM_write_bio_X509(bio, certificate);
  char* data = nullptr;
  const long length = BIO_get_mem_data(bio, &data);
  out.write(data, length);
  BIO_free(bio);
  X509_free(certificate);
}

}  // namespace

TestKey::TestKey(KeyKind kind) : key(generate(kind)) {
  if (!key) throw std::runtime_error("could not make a key");
}
TestKey::~TestKey() { EVP_PKEY_free(key); }

std::string TestKey::standardPin() const {
  unsigned char* info = nullptr;
  const int length = i2d_PUBKEY(key, &info);
  const auto digest = platform::crypto::sha256(std::string_view(reinterpret_cast<const char*>(info), length));
  OPENSSL_free(info);
  return platform::encodeBase64(std::string_view(reinterpret_cast<const char*>(digest.data()), digest.size()));
}

TestChain::TestChain(const Options& options)
    : rootKey(std::make_unique<TestKey>(options.root)),
      intermediateKey(std::make_unique<TestKey>(options.intermediate)),
      leafKey(std::make_unique<TestKey>(options.leaf)) {
  root = makeCertificate("TEST-ONLY update root", rootKey->key, nullptr, rootKey->key, true, {}, options, 1);
  X509* rootCertificate = parse(root);
  intermediate = makeCertificate("TEST-ONLY update intermediate", intermediateKey->key, rootCertificate, rootKey->key,
                                 true, {}, options, 2);
  X509_free(rootCertificate);
  X509* intermediateCertificate = parse(intermediate);
  leaf = makeCertificate(options.names.empty() ? "server" : options.names.front(), leafKey->key,
                         intermediateCertificate, intermediateKey->key, false, options.names, options, 3);
  X509_free(intermediateCertificate);
}

TestChain::~TestChain() = default;

void TestChain::writePem(const std::filesystem::path& folder) const {
  {
    std::ofstream out(folder / "root.pem");
    writeCertificatePem(out, root);
  }
  {
    std::ofstream out(folder / "chain.pem");
    writeCertificatePem(out, leaf);
    writeCertificatePem(out, intermediate);
  }
  BIO* bio = BIO_new_file((folder / "leaf.key").c_str(), "w");
  PEM_write_bio_PrivateKey(bio, leafKey->key, nullptr, nullptr, 0, nullptr, nullptr);
  BIO_free(bio);
}

}  // namespace orvik::testing

#include "support/test_pki.h"

#include <openssl/bn.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>
#include <stdlib.h>

#include <cstdlib>
#include <memory>
#include <stdexcept>

namespace vexcomm::test {
namespace {

struct Free {
  void operator()(EVP_PKEY* p) const { EVP_PKEY_free(p); }
  void operator()(X509* p) const { X509_free(p); }
  void operator()(BIO* p) const { BIO_free(p); }
};
using Key = std::unique_ptr<EVP_PKEY, Free>;
using Cert = std::unique_ptr<X509, Free>;

void Check(bool ok, const char* what) {
  if (!ok) throw std::runtime_error(std::string("test PKI: ") + what + " failed");
}

Key NewKey() {
  Key key(EVP_EC_gen("P-256"));
  Check(key != nullptr, "EC key generation");
  return key;
}

void AddExtension(X509* cert, X509* issuer, int nid, const std::string& value) {
  X509V3_CTX ctx;
  X509V3_set_ctx_nodb(&ctx);
  X509V3_set_ctx(&ctx, issuer, cert, nullptr, nullptr, 0);
  X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value.c_str());
  Check(ext != nullptr, "certificate extension");
  const int added = X509_add_ext(cert, ext, -1);
  X509_EXTENSION_free(ext);
  Check(added == 1, "adding an extension");
}

// Valid from an hour ago (clock skew) for a day: made per test run, never stored.
Cert NewCert(EVP_PKEY* key, const std::string& common_name, X509* issuer) {
  Cert cert(X509_new());
  Check(cert != nullptr, "X509_new");
  X509_set_version(cert.get(), 2);
  unsigned char serial[16];
  Check(RAND_bytes(serial, sizeof serial) == 1, "serial number");
  serial[0] &= 0x7F;
  BIGNUM* bn = BN_bin2bn(serial, sizeof serial, nullptr);
  BN_to_ASN1_INTEGER(bn, X509_get_serialNumber(cert.get()));
  BN_free(bn);
  X509_gmtime_adj(X509_getm_notBefore(cert.get()), -3600);
  X509_gmtime_adj(X509_getm_notAfter(cert.get()), 24 * 3600);
  Check(X509_set_pubkey(cert.get(), key) == 1, "public key");
  X509_NAME* name = X509_get_subject_name(cert.get());
  X509_NAME_add_entry_by_txt(name, "O", MBSTRING_ASC,
                             reinterpret_cast<const unsigned char*>("VexComm Test"), -1, -1, 0);
  X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8,
                             reinterpret_cast<const unsigned char*>(common_name.c_str()), -1, -1,
                             0);
  X509* signer = issuer ? issuer : cert.get();
  X509_set_issuer_name(cert.get(), X509_get_subject_name(signer));
  if (!issuer) {
    AddExtension(cert.get(), signer, NID_basic_constraints, "critical,CA:TRUE");
    AddExtension(cert.get(), signer, NID_key_usage, "critical,keyCertSign,cRLSign");
    AddExtension(cert.get(), signer, NID_subject_key_identifier, "hash");
  }
  return cert;
}

void Sign(X509* cert, EVP_PKEY* key) {
  Check(X509_sign(cert, key, EVP_sha256()) > 0, "signing");
}

void WritePem(const std::filesystem::path& file, auto write) {
  std::unique_ptr<BIO, Free> bio(BIO_new_file(file.c_str(), "w"));
  Check(bio != nullptr, "opening a PEM file");
  Check(write(bio.get()) == 1, "writing a PEM file");
}

bool IsIpAddress(const std::string& name) {
  return name.find_first_not_of("0123456789.") == std::string::npos ||
         name.find(':') != std::string::npos;
}

}  // namespace

TestPki::TestPki(std::vector<std::string> server_names) {
  if (server_names.empty()) throw std::invalid_argument("test PKI: no server name");
  const char* base = std::getenv("TMPDIR");
  std::string pattern =
      std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/vexcomm-pki-XXXXXX";
  Check(::mkdtemp(pattern.data()) != nullptr, "mkdtemp");
  dir_ = pattern;

  Key ca_key = NewKey();
  Cert ca = NewCert(ca_key.get(), "VexComm Test CA", nullptr);
  Sign(ca.get(), ca_key.get());

  Key server_key = NewKey();
  Cert server = NewCert(server_key.get(), server_names.front(), ca.get());
  std::string alt_names;
  for (const auto& name : server_names) {
    if (!alt_names.empty()) alt_names += ',';
    alt_names += (IsIpAddress(name) ? "IP:" : "DNS:") + name;
  }
  AddExtension(server.get(), ca.get(), NID_basic_constraints, "critical,CA:FALSE");
  AddExtension(server.get(), ca.get(), NID_key_usage, "critical,digitalSignature");
  AddExtension(server.get(), ca.get(), NID_ext_key_usage, "serverAuth");
  AddExtension(server.get(), ca.get(), NID_subject_alt_name, alt_names);
  AddExtension(server.get(), ca.get(), NID_authority_key_identifier, "keyid:always");
  Sign(server.get(), ca_key.get());

  WritePem(ca_file(), [&](BIO* bio) { return PEM_write_bio_X509(bio, ca.get()); });
  WritePem(cert_file(), [&](BIO* bio) { return PEM_write_bio_X509(bio, server.get()); });
  WritePem(key_file(), [&](BIO* bio) {
    return PEM_write_bio_PrivateKey(bio, server_key.get(), nullptr, nullptr, 0, nullptr, nullptr);
  });
}

TestPki::~TestPki() {
  std::error_code ec;
  std::filesystem::remove_all(dir_, ec);
}

}  // namespace vexcomm::test

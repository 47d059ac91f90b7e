#include "vexmsg-server/lib/throwaway_pki.h"

#include <openssl/bn.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <memory>
#include <stdexcept>

namespace vexmsg {
namespace {

struct OpenSslFree {
  void operator()(EVP_PKEY* p) const { EVP_PKEY_free(p); }
  void operator()(X509* p) const { X509_free(p); }
  void operator()(BIO* p) const { BIO_free(p); }
  void operator()(BIGNUM* p) const { BN_free(p); }
  void operator()(X509_EXTENSION* p) const { X509_EXTENSION_free(p); }
};
template <class T>
using Owned = std::unique_ptr<T, OpenSslFree>;

void Require(bool ok, const char* step) {
  if (!ok) throw std::runtime_error(std::string("throwaway certificates: ") + step + " failed");
}

Owned<EVP_PKEY> NewKey() {
  Owned<EVP_PKEY> key(EVP_EC_gen("P-256"));
  Require(key != nullptr, "key generation");
  return key;
}

void Extend(X509* cert, X509* issuer, int nid, const char* value) {
  X509V3_CTX ctx;
  X509V3_set_ctx_nodb(&ctx);
  X509V3_set_ctx(&ctx, issuer, cert, nullptr, nullptr, 0);
  Owned<X509_EXTENSION> ext(X509V3_EXT_conf_nid(nullptr, &ctx, nid, value));
  Require(ext != nullptr && X509_add_ext(cert, ext.get(), -1) == 1, "certificate extension");
}

// Valid from an hour back, for clocks that differ a little.
Owned<X509> NewCertificate(EVP_PKEY* key, const std::string& organization,
                           const std::string& common_name, X509* issuer,
                           std::chrono::days valid_for) {
  Owned<X509> cert(X509_new());
  Require(cert != nullptr && X509_set_version(cert.get(), 2) == 1, "certificate");
  unsigned char serial[16];
  Require(RAND_bytes(serial, sizeof serial) == 1, "serial number");
  serial[0] &= 0x7F;
  Owned<BIGNUM> number(BN_bin2bn(serial, sizeof serial, nullptr));
  Require(number && BN_to_ASN1_INTEGER(number.get(), X509_get_serialNumber(cert.get())),
          "serial number");
  X509_gmtime_adj(X509_getm_notBefore(cert.get()), -3600);
  X509_gmtime_adj(X509_getm_notAfter(cert.get()),
                  static_cast<long>(std::chrono::seconds(valid_for).count()));
  Require(X509_set_pubkey(cert.get(), key) == 1, "public key");
  X509_NAME* name = X509_get_subject_name(cert.get());
  X509_NAME_add_entry_by_txt(name, "O", MBSTRING_UTF8,
                             reinterpret_cast<const unsigned char*>(organization.c_str()), -1, -1,
                             0);
  X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8,
                             reinterpret_cast<const unsigned char*>(common_name.c_str()), -1, -1,
                             0);
  X509* signer = issuer ? issuer : cert.get();
  Require(X509_set_issuer_name(cert.get(), X509_get_subject_name(signer)) == 1, "issuer");
  return cert;
}

void WritePem(const std::filesystem::path& file, auto write) {
  Owned<BIO> bio(BIO_new_file(file.c_str(), "w"));
  Require(bio != nullptr, "opening a PEM file");
  Require(write(bio.get()) == 1, "writing a PEM file");
}

bool IsIpAddress(const std::string& name) {
  return name.find_first_not_of("0123456789.") == std::string::npos ||
         name.find(':') != std::string::npos;
}

}  // namespace

void WriteThrowawayPki(const std::filesystem::path& dir,
                       const std::vector<std::string>& server_names,
                       const std::string& organization, std::chrono::days valid_for,
                       bool alt_names) {
  Require(!server_names.empty(), "naming the server");
  std::string names;
  for (const auto& name : server_names) {
    if (!names.empty()) names += ',';
    names += (IsIpAddress(name) ? "IP:" : "DNS:") + name;
  }
  auto ca_key = NewKey();
  auto ca = NewCertificate(ca_key.get(), organization, organization + " CA", nullptr, valid_for);
  Extend(ca.get(), ca.get(), NID_basic_constraints, "critical,CA:TRUE");
  Extend(ca.get(), ca.get(), NID_key_usage, "critical,keyCertSign,cRLSign");
  Extend(ca.get(), ca.get(), NID_subject_key_identifier, "hash");
  Require(X509_sign(ca.get(), ca_key.get(), EVP_sha256()) > 0, "signing the CA");

  auto server_key = NewKey();
  auto server =
      NewCertificate(server_key.get(), organization, server_names.front(), ca.get(), valid_for);
  Extend(server.get(), ca.get(), NID_basic_constraints, "critical,CA:FALSE");
  Extend(server.get(), ca.get(), NID_key_usage, "critical,digitalSignature");
  Extend(server.get(), ca.get(), NID_ext_key_usage, "serverAuth");
  if (alt_names) Extend(server.get(), ca.get(), NID_subject_alt_name, names.c_str());
  Extend(server.get(), ca.get(), NID_authority_key_identifier, "keyid:always");
  Require(X509_sign(server.get(), ca_key.get(), EVP_sha256()) > 0, "signing the server");

  WritePem(dir / "ca.pem", [&](BIO* bio) { return PEM_write_bio_X509(bio, ca.get()); });
  WritePem(dir / "server.pem", [&](BIO* bio) { return PEM_write_bio_X509(bio, server.get()); });
  WritePem(dir / "server.key", [&](BIO* bio) {
    return PEM_write_bio_PrivateKey(bio, server_key.get(), nullptr, nullptr, 0, nullptr, nullptr);
  });
  std::filesystem::permissions(
      dir / "server.key", std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
}

}  // namespace vexmsg

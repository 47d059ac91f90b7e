#include "socket/certificate.h"

#include <openssl/evp.h>
#include <openssl/x509.h>

#include <ctime>
#include <string>

#include <vexcomm/error.h>

#include "automation/member_table.h"

namespace vexcomm {

namespace {

using automation::Args;
using automation::DispId;
using automation::InvokeKind;
using automation::Variant;

const automation::MemberSet<Certificate>& CertificateMembers() {
  static const auto members =
      automation::MemberTable<Certificate>()
          .Get("Subject", 1, [](Certificate& c) { return c.subject; })
          .Get("Issuer", 2, [](Certificate& c) { return c.issuer; })
          .Get("NotBefore", 3, [](Certificate& c) { return c.not_before; })
          .Get("NotAfter", 4, [](Certificate& c) { return c.not_after; })
          .Get("Fingerprint", 5, [](Certificate& c) { return c.fingerprint; })
          .Get("Verified", 6, [](Certificate& c) { return c.verified; })
          .Get("VerifyError", 7, [](Certificate& c) { return c.verify_error; })
          .Get("PublicKeyPin", 8, [](Certificate& c) { return c.public_key_pin; })
          .DefaultMember(1)  // the subject names the certificate
          .BuildSet();
  return members;
}

}  // namespace

std::optional<DispId> Certificate::GetIdOfName(std::string_view name) const {
  return CertificateMembers().IdOfName(name);
}

Variant Certificate::Invoke(DispId id, InvokeKind kind, Args args) {
  return CertificateMembers().Invoke(*this, id, kind, args);
}

namespace platform {

namespace {

std::string NameText(const X509_NAME* name) {
  BIO* bio = BIO_new(BIO_s_mem());
  if (!bio) return {};
  X509_NAME_print_ex(bio, name, 0, XN_FLAG_RFC2253 & ~ASN1_STRFLGS_ESC_MSB);
  char* data = nullptr;
  const long size = BIO_get_mem_data(bio, &data);
  std::string text(data, static_cast<std::size_t>(size > 0 ? size : 0));
  BIO_free(bio);
  return text;
}

std::string TimeText(const ASN1_TIME* time) {
  std::tm tm{};
  if (!time || ASN1_TIME_to_tm(time, &tm) != 1) return {};
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &tm);
  return text;
}

// As curl's --pinnedpubkey: the base64 of the SHA-256 of the DER SubjectPublicKeyInfo.
std::string PublicKeyPin(X509* x) {
  unsigned char* der = nullptr;
  // The certificate's own SubjectPublicKeyInfo, as it stands: encoding the key anew would look
  // its encoder up among all the providers offer, a millisecond of every connection.
  const int size = i2d_X509_PUBKEY(X509_get_X509_PUBKEY(x), &der);
  unsigned char md[EVP_MAX_MD_SIZE];
  unsigned int md_size = 0;
  const bool hashed = size > 0 && EVP_Digest(der, static_cast<std::size_t>(size), md, &md_size,
                                             EVP_sha256(), nullptr) == 1;
  OPENSSL_free(der);
  if (!hashed) return {};
  unsigned char base64[4 * (EVP_MAX_MD_SIZE + 2) / 3 + 1];
  const int length = EVP_EncodeBlock(base64, md, static_cast<int>(md_size));
  return "sha256//" +
         std::string(reinterpret_cast<const char*>(base64), static_cast<std::size_t>(length));
}

}  // namespace

std::shared_ptr<Certificate> DescribePeer(SSL* ssl, int first_error) {
  auto cert = std::make_shared<Certificate>();
  X509* x = SSL_get1_peer_certificate(ssl);
  if (!x) {
    cert->verify_error = "Der Server hat kein Zertifikat gesendet";
    return cert;
  }
  cert->subject = NameText(X509_get_subject_name(x));
  cert->issuer = NameText(X509_get_issuer_name(x));
  cert->not_before = TimeText(X509_get0_notBefore(x));
  cert->not_after = TimeText(X509_get0_notAfter(x));
  unsigned char md[EVP_MAX_MD_SIZE];
  unsigned int md_size = 0;
  if (X509_digest(x, EVP_sha256(), md, &md_size) == 1) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    for (unsigned int i = 0; i < md_size; ++i) {
      if (i > 0) cert->fingerprint += ':';
      cert->fingerprint += kHex[md[i] >> 4];
      cert->fingerprint += kHex[md[i] & 15];
    }
  }
  cert->public_key_pin = PublicKeyPin(x);
  X509_free(x);
  const long result = first_error != X509_V_OK ? first_error : SSL_get_verify_result(ssl);
  cert->verified = result == X509_V_OK;
  if (!cert->verified) cert->verify_error = X509_verify_cert_error_string(result);
  return cert;
}

}  // namespace platform
}  // namespace vexcomm

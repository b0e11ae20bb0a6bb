#include "cert.h"

#include <openssl/asn1.h>
#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/objects.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509.h>

#include <algorithm>
#include <cstring>
#include <memory>

#include "der.h"
#include "tevqa.h"
#include "zarvo.h"

namespace keytool {
namespace {

template <typename T, void (*F)(T*)>
struct Del {
  void operator()(T* p) const { F(p); }
};
using X509Ptr = std::unique_ptr<X509, Del<X509, X509_free>>;
using NamePtr = std::unique_ptr<X509_NAME, Del<X509_NAME, X509_NAME_free>>;
using ObjPtr = std::unique_ptr<ASN1_OBJECT, Del<ASN1_OBJECT, ASN1_OBJECT_free>>;
using TimePtr = std::unique_ptr<ASN1_TIME, Del<ASN1_TIME, ASN1_TIME_free>>;
using IntPtr = std::unique_ptr<ASN1_INTEGER, Del<ASN1_INTEGER, ASN1_INTEGER_free>>;
using BioPtr = std::unique_ptr<BIO, Del<BIO, BIO_free_all>>;

bool Fail(std::string* error, const std::string& what) {
  ERR_clear_error();
  if (error) *error = what;
  return false;
}

// i2d of any OpenSSL object into bytes.
template <typename T, typename F>
Bytes I2d(const T* obj, F i2d) {
  const int n = i2d(obj, nullptr);
  if (n <= 0) return {};
  Bytes out(static_cast<size_t>(n));
  unsigned char* p = out.data();
  if (i2d(obj, &p) != n) return {};
  return out;
}

Bytes OidDer(const std::string& text) {
  ObjPtr obj(OBJ_txt2obj(text.c_str(), 1));
  if (!obj) return {};
  return I2d(obj.get(), i2d_ASN1_OBJECT);
}

Bytes AlgorithmId(const std::string& oid) {
  const Bytes o = OidDer(oid);
  if (o.empty()) return {};
  return der::Sequence({&o});
}

Bytes TimeDer(int64_t t) {
  TimePtr time(ASN1_TIME_set(nullptr, static_cast<time_t>(t)));
  if (!time) return {};
  return I2d(time.get(), i2d_ASN1_TIME);
}

Bytes SerialDer(uint64_t serial) {
  IntPtr n(ASN1_INTEGER_new());
  if (!n || ASN1_INTEGER_set_uint64(n.get(), serial) != 1) return {};
  return I2d(n.get(), i2d_ASN1_INTEGER);
}

// basicConstraints, critical for an authority.
Bytes Extensions(bool authority) {
  const Bytes oid = OidDer("2.5.29.19");
  const Bytes yes = der::Tlv(der::kBoolean, {0xFF});
  const Bytes bc = authority ? der::Sequence({&yes}) : der::Sequence({});
  const Bytes value = der::Tlv(der::kOctetString, bc);
  const Bytes ext = authority ? der::Sequence({&oid, &yes, &value}) : der::Sequence({&oid, &value});
  return der::Tlv(der::Explicit(3), der::Sequence({&ext}));
}

// UTF-8 to UCS-2 big-endian; false for malformed text or characters
// outside the Basic Multilingual Plane.
bool Ucs2Be(const std::string& s, Bytes* out) {
  out->clear();
  for (size_t i = 0; i < s.size();) {
    const auto c = static_cast<uint8_t>(s[i]);
    uint32_t cp = 0;
    size_t n = 0;
    if (c < 0x80) {
      cp = c;
      n = 1;
    } else if ((c & 0xE0) == 0xC0) {
      cp = c & 0x1F;
      n = 2;
    } else if ((c & 0xF0) == 0xE0) {
      cp = c & 0x0F;
      n = 3;
    } else {
      return false;
    }
    if (i + n > s.size()) return false;
    for (size_t k = 1; k < n; ++k) {
      const auto cc = static_cast<uint8_t>(s[i + k]);
      if ((cc & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (cc & 0x3F);
    }
    if (cp >= 0xD800 && cp <= 0xDFFF) return false;
    out->push_back(static_cast<uint8_t>(cp >> 8));
    out->push_back(static_cast<uint8_t>(cp));
    i += n;
  }
  return true;
}

X509Ptr ParseDer(const Bytes& der) {
  const unsigned char* p = der.data();
  X509Ptr x(d2i_X509(nullptr, &p, static_cast<long>(der.size())));
  if (x && p != der.data() + der.size()) x.reset();
  ERR_clear_error();
  return x;
}

bool IsOid(const ASN1_OBJECT* obj, const char* oid) {
  char text[128];
  const int n = OBJ_obj2txt(text, sizeof text, obj, 1);
  return n > 0 && static_cast<size_t>(n) < sizeof text && std::strcmp(text, oid) == 0;
}

}  // namespace

bool CommonNameDer(const std::string& utf8, NameType type, Bytes* out, std::string* error) {
  NamePtr name(X509_NAME_new());
  if (!name) return Fail(error, "out of memory");
  Bytes value(utf8.begin(), utf8.end());
  int asn1_type = V_ASN1_UTF8STRING;
  if (type == NameType::Bmp) {
    if (!Ucs2Be(utf8, &value)) return Fail(error, "the name does not fit a BMPString");
    asn1_type = V_ASN1_BMPSTRING;
  }
  if (X509_NAME_add_entry_by_NID(name.get(), NID_commonName, asn1_type, value.data(),
                                 static_cast<int>(value.size()), -1, 0) != 1)
    return Fail(error, "cannot make the name");
  *out = I2d(name.get(), i2d_X509_NAME);
  return out->empty() ? Fail(error, "cannot encode the name") : true;
}

bool BuildCertificate(const CertRequest& req, const Signer& signer, Bytes* out,
                      std::string* error) {
  uint64_t serial = req.serial;
  while (serial == 0) {
    if (RAND_bytes(reinterpret_cast<unsigned char*>(&serial), sizeof serial) != 1)
      return Fail(error, "no random serial");
    serial &= 0x7FFFFFFFFFFFFFFFull;
  }
  Bytes subject;
  if (!CommonNameDer(req.common_name, req.name_type, &subject, error)) return false;
  const Bytes version = der::Tlv(der::Explicit(0), der::Tlv(der::kInteger, {2}));
  const Bytes serial_der = SerialDer(serial);
  const Bytes sig_alg = AlgorithmId(ZARVO_OID_SIGNATURE);
  const Bytes key_alg = AlgorithmId(req.key_oid.empty() ? ZARVO_OID_PUBLIC_KEY : req.key_oid);
  const Bytes from = TimeDer(req.not_before), to = TimeDer(req.not_after);
  if (serial_der.empty() || sig_alg.empty() || key_alg.empty() || from.empty() || to.empty())
    return Fail(error, "cannot encode the certificate fields");
  const Bytes validity = der::Sequence({&from, &to});
  const Bytes key_bits = der::BitString(req.key.data(), req.key.size());
  const Bytes spki = der::Sequence({&key_alg, &key_bits});
  const Bytes ext = Extensions(req.authority);
  const Bytes tbs = der::Sequence(
      {&version, &serial_der, &sig_alg, &signer.name_der, &validity, &subject, &spki, &ext});

  uint8_t hash[TEVQA_HASH_SIZE], sig[TEVQA_SIGNATURE_SIZE];
  UZDST_HASH_data(tbs.data(), static_cast<uint32_t>(tbs.size()), nullptr, hash);
  if (UZDST_SIGNATURE_generate(hash, signer.keys.priv.data(), signer.keys.pub.data(), sig) != 1)
    return Fail(error, "signing failed");
  const Bytes sig_bits = der::BitString(sig, sizeof sig);
  *out = der::Sequence({&tbs, &sig_alg, &sig_bits});
  return true;
}

bool CertificateDer(const Bytes& cert, Bytes* der, std::string* error) {
  static constexpr char kBegin[] = "-----BEGIN";
  const std::string head(cert.begin(), cert.begin() + std::min<size_t>(cert.size(), 64));
  if (head.find(kBegin) == std::string::npos) {
    *der = cert;
    return true;
  }
  BioPtr bio(BIO_new_mem_buf(cert.data(), static_cast<int>(cert.size())));
  char* name = nullptr;
  char* header = nullptr;
  unsigned char* data = nullptr;
  long len = 0;
  if (!bio || PEM_read_bio(bio.get(), &name, &header, &data, &len) != 1)
    return Fail(error, "unreadable PEM");
  const bool ok = std::strcmp(name, "CERTIFICATE") == 0;
  if (ok) der->assign(data, data + len);
  OPENSSL_free(name);
  OPENSSL_free(header);
  OPENSSL_free(data);
  return ok ? true : Fail(error, "the PEM block is not a certificate");
}

std::string CertificatePem(const Bytes& der) {
  BioPtr bio(BIO_new(BIO_s_mem()));
  if (!bio ||
      PEM_write_bio(bio.get(), "CERTIFICATE", "", der.data(), static_cast<long>(der.size())) <= 0)
    return {};
  char* p = nullptr;
  const long n = BIO_get_mem_data(bio.get(), &p);
  return std::string(p, static_cast<size_t>(n));
}

bool SubjectNameDer(const Bytes& cert, Bytes* out, std::string* error) {
  Bytes der;
  if (!CertificateDer(cert, &der, error)) return false;
  X509Ptr x = ParseDer(der);
  if (!x) return Fail(error, "not a certificate");
  *out = I2d(X509_get_subject_name(x.get()), i2d_X509_NAME);
  return out->empty() ? Fail(error, "cannot encode the subject") : true;
}

bool VerifyCertificate(const Bytes& cert, const Bytes& authority_cert, int64_t now,
                       std::string* error) {
  Bytes der, ca_der;
  if (!CertificateDer(cert, &der, error) || !CertificateDer(authority_cert, &ca_der, error))
    return false;
  uint8_t record[TEVQA_PUBLIC_RECORD_SIZE], ca_record[TEVQA_PUBLIC_RECORD_SIZE];
  int64_t from = 0, to = 0;
  if (initBCr(der.data(), static_cast<int32_t>(der.size()), record, nullptr, &from, &to) <= 0)
    return Fail(error, "the certificate is not readable (code " + std::to_string(getErr()) + ")");
  if (initBPb(ca_der.data(), static_cast<int32_t>(ca_der.size()), ca_record) == 0)
    return Fail(error, "the authority certificate is not readable");
  X509Ptr x = ParseDer(der), ca = ParseDer(ca_der);
  if (!x || !ca) return Fail(error, "not a DER certificate");
  if (X509_NAME_cmp(X509_get_issuer_name(x.get()), X509_get_subject_name(ca.get())) != 0)
    return Fail(error, "the issuer is not the authority");

  // Certificate ::= SEQUENCE { tbs, signatureAlgorithm, signature BIT STRING }
  der::Element outer, tbs, alg, sig;
  if (!der::Read(der.data(), der.size(), &outer) || outer.tag != der::kSequence ||
      outer.total() != der.size())
    return Fail(error, "malformed certificate");
  const uint8_t* p = outer.content();
  const uint8_t* end = p + outer.length;
  if (!der::Read(p, end - p, &tbs) || tbs.tag != der::kSequence) return Fail(error, "no TBS");
  p += tbs.total();
  if (!der::Read(p, end - p, &alg) || alg.tag != der::kSequence) return Fail(error, "no algorithm");
  p += alg.total();
  if (!der::Read(p, end - p, &sig) || sig.tag != der::kBitString || p + sig.total() != end)
    return Fail(error, "no signature");
  const X509_ALGOR* outer_alg = nullptr;
  X509_get0_signature(nullptr, &outer_alg, x.get());
  const ASN1_OBJECT* outer_oid = nullptr;
  const ASN1_OBJECT* inner_oid = nullptr;
  X509_ALGOR_get0(&outer_oid, nullptr, nullptr, outer_alg);
  X509_ALGOR_get0(&inner_oid, nullptr, nullptr, X509_get0_tbs_sigalg(x.get()));
  if (!outer_oid || !inner_oid || !IsOid(outer_oid, ZARVO_OID_SIGNATURE) ||
      !IsOid(inner_oid, ZARVO_OID_SIGNATURE))
    return Fail(error, "not signed with our signature algorithm");
  if (sig.length != 1 + TEVQA_SIGNATURE_SIZE || sig.content()[0] != 0)
    return Fail(error, "the signature has the wrong size");

  uint8_t hash[TEVQA_HASH_SIZE];
  UZDST_HASH_data(tbs.start, static_cast<uint32_t>(tbs.total()), nullptr, hash);
  int verdict = 0;
  if (UZDST_SIGNATURE_verify(hash, ca_record, sig.content() + 1, &verdict) != 1 || verdict != 1)
    return Fail(error, "the signature is not valid");
  if (now != 0 && (now < from || now > to)) return Fail(error, "the certificate is not valid now");
  return true;
}

}  // namespace keytool

// Certificates: X.509 v3 (DER or PEM) carrying the 768-byte public record as
// the subject public key of our private algorithm.
#include <openssl/asn1.h>
#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/objects.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <cstring>
#include <ctime>
#include <memory>
#include <string_view>

#include "error_state.h"
#include "zarvo.h"
#include "zarvo/formats.h"

namespace zarvo {
namespace {

struct X509Del {
  void operator()(X509* x) const { X509_free(x); }
};
struct BioDel {
  void operator()(BIO* b) const { BIO_free(b); }
};
using X509Ptr = std::unique_ptr<X509, X509Del>;

constexpr size_t kOwnerNameSize = 256;

bool LooksLikePem(const uint8_t* data, size_t len) {
  size_t i = 0;
  while (i < len && (data[i] == ' ' || data[i] == '\t' || data[i] == '\r' || data[i] == '\n')) ++i;
  constexpr std::string_view kBegin = "-----BEGIN ";
  return len - i >= kBegin.size() && std::memcmp(data + i, kBegin.data(), kBegin.size()) == 0;
}

X509Ptr Decode(const uint8_t* data, size_t len) {
  X509Ptr x;
  if (LooksLikePem(data, len)) {
    std::unique_ptr<BIO, BioDel> bio(BIO_new_mem_buf(data, static_cast<int>(len)));
    if (bio) x.reset(PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr));
  } else {
    const unsigned char* p = data;
    x.reset(d2i_X509(nullptr, &p, static_cast<long>(len)));
    // The DER must be the whole input: trailing bytes mean a damaged file.
    if (x && p != data + len) x.reset();
  }
  ERR_clear_error();
  return x;
}

bool IsOid(const ASN1_OBJECT* obj, const char* oid) {
  char text[128];
  const int n = OBJ_obj2txt(text, sizeof text, obj, 1);
  return n > 0 && static_cast<size_t>(n) < sizeof text && std::strcmp(text, oid) == 0;
}

// The public record, or an error code.
int PublicRecord(X509* x, const uint8_t** record) {
  X509_PUBKEY* pub = X509_get_X509_PUBKEY(x);
  ASN1_OBJECT* alg = nullptr;
  const unsigned char* key = nullptr;
  int key_len = 0;
  X509_ALGOR* params = nullptr;
  if (!pub || X509_PUBKEY_get0_param(&alg, &key, &key_len, &params, pub) != 1)
    return ZARVO_ERR_CERTIFICATE;
  if (!alg || !IsOid(alg, ZARVO_OID_PUBLIC_KEY)) return ZARVO_ERR_CERT_KEY;
  if (params) {
    int ptype = V_ASN1_UNDEF;
    const void* pval = nullptr;
    X509_ALGOR_get0(nullptr, &ptype, &pval, params);
    if (ptype != V_ASN1_UNDEF && ptype != V_ASN1_NULL) return ZARVO_ERR_CERT_KEY;
  }
  const ASN1_BIT_STRING* bits = X509_get0_pubkey_bitstr(x);
  if (!bits || ((bits->flags & ASN1_STRING_FLAG_BITS_LEFT) && (bits->flags & 0x07) != 0))
    return ZARVO_ERR_CERT_KEY;
  if (!key || key_len != static_cast<int>(kPublicRecordSize)) return ZARVO_ERR_CERT_KEY;
  *record = key;
  return ZARVO_OK;
}

// Days from 1970-01-01 to the given civil date (proleptic Gregorian).
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const auto yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

bool UnixTime(const ASN1_TIME* t, int64_t* out) {
  std::tm tm{};
  if (!t || ASN1_TIME_to_tm(t, &tm) != 1) {
    ERR_clear_error();
    return false;
  }
  const int64_t days =
      DaysFromCivil(int64_t{tm.tm_year} + 1900, static_cast<unsigned>(tm.tm_mon + 1),
                    static_cast<unsigned>(tm.tm_mday));
  *out = days * 86400 + tm.tm_hour * 3600 + tm.tm_min * 60 + tm.tm_sec;
  return true;
}

// Copies the subject common name into the 256-byte out: a BMPString as its
// UCS-2 big-endian bytes, anything else as UTF-8. Returns an error code.
int OwnerName(X509* x, uint8_t* out) {
  std::memset(out, 0, kOwnerNameSize);
  const X509_NAME* subject = X509_get_subject_name(x);
  const int index = subject ? X509_NAME_get_index_by_NID(subject, NID_commonName, -1) : -1;
  if (index < 0) return ZARVO_OK;
  const ASN1_STRING* cn = X509_NAME_ENTRY_get_data(X509_NAME_get_entry(subject, index));
  if (!cn) return ZARVO_ERR_CERTIFICATE;
  if (ASN1_STRING_type(cn) == V_ASN1_BMPSTRING) {
    size_t n = static_cast<size_t>(ASN1_STRING_length(cn));
    if (n > kOwnerNameSize) n = kOwnerNameSize;
    n &= ~size_t{1};
    std::memcpy(out, ASN1_STRING_get0_data(cn), n);
    return ZARVO_OK;
  }
  unsigned char* utf8 = nullptr;
  const int len = ASN1_STRING_to_UTF8(&utf8, cn);
  if (len < 0) {
    ERR_clear_error();
    return ZARVO_ERR_CERTIFICATE;
  }
  size_t n = static_cast<size_t>(len);
  if (n > kOwnerNameSize) {
    n = kOwnerNameSize;
    // Never end inside a character: back off to the start of the cut one.
    while (n > 0 && (utf8[n] & 0xC0) == 0x80) --n;
  }
  std::memcpy(out, utf8, n);
  OPENSSL_free(utf8);
  return ZARVO_OK;
}

int Parse(const void* data, int32_t len, void* record, void* owner_name, int64_t* valid_from,
          int64_t* valid_to) {
  if ((!data && len != 0) || len < 0) {
    SetError(ZARVO_ERR_ARGUMENT);
    return 0;
  }
  if (len == 0) {
    SetError(ZARVO_ERR_CERTIFICATE);
    return 0;
  }
  X509Ptr x = Decode(static_cast<const uint8_t*>(data), static_cast<size_t>(len));
  if (!x || X509_get_version(x.get()) != X509_VERSION_3) {
    SetError(ZARVO_ERR_CERTIFICATE);
    return 0;
  }
  const uint8_t* key = nullptr;
  int code = PublicRecord(x.get(), &key);
  uint8_t name[kOwnerNameSize];
  if (code == ZARVO_OK && owner_name) code = OwnerName(x.get(), name);
  int64_t from = 0, to = 0;
  if (code == ZARVO_OK && (valid_from || valid_to) &&
      (!UnixTime(X509_get0_notBefore(x.get()), &from) ||
       !UnixTime(X509_get0_notAfter(x.get()), &to)))
    code = ZARVO_ERR_CERTIFICATE;
  if (code != ZARVO_OK) {
    SetError(code);
    return 0;
  }
  if (record) std::memcpy(record, key, kPublicRecordSize);
  if (owner_name) std::memcpy(owner_name, name, sizeof name);
  if (valid_from) *valid_from = from;
  if (valid_to) *valid_to = to;
  return 1;
}

}  // namespace
}  // namespace zarvo

extern "C" {

int initBPb(const void* data, int32_t len, void* public_record) {
  return zarvo::Guarded([&] {
    if (!public_record) {
      zarvo::SetError(ZARVO_ERR_ARGUMENT);
      return 0;
    }
    return zarvo::Parse(data, len, public_record, nullptr, nullptr, nullptr);
  });
}

int initBCr(const void* data, int32_t len, void* record, void* owner_name, int64_t* valid_from,
            int64_t* valid_to) {
  return zarvo::Guarded(
      [&] { return zarvo::Parse(data, len, record, owner_name, valid_from, valid_to); });
}

}  // extern "C"

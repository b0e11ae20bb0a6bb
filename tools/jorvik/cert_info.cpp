#include "cert_info.h"

#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <sys/stat.h>

#include <fstream>
#include <iterator>
#include <limits>
#include <memory>

#include "keys/cert_owner.h"
#include "zarvo.h"

namespace jorvik {
namespace {

struct X509Free {
  void operator()(X509* x) const { X509_free(x); }
};
struct BioFree {
  void operator()(BIO* b) const { BIO_free(b); }
};
struct BnFree {
  void operator()(BIGNUM* b) const { BN_free(b); }
};

std::unique_ptr<X509, X509Free> LoadX509(std::string_view bytes) {
  std::unique_ptr<BIO, BioFree> bio(BIO_new_mem_buf(bytes.data(), static_cast<int>(bytes.size())));
  if (!bio) return nullptr;
  X509* cert = nullptr;
  if (bytes.find("-----BEGIN") != std::string_view::npos) {
    cert = PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr);
  } else {
    cert = d2i_X509_bio(bio.get(), nullptr);
  }
  ERR_clear_error();
  return std::unique_ptr<X509, X509Free>(cert);
}

std::string NameText(const X509_NAME* name) {
  std::unique_ptr<BIO, BioFree> bio(BIO_new(BIO_s_mem()));
  if (!bio || !name) return {};
  // UTF-8 as it is, instead of escaped bytes.
  if (X509_NAME_print_ex(bio.get(), name, 0, XN_FLAG_RFC2253 & ~ASN1_STRFLGS_ESC_MSB) < 0) {
    return {};
  }
  char* data = nullptr;
  const long len = BIO_get_mem_data(bio.get(), &data);
  return len > 0 ? std::string(data, static_cast<size_t>(len)) : std::string();
}

std::string SerialText(const ASN1_INTEGER* serial) {
  if (!serial) return {};
  std::unique_ptr<BIGNUM, BnFree> bn(ASN1_INTEGER_to_BN(serial, nullptr));
  if (!bn) return {};
  char* hex = BN_bn2hex(bn.get());
  if (!hex) return {};
  std::string text(hex);
  OPENSSL_free(hex);
  return text;
}

const char* ZarvoReason(int code) {
  switch (code) {
    case ZARVO_ERR_CERT_KEY:
      return "the certificate does not carry a key of this system";
    default:
      return "not a readable X.509 certificate";
  }
}

}  // namespace

bool ParseCertificate(std::string_view bytes, TCertificateInfo* out, std::string* error) {
  if (bytes.empty() || bytes.size() > static_cast<size_t>(kMaxCertificateFile)) {
    *error = bytes.empty() ? "the file is empty" : "the file is too big to be a certificate";
    return false;
  }
  TCertificateInfo info;
  if (initBCr(bytes.data(), static_cast<int32_t>(bytes.size()), info.record.data(), nullptr,
              &info.valid_from, &info.valid_to) <= 0) {
    *error = ZarvoReason(getErr());
    return false;
  }
  qovra::TCertificateOwner owner;
  if (qovra::CertificateOwnerFromData(bytes, &owner)) info.owner = owner.Name();
  const auto cert = LoadX509(bytes);
  if (!cert) {
    *error = "not a readable X.509 certificate";
    return false;
  }
  info.issuer = NameText(X509_get_issuer_name(cert.get()));
  info.serial = SerialText(X509_get0_serialNumber(cert.get()));
  *out = std::move(info);
  return true;
}

bool ReadCertificateFile(const std::string& path, TCertificateInfo* out, std::string* error) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
    *error = "the file cannot be opened";
    return false;
  }
  if (st.st_size > kMaxCertificateFile) {
    *error = "the file is too big to be a certificate";
    return false;
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    *error = "the file cannot be opened";
    return false;
  }
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) {
    *error = "the file cannot be read";
    return false;
  }
  return ParseCertificate(bytes, out, error);
}

std::vector<TKeyField> KeyFields(const std::array<uint8_t, 768>& record) {
  static constexpr struct {
    const char* name_key;
    size_t offset;
    size_t size;
  } kFields[] = {
      {"msgCertKeyAgreementModulus", 0, 128}, {"msgCertSignatureModulus", 160, 128},
      {"msgCertKeyAgreementValue", 288, 128}, {"msgCertOrderQ", 416, 32},
      {"msgCertCoefficientR", 448, 32},       {"msgCertPublicValueY1", 512, 128},
      {"msgCertPublicValueY2", 640, 128},
  };
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::vector<TKeyField> fields;
  for (const auto& f : kFields) {
    size_t first = f.offset;
    const size_t end = f.offset + f.size;
    while (first < end && record[first] == 0) ++first;
    TKeyField field;
    field.name_key = f.name_key;
    if (first == end) {
      field.hex = "00";
    } else {
      int top = 8;
      while (top > 0 && !(record[first] & (1u << (top - 1)))) --top;
      field.bits = static_cast<int>((end - first - 1) * 8) + top;
      for (size_t i = first; i < end; ++i) {
        field.hex += kDigits[record[i] >> 4];
        field.hex += kDigits[record[i] & 15];
      }
    }
    fields.push_back(std::move(field));
  }
  return fields;
}

}  // namespace jorvik

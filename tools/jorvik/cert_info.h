// What the certificate viewer shows of a certificate.
//
// The certificate (DER or PEM, as the key-device library reads it) is
// parsed by zarvo for the owner, the validity and the 768-byte public-key
// record, and by OpenSSL for the issuer and the serial number. Nothing is
// verified: the viewer shows, it does not judge.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace jorvik {

// Certificate files above this size are refused unread.
constexpr int64_t kMaxCertificateFile = int64_t{1} << 20;

struct TCertificateInfo {
  std::u16string owner;    // the subject's common name; empty when it has none
  int64_t valid_from = 0;  // seconds since 1970-01-01 00:00:00 UTC
  int64_t valid_to = 0;
  std::string issuer;                 // UTF-8, RFC 2253 order ("CN=...,O=...")
  std::string serial;                 // upper-case hexadecimal
  std::array<uint8_t, 768> record{};  // the public-key record
};

// Parses certificate bytes. False with a reason in *error when the bytes
// are not a certificate that carries our key.
[[nodiscard]] bool ParseCertificate(std::string_view bytes, TCertificateInfo* out,
                                    std::string* error);

// Reads and parses a certificate file. False with a reason in *error when
// the file cannot be read, is too big or does not parse.
[[nodiscard]] bool ReadCertificateFile(const std::string& path, TCertificateInfo* out,
                                       std::string* error);

// One field of the public-key record, for display.
struct TKeyField {
  std::string name_key;  // the message key of the field's name
  int bits = 0;          // size of the number (0 for zero)
  std::string hex;       // upper-case hexadecimal without leading zero bytes ("00" for zero)
};

// The fields of the record: key-agreement modulus, signature modulus p,
// key-agreement public value, order q, coefficient R, public values Y1 and
// Y2.
std::vector<TKeyField> KeyFields(const std::array<uint8_t, 768>& record);

}  // namespace jorvik

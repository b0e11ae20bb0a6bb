// Certificates of the test authority: X.509 v3 in DER whose subject public
// key is the 768-byte public record (algorithm ZARVO_OID_PUBLIC_KEY), signed
// with the tevqa signature over the hash of the TBSCertificate DER
// (algorithm ZARVO_OID_SIGNATURE).
#pragma once

#include <cstdint>
#include <string>

#include "keygen.h"

namespace keytool {

enum class NameType { Utf8, Bmp };

struct CertRequest {
  Bytes key;                // normally a 768-byte public record
  std::string key_oid;      // empty = ZARVO_OID_PUBLIC_KEY
  std::string common_name;  // UTF-8
  NameType name_type = NameType::Utf8;
  int64_t not_before = 0;  // seconds since 1970
  int64_t not_after = 0;
  uint64_t serial = 0;     // 0 = random
  bool authority = false;  // basicConstraints cA
};

// The signer: its key pair and the subject name of its certificate, which
// becomes the issuer of what it signs.
struct Signer {
  KeyPair keys;
  Bytes name_der;  // DER of the X.501 Name
};

// The DER of an X.501 Name holding one common name. BMP names must be in
// the Basic Multilingual Plane.
[[nodiscard]] bool CommonNameDer(const std::string& utf8, NameType type, Bytes* out,
                                 std::string* error);

// Builds and signs a certificate. For a self-signed authority pass a signer
// whose name is the request's own name and whose keys hold req.key.
[[nodiscard]] bool BuildCertificate(const CertRequest& req, const Signer& signer, Bytes* der,
                                    std::string* error);

// DER bytes of a certificate given as DER or PEM.
[[nodiscard]] bool CertificateDer(const Bytes& cert, Bytes* der, std::string* error);
// PEM text of DER certificate bytes.
std::string CertificatePem(const Bytes& der);
// The DER of the certificate's subject name.
[[nodiscard]] bool SubjectNameDer(const Bytes& cert, Bytes* out, std::string* error);

// Checks that cert (DER or PEM) carries our key, names the authority as its
// issuer and bears a valid signature by the authority's key (read from
// authority_cert). When now is nonzero the certificate must also be valid
// at that time (seconds since 1970). Fills *error with the reason on failure.
[[nodiscard]] bool VerifyCertificate(const Bytes& cert, const Bytes& authority_cert, int64_t now,
                                     std::string* error);

}  // namespace keytool

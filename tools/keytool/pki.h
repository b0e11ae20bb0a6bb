// The test authority and what it issues: files laid out for tests, the demo
// and the exchange server.
//
// Authority folder: authority.cer (DER, self-signed), authority.pub (768),
// authority.prk (256, clear).
// Registry folder (read by the exchange server): authority.cer and one
// <login>@<domain>.cer (DER) per user.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "cert.h"
#include "keygen.h"

namespace keytool {

struct Validity {
  int64_t not_before = 0;  // seconds since 1970
  int64_t not_after = 0;
};

// Creates dir (mode 0700) unless it exists.
[[nodiscard]] bool MakeDir(const std::string& dir, std::string* error);

// From now - 1 hour to now + days.
Validity ValidForDays(int days);

struct Authority {
  KeyPair keys;
  Bytes cert;  // DER
};

// A new key pair in the domain and its self-signed certificate named name.
[[nodiscard]] bool MakeAuthority(const Domain& domain, const std::string& name,
                                 const Validity& validity, Authority* out, std::string* error);
[[nodiscard]] bool SaveAuthority(const Authority& a, const std::string& dir, std::string* error);
[[nodiscard]] bool LoadAuthority(const std::string& dir, Authority* out, std::string* error);
// The signer for certificates issued by a.
[[nodiscard]] bool AuthoritySigner(const Authority& a, Signer* out, std::string* error);

// A certificate for the public record pub, issued by a.
[[nodiscard]] bool IssueCertificate(const Authority& a, const std::array<uint8_t, 768>& pub,
                                    const std::string& name, NameType type,
                                    const Validity& validity, Bytes* cert, std::string* error);

// The key-agreement record for a key pair: the public record itself, or with
// distinct set a record that agrees with it in bytes 0-159, 288-415 and
// 448-479 (what key agreement uses) and differs elsewhere (random bytes
// 480-511, zero bytes 512-767).
[[nodiscard]] bool AgreementRecord(const KeyPair& kp, bool distinct, std::array<uint8_t, 768>* out,
                                   std::string* error);

// Key file contents: the 256-byte private record when password is empty,
// else the protected file holding it and the key-agreement record.
[[nodiscard]] bool KeyFileBytes(const KeyPair& kp, const std::string& password, bool distinct,
                                uint32_t iterations, Bytes* out, std::string* error);

// True for "login@domain" made of letters, digits, "-", "." and "_", with
// no empty part and no "..": safe as a file name.
bool IsRegistryAddress(const std::string& address);

// Checks cert against the authority certificate and stores it as
// <address>.cer in dir (created when missing), with authority.cer beside it.
[[nodiscard]] bool AddToRegistry(const std::string& dir, const std::string& address,
                                 const Bytes& cert, const Bytes& authority_cert,
                                 std::string* error);

}  // namespace keytool

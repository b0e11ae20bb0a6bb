#include "pki.h"

#include <openssl/crypto.h>
#include <openssl/rand.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <ctime>

#include "zarvo/formats.h"
#include "zarvo/key_file_writer.h"

namespace keytool {
namespace {

bool Fail(std::string* error, const std::string& what) {
  if (error) *error = what;
  return false;
}

}  // namespace

bool MakeDir(const std::string& dir, std::string* error) {
  if (mkdir(dir.c_str(), 0700) == 0 || errno == EEXIST) return true;
  return Fail(error, "cannot create the folder " + dir);
}

Validity ValidForDays(int days) {
  const int64_t now = static_cast<int64_t>(std::time(nullptr));
  return {now - 3600, now + int64_t{days} * 86400};
}

bool MakeAuthority(const Domain& domain, const std::string& name, const Validity& validity,
                   Authority* out, std::string* error) {
  Authority a;
  if (!GenerateKeyPair(domain, &a.keys, error)) return false;
  Signer self;
  self.keys = a.keys;
  if (!CommonNameDer(name, NameType::Utf8, &self.name_der, error)) return false;
  CertRequest req;
  req.key.assign(a.keys.pub.begin(), a.keys.pub.end());
  req.common_name = name;
  req.not_before = validity.not_before;
  req.not_after = validity.not_after;
  req.authority = true;
  const bool ok = BuildCertificate(req, self, &a.cert, error);
  OPENSSL_cleanse(&self.keys, sizeof self.keys);
  if (!ok) return false;
  *out = a;
  OPENSSL_cleanse(&a.keys, sizeof a.keys);
  return true;
}

bool SaveAuthority(const Authority& a, const std::string& dir, std::string* error) {
  return MakeDir(dir, error) &&
         WriteFile(dir + "/authority.cer", a.cert.data(), a.cert.size(), error) &&
         WriteFile(dir + "/authority.pub", a.keys.pub.data(), a.keys.pub.size(), error) &&
         WriteFile(dir + "/authority.prk", a.keys.priv.data(), a.keys.priv.size(), error);
}

bool LoadAuthority(const std::string& dir, Authority* out, std::string* error) {
  Bytes pub, prk;
  if (!ReadFile(dir + "/authority.cer", &out->cert, error) ||
      !ReadFile(dir + "/authority.pub", &pub, error) ||
      !ReadFile(dir + "/authority.prk", &prk, error))
    return false;
  const bool ok = pub.size() == out->keys.pub.size() && prk.size() == out->keys.priv.size();
  if (ok) {
    std::memcpy(out->keys.pub.data(), pub.data(), pub.size());
    std::memcpy(out->keys.priv.data(), prk.data(), prk.size());
  }
  OPENSSL_cleanse(prk.data(), prk.size());
  return ok ? true : Fail(error, "the authority's key files have the wrong size");
}

bool AuthoritySigner(const Authority& a, Signer* out, std::string* error) {
  out->keys = a.keys;
  return SubjectNameDer(a.cert, &out->name_der, error);
}

bool IssueCertificate(const Authority& a, const std::array<uint8_t, 768>& pub,
                      const std::string& name, NameType type, const Validity& validity, Bytes* cert,
                      std::string* error) {
  Signer signer;
  if (!AuthoritySigner(a, &signer, error)) return false;
  CertRequest req;
  req.key.assign(pub.begin(), pub.end());
  req.common_name = name;
  req.name_type = type;
  req.not_before = validity.not_before;
  req.not_after = validity.not_after;
  const bool ok = BuildCertificate(req, signer, cert, error);
  OPENSSL_cleanse(&signer.keys, sizeof signer.keys);
  return ok;
}

bool AgreementRecord(const KeyPair& kp, bool distinct, std::array<uint8_t, 768>* out,
                     std::string* error) {
  *out = kp.pub;
  if (!distinct) return true;
  do {
    if (RAND_bytes(out->data() + 480, 32) != 1) return Fail(error, "no random bytes");
  } while (std::memcmp(out->data() + 480, kp.pub.data() + 480, 32) == 0);
  std::memset(out->data() + 512, 0, 256);
  return true;
}

bool KeyFileBytes(const KeyPair& kp, const std::string& password, bool distinct,
                  uint32_t iterations, Bytes* out, std::string* error) {
  if (password.empty()) {
    if (distinct) return Fail(error, "a clear key file carries no key-agreement record");
    out->assign(kp.priv.begin(), kp.priv.end());
    return true;
  }
  std::array<uint8_t, 768> agreement{};
  if (!AgreementRecord(kp, distinct, &agreement, error)) return false;
  if (!zarvo::SealKeyFile(kp.priv.data(), agreement.data(), password, iterations, out))
    return Fail(error, "cannot seal the key file (iterations must be " +
                           std::to_string(zarvo::kKeyFileMinIterations) + " to " +
                           std::to_string(zarvo::kKeyFileMaxIterations) + ")");
  return true;
}

bool IsRegistryAddress(const std::string& address) {
  const size_t at = address.find('@');
  if (at == std::string::npos || at == 0 || at + 1 == address.size() ||
      address.find('@', at + 1) != std::string::npos || address.find("..") != std::string::npos ||
      address[0] == '.' || address.size() > 200)
    return false;
  for (char c : address) {
    const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                    c == '-' || c == '.' || c == '_' || c == '@';
    if (!ok) return false;
  }
  return true;
}

bool AddToRegistry(const std::string& dir, const std::string& address, const Bytes& cert,
                   const Bytes& authority_cert, std::string* error) {
  if (!IsRegistryAddress(address)) return Fail(error, "not a usable address: " + address);
  Bytes der, ca_der;
  if (!VerifyCertificate(cert, authority_cert, 0, error) || !CertificateDer(cert, &der, error) ||
      !CertificateDer(authority_cert, &ca_der, error))
    return false;
  return MakeDir(dir, error) &&
         WriteFile(dir + "/authority.cer", ca_der.data(), ca_der.size(), error) &&
         WriteFile(dir + "/" + address + ".cer", der.data(), der.size(), error);
}

}  // namespace keytool

// keytool: makes key material for tests and the demo.
//
//   keytool domain OUT.dom
//   keytool keypair DOMAIN.dom OUT.pub OUT.prk
//   keytool demo [DOMAIN.dom]    key pairs, a signature and a key agreement
//   keytool authority --domain D.dom --name NAME --out DIR [--days N]
//   keytool user --domain D.dom --authority DIR --name NAME --out BASE
//       [--bmp] [--days N | --not-before S --not-after S] [--pem]
//       [--password PW | --password-env VAR] [--distinct-dh] [--iterations N]
//       writes BASE.cer and BASE.prk (and BASE.pub, the raw public record)
//   keytool cert --authority DIR --pub USER.pub --name NAME --out FILE.cer
//       [--bmp] [--days N | --not-before S --not-after S] [--pem]
//   keytool keyfile --pub USER.pub --prk USER.prk --out FILE.prk
//       [--password PW | --password-env VAR] [--distinct-dh] [--iterations N]
//   keytool server --domain D.dom --authority DIR --name NAME --out DIR2 [--days N]
//       writes DIR2/server.cer and DIR2/server.prk (clear)
//   keytool register --registry DIR --authority ADIR --address LOGIN@DOMAIN --cert FILE.cer
//   keytool token --token-label LABEL --pin PIN --keyfile FILE.prk --cert FILE.cer
//       [--password PW | --password-env VAR] [--module PATH]
//   keytool verify-cert --authority AUTH.cer CERT [--now]
//
// Times S are seconds since 1970. Passwords are used as the bytes given; the
// program passes Windows-1251 text, so keep them ASCII.
#include <openssl/crypto.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "cert.h"
#include "keygen.h"
#include "pki.h"
#include "tevqa.h"
#include "token.h"
#include "zarvo.h"
#include "zarvo/formats.h"
#include "zarvo/p11.h"

namespace {

int Usage() {
  std::fprintf(stderr,
               "usage: keytool domain OUT.dom\n"
               "       keytool keypair DOMAIN.dom OUT.pub OUT.prk\n"
               "       keytool demo [DOMAIN.dom]\n"
               "       keytool authority --domain D.dom --name NAME --out DIR [--days N]\n"
               "       keytool user --domain D.dom --authority DIR --name NAME --out BASE\n"
               "               [--bmp] [--days N | --not-before S --not-after S] [--pem]\n"
               "               [--password PW | --password-env VAR] [--distinct-dh]\n"
               "               [--iterations N]\n"
               "       keytool cert --authority DIR --pub USER.pub --name NAME --out FILE.cer\n"
               "               [--bmp] [--days N | --not-before S --not-after S] [--pem]\n"
               "       keytool keyfile --pub USER.pub --prk USER.prk --out FILE.prk\n"
               "               [--password PW | --password-env VAR] [--distinct-dh]\n"
               "               [--iterations N]\n"
               "       keytool server --domain D.dom --authority DIR --name NAME --out DIR2\n"
               "               [--days N]\n"
               "       keytool register --registry DIR --authority ADIR --address L@D\n"
               "               --cert FILE.cer\n"
               "       keytool token --token-label LABEL --pin PIN --keyfile FILE.prk\n"
               "               --cert FILE.cer [--password PW | --password-env VAR]\n"
               "               [--module PATH]\n"
               "       keytool verify-cert --authority AUTH.cer CERT [--now]\n");
  return 2;
}

int Error(const std::string& what) {
  std::fprintf(stderr, "keytool: %s\n", what.c_str());
  return 1;
}

// "--name value" options and "--flag" switches after the command; anything
// else is a positional argument.
struct Args {
  std::map<std::string, std::string> opts;
  std::set<std::string> flags;
  std::vector<std::string> positional;
  bool ok = true;

  bool Has(const std::string& k) const { return opts.count(k) != 0; }
  std::string Get(const std::string& k) const {
    auto it = opts.find(k);
    return it == opts.end() ? std::string() : it->second;
  }
  bool Flag(const std::string& k) const { return flags.count(k) != 0; }
};

const std::set<std::string> kSwitches = {"--bmp", "--pem", "--distinct-dh", "--now"};

Args Parse(int argc, char** argv, int first) {
  Args a;
  for (int i = first; i < argc; ++i) {
    const std::string s = argv[i];
    if (kSwitches.count(s)) {
      a.flags.insert(s);
    } else if (s.rfind("--", 0) == 0) {
      if (i + 1 >= argc) {
        a.ok = false;
        break;
      }
      a.opts[s] = argv[++i];
    } else {
      a.positional.push_back(s);
    }
  }
  return a;
}

bool Require(const Args& a, std::initializer_list<const char*> keys) {
  for (const char* k : keys) {
    if (!a.Has(k)) {
      std::fprintf(stderr, "keytool: missing %s\n", k);
      return false;
    }
  }
  return true;
}

bool ParseInt(const std::string& s, int64_t* out) {
  if (s.empty()) return false;
  char* end = nullptr;
  errno = 0;
  const long long v = std::strtoll(s.c_str(), &end, 10);
  if (errno || *end) return false;
  *out = v;
  return true;
}

bool GetValidity(const Args& a, keytool::Validity* v, std::string* err) {
  if (a.Has("--not-before") || a.Has("--not-after")) {
    if (!ParseInt(a.Get("--not-before"), &v->not_before) ||
        !ParseInt(a.Get("--not-after"), &v->not_after)) {
      *err = "--not-before and --not-after take seconds since 1970, both";
      return false;
    }
    return true;
  }
  int64_t days = 365;
  if (a.Has("--days") && (!ParseInt(a.Get("--days"), &days) || days < 1 || days > 36500)) {
    *err = "--days takes 1 to 36500";
    return false;
  }
  *v = keytool::ValidForDays(static_cast<int>(days));
  return true;
}

std::string GetPassword(const Args& a) {
  if (a.Has("--password-env")) {
    const char* env = std::getenv(a.Get("--password-env").c_str());
    return env ? env : "";
  }
  return a.Get("--password");
}

bool GetIterations(const Args& a, uint32_t* out, std::string* err) {
  int64_t n = zarvo::kKeyFileDefaultIterations;
  if (a.Has("--iterations") && !ParseInt(a.Get("--iterations"), &n)) {
    *err = "--iterations takes a number";
    return false;
  }
  if (n < zarvo::kKeyFileMinIterations || n > zarvo::kKeyFileMaxIterations) {
    *err = "--iterations out of range";
    return false;
  }
  *out = static_cast<uint32_t>(n);
  return true;
}

bool ReadRecord(const std::string& path, uint8_t* out, size_t n, std::string* err) {
  keytool::Bytes b;
  if (!keytool::ReadFile(path, &b, err)) return false;
  const bool ok = b.size() == n;
  if (ok) std::memcpy(out, b.data(), n);
  OPENSSL_cleanse(b.data(), b.size());
  if (!ok) *err = path + " has the wrong size";
  return ok;
}

bool WriteCert(const std::string& path, const keytool::Bytes& der, bool pem, std::string* err) {
  if (!pem) return keytool::WriteFile(path, der.data(), der.size(), err);
  const std::string text = keytool::CertificatePem(der);
  return keytool::WriteFile(path, reinterpret_cast<const uint8_t*>(text.data()), text.size(), err);
}

int Demo(const char* domain_path) {
  keytool::Domain dom;
  std::string err;
  if (domain_path) {
    if (!keytool::LoadDomain(domain_path, &dom, &err)) return Error(err);
    std::printf("domain: %s\n", domain_path);
  } else {
    std::printf("generating domain parameters (1024-bit moduli, 256-bit orders)...\n");
    const auto t0 = std::chrono::steady_clock::now();
    if (!keytool::GenerateDomain(&dom, &err)) return Error(err);
    const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    std::printf("domain ready in %.2f s\n", s);
  }
  keytool::KeyPair alice, bob;
  if (!keytool::GenerateKeyPair(dom, &alice, &err) || !keytool::GenerateKeyPair(dom, &bob, &err))
    return Error(err);
  std::printf("alice Y1: %s...\n", keytool::ToHex(alice.pub.data() + 512, 16).c_str());
  std::printf("bob   Y1: %s...\n", keytool::ToHex(bob.pub.data() + 512, 16).c_str());

  const char msg[] = "Hello from alice";
  uint8_t hash[32], sig[160];
  UZDST_HASH_data(msg, sizeof msg - 1, nullptr, hash);
  std::printf("hash(\"%s\") = %s\n", msg, keytool::ToHex(hash, 32).c_str());
  if (UZDST_SIGNATURE_generate(hash, alice.priv.data(), alice.pub.data(), sig) != 1)
    return Error("signing failed");
  std::printf("signature r = %s...\n          S = %s\n", keytool::ToHex(sig, 16).c_str(),
              keytool::ToHex(sig + 128, 32).c_str());
  int verdict = 0;
  const int checked = UZDST_SIGNATURE_verify(hash, alice.pub.data(), sig, &verdict);
  std::printf("verified with alice's key: result %d, verdict %d\n", checked, verdict);
  hash[0] ^= 1;
  UZDST_SIGNATURE_verify(hash, alice.pub.data(), sig, &verdict);
  std::printf("one hash bit changed: verdict %d\n", verdict);

  uint8_t k1[64], k2[64];
  if (UZDST_CIPHER_KEY_generate(alice.priv.data(), alice.pub.data(), bob.pub.data(), k1) != 1 ||
      UZDST_CIPHER_KEY_generate(bob.priv.data(), bob.pub.data(), alice.pub.data(), k2) != 1)
    return Error("key agreement failed");
  std::printf("alice's key: %s...\nbob's key:   %s...\nkeys %s\n", keytool::ToHex(k1, 16).c_str(),
              keytool::ToHex(k2, 16).c_str(), std::memcmp(k1, k2, 64) == 0 ? "agree" : "DIFFER");
  uint8_t ctx[TEVQA_CIPHER_CONTEXT_SIZE], iv[32] = {0},
                                          block[64] = "a secret for bob, sent by alice";
  uint8_t back[64];
  if (UZDST_CIPHER_init(ctx, k1, 1) == 1) {
    UZDST_CIPHER_cbc(ctx, iv, block, block, 2, 1);
    UZDST_CIPHER_init(ctx, k2, 0);
    UZDST_CIPHER_cbc(ctx, iv, block, back, 2, 0);
    std::printf("bob deciphers: \"%s\"\n", reinterpret_cast<char*>(back));
  } else {
    std::printf("the agreed key is not usable by the cipher\n");
  }
  return std::memcmp(k1, k2, 64) == 0 && checked == 1 ? 0 : 1;
}

int CmdAuthority(const Args& a) {
  if (!Require(a, {"--domain", "--name", "--out"})) return 2;
  std::string err;
  keytool::Domain dom;
  keytool::Validity v;
  keytool::Authority auth;
  if (!keytool::LoadDomain(a.Get("--domain"), &dom, &err) || !GetValidity(a, &v, &err) ||
      !keytool::MakeAuthority(dom, a.Get("--name"), v, &auth, &err) ||
      !keytool::SaveAuthority(auth, a.Get("--out"), &err))
    return Error(err);
  return 0;
}

int CmdUser(const Args& a, bool server) {
  if (!Require(a, {"--domain", "--authority", "--name", "--out"})) return 2;
  std::string err;
  keytool::Domain dom;
  keytool::Authority auth;
  keytool::Validity v;
  keytool::KeyPair kp;
  keytool::Bytes cert, keyfile;
  uint32_t iterations = 0;
  const keytool::NameType type = a.Flag("--bmp") ? keytool::NameType::Bmp : keytool::NameType::Utf8;
  const std::string password = server ? std::string() : GetPassword(a);
  const std::string base = server ? a.Get("--out") + "/server" : a.Get("--out");
  const bool ok =
      (!server || keytool::MakeDir(a.Get("--out"), &err)) &&
      keytool::LoadDomain(a.Get("--domain"), &dom, &err) &&
      keytool::LoadAuthority(a.Get("--authority"), &auth, &err) && GetValidity(a, &v, &err) &&
      GetIterations(a, &iterations, &err) && keytool::GenerateKeyPair(dom, &kp, &err) &&
      keytool::IssueCertificate(auth, kp.pub, a.Get("--name"), type, v, &cert, &err) &&
      keytool::KeyFileBytes(kp, password, a.Flag("--distinct-dh"), iterations, &keyfile, &err) &&
      WriteCert(base + ".cer", cert, a.Flag("--pem"), &err) &&
      keytool::WriteFile(base + ".prk", keyfile.data(), keyfile.size(), &err) &&
      (server || keytool::WriteFile(base + ".pub", kp.pub.data(), kp.pub.size(), &err));
  OPENSSL_cleanse(&kp, sizeof kp);
  OPENSSL_cleanse(&auth.keys, sizeof auth.keys);
  OPENSSL_cleanse(keyfile.data(), keyfile.size());
  return ok ? 0 : Error(err);
}

int CmdCert(const Args& a) {
  if (!Require(a, {"--authority", "--pub", "--name", "--out"})) return 2;
  std::string err;
  keytool::Authority auth;
  keytool::Validity v;
  std::array<uint8_t, 768> pub{};
  keytool::Bytes cert;
  const keytool::NameType type = a.Flag("--bmp") ? keytool::NameType::Bmp : keytool::NameType::Utf8;
  const bool ok = keytool::LoadAuthority(a.Get("--authority"), &auth, &err) &&
                  ReadRecord(a.Get("--pub"), pub.data(), pub.size(), &err) &&
                  GetValidity(a, &v, &err) &&
                  keytool::IssueCertificate(auth, pub, a.Get("--name"), type, v, &cert, &err) &&
                  WriteCert(a.Get("--out"), cert, a.Flag("--pem"), &err);
  OPENSSL_cleanse(&auth.keys, sizeof auth.keys);
  return ok ? 0 : Error(err);
}

int CmdKeyFile(const Args& a) {
  if (!Require(a, {"--pub", "--prk", "--out"})) return 2;
  std::string err;
  keytool::KeyPair kp;
  keytool::Bytes keyfile;
  uint32_t iterations = 0;
  const bool ok = ReadRecord(a.Get("--pub"), kp.pub.data(), kp.pub.size(), &err) &&
                  ReadRecord(a.Get("--prk"), kp.priv.data(), kp.priv.size(), &err) &&
                  GetIterations(a, &iterations, &err) &&
                  keytool::KeyFileBytes(kp, GetPassword(a), a.Flag("--distinct-dh"), iterations,
                                        &keyfile, &err) &&
                  keytool::WriteFile(a.Get("--out"), keyfile.data(), keyfile.size(), &err);
  OPENSSL_cleanse(&kp, sizeof kp);
  OPENSSL_cleanse(keyfile.data(), keyfile.size());
  return ok ? 0 : Error(err);
}

int CmdRegister(const Args& a) {
  if (!Require(a, {"--registry", "--authority", "--address", "--cert"})) return 2;
  std::string err;
  keytool::Bytes cert, ca;
  if (!keytool::ReadFile(a.Get("--cert"), &cert, &err) ||
      !keytool::ReadFile(a.Get("--authority") + "/authority.cer", &ca, &err) ||
      !keytool::AddToRegistry(a.Get("--registry"), a.Get("--address"), cert, ca, &err))
    return Error(err);
  return 0;
}

int CmdToken(const Args& a) {
  if (!Require(a, {"--token-label", "--pin", "--keyfile", "--cert"})) return 2;
  std::string err;
  keytool::Bytes keyfile, cert;
  keytool::TokenRecords rec;
  if (!keytool::ReadFile(a.Get("--keyfile"), &keyfile, &err) ||
      !keytool::ReadFile(a.Get("--cert"), &cert, &err))
    return Error(err);
  const std::string password = GetPassword(a);
  const bool read = initBPr(keyfile.data(), static_cast<int32_t>(keyfile.size()), password.c_str(),
                            rec.priv.data(), rec.agreement.data()) != 0;
  const int key_error = getErr();
  OPENSSL_cleanse(keyfile.data(), keyfile.size());
  if (!read) return Error("cannot read the key file (code " + std::to_string(key_error) + ")");
  if (initBPb(cert.data(), static_cast<int32_t>(cert.size()), rec.pub.data()) == 0)
    return Error("cannot read the certificate (code " + std::to_string(getErr()) + ")");
  // A clear key file has no key-agreement record: the certificate's serves.
  if (keyfile.size() == rec.priv.size()) rec.agreement = rec.pub;
  const std::string module =
      a.Has("--module") ? a.Get("--module") : zarvo::ModulePathFromEnvironment();
  const bool ok = keytool::WriteToken(module, a.Get("--token-label"), a.Get("--pin"), rec, &err);
  OPENSSL_cleanse(&rec, sizeof rec);
  return ok ? 0 : Error(err);
}

int CmdVerifyCert(const Args& a) {
  if (!Require(a, {"--authority"}) || a.positional.size() != 1) return Usage();
  std::string err;
  keytool::Bytes cert, ca;
  if (!keytool::ReadFile(a.positional[0], &cert, &err) ||
      !keytool::ReadFile(a.Get("--authority"), &ca, &err))
    return Error(err);
  const int64_t now = a.Flag("--now") ? static_cast<int64_t>(std::time(nullptr)) : 0;
  if (!keytool::VerifyCertificate(cert, ca, now, &err)) return Error(err);
  std::printf("%s: valid\n", a.positional[0].c_str());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return Usage();
  const std::string cmd = argv[1];
  std::string err;
  if (cmd == "domain" && argc == 3) {
    keytool::Domain dom;
    if (!keytool::GenerateDomain(&dom, &err) || !keytool::SaveDomain(dom, argv[2], &err))
      return Error(err);
    return 0;
  }
  if (cmd == "keypair" && argc == 5) {
    keytool::Domain dom;
    keytool::KeyPair kp;
    if (!keytool::LoadDomain(argv[2], &dom, &err) || !keytool::GenerateKeyPair(dom, &kp, &err) ||
        !keytool::WriteFile(argv[3], kp.pub.data(), kp.pub.size(), &err) ||
        !keytool::WriteFile(argv[4], kp.priv.data(), kp.priv.size(), &err))
      return Error(err);
    return 0;
  }
  if (cmd == "demo" && argc <= 3) return Demo(argc == 3 ? argv[2] : nullptr);

  const Args a = Parse(argc, argv, 2);
  if (!a.ok) return Usage();
  if (cmd == "verify-cert") return CmdVerifyCert(a);
  if (!a.positional.empty()) return Usage();
  if (cmd == "authority") return CmdAuthority(a);
  if (cmd == "user") return CmdUser(a, false);
  if (cmd == "server") return CmdUser(a, true);
  if (cmd == "cert") return CmdCert(a);
  if (cmd == "keyfile") return CmdKeyFile(a);
  if (cmd == "register") return CmdRegister(a);
  if (cmd == "token") return CmdToken(a);
  return Usage();
}

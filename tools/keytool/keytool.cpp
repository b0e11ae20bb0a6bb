// keytool: makes key material for tests and the demo.
//
//   keytool domain OUT.dom
//   keytool keypair DOMAIN.dom OUT.pub OUT.prk
//   keytool demo [DOMAIN.dom]    key pairs, a signature and a key agreement
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

#include "keygen.h"
#include "tevqa.h"

namespace {

int Usage() {
  std::fprintf(stderr,
               "usage: keytool domain OUT.dom\n"
               "       keytool keypair DOMAIN.dom OUT.pub OUT.prk\n"
               "       keytool demo [DOMAIN.dom]\n");
  return 2;
}

int Error(const std::string& what) {
  std::fprintf(stderr, "keytool: %s\n", what.c_str());
  return 1;
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
    const double s =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
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
  std::printf("alice's key: %s...\nbob's key:   %s...\nkeys %s\n",
              keytool::ToHex(k1, 16).c_str(), keytool::ToHex(k2, 16).c_str(),
              std::memcmp(k1, k2, 64) == 0 ? "agree" : "DIFFER");
  uint8_t ctx[TEVQA_CIPHER_CONTEXT_SIZE], iv[32] = {0}, block[64] = "a secret for bob, sent by alice";
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
  return Usage();
}

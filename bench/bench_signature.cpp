// Signatures, verifications and key agreements per second with keytool's
// committed fixture keys (1024-bit moduli, 256-bit orders).
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "keygen.h"
#include "tevqa.h"

namespace {

double Rate(int n, const std::chrono::steady_clock::time_point& t0) {
  const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  return n / s;
}

bool Load(const std::string& dir, const char* name, keytool::KeyPair* kp) {
  keytool::Bytes pub, prk;
  std::string err;
  if (!keytool::ReadFile(dir + "/" + name + ".pub", &pub, &err) ||
      !keytool::ReadFile(dir + "/" + name + ".prk", &prk, &err) || pub.size() != 768 ||
      prk.size() != 256)
    return false;
  std::memcpy(kp->pub.data(), pub.data(), 768);
  std::memcpy(kp->priv.data(), prk.data(), 256);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string dir = argc > 1 ? argv[1] : "tests/fixtures/keys";
  keytool::KeyPair a, b;
  if (!Load(dir, "alice", &a) || !Load(dir, "bob", &b)) {
    std::fprintf(stderr, "cannot read the fixture keys in %s\n", dir.c_str());
    return 1;
  }
  const double seconds = argc > 2 ? std::atof(argv[2]) : 2.0;
  uint8_t hash[32] = {1, 2, 3}, sig[160], key[64];
  int verdict = 0;

  auto run = [&](const char* what, auto&& op) {
    op(0);  // warm-up: caches and the first allocation
    int n = 0;
    const auto t0 = std::chrono::steady_clock::now();
    while (std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count() <
           seconds) {
      for (int i = 0; i < 64; ++i) op(n++);
    }
    std::printf("%s: %.0f /s\n", what, Rate(n, t0));
  };
  run("sign", [&](int i) {
    hash[31] = static_cast<uint8_t>(i);
    UZDST_SIGNATURE_generate(hash, a.priv.data(), a.pub.data(), sig);
  });
  UZDST_SIGNATURE_generate(hash, a.priv.data(), a.pub.data(), sig);
  run("verify", [&](int) { UZDST_SIGNATURE_verify(hash, a.pub.data(), sig, &verdict); });
  if (verdict != 1) std::printf("warning: verification failed\n");
  run("key agreement", [&](int) {
    UZDST_CIPHER_KEY_generate(a.priv.data(), a.pub.data(), b.pub.data(), key);
  });
  return 0;
}

// Signatures, verifications and key agreements per second of CPU time with
// keytool's committed fixture keys (1024-bit moduli, 256-bit orders).
// Verification is timed twice: for one signer checked again and again (its
// tables cached), and for a signer seen for the first time (a round of 64
// signers of the same domain, more than the library keeps).
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "keygen.h"
#include "tevqa.h"

namespace {

// Seconds of CPU time this thread has used: `openssl speed` counts user CPU
// time too, so a busy machine moves both figures alike.
double ThreadSeconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
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

// A new key pair of kp's domain: x and u from seed, Y1 = d^[x], Y2 = d^[u].
bool Derive(const keytool::KeyPair& kp, uint32_t seed, keytool::KeyPair* out) {
  *out = kp;
  uint8_t* priv = out->priv.data();
  uint8_t* pub = out->pub.data();
  for (int i = 0; i < 64; ++i) {
    seed = seed * 1664525u + 1013904223u;
    priv[64 + i] = static_cast<uint8_t>(seed >> 24);
  }
  priv[64] &= 0x3F;  // x and u below 2^254, so below q
  priv[96] &= 0x3F;
  const uint8_t* R = kp.pub.data() + 448;
  const uint8_t* p = kp.pub.data() + 160;
  return UZDST_DIADH_generate(R, 32, priv + 128, 128, priv + 64, 32, p, 128, pub + 512, 128) &&
         UZDST_DIADH_generate(R, 32, priv + 128, 128, priv + 96, 32, p, 128, pub + 640, 128);
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
    const double t0 = ThreadSeconds();
    while (ThreadSeconds() - t0 < seconds) {
      for (int i = 0; i < 64; ++i) op(n++);
    }
    std::printf("%s: %.0f /s\n", what, n / (ThreadSeconds() - t0));
  };
  run("sign", [&](int i) {
    hash[31] = static_cast<uint8_t>(i);
    UZDST_SIGNATURE_generate(hash, a.priv.data(), a.pub.data(), sig);
  });
  UZDST_SIGNATURE_generate(hash, a.priv.data(), a.pub.data(), sig);
  run("verify (cached signer)",
      [&](int) { UZDST_SIGNATURE_verify(hash, a.pub.data(), sig, &verdict); });
  if (verdict != 1) std::printf("warning: verification failed\n");

  constexpr int kSigners = 64;
  std::vector<keytool::KeyPair> signers(kSigners);
  std::vector<std::array<uint8_t, 160>> sigs(kSigners);
  for (int i = 0; i < kSigners; ++i) {
    if (!Derive(a, 1000u + static_cast<uint32_t>(i), &signers[i]) ||
        !UZDST_SIGNATURE_generate(hash, signers[i].priv.data(), signers[i].pub.data(),
                                  sigs[i].data())) {
      std::fprintf(stderr, "cannot derive signer %d\n", i);
      return 1;
    }
  }
  int valid = 0, checked = 0;
  run("verify (first-seen signer)", [&](int i) {
    const int k = i % kSigners;
    UZDST_SIGNATURE_verify(hash, signers[k].pub.data(), sigs[k].data(), &verdict);
    valid += verdict;
    ++checked;
  });
  if (valid != checked) std::printf("warning: verification failed\n");
  run("key agreement",
      [&](int) { UZDST_CIPHER_KEY_generate(a.priv.data(), a.pub.data(), b.pub.data(), key); });
  return 0;
}

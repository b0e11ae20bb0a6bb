// Portable code of the 256-bit block cipher: key schedule, block operations,
// CBC, the run-time dispatch and the exported UZDST_CIPHER_* calls.
#include "cipher.h"

#include <openssl/bn.h>
#include <openssl/crypto.h>

#include <cstring>

#include "tevqa.h"

namespace tevqa {

const uint8_t kCipherTransposition[32] = {19, 28, 25, 22, 26, 23, 0,  29, 1,  30, 27,
                                          4,  8,  5,  2,  31, 3,  12, 9,  6,  10, 7,
                                          16, 13, 17, 14, 11, 20, 24, 21, 18, 15};

namespace {

constexpr size_t kKeyStringSize = 84;  // 672 bits
constexpr int kKeyStringBits = 672;

// Owns the BIGNUMs of the key derivation; they hold key material and are
// cleared when freed.
struct BnScope {
  BN_CTX* ctx = BN_CTX_new();
  BIGNUM* k = BN_new();
  BIGNUM* a = BN_new();
  BIGNUM* b = BN_new();
  BIGNUM* v = BN_new();
  ~BnScope() {
    BN_clear_free(v);
    BN_clear_free(b);
    BN_clear_free(a);
    BN_clear_free(k);
    BN_CTX_free(ctx);
  }
  bool ok() const { return ctx && k && a && b && v; }
};

// V = (A*K + 1)*B + K; the key string is V's first 84 bytes once V is shifted
// so that its first byte has the top bit set. False for a V too short.
bool DeriveKeyString(const uint8_t key[64], uint8_t ks[kKeyStringSize]) {
  BnScope bn;
  if (!bn.ok()) return false;
  if (!BN_bin2bn(key, 32, bn.k) || !BN_bin2bn(key + 32, 32, bn.a) ||
      !BN_bin2bn(key + 40, 24, bn.b)) {
    return false;
  }
  if (!BN_mul(bn.v, bn.a, bn.k, bn.ctx) || !BN_add_word(bn.v, 1) ||
      !BN_mul(bn.v, bn.v, bn.b, bn.ctx) || !BN_add(bn.v, bn.v, bn.k)) {
    return false;
  }
  const int n = BN_num_bits(bn.v);
  if (n < kKeyStringBits) return false;
  const int top_bits = (n - 1) % 8 + 1;  // bit length of the first byte
  const int shift = 8 - top_bits;
  if (n - shift < kKeyStringBits) return false;  // 673..675 bits
  const int len = (n + 7) / 8;
  uint8_t buf[96];
  if (len > static_cast<int>(sizeof buf)) return false;
  if (shift && !BN_lshift(bn.v, bn.v, shift)) return false;
  if (BN_bn2binpad(bn.v, buf, len) != len) return false;
  std::memcpy(ks, buf, kKeyStringSize);
  OPENSSL_cleanse(buf, sizeof buf);
  return true;
}

// The first 32 bytes of the 672-bit key string rotated left by `bits`.
void RotatedPrefix(const uint8_t ks[kKeyStringSize], unsigned bits, uint8_t out[32]) {
  const unsigned q = bits / 8;
  const unsigned r = bits % 8;
  for (unsigned j = 0; j < 32; ++j) {
    const unsigned hi = ks[(q + j) % kKeyStringSize];
    const unsigned lo = ks[(q + j + 1) % kKeyStringSize];
    out[j] = static_cast<uint8_t>(r ? (hi << r) | (lo >> (8 - r)) : hi);
  }
}

// x (+) y = x + y + c*x*y modulo 257.
unsigned GroupOp(unsigned x, unsigned y, unsigned c) {
  return (x + y + c * x * y) % 257;
}

void InvertTable(const uint8_t* table, uint8_t* inv) {
  for (unsigned i = 0; i < 256; ++i) inv[table[i]] = static_cast<uint8_t>(i);
}

uint8_t InverseOdd(uint8_t v) {
  unsigned x = v;  // correct to 3 bits for odd v; each step doubles that
  for (int i = 0; i < 3; ++i) x = x * (2 - v * x);
  return static_cast<uint8_t>(x);
}

void MixHalves(const uint8_t* ctx, uint8_t x[32]) {
  CipherMix(x, ctx + kCipherMatrix1, x);
  CipherMix(x + 16, ctx + kCipherMatrix2, x + 16);
}

void XorBlock(uint8_t x[32], const uint8_t* y) {
  for (int i = 0; i < 32; ++i) x[i] ^= y[i];
}

void Substitute(uint8_t x[32], const uint8_t* table) {
  for (int i = 0; i < 32; ++i) x[i] = table[x[i]];
}

void Transpose(uint8_t x[32]) {
  uint8_t t[32];
  for (int j = 0; j < 32; ++j) t[j] = x[kCipherTransposition[j]];
  std::memcpy(x, t, 32);
}

void Untranspose(uint8_t x[32]) {
  uint8_t t[32];
  for (int j = 0; j < 32; ++j) t[kCipherTransposition[j]] = x[j];
  std::memcpy(x, t, 32);
}

}  // namespace

void CipherBuildTable(const uint8_t params[4], uint8_t table[256]) {
  unsigned f = params[0] < 3 ? 3 : params[0];
  switch (f % 4) {
    case 0:
      f -= 1;
      break;
    case 1:
      f -= 2;
      break;
    case 2:
      f += 1;
      break;
    default:
      break;
  }
  const unsigned c = params[1] ? params[1] : 1;
  const unsigned g = params[2] ? params[2] : 1;
  for (unsigned i = 0; i < 256; ++i) {
    unsigned base = (g + i) % 256 + 1;
    unsigned acc = 0;  // the unit of (+)
    for (unsigned e = f; e; e >>= 1) {
      if (e & 1) acc = GroupOp(acc, base, c);
      base = base * (c * base + 2) % 257;  // base (+) base
    }
    table[i] = static_cast<uint8_t>(acc == 256 ? 0 : acc);
  }
  unsigned h = params[3] ? params[3] : 1;
  for (unsigned i = 1; i < 256; ++i) {
    const int d = table[i] - table[i - 1];
    if (table[i] == i || (d > -8 && d < 8)) {
      const unsigned j = (i - h) & 255;
      const uint8_t t = table[i];
      table[i] = table[j];
      table[j] = t;
      h = (h - 5) & 255;
    }
  }
}

void CipherBuildMatrix(const uint8_t key_bytes[10], uint8_t m[16]) {
  unsigned k[10];
  for (int i = 0; i < 10; ++i) k[i] = key_bytes[i] ? key_bytes[i] : 255;
  const unsigned a = (k[6] % 2) ? k[6] : k[6] - 1;
  if ((k[0] + k[3] + k[5] + k[8] + a) % 2 == 0) k[8] -= 1;
  if ((k[1] + k[3] + k[4] + k[9] + a) % 2 == 0) k[9] -= 1;
  if ((k[2] + k[3] + k[4] + k[7] + a) % 2 == 0) k[7] -= 1;
  const unsigned rows[16] = {a,    k[0], k[1], k[2], k[3], a,    k[3], k[3],
                             k[4], k[5], a,    k[4], k[7], k[8], k[9], a};
  for (int i = 0; i < 16; ++i) m[i] = static_cast<uint8_t>(rows[i]);
}

void CipherMix(const uint8_t x[16], const uint8_t m[16], uint8_t out[16]) {
  unsigned col_x[4] = {0, 0, 0, 0};  // S_r: sums of x's columns
  unsigned col_m[4] = {0, 0, 0, 0};  // C_c: sums of m's columns
  for (int k = 0; k < 4; ++k) {
    for (int c = 0; c < 4; ++c) {
      col_x[c] += x[4 * k + c];
      col_m[c] += m[4 * k + c];
    }
  }
  uint8_t res[16];
  for (int r = 0; r < 4; ++r) {
    for (int c = 0; c < 4; ++c) {
      unsigned v;
      if (r != c) {
        v = m[4 * r + c] * col_x[r] + col_m[c] * x[4 * r + c];
        for (int k = 0; k < 4; ++k) {
          if (k != r && k != c) v -= m[4 * k + c] * x[4 * r + k];
        }
      } else {
        v = col_m[r] * x[4 * r + r];
        for (int k = 0; k < 4; ++k) {
          if (k != r) v -= m[4 * k + r] * x[4 * k + k];
        }
      }
      res[4 * r + c] = static_cast<uint8_t>(v);
    }
  }
  std::memcpy(out, res, 16);
}

bool CipherInvertMatrix(const uint8_t m[16], uint8_t inv[16]) {
  // Mixing is linear in its first argument: column q of `sys` is the mix of
  // the q-th unit half-block with m. Solve sys * n = identity modulo 256.
  uint8_t sys[16][17];
  for (int q = 0; q < 16; ++q) {
    uint8_t unit[16] = {};
    unit[q] = 1;
    uint8_t col[16];
    CipherMix(unit, m, col);
    for (int p = 0; p < 16; ++p) sys[p][q] = col[p];
  }
  for (int p = 0; p < 16; ++p) sys[p][16] = (p % 5 == 0) ? 1 : 0;  // the identity matrix

  for (int col = 0; col < 16; ++col) {
    int pivot = col;
    while (pivot < 16 && sys[pivot][col] % 2 == 0) ++pivot;
    if (pivot == 16) return false;  // singular modulo 2, hence modulo 256
    if (pivot != col) {
      for (int j = 0; j < 17; ++j) {
        const uint8_t t = sys[col][j];
        sys[col][j] = sys[pivot][j];
        sys[pivot][j] = t;
      }
    }
    const uint8_t scale = InverseOdd(sys[col][col]);
    for (int j = 0; j < 17; ++j) sys[col][j] = static_cast<uint8_t>(sys[col][j] * scale);
    for (int row = 0; row < 16; ++row) {
      const uint8_t f = sys[row][col];
      if (row == col || f == 0) continue;
      for (int j = 0; j < 17; ++j)
        sys[row][j] = static_cast<uint8_t>(sys[row][j] - f * sys[col][j]);
    }
  }
  uint8_t n[16];
  for (int p = 0; p < 16; ++p) n[p] = sys[p][16];

  // n is a left inverse; the inverse must also work from the right.
  static const uint8_t kIdentity[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
  uint8_t check[16];
  CipherMix(m, n, check);
  if (std::memcmp(check, kIdentity, 16) != 0) return false;
  std::memcpy(inv, n, 16);
  return true;
}

bool CipherInit(uint8_t* ctx, const uint8_t key[64], bool encrypt) {
  uint8_t ks[kKeyStringSize];
  if (!DeriveKeyString(key, ks)) return false;

  uint8_t c[kCipherContextSize];
  for (unsigned i = 0; i < 9; ++i) {
    const unsigned slot = encrypt ? i : 8 - i;
    RotatedPrefix(ks, 83 * i, c + kCipherRoundKeys + 32 * slot);
  }

  uint8_t table_a[256];
  uint8_t table_b[256];
  CipherBuildTable(ks + 76, table_a);
  CipherBuildTable(ks + 80, table_b);
  if (encrypt) {
    std::memcpy(c + kCipherTableA, table_a, 256);
    std::memcpy(c + kCipherTableB, table_b, 256);
  } else {
    InvertTable(table_a, c + kCipherTableA);
    InvertTable(table_b, c + kCipherTableB);
  }

  uint8_t m1[16];
  uint8_t m2[16];
  CipherBuildMatrix(ks + 44, m1);
  CipherBuildMatrix(ks + 54, m2);
  // Always succeeds for built matrices; checked all the same so that a context
  // that could not decrypt is never handed out.
  bool ok;
  if (encrypt) {
    ok = CipherInvertMatrix(m1, c + kCipherMatrix1);
    std::memcpy(c + kCipherMatrix2, m2, 16);
  } else {
    std::memcpy(c + kCipherMatrix1, m1, 16);
    ok = CipherInvertMatrix(m2, c + kCipherMatrix2);
  }
  if (ok) std::memcpy(ctx, c, kCipherContextSize);

  OPENSSL_cleanse(ks, sizeof ks);
  OPENSSL_cleanse(c, sizeof c);
  OPENSSL_cleanse(table_a, sizeof table_a);
  OPENSSL_cleanse(table_b, sizeof table_b);
  OPENSSL_cleanse(m1, sizeof m1);
  OPENSSL_cleanse(m2, sizeof m2);
  return ok;
}

void CipherEncryptBlockRef(const uint8_t* ctx, const uint8_t chain[32], uint8_t block[32]) {
  uint8_t x[32];
  for (int i = 0; i < 32; ++i) x[i] = block[i] ^ chain[i];
  for (int round = 0; round < 8; ++round) {
    XorBlock(x, ctx + kCipherRoundKeys + 32 * round);
    MixHalves(ctx, x);
    Transpose(x);
    Substitute(x, ctx + (round % 2 ? kCipherTableB : kCipherTableA));
  }
  XorBlock(x, ctx + kCipherRoundKeys + 32 * 8);
  MixHalves(ctx, x);
  std::memcpy(block, x, 32);
}

void CipherDecryptBlockRef(const uint8_t* ctx, const uint8_t chain[32], uint8_t block[32]) {
  uint8_t x[32];
  std::memcpy(x, block, 32);
  MixHalves(ctx, x);
  XorBlock(x, ctx + kCipherRoundKeys);
  for (int round = 0; round < 8; ++round) {
    Substitute(x, ctx + (round % 2 ? kCipherTableA : kCipherTableB));
    Untranspose(x);
    MixHalves(ctx, x);
    XorBlock(x, ctx + kCipherRoundKeys + 32 * (round + 1));
  }
  for (int i = 0; i < 32; ++i) block[i] = x[i] ^ chain[i];
}

void CipherCbcRef(const uint8_t* ctx, const uint8_t iv[32], const uint8_t* in, uint8_t* out,
                  size_t blocks, bool encrypt) {
  uint8_t chain[32];
  std::memcpy(chain, iv, 32);
  for (size_t b = 0; b < blocks; ++b) {
    uint8_t x[32];
    std::memcpy(x, in + 32 * b, 32);
    if (encrypt) {
      CipherEncryptBlockRef(ctx, chain, x);
      std::memcpy(chain, x, 32);
    } else {
      uint8_t next[32];  // taken before out is written, so in == out works
      std::memcpy(next, x, 32);
      CipherDecryptBlockRef(ctx, chain, x);
      std::memcpy(chain, next, 32);
    }
    std::memcpy(out + 32 * b, x, 32);
  }
}

void CipherCbc(const uint8_t* ctx, const uint8_t iv[32], const uint8_t* in, uint8_t* out,
               size_t blocks, bool encrypt) {
  if (CipherHaveAvx2()) {
    CipherCbcAvx2(ctx, iv, in, out, blocks, encrypt);
  } else {
    CipherCbcRef(ctx, iv, in, out, blocks, encrypt);
  }
}

}  // namespace tevqa

extern "C" {

TEVQA_API int UZDST_CIPHER_init(void* ctx, const void* key, int encrypt) {
  if (!ctx || !key) return 0;
  return tevqa::CipherInit(static_cast<uint8_t*>(ctx), static_cast<const uint8_t*>(key),
                           encrypt != 0)
             ? 1
             : 0;
}

TEVQA_API void UZDST_CIPHER_enc(const void* ctx, const void* chain, void* block) {
  if (!ctx || !chain || !block) return;
  tevqa::CipherEncryptBlockRef(static_cast<const uint8_t*>(ctx), static_cast<const uint8_t*>(chain),
                               static_cast<uint8_t*>(block));
}

TEVQA_API void UZDST_CIPHER_dec(const void* ctx, const void* chain, void* block) {
  if (!ctx || !chain || !block) return;
  tevqa::CipherDecryptBlockRef(static_cast<const uint8_t*>(ctx), static_cast<const uint8_t*>(chain),
                               static_cast<uint8_t*>(block));
}

TEVQA_API void UZDST_CIPHER_cbc(const void* ctx, const void* iv, const void* in, void* out,
                                uint32_t blocks, int encrypt) {
  if (blocks == 0 || !ctx || !iv || !in || !out) return;
  tevqa::CipherCbc(static_cast<const uint8_t*>(ctx), static_cast<const uint8_t*>(iv),
                   static_cast<const uint8_t*>(in), static_cast<uint8_t*>(out), blocks,
                   encrypt != 0);
}

}  // extern "C"

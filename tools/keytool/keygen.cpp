#include "keygen.h"

#include <fcntl.h>
#include <openssl/bn.h>
#include <openssl/crypto.h>
#include <openssl/rand.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>

#include "tevqa.h"

namespace keytool {
namespace {

struct BnDel {
  void operator()(BIGNUM* b) const { BN_clear_free(b); }
};
struct CtxDel {
  void operator()(BN_CTX* c) const { BN_CTX_free(c); }
};
using Bn = std::unique_ptr<BIGNUM, BnDel>;
using Ctx = std::unique_ptr<BN_CTX, CtxDel>;

Bn New() {
  return Bn(BN_new());
}
Bn FromBytes(const Bytes& b) {
  return Bn(BN_bin2bn(b.data(), static_cast<int>(b.size()), nullptr));
}
Bytes ToBytes(const BIGNUM* b, size_t len) {
  Bytes out(len);
  if (BN_bn2binpad(b, out.data(), static_cast<int>(len)) != static_cast<int>(len)) out.clear();
  return out;
}

bool Fail(std::string* error, const char* what) {
  if (error) *error = what;
  return false;
}

// A prime p of p_bits with a prime q of q_bits dividing p - 1.
bool PrimeWithSubgroup(int p_bits, int q_bits, BIGNUM* p, BIGNUM* q, BN_CTX* ctx) {
  if (!BN_generate_prime_ex(q, q_bits, 0, nullptr, nullptr, nullptr)) return false;
  Bn k = New(), t = New();
  if (!k || !t) return false;
  for (int tries = 0; tries < 100000; ++tries) {
    // p = 2*k*q + 1 with p of exactly p_bits bits.
    if (!BN_rand(k.get(), p_bits - q_bits - 1, BN_RAND_TOP_ONE, BN_RAND_BOTTOM_ANY)) return false;
    if (!BN_mul(t.get(), k.get(), q, ctx) || !BN_lshift1(t.get(), t.get()) ||
        !BN_add_word(t.get(), 1))
      return false;
    if (BN_num_bits(t.get()) != p_bits) continue;
    if (BN_check_prime(t.get(), ctx, nullptr) == 1) return BN_copy(p, t.get()) != nullptr;
  }
  return false;
}

// A base b with phi(b) = R*b + 1 of order q modulo p.
bool BaseOfOrder(const BIGNUM* p, const BIGNUM* q, const BIGNUM* R, BIGNUM* base, BN_CTX* ctx) {
  Bn e = New(), h = New(), g = New(), r_inv = New(), pm1 = New();
  if (!e || !h || !g || !r_inv || !pm1) return false;
  if (!BN_sub(pm1.get(), p, BN_value_one()) || !BN_div(e.get(), nullptr, pm1.get(), q, ctx))
    return false;
  if (!BN_mod_inverse(r_inv.get(), R, p, ctx)) return false;
  for (int tries = 0; tries < 1000; ++tries) {
    if (!BN_rand_range(h.get(), p) || BN_cmp(h.get(), BN_value_one()) <= 0) continue;
    if (!BN_mod_exp(g.get(), h.get(), e.get(), p, ctx)) return false;
    if (BN_is_one(g.get())) continue;
    // base = (g - 1) * R^-1 mod p
    if (!BN_sub_word(g.get(), 1) || !BN_mod_mul(base, g.get(), r_inv.get(), p, ctx)) return false;
    return !BN_is_zero(base);
  }
  return false;
}

// phi(x)^q == 1 and phi(x) != 1 modulo p.
bool HasOrder(const BIGNUM* x, const BIGNUM* q, const BIGNUM* R, const BIGNUM* p, BN_CTX* ctx) {
  Bn t = New();
  if (!t || !BN_mod_mul(t.get(), R, x, p, ctx) || !BN_add_word(t.get(), 1) ||
      !BN_nnmod(t.get(), t.get(), p, ctx))
    return false;
  if (BN_is_one(t.get())) return false;
  if (!BN_mod_exp(t.get(), t.get(), q, p, ctx)) return false;
  return BN_is_one(t.get());
}

bool RandomBelow(const BIGNUM* q, BIGNUM* out) {
  do {
    if (!BN_rand_range(out, q)) return false;
  } while (BN_is_zero(out));
  return true;
}

void DomainId(Domain* d) {
  Bytes all;
  for (const Bytes* b : {&d->ka_mod, &d->ka_base, &d->ka_order, &d->p, &d->q, &d->R, &d->d})
    all.insert(all.end(), b->begin(), b->end());
  d->domain_id.assign(32, 0);
  UZDST_HASH_data(all.data(), static_cast<uint32_t>(all.size()), nullptr, d->domain_id.data());
}

const std::pair<const char*, size_t> kFields[] = {
    {"ka_mod", 128}, {"ka_base", 128}, {"ka_order", 32}, {"domain_id", 32},
    {"p", 128},      {"q", 32},        {"R", 32},        {"d", 128}};

Bytes* Field(Domain* d, const std::string& name) {
  if (name == "ka_mod") return &d->ka_mod;
  if (name == "ka_base") return &d->ka_base;
  if (name == "ka_order") return &d->ka_order;
  if (name == "domain_id") return &d->domain_id;
  if (name == "p") return &d->p;
  if (name == "q") return &d->q;
  if (name == "R") return &d->R;
  if (name == "d") return &d->d;
  return nullptr;
}

}  // namespace

std::string ToHex(const uint8_t* p, size_t n) {
  static const char kDigits[] = "0123456789abcdef";
  std::string s;
  s.reserve(n * 2);
  for (size_t i = 0; i < n; ++i) {
    s += kDigits[p[i] >> 4];
    s += kDigits[p[i] & 15];
  }
  return s;
}

bool FromHex(const std::string& s, Bytes* out) {
  if (s.size() % 2) return false;
  out->clear();
  for (size_t i = 0; i < s.size(); i += 2) {
    unsigned v = 0;
    if (std::sscanf(s.c_str() + i, "%2x", &v) != 1) return false;
    if (!std::isxdigit(static_cast<unsigned char>(s[i])) ||
        !std::isxdigit(static_cast<unsigned char>(s[i + 1])))
      return false;
    out->push_back(static_cast<uint8_t>(v));
  }
  return true;
}

bool GenerateDomain(Domain* out, std::string* error) {
  Ctx ctx(BN_CTX_new());
  Bn p = New(), q = New(), R = New(), d = New(), P = New(), Q = New(), g = New();
  if (!ctx || !p || !q || !R || !d || !P || !Q || !g) return Fail(error, "out of memory");
  if (!PrimeWithSubgroup(1024, 256, p.get(), q.get(), ctx.get()))
    return Fail(error, "no signature modulus found");
  if (!PrimeWithSubgroup(1024, 256, P.get(), Q.get(), ctx.get()))
    return Fail(error, "no key-agreement modulus found");
  // R: a nonzero 256-bit value, below both moduli, so invertible modulo each.
  do {
    if (!BN_rand(R.get(), 256, BN_RAND_TOP_ANY, BN_RAND_BOTTOM_ANY))
      return Fail(error, "no random R");
  } while (BN_is_zero(R.get()));
  if (!BaseOfOrder(p.get(), q.get(), R.get(), d.get(), ctx.get()))
    return Fail(error, "no signature base found");
  if (!BaseOfOrder(P.get(), Q.get(), R.get(), g.get(), ctx.get()))
    return Fail(error, "no key-agreement base found");
  Domain dom;
  dom.ka_mod = ToBytes(P.get(), 128);
  dom.ka_base = ToBytes(g.get(), 128);
  dom.ka_order = ToBytes(Q.get(), 32);
  dom.p = ToBytes(p.get(), 128);
  dom.q = ToBytes(q.get(), 32);
  dom.R = ToBytes(R.get(), 32);
  dom.d = ToBytes(d.get(), 128);
  DomainId(&dom);
  if (!CheckDomain(dom, error)) return false;
  *out = std::move(dom);
  return true;
}

bool CheckDomain(const Domain& dom, std::string* error) {
  for (const auto& [name, len] : kFields) {
    if (Field(const_cast<Domain*>(&dom), name)->size() != len)
      return Fail(error, "a domain field has the wrong length");
  }
  Ctx ctx(BN_CTX_new());
  Bn p = FromBytes(dom.p), q = FromBytes(dom.q), R = FromBytes(dom.R), d = FromBytes(dom.d),
     P = FromBytes(dom.ka_mod), Q = FromBytes(dom.ka_order), g = FromBytes(dom.ka_base), t = New();
  if (!ctx || !p || !q || !R || !d || !P || !Q || !g || !t) return Fail(error, "out of memory");
  if (BN_num_bits(p.get()) != 1024 || BN_num_bits(q.get()) != 256)
    return Fail(error, "p must have 1024 bits and q 256");
  if (BN_check_prime(p.get(), ctx.get(), nullptr) != 1 ||
      BN_check_prime(q.get(), ctx.get(), nullptr) != 1)
    return Fail(error, "p and q must be prime");
  if (!BN_sub(t.get(), p.get(), BN_value_one()) || !BN_mod(t.get(), t.get(), q.get(), ctx.get()) ||
      !BN_is_zero(t.get()))
    return Fail(error, "q must divide p - 1");
  if (BN_is_zero(R.get())) return Fail(error, "R must be nonzero");
  if (!HasOrder(d.get(), q.get(), R.get(), p.get(), ctx.get()))
    return Fail(error, "d must have order q");
  if (BN_check_prime(P.get(), ctx.get(), nullptr) != 1 ||
      !HasOrder(g.get(), Q.get(), R.get(), P.get(), ctx.get()))
    return Fail(error, "the key-agreement group is not usable");
  return true;
}

bool SaveDomain(const Domain& d, const std::string& path, std::string* error) {
  std::ostringstream s;
  s << "# qovra key domain\n";
  for (const auto& [name, len] : kFields) {
    const Bytes* b = Field(const_cast<Domain*>(&d), name);
    s << name << '=' << ToHex(b->data(), b->size()) << '\n';
  }
  const std::string text = s.str();
  return WriteFile(path, reinterpret_cast<const uint8_t*>(text.data()), text.size(), error);
}

bool LoadDomain(const std::string& path, Domain* out, std::string* error) {
  std::ifstream in(path);
  if (!in) return Fail(error, "cannot open the domain file");
  Domain d;
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    const auto eq = line.find('=');
    if (eq == std::string::npos) return Fail(error, "bad line in the domain file");
    Bytes* f = Field(&d, line.substr(0, eq));
    if (!f || !FromHex(line.substr(eq + 1), f)) return Fail(error, "bad field in the domain file");
  }
  for (const auto& [name, len] : kFields) {
    if (Field(&d, name)->size() != len) return Fail(error, "the domain file lacks a field");
  }
  *out = std::move(d);
  return true;
}

bool GenerateKeyPair(const Domain& dom, KeyPair* out, std::string* error) {
  Ctx ctx(BN_CTX_new());
  Bn q = FromBytes(dom.q), R = FromBytes(dom.R), d = FromBytes(dom.d), x = New(), u = New(),
     y = New();
  if (!ctx || !q || !R || !d || !x || !u || !y) return Fail(error, "out of memory");
  KeyPair kp;
  auto& pub = kp.pub;
  auto& priv = kp.priv;
  std::memcpy(pub.data() + 0, dom.ka_mod.data(), 128);
  std::memcpy(pub.data() + 128, dom.domain_id.data(), 32);
  std::memcpy(pub.data() + 160, dom.p.data(), 128);
  std::memcpy(pub.data() + 416, dom.q.data(), 32);
  std::memcpy(pub.data() + 448, dom.R.data(), 32);

  // Key-agreement exponent: 64 random bytes that the block cipher takes as a
  // key; public value = base^[a] modulo P.
  uint8_t cctx[TEVQA_CIPHER_CONTEXT_SIZE];
  for (int tries = 0;; ++tries) {
    if (tries > 1000) return Fail(error, "no usable key-agreement exponent");
    if (RAND_bytes(priv.data(), 64) != 1) return Fail(error, "no random bytes");
    if (UZDST_CIPHER_init(cctx, priv.data(), 1) == 1) break;
  }
  OPENSSL_cleanse(cctx, sizeof cctx);
  if (UZDST_DIADH_generate(dom.R.data(), 32, dom.ka_base.data(), 128, priv.data(), 64,
                           dom.ka_mod.data(), 128, pub.data() + 288, 128) != 1)
    return Fail(error, "key-agreement public value failed");

  if (!RandomBelow(q.get(), x.get()) || !RandomBelow(q.get(), u.get()))
    return Fail(error, "no random x or u");
  const Bytes xb = ToBytes(x.get(), 32), ub = ToBytes(u.get(), 32);
  std::memcpy(priv.data() + 64, xb.data(), 32);
  std::memcpy(priv.data() + 96, ub.data(), 32);
  std::memcpy(priv.data() + 128, dom.d.data(), 128);
  if (UZDST_DIADH_generate(dom.R.data(), 32, dom.d.data(), 128, xb.data(), 32, dom.p.data(), 128,
                           pub.data() + 512, 128) != 1 ||
      UZDST_DIADH_generate(dom.R.data(), 32, dom.d.data(), 128, ub.data(), 32, dom.p.data(), 128,
                           pub.data() + 640, 128) != 1)
    return Fail(error, "public values failed");
  *out = kp;
  OPENSSL_cleanse(&kp, sizeof kp);
  return true;
}

bool WriteFile(const std::string& path, const uint8_t* data, size_t n, std::string* error) {
  // A fresh name beside path, created 0600 and exclusively: nobody else can
  // open the file while it is written, and a link planted there is refused
  // rather than followed.
  std::string tmp;
  int fd = -1;
  for (int attempt = 0; attempt < 16 && fd < 0; ++attempt) {
    uint8_t random[8];
    if (RAND_bytes(random, sizeof random) != 1) return Fail(error, "no random file name");
    tmp = path + "." + ToHex(random, sizeof random) + ".tmp";
    fd = open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0 && errno != EEXIST) break;
  }
  if (fd < 0) return Fail(error, "cannot create the file");
  bool ok = true;
  for (size_t done = 0; ok && done < n;) {
    const ssize_t w = write(fd, data + done, n - done);
    if (w < 0 && errno == EINTR) continue;
    ok = w > 0;
    if (ok) done += static_cast<size_t>(w);
  }
  ok = fsync(fd) == 0 && ok;
  ok = close(fd) == 0 && ok;
  if (!ok || std::rename(tmp.c_str(), path.c_str()) != 0) {
    unlink(tmp.c_str());
    return Fail(error, "cannot write the file");
  }
  return true;
}

bool ReadFile(const std::string& path, Bytes* out, std::string* error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return Fail(error, "cannot open the file");
  out->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return true;
}

}  // namespace keytool

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sys/random.h>
#include <tevqa.h>
#include <ulmox.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "ulmox_pool.h"

namespace {

using Digest = std::array<uint8_t, 32>;

Digest Hash(const std::vector<uint8_t>& data) {
  Digest out{};
  UZDST_HASH_data(data.data(), static_cast<uint32_t>(data.size()), nullptr, out.data());
  return out;
}

void AppendWord(std::vector<uint8_t>& v, uint32_t w) {
  for (int k = 0; k < 4; ++k) v.push_back(static_cast<uint8_t>(w >> (8 * k)));
}

// The pool written out step by step, plainly, to check the library's
// arithmetic against. Positions "wrap at N" are taken modulo N.
struct ModelPool {
  std::array<uint8_t, 1023> pool{};
  Digest digest{};
  size_t index = 0;
  size_t fill = 0;
  uint32_t outputs = 0;
  uint32_t pieces = 0;
  double entropy = 0;
  bool stirred = false;

  void Add(const uint8_t* data, size_t n, double e) {
    size_t i = index;
    Digest local = digest;
    const uint32_t outputs_copy = outputs;
    uint32_t pieces_copy = pieces;

    index += n;
    if (index >= 1023) {
      index %= 1023;
      fill = 1023;
    } else if (fill < 1023 && fill < index) {
      fill = index;
    }
    pieces += static_cast<uint32_t>((n + 31) / 32);

    for (size_t off = 0; off < n; off += 32) {
      const size_t len = std::min<size_t>(32, n - off);
      std::vector<uint8_t> msg(local.begin(), local.end());
      for (size_t k = 0; k < len; ++k) msg.push_back(pool[(i + k) % 1023]);
      msg.insert(msg.end(), data + off, data + off + len);
      AppendWord(msg, outputs_copy);
      AppendWord(msg, pieces_copy);
      local = Hash(msg);
      ++pieces_copy;
      for (size_t k = 0; k < len; ++k) pool[(i + k) % 1023] ^= local[k];
      i += len;
    }
    for (size_t k = 0; k < 32; ++k) digest[k] ^= local[k];
    if (entropy < 32) entropy += e;
  }

  // A draw on a pool that has already been polled.
  int Bytes(uint8_t* out, size_t n) {
    const bool ok = entropy >= 32;
    if (!ok) entropy = std::max(0.0, entropy - static_cast<double>(n));
    if (!stirred) {
      const std::string dots(32, '.');
      for (int r = 0; r < 32; ++r) Add(reinterpret_cast<const uint8_t*>(dots.data()), 32, 0);
      if (ok) stirred = true;
    }

    size_t i = index;
    Digest local = digest;
    std::vector<uint8_t> counters;
    AppendWord(counters, outputs);
    AppendWord(counters, pieces);

    index += (n + 15) / 16 * 16;
    if (index > fill) index %= fill;
    ++outputs;

    for (size_t off = 0; off < n; off += 16) {
      const size_t len = std::min<size_t>(16, n - off);
      std::vector<uint8_t> msg(local.begin(), local.end());
      msg.insert(msg.end(), counters.begin(), counters.end());
      msg.insert(msg.end(), out + off, out + off + len);
      for (size_t k = 0; k < 16; ++k) msg.push_back(pool[(i + k) % fill]);
      local = Hash(msg);
      for (size_t k = 0; k < 16; ++k) pool[(i + k) % fill] ^= local[k];
      std::copy(local.begin() + 16, local.begin() + 16 + static_cast<ptrdiff_t>(len), out + off);
      i += 16;
    }

    std::vector<uint8_t> msg(counters);
    msg.insert(msg.end(), local.begin(), local.end());
    msg.insert(msg.end(), digest.begin(), digest.end());
    digest = Hash(msg);
    return ok ? 1 : 0;
  }
};

void ExpectPoolMatches(const ModelPool& m, const char* step) {
  const ulmox::PoolState& s = ulmox::CurrentPoolState();
  SCOPED_TRACE(step);
  EXPECT_EQ(0, std::memcmp(s.pool, m.pool.data(), m.pool.size()));
  EXPECT_EQ(0, std::memcmp(s.digest, m.digest.data(), m.digest.size()));
  EXPECT_EQ(s.index, m.index);
  EXPECT_EQ(s.fill, m.fill);
  EXPECT_EQ(s.output_count, m.outputs);
  EXPECT_EQ(s.added_count, m.pieces);
  EXPECT_DOUBLE_EQ(s.entropy, m.entropy);
  EXPECT_EQ(s.stirred, m.stirred);
}

std::vector<uint8_t> Pattern(size_t n, uint8_t seed) {
  std::vector<uint8_t> v(n);
  for (size_t k = 0; k < n; ++k) v[k] = static_cast<uint8_t>(seed + 37 * k + (k >> 3));
  return v;
}

bool AllZero(const uint8_t* p, size_t n) {
  return std::all_of(p, p + n, [](uint8_t b) { return b == 0; });
}

// Test sources: fixed bytes, a failing one, and one that counts its calls.
int g_counted_calls = 0;
size_t FortyBytes(uint8_t* buf, size_t cap) {
  const std::vector<uint8_t> v = Pattern(40, 1);
  std::copy(v.begin(), v.begin() + static_cast<ptrdiff_t>(std::min(cap, v.size())), buf);
  return std::min(cap, v.size());
}
size_t FiveBytes(uint8_t* buf, size_t cap) {
  const std::vector<uint8_t> v = Pattern(5, 2);
  std::copy(v.begin(), v.begin() + static_cast<ptrdiff_t>(std::min(cap, v.size())), buf);
  return std::min(cap, v.size());
}
size_t Fails(uint8_t*, size_t) {
  return 0;
}
size_t Counted(uint8_t* buf, size_t cap) {
  ++g_counted_calls;
  return FortyBytes(buf, cap);
}

const ulmox::EntropySource kFailingSources[] = {{"fails", 50.0, Fails}, {"null", 50.0, nullptr}};
const ulmox::EntropySource kMixedSources[] = {
    {"forty", 10.0, FortyBytes}, {"fails", 99.0, Fails}, {"five", 25.0, FiveBytes}};
const ulmox::EntropySource kCountedSource[] = {{"counted", 40.0, Counted}};

// Each test starts from a fresh process state with no working source.
class Ulmox : public ::testing::Test {
 protected:
  void SetUp() override {
    ulmox::SetEntropySources({});
    ulmox::ResetPoolForTesting();
    g_counted_calls = 0;
  }
  void TearDown() override {
    ulmox::ResetPoolForTesting();
    ulmox::SetEntropySources(ulmox::LinuxEntropySources());
  }
};

TEST_F(Ulmox, ZeroLengthReturnsOneAndChangesNothing) {
  const std::vector<uint8_t> seed = Pattern(20, 9);
  random_seed(seed.data(), 20);
  ulmox::PoolState before;
  std::memcpy(&before, &ulmox::CurrentPoolState(), sizeof before);

  uint8_t buf[4] = {1, 2, 3, 4};
  EXPECT_EQ(random_bytes(buf, 0), 1);
  EXPECT_EQ(random_bytes(buf, -7), 1);
  EXPECT_EQ(random_bytes(nullptr, 0), 1);

  EXPECT_EQ(0, std::memcmp(&before, &ulmox::CurrentPoolState(), sizeof before));
  EXPECT_FALSE(ulmox::CurrentPoolState().polled);
  EXPECT_EQ(buf[0], 1);
  EXPECT_EQ(buf[3], 4);
}

TEST_F(Ulmox, FirstDrawWithoutWorkingSourceReturnsZeroAndFillsBuffer) {
  ulmox::SetEntropySources(kFailingSources);
  uint8_t buf[48] = {};
  EXPECT_EQ(random_bytes(buf, sizeof buf), 0);
  EXPECT_FALSE(AllZero(buf, sizeof buf));

  const ulmox::PoolState& s = ulmox::CurrentPoolState();
  EXPECT_TRUE(s.polled);
  EXPECT_FALSE(s.stirred);
  EXPECT_EQ(s.entropy, 0.0);  // failed sources earn no credit
  EXPECT_EQ(s.fill, 1023u);   // the stir alone fills the pool
}

TEST_F(Ulmox, AddAdvancesIndexAndFill) {
  struct Step {
    size_t n;
    uint32_t index;
    uint32_t fill;
  };
  const struct {
    const char* name;
    std::vector<Step> steps;
  } cases[] = {
      {"below the end", {{10, 10, 10}, {100, 110, 110}}},
      {"exactly 1023", {{1023, 0, 1023}}},
      {"crossing the end", {{1000, 1000, 1000}, {30, 7, 1023}}},
      {"more than the pool", {{5, 5, 5}, {2050, 9, 1023}}},
      {"after wrapping", {{1030, 7, 1023}, {3, 10, 1023}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ulmox::ResetPoolForTesting();
    ModelPool model;
    uint8_t tag = 0;
    for (const Step& step : c.steps) {
      const std::vector<uint8_t> data = Pattern(step.n, ++tag);
      random_add(data.data(), static_cast<int32_t>(step.n), 0.0);
      model.Add(data.data(), step.n, 0.0);
      EXPECT_EQ(ulmox::CurrentPoolState().index, step.index);
      EXPECT_EQ(ulmox::CurrentPoolState().fill, step.fill);
    }
    ExpectPoolMatches(model, c.name);
  }
}

TEST_F(Ulmox, EstimateRules) {
  const std::vector<uint8_t> data = Pattern(64, 3);
  const ulmox::PoolState& s = ulmox::CurrentPoolState();
  uint8_t out[200];

  random_seed(data.data(), 20);
  EXPECT_EQ(s.entropy, 20.0);
  EXPECT_EQ(random_bytes(out, 5), 0);  // below the goal: drops by the length
  EXPECT_EQ(s.entropy, 15.0);
  EXPECT_FALSE(s.stirred);
  EXPECT_EQ(random_bytes(out, 100), 0);  // not below 0
  EXPECT_EQ(s.entropy, 0.0);

  random_add(data.data(), 10, -4.0);  // negative and non-finite count as 0
  random_add(data.data(), 10, NAN);
  EXPECT_EQ(s.entropy, 0.0);

  random_add(data.data(), 10, 31.0);
  random_add(data.data(), 10, 9.0);  // still below 32 before: credited
  EXPECT_EQ(s.entropy, 40.0);
  random_add(data.data(), 10, 5.0);  // at the goal: no more credit
  EXPECT_EQ(s.entropy, 40.0);

  EXPECT_EQ(random_bytes(out, 200), 1);  // at the goal: no drop, stirred
  EXPECT_EQ(s.entropy, 40.0);
  EXPECT_TRUE(s.stirred);
}

TEST_F(Ulmox, CleanupKeepsStirredAndNextUsePollsAgain) {
  ulmox::SetEntropySources(kCountedSource);
  uint8_t out[16];
  random_poll_system();
  random_poll_system();  // first time only
  EXPECT_EQ(g_counted_calls, 1);
  EXPECT_EQ(random_bytes(out, sizeof out), 1);
  EXPECT_EQ(g_counted_calls, 1);
  ASSERT_TRUE(ulmox::CurrentPoolState().stirred);

  EXPECT_EQ(random_cleanup(), 0);
  const ulmox::PoolState& s = ulmox::CurrentPoolState();
  EXPECT_TRUE(AllZero(s.pool, sizeof s.pool));
  EXPECT_TRUE(AllZero(s.digest, sizeof s.digest));
  EXPECT_EQ(s.index, 0u);
  EXPECT_EQ(s.fill, 0u);
  EXPECT_EQ(s.output_count, 0u);
  EXPECT_EQ(s.added_count, 0u);
  EXPECT_EQ(s.entropy, 0.0);
  EXPECT_FALSE(s.polled);
  EXPECT_TRUE(s.stirred);

  // The next draw polls again and, being stirred, does not stir.
  ModelPool model;
  model.stirred = true;
  std::vector<uint8_t> polled(40);
  FortyBytes(polled.data(), polled.size());
  model.Add(polled.data(), polled.size(), 40.0);
  uint8_t expected[16] = {};
  std::memset(out, 0, sizeof out);
  EXPECT_EQ(model.Bytes(expected, sizeof expected), 1);
  EXPECT_EQ(random_bytes(out, sizeof out), 1);
  EXPECT_EQ(g_counted_calls, 2);
  EXPECT_EQ(0, std::memcmp(out, expected, sizeof out));
  ExpectPoolMatches(model, "after the second poll");
}

TEST_F(Ulmox, EmptyPoolAfterCleanupIsStirredAgain) {
  const std::vector<uint8_t> seed = Pattern(40, 5);
  random_seed(seed.data(), 40);
  uint8_t out[32] = {};
  EXPECT_EQ(random_bytes(out, sizeof out), 1);
  ASSERT_TRUE(ulmox::CurrentPoolState().stirred);
  (void)random_cleanup();

  // No source works, so the poll leaves the pool empty.
  std::memset(out, 0, sizeof out);
  EXPECT_EQ(random_bytes(out, sizeof out), 0);
  EXPECT_FALSE(AllZero(out, sizeof out));
  EXPECT_EQ(ulmox::CurrentPoolState().fill, 1023u);
  EXPECT_TRUE(ulmox::CurrentPoolState().stirred);
}

TEST_F(Ulmox, PoolArithmeticMatchesModel) {
  ModelPool model;
  ulmox::SetEntropySources(kMixedSources);

  // Poll: sources in order with their credits; the failing one is skipped.
  random_poll_system();
  std::vector<uint8_t> forty(40), five(5);
  FortyBytes(forty.data(), 40);
  FiveBytes(five.data(), 5);
  model.Add(forty.data(), 40, 10.0);
  model.Add(five.data(), 5, 25.0);
  ExpectPoolMatches(model, "poll");

  struct Op {
    enum { kSeed, kAdd, kDraw } kind;
    size_t n;
    double estimate;
  };
  const Op ops[] = {
      {Op::kDraw, 7, 0},      // estimate 35 reached: stirs and sets stirred
      {Op::kDraw, 1, 0},      //
      {Op::kDraw, 16, 0},     //
      {Op::kDraw, 17, 0},     // two output pieces, the second of 1 byte
      {Op::kSeed, 70, 0},     //
      {Op::kAdd, 1100, 3.5},  // wraps inside the add
      {Op::kDraw, 1000, 0},   // index passes fill
      {Op::kDraw, 33, 0},     //
  };
  uint8_t tag = 40;
  for (const Op& op : ops) {
    const std::string name = std::to_string(static_cast<int>(op.kind)) + "/" + std::to_string(op.n);
    std::vector<uint8_t> data = Pattern(op.n, ++tag);  // a draw mixes in the buffer's old bytes
    switch (op.kind) {
      case Op::kSeed:
        random_seed(data.data(), static_cast<int32_t>(op.n));
        model.Add(data.data(), op.n, static_cast<double>(op.n));
        break;
      case Op::kAdd:
        random_add(data.data(), static_cast<int32_t>(op.n), op.estimate);
        model.Add(data.data(), op.n, op.estimate);
        break;
      case Op::kDraw: {
        std::vector<uint8_t> expected = data;
        EXPECT_EQ(random_bytes(data.data(), static_cast<int32_t>(op.n)),
                  model.Bytes(expected.data(), op.n))
            << name;
        EXPECT_EQ(data, expected) << name;
        break;
      }
    }
    ExpectPoolMatches(model, name.c_str());
  }
}

TEST_F(Ulmox, UnstirredDrawsMatchModel) {
  // Below the goal every draw stirs again.
  ModelPool model;
  const std::vector<uint8_t> seed = Pattern(10, 77);
  random_seed(seed.data(), 10);
  model.Add(seed.data(), 10, 10.0);
  for (size_t n : {3u, 40u}) {
    std::vector<uint8_t> out(n, 0x5a), expected(n, 0x5a);
    EXPECT_EQ(random_bytes(out.data(), static_cast<int32_t>(n)), 0);
    EXPECT_EQ(model.Bytes(expected.data(), n), 0);
    EXPECT_EQ(out, expected);
    ExpectPoolMatches(model, "unstirred draw");
  }
}

// A caller's substitution set: row k maps x to (7x + 3k + 1) mod 16.
std::array<uint8_t, 128> CallerSbox() {
  std::array<uint8_t, 128> sbox{};
  for (int k = 0; k < 8; ++k)
    for (int x = 0; x < 16; ++x) sbox[16 * k + x] = static_cast<uint8_t>((7 * x + 3 * k + 1) % 16);
  return sbox;
}

struct HashCalls {
  void* (*init)(void*, const void*);
  void (*update)(void*, const void*, uint32_t);
  void (*final)(void*, void*);
  void (*data)(const void*, uint32_t, const void*, void*);
};

// Hashes 120 bytes under the caller's set with a draw between two updates
// and compares with a one-shot digest under the same set.
template <typename Draw>
void ExpectDrawLeavesOpenContextAlone(const HashCalls& hash, Draw draw) {
  const std::array<uint8_t, 128> sbox = CallerSbox();
  const std::vector<uint8_t> data = Pattern(120, 11);

  Digest one_shot{}, builtin{};
  hash.data(data.data(), 120, sbox.data(), one_shot.data());
  hash.data(data.data(), 120, nullptr, builtin.data());
  ASSERT_NE(one_shot, builtin);  // the set matters

  uint8_t ctx[TEVQA_HASH_CONTEXT_SIZE];
  hash.init(ctx, sbox.data());
  hash.update(ctx, data.data(), 50);  // one block compressed, 18 bytes held
  draw();
  hash.update(ctx, data.data() + 50, 70);
  Digest interrupted{};
  hash.final(ctx, interrupted.data());
  EXPECT_EQ(interrupted, one_shot);
}

// Here the pool and the caller's calls share one copy of the hash code, so a
// pool that touched the process-wide tables would show.
TEST_F(Ulmox, DrawDoesNotDisturbCallersHashContext) {
  const HashCalls linked = {UZDST_HASH_init, UZDST_HASH_update, UZDST_HASH_final, UZDST_HASH_data};
  ExpectDrawLeavesOpenContextAlone(linked, [] {
    uint8_t out[100] = {};
    (void)random_bytes(out, sizeof out);  // first draw: poll, stir, output
    (void)random_bytes(out, sizeof out);
  });
}

template <typename Fn>
Fn Symbol(void* lib, const char* name) {
  return reinterpret_cast<Fn>(dlsym(lib, name));
}

// The same with the shipped libraries, as the program loads them.
TEST_F(Ulmox, SharedLibraryDrawDoesNotDisturbCallersHashContext) {
  const std::string ulmox_path = std::string(QOVRA_BIN_DIR) + "/libulmox.so";
  const std::string tevqa_path = std::string(QOVRA_BIN_DIR) + "/libtevqa.so";
  if (!std::filesystem::exists(ulmox_path) || !std::filesystem::exists(tevqa_path)) {
    GTEST_SKIP() << "shared libraries not built in " << QOVRA_BIN_DIR;
  }
  void* ulmox_lib = dlopen(ulmox_path.c_str(), RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(ulmox_lib, nullptr) << dlerror();
  void* tevqa_lib = dlopen(tevqa_path.c_str(), RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(tevqa_lib, nullptr) << dlerror();

  const HashCalls shipped = {Symbol<decltype(HashCalls::init)>(tevqa_lib, "UZDST_HASH_init"),
                             Symbol<decltype(HashCalls::update)>(tevqa_lib, "UZDST_HASH_update"),
                             Symbol<decltype(HashCalls::final)>(tevqa_lib, "UZDST_HASH_final"),
                             Symbol<decltype(HashCalls::data)>(tevqa_lib, "UZDST_HASH_data")};
  auto bytes = Symbol<int (*)(void*, int32_t)>(ulmox_lib, "random_bytes");
  auto cleanup = Symbol<int (*)()>(ulmox_lib, "random_cleanup");
  ASSERT_TRUE(shipped.init && shipped.update && shipped.final && shipped.data);
  ASSERT_TRUE(bytes && cleanup);

  ExpectDrawLeavesOpenContextAlone(shipped, [bytes] {
    uint8_t out[100] = {};
    (void)bytes(out, sizeof out);
  });
  (void)cleanup();
  dlclose(tevqa_lib);
  dlclose(ulmox_lib);
}

TEST_F(Ulmox, LinuxPollFeedsThePool) {
  ulmox::SetEntropySources(ulmox::LinuxEntropySources());
  random_poll_system();
  const ulmox::PoolState& s = ulmox::CurrentPoolState();
  EXPECT_TRUE(s.polled);
  EXPECT_GT(s.fill, 0u);  // the clock and the pid always work

  uint8_t probe[8];
  if (getrandom(probe, sizeof probe, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof probe)) {
    GTEST_SKIP() << "getrandom unavailable here";
  }
  EXPECT_GE(s.entropy, 32.0);
  uint8_t out[32];
  EXPECT_EQ(random_bytes(out, sizeof out), 1);
}

}  // namespace

// 256-bit hash: published vectors for both parameter sets, the exported
// context layout, update splitting, and the process-wide tables.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "gost_hash.h"
#include "tevqa.h"

namespace {

using tevqa::HashTables;

// CryptoPro parameter set for GOST R 34.11-94 (RFC 4357), row k = nibble k.
const uint8_t kCryptoProRows[128] = {
    0xA, 0x4, 0x5, 0x6, 0x8, 0x1, 0x3, 0x7, 0xD, 0xC, 0xE, 0x0, 0x9, 0x2, 0xB, 0xF,  //
    0x5, 0xF, 0x4, 0x0, 0x2, 0xD, 0xB, 0x9, 0x1, 0x7, 0x6, 0x3, 0xC, 0xE, 0xA, 0x8,  //
    0x7, 0xF, 0xC, 0xE, 0x9, 0x4, 0x1, 0x0, 0x3, 0xB, 0x5, 0x2, 0x6, 0xA, 0x8, 0xD,  //
    0x4, 0xA, 0x7, 0xC, 0x0, 0xF, 0x2, 0x8, 0xE, 0x1, 0x6, 0x5, 0xD, 0xB, 0x9, 0x3,  //
    0x7, 0x6, 0x4, 0xB, 0x9, 0xC, 0x2, 0xA, 0x1, 0x8, 0x0, 0xE, 0xF, 0xD, 0x3, 0x5,  //
    0x7, 0x6, 0x2, 0x4, 0xD, 0x9, 0xF, 0x0, 0xA, 0x1, 0x5, 0xB, 0x8, 0xE, 0xC, 0x3,  //
    0xD, 0xE, 0x4, 0x1, 0x7, 0x0, 0x5, 0xA, 0x3, 0xC, 0x8, 0xF, 0x6, 0x2, 0x9, 0xB,  //
    0x1, 0x3, 0xA, 0x9, 0x5, 0xB, 0x4, 0xF, 0x8, 0x6, 0x7, 0xE, 0xD, 0x0, 0x2, 0xC,  //
};

// GOST R 34.11-94 test parameter set (the standard's worked example, RFC 5831),
// K1 (lowest nibble) first.
const uint8_t kTestParamRows[128] = {
    4,  10, 9,  2,  13, 8,  0,  14, 6,  11, 1,  12, 7,  15, 5,  3,   //
    14, 11, 4,  12, 6,  13, 15, 10, 2,  3,  8,  1,  0,  7,  5,  9,   //
    5,  8,  1,  13, 10, 3,  4,  2,  14, 15, 12, 7,  6,  0,  9,  11,  //
    7,  13, 10, 1,  0,  8,  9,  15, 14, 4,  6,  12, 11, 2,  5,  3,   //
    6,  12, 7,  1,  5,  15, 13, 8,  4,  10, 9,  14, 0,  3,  11, 2,   //
    4,  11, 10, 0,  7,  2,  1,  13, 3,  6,  8,  5,  9,  12, 15, 14,  //
    13, 11, 4,  1,  3,  15, 5,  9,  0,  10, 14, 7,  6,  8,  2,  12,  //
    1,  15, 13, 0,  5,  7,  10, 4,  9,  2,  3,  14, 6,  11, 8,  12,  //
};

const std::string kMsg32 = "This is message, length=32 bytes";
const std::string kMsg50 = "Suppose the original message has length = 50 bytes";

std::string Hex(const uint8_t* p, size_t n) {
  static const char kDigits[] = "0123456789abcdef";
  std::string s;
  for (size_t i = 0; i < n; ++i) {
    s += kDigits[p[i] >> 4];
    s += kDigits[p[i] & 0xF];
  }
  return s;
}

std::string HashOneShot(const std::string& msg, const uint8_t* sbox) {
  uint8_t out[32];
  UZDST_HASH_data(msg.data(), static_cast<uint32_t>(msg.size()), sbox, out);
  return Hex(out, 32);
}

// Init, then one update per piece (cut at the given positions), then final.
std::string HashInPieces(const std::string& msg, const std::vector<size_t>& cuts,
                         const uint8_t* sbox) {
  uint8_t ctx[TEVQA_HASH_CONTEXT_SIZE];
  uint8_t out[32];
  UZDST_HASH_init(ctx, sbox);
  size_t from = 0;
  for (size_t cut : cuts) {
    UZDST_HASH_update(ctx, msg.data() + from, static_cast<uint32_t>(cut - from));
    from = cut;
  }
  UZDST_HASH_update(ctx, msg.data() + from, static_cast<uint32_t>(msg.size() - from));
  UZDST_HASH_final(ctx, out);
  return Hex(out, 32);
}

uint32_t Word(const uint8_t* ctx, size_t offset) {
  return static_cast<uint32_t>(ctx[offset]) | static_cast<uint32_t>(ctx[offset + 1]) << 8 |
         static_cast<uint32_t>(ctx[offset + 2]) << 16 |
         static_cast<uint32_t>(ctx[offset + 3]) << 24;
}

struct Vector {
  const char* source;
  std::string message;
  const char* digest;
};

TEST(HashKnownAnswer, CryptoProParameters) {
  const char* wiki = "Wikipedia: GOST (hash function), CryptoPro parameters";
  const Vector vectors[] = {
      {wiki, "", "981e5f3ca30c841487830f84fb433e13ac1101569b9c13584ac483234cd656c0"},
      {wiki, "a", "e74c52dd282183bf37af0079c9f78055715a103f17e3133ceff1aacf2f403011"},
      {wiki, "abc", "b285056dbf18d7392d7677369524dd14747459ed8143997e163b2986f92fd42c"},
      {wiki, "message digest", "bc6041dd2aa401ebfa6e9886734174febdb4729aa972d60f549ac39b29721ba0"},
      {wiki, kMsg32, "2cefc2f7b7bdc514e18ea57fa74ff357e7fa17d652c75f69cb1be7893ede48eb"},
      {wiki, kMsg50, "c3730c5cbccacf915ac292676f21e8bd4ef75331d9405e5f1a61dc3130a65011"},
      {wiki, "The quick brown fox jumps over the lazy dog",
       "9004294a361a508c586fe53d1f1b02746765e71b765472786e4770d565830a76"},
      {wiki, std::string(128, 'U'),
       "1c4ac7614691bbf427fa2316216be8f10d92edfd37cd1027514c1008f649c4e8"},
      {wiki, std::string(1000000, 'a'),
       "8693287aa62f9478f7cb312ec0866b6c4e4a0f11160441e8f4ffcd2715dd554f"},
  };
  for (const Vector& v : vectors) {
    SCOPED_TRACE(std::string(v.source) + ", message length " + std::to_string(v.message.size()));
    EXPECT_EQ(HashOneShot(v.message, nullptr), v.digest);
    EXPECT_EQ(HashInPieces(v.message, {}, nullptr), v.digest);
    // The same rows passed by the caller select the same set.
    EXPECT_EQ(HashOneShot(v.message, kCryptoProRows), v.digest);
  }
}

TEST(HashKnownAnswer, CallersTestParameterSet) {
  const char* wiki = "Wikipedia: GOST (hash function), test parameters";
  const char* rfc = "RFC 5831, worked examples (test parameters)";
  const Vector vectors[] = {
      {wiki, "", "ce85b99cc46752fffee35cab9a7b0278abb4c2d2055cff685af4912c49490f8d"},
      {wiki, "abc", "f3134348c44fb1b2a277729e2285ebb5cb5e0f29c975bc753b70497c06a4d51d"},
      {wiki, "message digest", "ad4434ecb18f2c99b60cbe59ec3d2469582b65273f48de72db2fde16a4889a4d"},
      {rfc, kMsg32, "b1c466d37519b82e8319819ff32595e047a28cb6f83eff1c6916a815a637fffa"},
      {rfc, kMsg50, "471aba57a60a770d3a76130635c1fbea4ef14de51f78b4ae57dd893b62f55208"},
  };
  for (const Vector& v : vectors) {
    SCOPED_TRACE(std::string(v.source) + ", message length " + std::to_string(v.message.size()));
    EXPECT_EQ(HashOneShot(v.message, kTestParamRows), v.digest);
    EXPECT_EQ(HashInPieces(v.message, {}, kTestParamRows), v.digest);
  }
}

TEST(HashUpdate, AnySplitGivesTheOneShotDigest) {
  std::mt19937 rng(20240601);
  std::string random_msg(203, '\0');
  for (char& c : random_msg) c = static_cast<char>(rng());
  std::vector<std::string> messages;
  for (size_t n : {0, 32, 33, 64, 65}) {
    std::string m(n, '\0');
    for (size_t i = 0; i < n; ++i) m[i] = static_cast<char>('A' + i % 26);
    messages.push_back(m);
  }
  messages.push_back(random_msg);

  for (const std::string& msg : messages) {
    SCOPED_TRACE("message length " + std::to_string(msg.size()));
    const std::string expected = HashOneShot(msg, nullptr);
    const size_t n = msg.size();
    for (size_t i = 0; i <= n; ++i) {
      ASSERT_EQ(HashInPieces(msg, {i}, nullptr), expected) << "cut at " << i;
    }
    // Three pieces, including empty ones, for the short messages.
    if (n <= 65) {
      for (size_t i = 0; i <= n; ++i) {
        for (size_t j = i; j <= n; ++j) {
          ASSERT_EQ(HashInPieces(msg, {i, j}, nullptr), expected) << "cuts " << i << ", " << j;
        }
      }
    }
    std::vector<size_t> every_byte;
    for (size_t i = 1; i < n; ++i) every_byte.push_back(i);
    EXPECT_EQ(HashInPieces(msg, every_byte, nullptr), expected);
  }
}

TEST(HashUpdate, FullBufferLeftForFinalEqualsBlockCompressedInUpdate) {
  uint8_t pending[TEVQA_HASH_CONTEXT_SIZE];
  uint8_t compressed[TEVQA_HASH_CONTEXT_SIZE];
  UZDST_HASH_init(pending, nullptr);
  UZDST_HASH_update(pending, kMsg32.data(), 32);
  EXPECT_EQ(Word(pending, 128), 32u);
  EXPECT_EQ(Word(pending, 64), 0u);  // not counted until compressed

  UZDST_HASH_init(compressed, nullptr);
  UZDST_HASH_update(compressed, kMsg32.data(), 10);
  UZDST_HASH_update(compressed, kMsg32.data() + 10, 22);
  EXPECT_EQ(Word(compressed, 128), 0u);
  EXPECT_EQ(Word(compressed, 64), 256u);

  uint8_t a[32], b[32];
  UZDST_HASH_final(pending, a);
  UZDST_HASH_final(compressed, b);
  EXPECT_EQ(Hex(a, 32), Hex(b, 32));
  EXPECT_EQ(Hex(a, 32), "2cefc2f7b7bdc514e18ea57fa74ff357e7fa17d652c75f69cb1be7893ede48eb");
}

TEST(HashContext, FieldsSitAtTheirOffsets) {
  uint8_t ctx[TEVQA_HASH_CONTEXT_SIZE];
  std::memset(ctx, 0xAA, sizeof(ctx));
  EXPECT_EQ(UZDST_HASH_init(ctx, nullptr), ctx);
  for (uint8_t byte : ctx) ASSERT_EQ(byte, 0);

  // 40 bytes: one block compressed, 8 bytes buffered.
  std::string msg(40, '\0');
  for (size_t i = 0; i < msg.size(); ++i) msg[i] = static_cast<char>(i * 7 + 1);
  UZDST_HASH_update(ctx, msg.data(), 40);
  EXPECT_EQ(std::memcmp(ctx, msg.data(), 32), 0);  // checksum = the only block so far
  EXPECT_EQ(Word(ctx, 64), 256u);
  for (size_t off = 68; off < 96; off += 4) EXPECT_EQ(Word(ctx, off), 0u);
  EXPECT_EQ(std::memcmp(ctx + 96, msg.data() + 32, 8), 0);
  EXPECT_EQ(Word(ctx, 128), 8u);

  uint8_t out[32];
  UZDST_HASH_final(ctx, out);
  EXPECT_EQ(Word(ctx, 64), 256u + 64u);          // a partial block adds 8 bits per byte
  EXPECT_EQ(std::memcmp(ctx + 32, out, 32), 0);  // H holds the result; not cleared
  EXPECT_EQ(HashOneShot(msg, nullptr), Hex(out, 32));
}

TEST(HashContext, ChecksumCarriesAcrossWordsAndDropsTheTopCarry) {
  uint8_t ctx[TEVQA_HASH_CONTEXT_SIZE];
  const std::string ones(96, '\xff');
  UZDST_HASH_init(ctx, nullptr);
  UZDST_HASH_update(ctx, ones.data(), 96);  // two blocks compressed, one buffered
  // 2 * (2^256 - 1) mod 2^256 = 2^256 - 2.
  EXPECT_EQ(Word(ctx, 0), 0xFFFFFFFEu);
  for (size_t off = 4; off < 32; off += 4) EXPECT_EQ(Word(ctx, off), 0xFFFFFFFFu);
}

TEST(HashContext, DamagedCountStaysInsideTheBuffer) {
  uint8_t ctx[TEVQA_HASH_CONTEXT_SIZE + 16];
  std::memset(ctx + TEVQA_HASH_CONTEXT_SIZE, 0x5C, 16);
  UZDST_HASH_init(ctx, nullptr);
  ctx[128] = 0xFF;  // count 255
  UZDST_HASH_update(ctx, "abcdefgh", 8);
  uint8_t out[32];
  UZDST_HASH_final(ctx, out);
  for (size_t i = TEVQA_HASH_CONTEXT_SIZE; i < sizeof(ctx); ++i) EXPECT_EQ(ctx[i], 0x5C);
}

TEST(HashExports, NullPointersAreIgnored) {
  uint8_t ctx[TEVQA_HASH_CONTEXT_SIZE];
  uint8_t out[32];
  EXPECT_EQ(UZDST_HASH_init(nullptr, nullptr), nullptr);
  UZDST_HASH_init(ctx, nullptr);
  UZDST_HASH_update(ctx, nullptr, 100);
  UZDST_HASH_update(nullptr, "abc", 3);
  UZDST_HASH_final(nullptr, out);
  UZDST_HASH_final(ctx, nullptr);
  UZDST_HASH_final(ctx, out);
  EXPECT_EQ(Hex(out, 32), HashOneShot("", nullptr));
  UZDST_HASH_data(nullptr, 100, nullptr, out);
  EXPECT_EQ(Hex(out, 32), HashOneShot("", nullptr));
  UZDST_HASH_data("abc", 3, nullptr, nullptr);
}

TEST(HashTables, BuiltinTablesAreTheExpandedCryptoProRows) {
  HashTables expanded;
  tevqa::ExpandHashTables(kCryptoProRows, &expanded);
  EXPECT_EQ(std::memcmp(&expanded, &tevqa::BuiltinHashTables(), sizeof(HashTables)), 0);
  EXPECT_EQ(sizeof(HashTables), 4096u);
}

TEST(HashTables, ProcessTablesFollowTheLastLoad) {
  HashTables test_set;
  tevqa::ExpandHashTables(kTestParamRows, &test_set);
  tevqa::LoadProcessHashTables(kTestParamRows);
  EXPECT_EQ(std::memcmp(&tevqa::ProcessHashTables(), &test_set, sizeof(HashTables)), 0);
  tevqa::LoadProcessHashTables(nullptr);
  EXPECT_EQ(
      std::memcmp(&tevqa::ProcessHashTables(), &tevqa::BuiltinHashTables(), sizeof(HashTables)), 0);
}

TEST(HashTables, SecondInitSwitchesTheSetOfAnOpenContext) {
  uint8_t first[TEVQA_HASH_CONTEXT_SIZE];
  uint8_t second[TEVQA_HASH_CONTEXT_SIZE];
  uint8_t out[32];

  // Nothing compressed before the switch: the whole hash uses the built-in set.
  UZDST_HASH_init(first, kTestParamRows);
  UZDST_HASH_init(second, nullptr);
  UZDST_HASH_update(first, "abc", 3);
  UZDST_HASH_final(first, out);
  EXPECT_EQ(Hex(out, 32), "b285056dbf18d7392d7677369524dd14747459ed8143997e163b2986f92fd42c");

  // One block compressed with the test set, the rest with the built-in set.
  const std::string msg = kMsg32 + kMsg32;
  UZDST_HASH_init(first, kTestParamRows);
  UZDST_HASH_update(first, msg.data(), 64);
  UZDST_HASH_init(second, nullptr);
  UZDST_HASH_final(first, out);

  HashTables test_set;
  tevqa::ExpandHashTables(kTestParamRows, &test_set);
  uint8_t mixed[tevqa::kHashContextSize];
  uint8_t expected[32];
  tevqa::HashInit(mixed);
  tevqa::HashUpdate(test_set, mixed, reinterpret_cast<const uint8_t*>(msg.data()), 64);
  tevqa::HashFinal(tevqa::BuiltinHashTables(), mixed, expected);
  EXPECT_EQ(Hex(out, 32), Hex(expected, 32));
  EXPECT_NE(Hex(out, 32), HashOneShot(msg, nullptr));
  EXPECT_NE(Hex(out, 32), HashOneShot(msg, kTestParamRows));
}

TEST(HashTables, PrivateTablesLeaveTheProcessTablesAlone) {
  tevqa::LoadProcessHashTables(nullptr);
  HashTables before;
  std::memcpy(&before, &tevqa::ProcessHashTables(), sizeof(HashTables));

  HashTables own;
  tevqa::ExpandHashTables(kTestParamRows, &own);
  uint8_t out[32];
  tevqa::HashData(own, reinterpret_cast<const uint8_t*>("abc"), 3, out);
  EXPECT_EQ(Hex(out, 32), "f3134348c44fb1b2a277729e2285ebb5cb5e0f29c975bc753b70497c06a4d51d");

  EXPECT_EQ(std::memcmp(&tevqa::ProcessHashTables(), &before, sizeof(HashTables)), 0);
  EXPECT_EQ(std::memcmp(&before, &tevqa::BuiltinHashTables(), sizeof(HashTables)), 0);
}

}  // namespace

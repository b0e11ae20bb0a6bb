// String form, name key, stream encryption with hashing, stream hashing and
// copying.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "base/stream.h"
#include "keys/crypto_binding.h"
#include "tevqa.h"

namespace qovra {
namespace {

using Calls = std::vector<std::pair<int64_t, int64_t>>;

void Record(void* data, int64_t total, int64_t done) {
  static_cast<Calls*>(data)->emplace_back(total, done);
}

std::array<uint8_t, 64> TestKey() {
  std::array<uint8_t, 64> k{};
  for (size_t i = 0; i < k.size(); ++i) k[i] = static_cast<uint8_t>(i * 37 + 11);
  return k;
}

std::array<uint8_t, 32> TestIv() {
  std::array<uint8_t, 32> iv{};
  for (size_t i = 0; i < iv.size(); ++i) iv[i] = static_cast<uint8_t>(0xA5 ^ (i * 7));
  return iv;
}

std::string Pattern(size_t n) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 131 + 7) % 251);
  return s;
}

// Takes at most limit bytes, then refuses every write.
class FailAfterStream : public TMemoryStream {
 public:
  explicit FailAfterStream(size_t limit) : limit_(limit) {}
  size_t Write(const void* buffer, size_t count) override {
    const size_t room = limit_ - std::min(limit_, Data().size());
    return TMemoryStream::Write(buffer, std::min(count, room));
  }

 private:
  size_t limit_;
};

const std::array<uint8_t, 64> kKey = TestKey();
const std::array<uint8_t, 32> kIv = TestIv();
const std::array<uint8_t, 64> kRefusedKey{};  // all zero: the cipher refuses it

TEST(CryptoBindingTest, TestKeyIsUsableAndZeroKeyIsRefused) {
  uint8_t ctx[TEVQA_CIPHER_CONTEXT_SIZE];
  ASSERT_EQ(UZDST_CIPHER_init(ctx, kKey.data(), 1), 1);
  ASSERT_EQ(UZDST_CIPHER_init(ctx, kRefusedKey.data(), 1), 0);
}

TEST(CryptoBindingTest, StringFormSizes) {
  const struct {
    size_t plain;
    size_t form;
    uint8_t header;
  } rows[] = {{1, 33, 1}, {31, 33, 31}, {32, 33, 0}, {33, 65, 1}, {64, 65, 0}, {100, 129, 4}};
  for (const auto& r : rows) {
    const std::string plain = Pattern(r.plain);
    const std::string form = EncryptString(plain, kIv, kKey);
    ASSERT_EQ(form.size(), r.form) << r.plain;
    EXPECT_EQ(static_cast<uint8_t>(form[0]), r.header) << r.plain;
    EXPECT_EQ(DecryptString(form, kIv, kKey), plain) << r.plain;
  }
}

TEST(CryptoBindingTest, StringFormRefusals) {
  EXPECT_EQ(EncryptString("", kIv, kKey), "");
  EXPECT_EQ(EncryptString("text", kIv, kRefusedKey), "");
  const std::string good = EncryptString(Pattern(40), kIv, kKey);  // 65 bytes
  ASSERT_EQ(good.size(), 65u);
  EXPECT_EQ(DecryptString(good, kIv, kRefusedKey), "");
  const std::string malformed[] = {
      "",         good.substr(0, 1), good.substr(0, 32), good.substr(0, 34),
      good + "x", good.substr(0, 64)};
  for (const std::string& form : malformed)
    EXPECT_EQ(DecryptString(form, kIv, kKey), "") << form.size();
  // A header byte of 32 or more names no length inside a block.
  for (int header : {32, 33, 0x7F, 0xFF}) {
    std::string bad = good;
    bad[0] = static_cast<char>(header);
    EXPECT_EQ(DecryptString(bad, kIv, kKey), "") << header;
  }
}

TEST(CryptoBindingTest, NameKeysOfSettingsNamesAreUsable) {
  const std::string text = "/home/user/keys/user.cer";
  std::vector<std::string> forms;
  for (const char* name : {"crtpath", "pvkpath", "maildir"}) {
    const std::string form = EncryptStringWithName(text, name);
    ASSERT_EQ(form.size(), 33u) << name;
    EXPECT_EQ(DecryptStringWithName(form, name), text) << name;
    forms.push_back(form);
  }
  EXPECT_NE(forms[0], forms[1]);
  EXPECT_NE(forms[1], forms[2]);
  EXPECT_NE(DecryptStringWithName(forms[0], "pvkpath"), text);
}

TEST(CryptoBindingTest, HashStringIsTheBuiltInHash) {
  const std::string data = Pattern(1000);
  uint8_t expected[32];
  UZDST_HASH_data(data.data(), static_cast<uint32_t>(data.size()), nullptr, expected);
  const THashValue h = HashString(data);
  EXPECT_EQ(std::memcmp(h.data(), expected, 32), 0);
}

// 8197 bytes with the header: 1 + 8192 + 32 bytes out, the same bytes as the
// string form, and back; hashes of what was read and written.
TEST(CryptoBindingTest, StreamRoundTripWithHeaderAndHashes) {
  const std::string plain = Pattern(8197);
  TMemoryStream src(plain), enc;
  THashValue in_hash{}, out_hash{};
  ASSERT_TRUE(CryptStreamWithHash(src, 8197, enc, nullptr, nullptr, &in_hash, kKey, kIv,
                                  csEncrypt | csHeader | csHashInput));
  ASSERT_EQ(enc.Data().size(), 1u + 8192 + 32);
  EXPECT_EQ(enc.Data()[0], 8197 % 32);
  EXPECT_EQ(enc.Data(), EncryptString(plain, kIv, kKey));
  EXPECT_EQ(in_hash, HashString(plain));

  src.SetPosition(0);
  TMemoryStream enc2;
  ASSERT_TRUE(CryptStreamWithHash(src, 8197, enc2, nullptr, nullptr, &out_hash, kKey, kIv,
                                  csEncrypt | csHeader | csHashOutput));
  EXPECT_EQ(out_hash, HashString(enc.Data().substr(1)));  // header not hashed

  const int64_t n = static_cast<int64_t>(enc.Data().size());
  for (uint32_t bit : {csHashInput, csHashOutput}) {
    enc.SetPosition(0);
    TMemoryStream dec;
    THashValue h{};
    ASSERT_TRUE(CryptStreamWithHash(enc, n, dec, nullptr, nullptr, &h, kKey, kIv, csHeader | bit));
    EXPECT_EQ(dec.Data(), plain);
    EXPECT_EQ(h, HashString(bit == csHashInput ? enc.Data().substr(1) : plain));
  }
}

TEST(CryptoBindingTest, LastLengthFromFlags) {
  const std::string plain = Pattern(8197);
  TMemoryStream src(plain), enc;
  ASSERT_TRUE(CryptStream(src, 8197, enc, nullptr, nullptr, kKey, kIv, {}, csEncrypt));
  ASSERT_EQ(enc.Data().size(), 8224u);
  const struct {
    uint32_t flags;
    bool ok;
    size_t out;
  } rows[] = {
      {CryptLastLengthFlags(5), true, 8197},
      {CryptLastLengthFlags(0), true, 8224},  // 0 means a whole last block
      {0, true, 8224},                        // no length given: whole blocks
      {CryptLastLengthFlags(32), false, 0},
      {CryptLastLengthFlags(200), false, 0},
  };
  for (const auto& r : rows) {
    enc.SetPosition(0);
    TMemoryStream dec;
    EXPECT_EQ(CryptStream(enc, 8224, dec, nullptr, nullptr, kKey, kIv, {}, r.flags), r.ok)
        << r.flags;
    if (!r.ok) continue;
    ASSERT_EQ(dec.Data().size(), r.out) << r.flags;
    EXPECT_EQ(dec.Data().substr(0, 8197), plain);
    EXPECT_EQ(dec.Data().substr(8197), std::string(r.out - 8197, '\0'));
  }
}

// Plain sizes that are not whole blocks but whose cipher text fills whole
// 8192-byte chunks: the last chunk carries the tail and comes back exact.
TEST(CryptoBindingTest, TailAtAChunkBoundaryComesBackExact) {
  for (const size_t size : {size_t{8190}, size_t{16383}, size_t{8161}, size_t{24575}}) {
    const std::string plain = Pattern(size);
    const size_t padded = (size + 31) / 32 * 32;
    ASSERT_EQ(padded % 8192, 0u) << size;

    TMemoryStream src(plain), enc;
    ASSERT_TRUE(CryptStreamWithHash(src, static_cast<int64_t>(size), enc, nullptr, nullptr, nullptr,
                                    kKey, kIv, csEncrypt | csHeader));
    ASSERT_EQ(enc.Data().size(), 1 + padded) << size;
    enc.SetPosition(0);
    TMemoryStream dec;
    ASSERT_TRUE(CryptStreamWithHash(enc, static_cast<int64_t>(enc.Data().size()), dec, nullptr,
                                    nullptr, nullptr, kKey, kIv, csHeader))
        << size;
    EXPECT_EQ(dec.Data(), plain) << size;

    // The same tail given by the flags instead of the header.
    enc.SetPosition(1);
    TMemoryStream dec2;
    ASSERT_TRUE(CryptStream(enc, static_cast<int64_t>(padded), dec2, nullptr, nullptr, kKey, kIv,
                            {}, CryptLastLengthFlags(static_cast<uint8_t>(size % 32))))
        << size;
    EXPECT_EQ(dec2.Data(), plain) << size;
  }
}

TEST(CryptoBindingTest, PrefixIsWrittenFirstOnEncryption) {
  TMemoryStream src(Pattern(40)), out;
  ASSERT_TRUE(CryptStream(src, 40, out, nullptr, nullptr, kKey, kIv, "PFX", csEncrypt | csHeader));
  EXPECT_EQ(out.Data(), "PFX" + EncryptString(Pattern(40), kIv, kKey));
}

// The envelope reads the signature that follows the data: a call reads
// exactly its count and leaves the rest.
TEST(CryptoBindingTest, ReadsExactlyCountAndLeavesTheRest) {
  const std::string plain = Pattern(9000);
  const std::string trailer = "TRAILING SIGNATURE";
  TMemoryStream src(plain + trailer), enc;
  ASSERT_TRUE(CryptStream(src, 9000, enc, nullptr, nullptr, kKey, kIv, {}, csEncrypt | csHeader));
  EXPECT_EQ(src.Position(), 9000);
  const std::string form = enc.Data();

  TMemoryStream both(form + trailer), dec;
  ASSERT_TRUE(CryptStream(both, static_cast<int64_t>(form.size()), dec, nullptr, nullptr, kKey, kIv,
                          {}, csHeader));
  EXPECT_EQ(dec.Data(), plain);
  std::string rest(trailer.size(), '\0');
  ASSERT_TRUE(both.ReadBuffer(rest.data(), rest.size()));
  EXPECT_EQ(rest, trailer);
}

TEST(CryptoBindingTest, MalformedOrShortInputFails) {
  const std::string form = EncryptString(Pattern(100), kIv, kKey);  // 129 bytes
  const int64_t n = static_cast<int64_t>(form.size());
  std::string bad_header = form;
  bad_header[0] = 40;
  const struct {
    const char* what;
    std::string source;
    int64_t count;
    uint32_t flags;
  } rows[] = {
      {"short source, encryption", Pattern(100), 101, csEncrypt | csHeader},
      {"short source, decryption", form, n + 32, csHeader},
      {"truncated ciphertext", form.substr(0, 100), n, csHeader},
      {"zero count", form, 0, csHeader},
      {"negative count", form, -5, csEncrypt},
      {"header only", form.substr(0, 1), 1, csHeader},
      {"not whole blocks", form, n - 1, csHeader},
      {"header byte of 32 or more", bad_header, n, csHeader},
  };
  for (const auto& r : rows) {
    TMemoryStream src(r.source), dst;
    EXPECT_FALSE(CryptStream(src, r.count, dst, nullptr, nullptr, kKey, kIv, {}, r.flags))
        << r.what;
  }
}

TEST(CryptoBindingTest, RefusedKeyFailsAtOnce) {
  TMemoryStream src(Pattern(64)), dst;
  Calls calls;
  THashValue h{};
  h.fill(0x5A);
  EXPECT_FALSE(CryptStreamWithHash(src, 64, dst, &calls, Record, &h, kRefusedKey, kIv,
                                   csEncrypt | csHashInput));
  EXPECT_TRUE(calls.empty());
  EXPECT_TRUE(dst.Data().empty());
  EXPECT_EQ(src.Position(), 0);
  EXPECT_EQ(h[0], 0x5A);
}

TEST(CryptoBindingTest, WriteFailureFails) {
  TMemoryStream src(Pattern(20000));
  FailAfterStream dst(10000);
  EXPECT_FALSE(CryptStream(src, 20000, dst, nullptr, nullptr, kKey, kIv, {}, csEncrypt));
}

TEST(CryptoBindingTest, ProgressAnnouncesThenReportsEachChunk) {
  TMemoryStream src(Pattern(8197)), enc;
  Calls calls;
  ASSERT_TRUE(CryptStream(src, 8197, enc, &calls, Record, kKey, kIv, {}, csEncrypt | csHeader));
  EXPECT_EQ(calls, (Calls{{8197, 0}, {8197, 8192}, {8197, 8197}}));

  enc.SetPosition(0);
  TMemoryStream dec;
  calls.clear();
  ASSERT_TRUE(CryptStream(enc, 8225, dec, &calls, Record, kKey, kIv, {}, csHeader));
  EXPECT_EQ(calls, (Calls{{8225, 0}, {8225, 8193}, {8225, 8225}}));
}

TEST(CryptoBindingTest, HashStreamFromPositionToEnd) {
  const std::string data = Pattern(20000);
  TMemoryStream s(data);
  s.SetPosition(1000);
  THashValue h{};
  Calls calls;
  EXPECT_EQ(HashStream(s, nullptr, &h, &calls, Record), 19000);
  EXPECT_EQ(h, HashString(data.substr(1000)));
  EXPECT_EQ(calls, (Calls{{19000, 0}, {19000, 8192}, {19000, 16384}, {19000, 19000}}));

  // Another S-box set gives another hash.
  uint8_t sbox[TEVQA_SBOX_SIZE];
  for (size_t i = 0; i < sizeof sbox; ++i) sbox[i] = static_cast<uint8_t>((i * 5 + 3) & 0x0F);
  s.SetPosition(1000);
  THashValue other{};
  EXPECT_EQ(HashStream(s, sbox, &other, nullptr, nullptr), 19000);
  EXPECT_NE(other, h);

  // Nothing to read: 0, hash untouched.
  THashValue untouched{};
  untouched.fill(0x33);
  EXPECT_EQ(HashStream(s, nullptr, &untouched, nullptr, nullptr), 0);
  EXPECT_EQ(untouched[31], 0x33);
}

TEST(CryptoBindingTest, CopyStreamWithHashCopiesExactlyCount) {
  const std::string data = Pattern(40000);
  TMemoryStream src(data + "REST"), dst;
  THashValue h{};
  Calls calls;
  EXPECT_EQ(CopyStreamWithHash(src, 40000, dst, &calls, Record, &h, nullptr), 40000);
  EXPECT_EQ(dst.Data(), data);
  EXPECT_EQ(h, HashString(data));
  EXPECT_EQ(calls, (Calls{{40000, 0}, {40000, 16384}, {40000, 32768}, {40000, 40000}}));
  EXPECT_EQ(src.Position(), 40000);

  TMemoryStream empty_dst;
  calls.clear();
  EXPECT_EQ(CopyStreamWithHash(src, 0, empty_dst, &calls, Record, &h, nullptr), 0);
  EXPECT_TRUE(calls.empty());

  TMemoryStream short_src(Pattern(100)), short_dst;
  THashValue untouched{};
  untouched.fill(0x44);
  EXPECT_EQ(CopyStreamWithHash(short_src, 101, short_dst, nullptr, nullptr, &untouched, nullptr),
            -1);
  EXPECT_EQ(untouched[0], 0x44);

  TMemoryStream src2(data);
  FailAfterStream full(20000);
  EXPECT_EQ(CopyStreamWithHash(src2, 40000, full, nullptr, nullptr, nullptr, nullptr), -1);
}

// A copy enciphered as the stream routine writes it, extended with a tail,
// is what the stream routine writes for the bytes and the tail together,
// whatever the lengths around a block; a short source or a copy that
// cannot be written fails.
TEST(CryptoBindingTest, ExtendedCopyIsTheEncipheredWhole) {
  for (const size_t size : {1, 20, 31, 32, 33, 63, 64, 65, 1000}) {
    for (const size_t tail_size : {0, 1, 12, 31, 32, 33, 90}) {
      SCOPED_TRACE(testing::Message() << size << " bytes, tail " << tail_size);
      const std::string plain = Pattern(size);
      const std::string tail = Pattern(tail_size + 7).substr(7);
      TMemoryStream source(plain + "after"), whole(plain + tail), copy, want;
      ASSERT_TRUE(CryptStreamWithHash(source, static_cast<int64_t>(size), copy, nullptr, nullptr,
                                      nullptr, kKey, kIv, csEncrypt));
      ASSERT_TRUE(CryptStreamWithHash(whole, static_cast<int64_t>(size + tail_size), want,
                                      nullptr, nullptr, nullptr, kKey, kIv, csEncrypt));
      ASSERT_TRUE(
          ExtendEncipheredCopy(copy, source, static_cast<int64_t>(size), tail, kKey, kIv));
      EXPECT_EQ(copy.Data(), want.Data());
    }
  }
  TMemoryStream short_source(Pattern(40)), copy;
  ASSERT_TRUE(CryptStreamWithHash(short_source, 40, copy, nullptr, nullptr, nullptr, kKey, kIv,
                                  csEncrypt));
  TMemoryStream shorter(Pattern(35));
  EXPECT_FALSE(ExtendEncipheredCopy(copy, shorter, 40, "tail", kKey, kIv));
  // Room for the copy but not for the tail.
  TMemoryStream source(Pattern(40));
  FailAfterStream full(copy.Data().size());
  ASSERT_TRUE(full.WriteBuffer(copy.Data().data(), copy.Data().size()));
  EXPECT_FALSE(ExtendEncipheredCopy(full, source, 40, std::string(40, 't'), kKey, kIv));
}

}  // namespace
}  // namespace qovra

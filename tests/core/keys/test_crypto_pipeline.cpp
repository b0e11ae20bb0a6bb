// The threaded cipher and hash pipelines against the one-thread stream
// routines: the same bytes and hashes at every chunk boundary, and the
// failures of a short source or a failed write.
#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <string>
#include <vector>

#include "base/stream.h"
#include "keys/crypto_binding.h"
#include "keys/crypto_pipeline.h"
#include "support/noise_bytes.h"

namespace qovra {
namespace {

std::array<uint8_t, 64> MakeKey(uint8_t seed) {
  std::array<uint8_t, 64> k{};
  for (size_t i = 0; i < k.size(); ++i) k[i] = static_cast<uint8_t>(i * 37 + seed);
  return k;
}

std::string Pattern(size_t n) { return qovra_test::NoiseBytes(n); }

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

const std::array<uint8_t, 64> kKey = MakeKey(11);
const std::array<uint8_t, 64> kSessionKey = MakeKey(90);
const THashValue kIv = HashString("0123456789ABCDEF0123456789ABCDEF");
const THashValue kSessionIv = HashString("session");

// Sizes around every boundary of a chunk and of the ring for shape.
std::vector<size_t> SizesAround(const TPipelineShape& shape) {
  std::vector<size_t> sizes = {1, 31, 32, 33};
  for (size_t k = 1; k <= shape.Chunks + 1; ++k) {
    for (const long d : {-33L, -32L, -1L, 0L, 1L, 31L, 32L, 33L}) {
      const long n = static_cast<long>(k * shape.ChunkSize) + d;
      if (n > 0) sizes.push_back(static_cast<size_t>(n));
    }
  }
  return sizes;
}

const TPipelineShape kShapes[] = {{64, 2}, {96, 3}, {4096, 4}};

TEST(CryptoPipelineTest, EncryptionMatchesTheOneThreadRoutineAtEveryBoundary) {
  for (const TPipelineShape& shape : kShapes) {
    for (const size_t size : SizesAround(shape)) {
      SCOPED_TRACE(testing::Message() << "chunk " << shape.ChunkSize << " x" << shape.Chunks << ", "
                                      << size << " bytes");
      const std::string plain = Pattern(size);
      TMemoryStream src1(plain), src2(plain), want, got;
      THashValue want_hash{}, got_hash{};
      ASSERT_TRUE(CryptStreamWithHash(src1, static_cast<int64_t>(size), want, nullptr, nullptr,
                                      &want_hash, kKey, kIv, csEncrypt | csHashInput));
      ASSERT_TRUE(EncryptStreamHashingInput(src2, static_cast<int64_t>(size), got, nullptr, nullptr,
                                            &got_hash, kKey, kIv, shape));
      EXPECT_EQ(got.Data(), want.Data());
      EXPECT_EQ(got_hash, want_hash);
    }
  }
}

TEST(CryptoPipelineTest, DecipheringMatchesTheOneThreadRoutinesAtEveryBoundary) {
  for (const TPipelineShape& shape : kShapes) {
    for (const size_t size : SizesAround(shape)) {
      for (const bool outer : {false, true}) {
        SCOPED_TRACE(testing::Message() << "chunk " << shape.ChunkSize << " x" << shape.Chunks
                                        << ", " << size << " bytes, outer " << outer);
        // The stored mail, and the wire form under the session key.
        const std::string plain = Pattern(size);
        TMemoryStream src(plain), stored;
        ASSERT_TRUE(CryptStream(src, static_cast<int64_t>(size), stored, nullptr, nullptr, kKey,
                                kIv, {}, csEncrypt));
        std::string wire = stored.Data();
        if (outer) {
          TMemoryStream in(wire), out;
          ASSERT_TRUE(CryptStream(in, static_cast<int64_t>(wire.size()), out, nullptr, nullptr,
                                  kSessionKey, kSessionIv, {}, csEncrypt));
          wire = out.Data();
        }
        const THashValue want_wire = HashString(wire);
        const THashValue want_plain = HashString(plain);

        TDecipherLayers layers;
        layers.OuterKey = outer ? kSessionKey.data() : nullptr;
        layers.OuterIv = kSessionIv.data();
        layers.Key = kKey.data();
        layers.Iv = kIv.data();
        layers.LastLength = static_cast<uint8_t>(size % 32);
        TMemoryStream in(wire), got;
        THashValue wire_hash{}, plain_hash{};
        ASSERT_TRUE(DecipherStreamWithHashes(in, static_cast<int64_t>(wire.size()), got, nullptr,
                                             nullptr, &wire_hash, &plain_hash, layers, shape));
        EXPECT_EQ(got.Data(), plain);
        EXPECT_EQ(wire_hash, want_wire);
        EXPECT_EQ(plain_hash, want_plain);
      }
    }
  }
}

// Several copies in one pass, each under its own key, with and without the
// hash: each copy is the one-thread routine's.
TEST(CryptoPipelineTest, CopiesMatchTheOneThreadRoutineAtEveryBoundary) {
  const std::array<uint8_t, 64> keys[] = {MakeKey(21), MakeKey(22), MakeKey(23)};
  for (const TPipelineShape& shape : kShapes) {
    for (const size_t size : SizesAround(shape)) {
      for (const bool hashed : {true, false}) {
        SCOPED_TRACE(testing::Message() << "chunk " << shape.ChunkSize << " x" << shape.Chunks
                                        << ", " << size << " bytes, hashed " << hashed);
        const std::string plain = Pattern(size);
        TMemoryStream src(plain), out[3];
        TCopyTarget targets[3];
        for (size_t c = 0; c < 3; ++c) targets[c] = {&out[c], keys[c].data()};
        THashValue hash{};
        ASSERT_TRUE(EncipherCopies(src, static_cast<int64_t>(size), targets, nullptr, nullptr,
                                   hashed ? &hash : nullptr, kIv, shape));
        for (size_t c = 0; c < 3; ++c) {
          TMemoryStream one(plain), want;
          ASSERT_TRUE(CryptStream(one, static_cast<int64_t>(size), want, nullptr, nullptr, keys[c],
                                  kIv, {}, csEncrypt));
          EXPECT_TRUE(targets[c].Written) << c;
          EXPECT_EQ(out[c].Data(), want.Data()) << c;
        }
        EXPECT_EQ(hash, hashed ? HashString(plain) : THashValue{});
      }
    }
  }
}

// A copy that cannot be made drops out alone; a short source or a stop
// ends the pass with no copy and no hash.
TEST(CryptoPipelineTest, FailuresOfOneCopyOrOfThePass) {
  const std::string plain = Pattern(1000);
  const std::array<uint8_t, 64> refused{};
  const THashValue untouched = HashString("untouched");
  struct Case {
    const char* name;
    size_t source_bytes;
    bool stop;
    bool result;
    std::vector<bool> written;  // good, failing writes, refused key, good
  };
  const Case cases[] = {
      {"one write fails, one key refused", 1000, false, true, {true, false, false, true}},
      {"short source", 900, false, false, {false, false, false, false}},
      {"stopped", 1000, true, false, {false, false, false, false}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TMemoryStream src(plain.substr(0, c.source_bytes)), good1, good2, refused_out;
    FailAfterStream failing(500);
    TCopyTarget targets[] = {{&good1, kKey.data()},
                             {&failing, kSessionKey.data()},
                             {&refused_out, refused.data()},
                             {&good2, kSessionKey.data()}};
    THashValue hash = untouched;
    const std::atomic<bool> stop{c.stop};
    EXPECT_EQ(EncipherCopies(src, 1000, targets, nullptr, nullptr, &hash, kIv, {64, 3}, &stop),
              c.result);
    std::vector<bool> written;
    for (const TCopyTarget& t : targets) written.push_back(t.Written);
    EXPECT_EQ(written, c.written);
    EXPECT_EQ(hash, c.result ? HashString(plain) : untouched);
    EXPECT_TRUE(refused_out.Data().empty());
    if (c.result) {
      TMemoryStream one(plain), want;
      ASSERT_TRUE(CryptStream(one, 1000, want, nullptr, nullptr, kSessionKey, kIv, {}, csEncrypt));
      EXPECT_EQ(good2.Data(), want.Data());
    }
  }
}

TEST(CryptoPipelineTest, DefaultShapeMatchesAcrossItsChunks) {
  const TPipelineShape shape;
  const size_t size = shape.ChunkSize * (shape.Chunks + 1) + 33;
  const std::string plain = Pattern(size);
  TMemoryStream src1(plain), src2(plain), want, got;
  THashValue want_hash{}, got_hash{};
  ASSERT_TRUE(CryptStreamWithHash(src1, static_cast<int64_t>(size), want, nullptr, nullptr,
                                  &want_hash, kKey, kIv, csEncrypt | csHashInput));
  ASSERT_TRUE(EncryptStreamHashingInput(src2, static_cast<int64_t>(size), got, nullptr, nullptr,
                                        &got_hash, kKey, kIv));
  EXPECT_EQ(got.Data(), want.Data());
  EXPECT_EQ(got_hash, want_hash);

  TDecipherLayers layers;
  layers.Key = kKey.data();
  layers.Iv = kIv.data();
  layers.LastLength = static_cast<uint8_t>(size % 32);
  TMemoryStream in(got.Data()), back;
  THashValue wire_hash{}, plain_hash{};
  ASSERT_TRUE(DecipherStreamWithHashes(in, in.Size(), back, nullptr, nullptr, &wire_hash,
                                       &plain_hash, layers));
  EXPECT_EQ(back.Data(), plain);
  EXPECT_EQ(plain_hash, want_hash);
}

TEST(CryptoPipelineTest, ProgressReportsEveryChunkOnTheCallingThread) {
  std::vector<std::pair<int64_t, int64_t>> calls;
  const auto record = [](void* data, int64_t total, int64_t done) {
    static_cast<std::vector<std::pair<int64_t, int64_t>>*>(data)->emplace_back(total, done);
  };
  TMemoryStream src(Pattern(200)), out;
  THashValue hash{};
  ASSERT_TRUE(EncryptStreamHashingInput(src, 200, out, &calls, record, &hash, kKey, kIv, {64, 2}));
  const std::vector<std::pair<int64_t, int64_t>> want = {
      {200, 0}, {200, 64}, {200, 128}, {200, 192}, {200, 200}};
  EXPECT_EQ(calls, want);
}

TEST(CryptoPipelineTest, FailuresLeaveTheHashesUntouched) {
  const THashValue untouched = HashString("untouched");
  const std::string plain = Pattern(1000);
  struct Case {
    const char* name;
    size_t source_bytes;  // of the 1000 (or 1024 wire) asked for
    size_t write_limit;
    TPipelineShape shape;
  };
  const Case cases[] = {
      {"short source", 900, 1 << 20, {64, 3}},
      {"failed write", 1000, 500, {64, 3}},
      {"chunk not whole blocks", 1000, 1 << 20, {100, 3}},
      {"ring of one", 1000, 1 << 20, {64, 1}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TMemoryStream src(plain.substr(0, c.source_bytes));
    FailAfterStream out(c.write_limit);
    THashValue hash = untouched;
    EXPECT_FALSE(
        EncryptStreamHashingInput(src, 1000, out, nullptr, nullptr, &hash, kKey, kIv, c.shape));
    EXPECT_EQ(hash, untouched);

    TMemoryStream enc_src(plain), enc;
    ASSERT_TRUE(CryptStream(enc_src, 1000, enc, nullptr, nullptr, kKey, kIv, {}, csEncrypt));
    TMemoryStream wire(enc.Data().substr(0, c.source_bytes));
    FailAfterStream plain_out(c.write_limit);
    TDecipherLayers layers;
    layers.Key = kKey.data();
    layers.Iv = kIv.data();
    layers.LastLength = 1000 % 32;
    THashValue wire_hash = untouched, plain_hash = untouched;
    EXPECT_FALSE(DecipherStreamWithHashes(wire, 1024, plain_out, nullptr, nullptr, &wire_hash,
                                          &plain_hash, layers, c.shape));
    EXPECT_EQ(wire_hash, untouched);
    EXPECT_EQ(plain_hash, untouched);
  }
}

TEST(CryptoPipelineTest, RefusesMalformedDecipheringInput) {
  TDecipherLayers layers;
  layers.Key = kKey.data();
  layers.Iv = kIv.data();
  THashValue a{}, b{};
  TMemoryStream in(Pattern(100)), out;
  EXPECT_FALSE(DecipherStreamWithHashes(in, 100, out, nullptr, nullptr, &a, &b, layers));
  layers.LastLength = 32;
  EXPECT_FALSE(DecipherStreamWithHashes(in, 96, out, nullptr, nullptr, &a, &b, layers));
  const std::array<uint8_t, 64> refused{};
  layers.LastLength = 0;
  layers.Key = refused.data();
  EXPECT_FALSE(DecipherStreamWithHashes(in, 96, out, nullptr, nullptr, &a, &b, layers));
  EXPECT_TRUE(out.Data().empty());
}

}  // namespace
}  // namespace qovra

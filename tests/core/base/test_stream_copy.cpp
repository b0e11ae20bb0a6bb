#include <gtest/gtest.h>
#include <zlib.h>

#include <random>
#include <string>
#include <vector>

#include "base/stream_copy.h"
#include "base/utf.h"
#include "seam/fake_ui.h"
#include "support/scratch_dir.h"

namespace qovra {
namespace {

using testing::ScopedFakeUi;
using testing::ScratchDir;

// A memory stream that accepts at most `limit` bytes and then fails writes.
class FailAfterStream : public TMemoryStream {
 public:
  explicit FailAfterStream(size_t limit) : limit_(limit) {}
  size_t Write(const void* buffer, size_t count) override {
    const size_t room = limit_ - std::min(limit_, written_);
    const size_t n = TMemoryStream::Write(buffer, std::min(room, count));
    written_ += n;
    return n;
  }

 private:
  size_t limit_;
  size_t written_ = 0;
};

struct ProgressLog {
  std::vector<std::pair<int64_t, int64_t>> calls;
  static void Record(void* data, int64_t total, int64_t done) {
    static_cast<ProgressLog*>(data)->calls.emplace_back(total, done);
  }
};

std::string RandomBytes(size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  std::string s(n, '\0');
  for (char& c : s) c = static_cast<char>(rng());
  return s;
}

std::string Compress(const std::string& plain) {
  uLongf len = compressBound(plain.size());
  std::string out(len, '\0');
  EXPECT_EQ(compress2(reinterpret_cast<Bytef*>(out.data()), &len,
                      reinterpret_cast<const Bytef*>(plain.data()), plain.size(), 9),
            Z_OK);
  out.resize(len);
  return out;
}

TEST(CopyStream, CopiesWholeSourceFromStartWithProgress) {
  const std::string data = RandomBytes(40000, 1);
  TMemoryStream src(data);
  ASSERT_TRUE(src.SetPosition(123));  // copying starts at 0 anyway
  TMemoryStream dst;
  ProgressLog log;
  EXPECT_EQ(CopyStreamWithProgress(src, dst, &ProgressLog::Record, &log), 40000);
  EXPECT_EQ(dst.Data(), data);
  ASSERT_EQ(log.calls.size(), 4u);  // announce, then 16384, 32768, 40000
  EXPECT_EQ(log.calls.front(), std::make_pair(int64_t{40000}, int64_t{0}));
  EXPECT_EQ(log.calls.back(), std::make_pair(int64_t{40000}, int64_t{40000}));

  TMemoryStream empty, out;
  EXPECT_EQ(CopyStreamWithProgress(empty, out, nullptr, nullptr), 0);
}

TEST(CopyStream, ReportsWhatReallyArrivedWhenDestFails) {
  const std::string data = RandomBytes(40000, 2);
  TMemoryStream src(data);
  FailAfterStream dst(20000);
  EXPECT_EQ(CopyStreamWithProgress(src, dst, nullptr, nullptr), 20000);
}

TEST(CopyStreamBytes, ReturnsBytesReallyCopied) {
  struct Case {
    size_t source_size;
    int64_t skip;
    int64_t count;
    size_t dest_limit;
    int64_t expected;
  } const cases[] = {
      {100, 0, 0, 1000, 0},           // nothing asked
      {100, 0, -5, 1000, 0},          // negative count
      {100, 10, 50, 1000, 50},        // from the current position
      {100, 10, 500, 1000, 90},       // source ends early
      {50000, 0, 50000, 1000, 1000},  // dest refuses
  };
  for (const auto& c : cases) {
    const std::string data = RandomBytes(c.source_size, 3);
    TMemoryStream src(data);
    ASSERT_TRUE(src.SetPosition(c.skip));
    FailAfterStream dst(c.dest_limit);
    EXPECT_EQ(CopyStreamBytes(src, c.count, dst, nullptr, nullptr), c.expected);
    EXPECT_EQ(dst.Data(), data.substr(c.skip, dst.Data().size()));
    EXPECT_EQ(dst.Data().size(), static_cast<size_t>(c.expected));
  }
}

TEST(CopyFile, CopiesWithProgressAndShowsFailuresWithName) {
  ScopedFakeUi ui;
  ScratchDir dir;
  const std::string data = RandomBytes(20000, 4);
  const std::u16string src = Utf8ToUtf16(dir.Write("src.bin", data));
  const std::u16string dst = Utf8ToUtf16(dir.File("dst.bin"));
  ProgressLog log;
  EXPECT_EQ(CopyFileWithProgress(src, dst, &ProgressLog::Record, &log), 20000);
  EXPECT_EQ(ScratchDir::Read(dir.File("dst.bin")), data);
  EXPECT_EQ(log.calls.front(), std::make_pair(int64_t{20000}, int64_t{0}));
  EXPECT_EQ(log.calls.back(), std::make_pair(int64_t{20000}, int64_t{20000}));
  EXPECT_TRUE(ui->messages.empty());

  const std::u16string missing = Utf8ToUtf16(dir.File("missing.bin"));
  EXPECT_EQ(CopyFileWithProgress(missing, dst, nullptr, nullptr), 0);
  EXPECT_EQ(CopyFileWithProgress(src, Utf8ToUtf16(dir.File("no/dir.bin")), nullptr, nullptr), 0);
  ASSERT_EQ(ui->messages.size(), 2u);
  EXPECT_NE(ui->messages[0].text.find("missing.bin"), std::string::npos);
  EXPECT_NE(ui->messages[1].text.find("no/dir.bin"), std::string::npos);
  EXPECT_EQ(ui->messages[1].flags, 48);
}

TEST(ZDecompress, InflatesWithProgressOnCompressedInput) {
  const std::string plain = std::string(100000, 'a') + RandomBytes(30000, 5);
  const std::string packed = Compress(plain);
  TMemoryStream src(packed);
  TMemoryStream dst;
  ProgressLog log;
  ASSERT_EQ(ZDecompressStream(src, dst, &ProgressLog::Record, &log), ZStatus::Ok);
  EXPECT_EQ(dst.Data(), plain);
  const int64_t total = static_cast<int64_t>(packed.size());
  EXPECT_EQ(log.calls.front(), std::make_pair(total, int64_t{0}));
  for (const auto& [t, done] : log.calls) {
    EXPECT_EQ(t, total);
    EXPECT_LE(done, total);
  }
  EXPECT_EQ(log.calls.back().second, total);
}

TEST(ZDecompress, BadInputIsAnErrorNeverACrash) {
  const std::string plain = RandomBytes(50000, 6);
  const std::string packed = Compress(plain);
  std::string flipped = packed;
  flipped[packed.size() / 2] = static_cast<char>(flipped[packed.size() / 2] ^ 0x55);
  std::string bad_checksum = packed;
  bad_checksum.back() = static_cast<char>(bad_checksum.back() ^ 1);

  struct Case {
    const char* what;
    std::string input;
    int64_t cap;
    ZStatus expected;
  } const cases[] = {
      {"empty input", "", kDefaultInflateCap, ZStatus::Truncated},
      {"not zlib", "hello, world", kDefaultInflateCap, ZStatus::Corrupt},
      {"truncated", packed.substr(0, packed.size() / 2), kDefaultInflateCap, ZStatus::Truncated},
      {"header only", packed.substr(0, 2), kDefaultInflateCap, ZStatus::Truncated},
      {"flipped byte", flipped, kDefaultInflateCap, ZStatus::Corrupt},
      {"bad checksum", bad_checksum, kDefaultInflateCap, ZStatus::Corrupt},
      {"over the cap", packed, 49999, ZStatus::TooLarge},
      {"exactly the cap", packed, 50000, ZStatus::Ok},
  };
  for (const auto& c : cases) {
    TMemoryStream src(c.input);
    TMemoryStream dst;
    EXPECT_EQ(ZDecompressStream(src, dst, nullptr, nullptr, c.cap), c.expected) << c.what;
    EXPECT_LE(static_cast<int64_t>(dst.Data().size()), c.cap) << c.what;
  }
}

TEST(ZDecompress, BombStopsAtTheCap) {
  const std::string packed = Compress(std::string(20 << 20, '\0'));  // 20 MiB of zeros
  TMemoryStream src(packed);
  TMemoryStream dst;
  EXPECT_EQ(ZDecompressStream(src, dst, nullptr, nullptr, 1 << 20), ZStatus::TooLarge);
  EXPECT_EQ(dst.Data().size(), size_t{1} << 20);
}

TEST(ZDecompress, DestinationFailureIsReported) {
  TMemoryStream src(Compress(RandomBytes(30000, 7)));
  FailAfterStream dst(1000);
  EXPECT_EQ(ZDecompressStream(src, dst, nullptr, nullptr), ZStatus::WriteFailed);
}

}  // namespace
}  // namespace qovra

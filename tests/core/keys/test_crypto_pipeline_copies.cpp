// Copies made ahead: each copy's bytes are the one-thread routine's, they
// come in the order they were added, no more than two passes' files are on
// disk at once, and every failure ends with the copy refused and no file
// left behind.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "base/stream.h"
#include "keys/crypto_binding.h"
#include "keys/crypto_pipeline_copies.h"
#include "support/noise_bytes.h"
#include "support/scratch_dir.h"

namespace qovra {
namespace {

namespace fs = std::filesystem;
using Made = TCopyRun::Made;

std::array<uint8_t, 64> MakeKey(uint8_t seed) {
  std::array<uint8_t, 64> k{};
  for (size_t i = 0; i < k.size(); ++i) k[i] = static_cast<uint8_t>(i * 41 + seed);
  return k;
}

std::string Pattern(size_t n) { return qovra_test::NoiseBytes(n, 88675123u); }

const THashValue kIv = HashString("0123456789ABCDEF0123456789ABCDEF");

std::string Enciphered(const std::string& plain, const std::array<uint8_t, 64>& key) {
  TMemoryStream in(plain), out;
  EXPECT_TRUE(CryptStream(in, static_cast<int64_t>(plain.size()), out, nullptr, nullptr, key, kIv,
                          {}, csEncrypt));
  return out.Data();
}

size_t FilesIn(const std::string& dir) {
  size_t n = 0;
  for (const auto& e : fs::directory_iterator(dir)) n += e.is_regular_file() ? 1 : 0;
  return n;
}

// A stream that gives at most limits[k] bytes in its k-th pass (a pass
// begins with a seek to the start; the last limit holds for later passes).
class PassLimitStream : public TMemoryStream {
 public:
  PassLimitStream(std::string bytes, std::vector<size_t> limits)
      : TMemoryStream(std::move(bytes)), limits_(std::move(limits)) {}
  int64_t Seek(int64_t offset, SeekOrigin origin) override {
    if (offset == 0 && origin == SeekOrigin::Beginning) {
      left_ = limits_[std::min(passes_, limits_.size() - 1)];
      ++passes_;
    }
    return TMemoryStream::Seek(offset, origin);
  }
  size_t Read(void* buffer, size_t count) override {
    const size_t n = TMemoryStream::Read(buffer, std::min(count, left_));
    left_ -= n;
    return n;
  }

 private:
  std::vector<size_t> limits_;
  size_t passes_ = 0;
  size_t left_ = 0;
};

TEST(CopyRunTest, CopiesComeInOrderWithTheirBytesAndAtMostTwoPassesOnDisk) {
  struct Case {
    size_t copies, per_pass;
  };
  const Case cases[] = {{1, 1}, {3, 1}, {5, 2}, {7, 3}, {6, 0}};
  const std::string plain = Pattern(3001);
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.copies << " copies, " << c.per_pass << " per pass");
    testing::ScratchDir dir;
    TMemoryStream source(plain);
    {
      TCopyRun run(source, kIv, c.per_pass);
      for (size_t i = 0; i < c.copies; ++i)
        EXPECT_EQ(run.Add(MakeKey(static_cast<uint8_t>(i)), dir.File("copy" + std::to_string(i))),
                  i);
      THashValue hash{};
      ASSERT_EQ(run.HashWithFirstBatch(&hash, nullptr, nullptr), 3001);
      EXPECT_EQ(hash, HashString(plain));
      run.StartAhead();
      for (size_t i = 0; i < c.copies; ++i) {
        ASSERT_EQ(run.Wait(i, nullptr, nullptr), Made::kReady) << i;
        EXPECT_EQ(testing::ScratchDir::Read(run.Path(i)),
                  Enciphered(plain, MakeKey(static_cast<uint8_t>(i))))
            << i;
        if (c.per_pass > 0) {
          // Time for the passes ahead to run as far as they may.
          if (i == 0) std::this_thread::sleep_for(std::chrono::milliseconds(200));
          EXPECT_LE(FilesIn(dir.path()), 2 * c.per_pass) << i;
        }
        run.Done(i);
        EXPECT_FALSE(fs::exists(run.Path(i))) << i;
      }
    }
    EXPECT_EQ(FilesIn(dir.path()), 0u);
  }
}

// The first pass failing leaves the hash to the caller and its copies to
// the passes ahead; a copy whose file cannot be created is told apart from
// one that could not be made; a run dropped early leaves nothing behind.
TEST(CopyRunTest, FailuresRefuseTheCopyAndLeaveNoFile) {
  const std::string plain = Pattern(5000);
  struct Case {
    const char* name;
    std::vector<size_t> limits;  // per pass over the source
    bool missing_folder;         // copy 1 goes into a folder that is not there
    size_t taken;                // copies waited for before the run is dropped
    int64_t hashed;
    std::vector<Made> made;
  };
  const Case cases[] = {
      {"first pass short, later ones whole",
       {2000, 5000},
       false,
       4,
       0,
       {Made::kReady, Made::kReady, Made::kReady, Made::kReady}},
      {"source always short",
       {2000},
       false,
       4,
       0,
       {Made::kFailed, Made::kFailed, Made::kFailed, Made::kFailed}},
      {"file not created",
       {5000},
       true,
       4,
       5000,
       {Made::kReady, Made::kNotCreated, Made::kReady, Made::kReady}},
      {"dropped after one", {5000}, false, 1, 5000, {Made::kReady}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    testing::ScratchDir dir;
    PassLimitStream source(plain, c.limits);
    {
      TCopyRun run(source, kIv, 1);
      for (size_t i = 0; i < 4; ++i) {
        const std::string name = "copy" + std::to_string(i);
        (void)run.Add(MakeKey(static_cast<uint8_t>(i)),
                      i == 1 && c.missing_folder ? dir.File("none/" + name) : dir.File(name));
      }
      const THashValue untouched = HashString("untouched");
      THashValue hash = untouched;
      EXPECT_EQ(run.HashWithFirstBatch(&hash, nullptr, nullptr), c.hashed);
      EXPECT_EQ(hash, c.hashed ? HashString(plain) : untouched);
      run.StartAhead();
      for (size_t i = 0; i < c.taken; ++i) {
        ASSERT_EQ(run.Wait(i, nullptr, nullptr), c.made[i]) << i;
        if (c.made[i] == Made::kReady) {
          EXPECT_EQ(testing::ScratchDir::Read(run.Path(i)),
                    Enciphered(plain, MakeKey(static_cast<uint8_t>(i))))
              << i;
        } else {
          EXPECT_FALSE(fs::exists(run.Path(i))) << i;
        }
        run.Done(i);
      }
    }
    EXPECT_EQ(FilesIn(dir.path()), 0u);
  }
}

// A source whose reads take a while after its first pass.
class SlowStream : public TMemoryStream {
 public:
  using TMemoryStream::TMemoryStream;
  int64_t Seek(int64_t offset, SeekOrigin origin) override {
    if (offset == 0 && origin == SeekOrigin::Beginning) ++passes_;
    return TMemoryStream::Seek(offset, origin);
  }
  size_t Read(void* buffer, size_t count) override {
    if (passes_ > 1) std::this_thread::sleep_for(std::chrono::milliseconds(40));
    return TMemoryStream::Read(buffer, count);
  }

 private:
  std::atomic<int> passes_{0};
};

// While the caller waits for a copy made ahead, it hears of the copy's
// progress on its own thread, from 0 up to at most the whole source.
TEST(CopyRunTest, WaitingReportsTheCopysProgress) {
  const std::string plain = Pattern(3 << 20);  // four chunks, 40 ms each
  testing::ScratchDir dir;
  SlowStream source(plain);
  TCopyRun run(source, kIv, 1);
  (void)run.Add(MakeKey(1), dir.File("a"));
  (void)run.Add(MakeKey(2), dir.File("b"));
  THashValue hash{};
  ASSERT_GT(run.HashWithFirstBatch(&hash, nullptr, nullptr), 0);
  run.StartAhead();
  ASSERT_EQ(run.Wait(0, nullptr, nullptr), Made::kReady);
  std::vector<std::pair<int64_t, int64_t>> calls;
  const auto record = [](void* data, int64_t total, int64_t done) {
    static_cast<std::vector<std::pair<int64_t, int64_t>>*>(data)->emplace_back(total, done);
  };
  const auto total = static_cast<int64_t>(plain.size());
  ASSERT_EQ(run.Wait(1, &calls, record), Made::kReady);
  ASSERT_GE(calls.size(), 2u);
  EXPECT_EQ(calls.front(), std::make_pair(total, int64_t{0}));
  EXPECT_TRUE(std::is_sorted(calls.begin(), calls.end()));
  EXPECT_LE(calls.back().second, total);
  EXPECT_EQ(testing::ScratchDir::Read(run.Path(1)), Enciphered(plain, MakeKey(2)));
}

}  // namespace
}  // namespace qovra

// The client's own work on a large mail, without the network: tevqa's hash
// alone (the reference), sending (the signature's hash and the first
// recipient's copy, or three recipients' copies) and receiving (the server's signature hash, the
// mail key, the signature's hash and the container check), each both the threaded way the client
// works now and the one-thread way, over the same container of one attachment. Prints MB/s, the
// ratio to the hash alone and the peak memory this process grew by in each step.
//
//   bench_mail_stream [MiB]   (default 1024)
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "base/file_stream.h"
#include "bench_noise.h"
#include "bench_peak_memory.h"
#include "keys/crypto_binding.h"
#include "keys/crypto_pipeline.h"
#include "platform/temp_files.h"
#include "seam/fake_ui.h"
#include "store/mail_container_reader.h"
#include "store/mail_container_writer.h"
#include "tevqa.h"

namespace {

namespace fs = std::filesystem;
using qovra::TEFileStream;

struct Timer {
  std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
  double Seconds() const {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  }
};

std::array<uint8_t, 64> Key(uint8_t seed) {
  std::array<uint8_t, 64> k{};
  for (size_t i = 0; i < k.size(); ++i) k[i] = static_cast<uint8_t>(i * 37 + seed);
  return k;
}

int64_t WriteMail(const std::string& path, int64_t size) {
  TEFileStream out(path, true, false, qovra::fmCreate);
  if (!out.Opened()) return 0;
  qovra::TMailWriter w(out);
  w.AddMailHeaders("alice@127.0.0.1", u"Large file", "bob@127.0.0.1");
  w.AddField("body", "The file is attached.");
  w.AddAttachmentHeader(u"large.bin", size);
  qovra_bench::WriteNoise(size, [&](const void* data, size_t n) { w.WriteBuffer(data, n); });
  if (!w.Finish()) return 0;
  return out.Size();
}

double reference_mbs = 0;

// Runs step three times; prints the best time, its ratio to the first
// step printed (the hash alone) and the largest peak growth.
template <typename Step>
bool Best(const char* name, int64_t bytes, Step step) {
  double best = 0;
  long peak = 0;
  bool ok = true;
  for (int run = 0; run < 3; ++run) {
    qovra_bench::ResetPeakRss();
    const long base = qovra_bench::RssKiB();
    Timer t;
    ok &= step();
    const double s = t.Seconds();
    best = run == 0 ? s : std::min(best, s);
    peak = std::max(peak, qovra_bench::PeakRssKiB() - base);
  }
  const double mbs = static_cast<double>(bytes) / 1e6 / best;
  if (reference_mbs == 0) reference_mbs = mbs;
  std::printf("%-46s %7.2f s %7.1f MB/s  %5.2fx hash  peak +%5.1f MiB\n", name, best, mbs,
              mbs / reference_mbs, static_cast<double>(peak) / 1024.0);
  std::fflush(stdout);
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  const int64_t mib = argc > 1 ? std::atoll(argv[1]) : 1024;
  if (mib <= 0) return 2;
  qovra::testing::ScopedFakeUi ui;
  const fs::path dir =
      fs::temp_directory_path() / ("bench_mail_stream." + std::to_string(getpid()));
  fs::create_directories(dir);
  qovra::SetTempFolder(dir.string() + "/");
  const std::string mail = (dir / "mail.emz").string();
  const std::string copy = (dir / "copy.eme").string();
  const std::string plain = (dir / "plain.part").string();
  const int64_t size = WriteMail(mail, mib << 20);
  if (size == 0) return 1;
  std::printf("attachment %lld MiB, container %lld bytes\n", static_cast<long long>(mib),
              static_cast<long long>(size));
  const auto key = Key(11);
  const qovra::THashValue iv = qovra::HashString("0123456789ABCDEF0123456789ABCDEF");
  qovra::THashValue hash{}, wire_hash{}, plain_hash{};
  bool ok = true;

  // The container check of a received mail: now read in place, before
  // through a scratch copy.
  const auto check = [&](const std::string& path, bool in_place) {
    TEFileStream f(path, true, false, qovra::fmOpenRead);
    qovra::TMailReader reader(f);
    reader.SetReadInPlace(in_place);
    return reader.Parse(nullptr, nullptr);
  };
  const auto last = static_cast<uint8_t>(size % 32);
  // tevqa's hash alone over the container, read in 1 MiB pieces.
  std::vector<uint8_t> piece(1 << 20);
  ok &= Best("hash alone (reference)", size, [&] {
    TEFileStream in(mail, true, false, qovra::fmOpenRead);
    uint8_t ctx[TEVQA_HASH_CONTEXT_SIZE];
    UZDST_HASH_init(ctx, nullptr);
    int64_t done = 0;
    for (size_t n; (n = in.Read(piece.data(), piece.size())) > 0; done += static_cast<int64_t>(n))
      UZDST_HASH_update(ctx, piece.data(), static_cast<uint32_t>(n));
    UZDST_HASH_final(ctx, hash.data());
    return done == size;
  });
  ok &= Best("send: hash + encipher the copy, threaded", size, [&] {
    TEFileStream in(mail, true, false, qovra::fmOpenRead);
    TEFileStream out(copy, true, false, qovra::fmCreate);
    return qovra::EncryptStreamHashingInput(in, size, out, nullptr, nullptr, &hash, key, iv);
  });
  // A secure send to three: the pass that hashes the mail makes all three
  // copies, each on a thread of its own.
  ok &= Best("send to 3: hash + encipher 3 copies, threaded", size, [&] {
    TEFileStream in(mail, true, false, qovra::fmOpenRead);
    const std::array<uint8_t, 64> keys[] = {Key(21), Key(22), Key(23)};
    std::vector<std::unique_ptr<TEFileStream>> outs;
    std::vector<qovra::TCopyTarget> targets;
    for (size_t c = 0; c < 3; ++c) {
      outs.push_back(std::make_unique<TEFileStream>((dir / ("copy3." + std::to_string(c))).string(),
                                                    true, true, qovra::fmCreate));
      targets.push_back({outs.back().get(), keys[c].data()});
    }
    return qovra::EncipherCopies(in, size, targets, nullptr, nullptr, &hash, iv) &&
           std::all_of(targets.begin(), targets.end(),
                       [](const qovra::TCopyTarget& t) { return t.Written; });
  });
  ok &= Best("send: hash, then encipher (one thread)", size, [&] {
    TEFileStream in(mail, true, false, qovra::fmOpenRead);
    TEFileStream out((dir / "copy1.eme").string(), true, true, qovra::fmCreate);
    return qovra::HashStream(in, nullptr, &hash, nullptr, nullptr) == size && in.SetPosition(0) &&
           qovra::CryptStreamWithHash(in, size, out, nullptr, nullptr, nullptr, key, iv,
                                      qovra::csEncrypt);
  });
  const auto decipher = [&] {
    TEFileStream in(copy, true, false, qovra::fmOpenRead);
    TEFileStream out(plain, true, false, qovra::fmCreate);
    qovra::TDecipherLayers layers;
    layers.Key = key.data();
    layers.Iv = iv.data();
    layers.LastLength = last;
    return qovra::DecipherStreamWithHashes(in, in.Size(), out, nullptr, nullptr, &wire_hash,
                                           &plain_hash, layers);
  };
  ok &= Best("receive: both hashes + decipher + check", size,
             [&] { return decipher() && check(plain, true); });
  ok &= Best("  of which both hashes + decipher, threaded", size, decipher);
  ok &= Best("receive: store .eme, decipher, check (1 thr.)", size, [&] {
    TEFileStream in(copy, true, false, qovra::fmOpenRead);
    const std::string eme = (dir / "stored.eme").string();
    TEFileStream stored(eme, true, true, qovra::fmCreate);
    TEFileStream out((dir / "plain1.part").string(), true, true, qovra::fmCreate);
    return qovra::CopyStreamWithHash(in, in.Size(), stored, nullptr, nullptr, &wire_hash,
                                     nullptr) == in.Size() &&
           stored.SetPosition(0) &&
           qovra::CryptStreamWithHash(stored, stored.Size(), out, nullptr, nullptr, &plain_hash,
                                      key, iv,
                                      qovra::csHashOutput | qovra::CryptLastLengthFlags(last)) &&
           check(plain, false);
  });
  ok &= plain_hash == hash;
  fs::remove_all(dir);
  if (!ok) std::fprintf(stderr, "a step failed\n");
  return ok ? 0 : 1;
}

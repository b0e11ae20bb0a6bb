// Mail container throughput and memory: writes a container holding one
// large attachment (1.5 GiB) and 1,000 small ones (4 KiB), then parses it
// and saves every attachment. Prints time, peak resident memory and bytes
// for each phase.
//
//   bench_containers [large MiB (1536)] [small count (1000)]
//
// Works in a private folder under the temporary folder, removed at the end.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "base/file_stream.h"
#include "base/utf.h"
#include "bench_peak_memory.h"
#include "platform/temp_files.h"
#include "store/mail_container_reader.h"
#include "store/mail_container_writer.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point since) {
  return std::chrono::duration<double>(Clock::now() - since).count();
}

bool WriteFile(const std::string& path, int64_t size, uint32_t seed) {
  qovra::TEFileStream out(path, true, false, qovra::fmCreate);
  if (!out.Opened()) return false;
  std::vector<uint32_t> block(1 << 18);  // 1 MiB
  uint32_t x = seed;
  for (uint32_t& w : block) w = (x = x * 1664525u + 1013904223u);
  int64_t done = 0;
  while (done < size) {
    block[0] = static_cast<uint32_t>(done);  // every block differs
    const size_t n = static_cast<size_t>(std::min<int64_t>(size - done, 1 << 20));
    if (!out.WriteBuffer(block.data(), n)) return false;
    done += static_cast<int64_t>(n);
  }
  return true;
}

void Report(const char* phase, double secs, int64_t bytes) {
  std::printf("%-8s %8.2f s  %9.1f MB/s  peak RSS %7.1f MiB  %lld bytes\n", phase, secs,
              static_cast<double>(bytes) / secs / 1e6,
              static_cast<double>(qovra_bench::PeakRssKiB()) / 1024.0,
              static_cast<long long>(bytes));
}

}  // namespace

int main(int argc, char** argv) {
  const int64_t large_mib = argc > 1 ? std::atoll(argv[1]) : 1536;
  const int small_count = argc > 2 ? std::atoi(argv[2]) : 1000;
  const int64_t small_size = 4096;
  const std::string dir = qovra::MakePrivateTempFolder("qovra-bench-");
  if (dir.empty()) {
    std::fprintf(stderr, "cannot make a temporary folder\n");
    return 1;
  }
  qovra::SetTempFolder(dir);  // the reader's scratch file goes here too
  int rc = 0;
  {
    const std::string large = dir + "large.bin";
    std::filesystem::create_directory(dir + "small");
    std::filesystem::create_directory(dir + "out");
    if (!WriteFile(large, large_mib << 20, 1)) return 1;
    std::vector<std::string> smalls;
    for (int i = 0; i < small_count; ++i) {
      smalls.push_back(dir + "small/file" + std::to_string(i) + ".txt");
      if (!WriteFile(smalls.back(), small_size, static_cast<uint32_t>(i + 2))) return 1;
    }
    std::printf("container with 1 x %lld MiB and %d x %lld bytes\n",
                static_cast<long long>(large_mib), small_count, static_cast<long long>(small_size));

    // Write.
    const std::string container = dir + "mail.emz";
    qovra_bench::ResetPeakRss();
    auto start = Clock::now();
    {
      qovra::TEFileStream out(container, true, false, qovra::fmCreate);
      qovra::TMailWriter writer(out);
      writer.AddMailHeaders("alice@localhost", u"Benchmark", "bob@localhost");
      writer.AddField("body", "A mail with many attachments.");
      bool ok = writer.AddFile(qovra::Utf8ToUtf16(large), nullptr, u"", nullptr);
      for (const std::string& s : smalls) {
        ok = writer.AddFile(qovra::Utf8ToUtf16(s), nullptr, u"", nullptr) && ok;
      }
      if (!writer.Finish() || !ok) rc = 1;
    }
    const int64_t container_size = static_cast<int64_t>(std::filesystem::file_size(container));
    Report("write", Seconds(start), container_size);

    // Parse (copies the container into the scratch file).
    qovra_bench::ResetPeakRss();
    start = Clock::now();
    qovra::TEFileStream in(container, true, false, qovra::fmOpenRead);
    qovra::TMailReader reader(in);
    if (!reader.Parse(nullptr, nullptr)) {
      std::fprintf(stderr, "parse failed: %s\n", reader.Error().c_str());
      rc = 1;
    }
    Report("parse", Seconds(start), container_size);

    // Save every attachment.
    qovra_bench::ResetPeakRss();
    start = Clock::now();
    int64_t saved = 0;
    const std::u16string out_dir = qovra::Utf8ToUtf16(dir + "out");
    for (size_t i = 0; i < reader.Attachments().size(); ++i) {
      if (!reader.SaveAttachment(static_cast<int64_t>(i), true, nullptr, nullptr, true, out_dir)) {
        rc = 1;
      }
      saved += reader.Attachments()[i].DataSize;
    }
    Report("save", Seconds(start), saved);
    std::printf("attachments read: %zu\n", reader.Attachments().size());
  }
  qovra::SetTempFolder("");
  std::error_code ec;
  std::filesystem::remove_all(dir, ec);
  return rc;
}

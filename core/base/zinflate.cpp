#include <zlib.h>

#include <cstring>

#include "base/stream_copy.h"

namespace qovra {
namespace {

constexpr size_t kBlock = 8192;

// Owns a z_stream set up for inflation.
class Inflater {
 public:
  Inflater() { ok_ = inflateInit(&zs_) == Z_OK; }
  ~Inflater() {
    if (ok_) inflateEnd(&zs_);
  }
  Inflater(const Inflater&) = delete;
  Inflater& operator=(const Inflater&) = delete;
  bool ok() const { return ok_; }
  z_stream& zs() { return zs_; }

 private:
  z_stream zs_{};
  bool ok_ = false;
};

}  // namespace

ZStatus ZDecompressStream(TStream& source, TStream& dest, TProgressProc progress,
                          void* progress_data, int64_t max_output) {
  if (max_output < 0) max_output = 0;
  const int64_t total = source.Size();
  if (total < 0 || !source.SetPosition(0)) return ZStatus::Truncated;
  Inflater inflater;
  if (!inflater.ok()) return ZStatus::Corrupt;
  z_stream& zs = inflater.zs();
  ReportProgress(progress, progress_data, total, 0);

  unsigned char in[kBlock];
  unsigned char out[kBlock];
  int64_t produced = 0;
  bool input_ended = false;
  for (;;) {
    if (zs.avail_in == 0 && !input_ended) {
      const size_t n = source.Read(in, sizeof in);
      if (n == 0) {
        input_ended = true;
      } else {
        zs.next_in = in;
        zs.avail_in = static_cast<uInt>(n);
      }
    }
    zs.next_out = out;
    zs.avail_out = sizeof out;
    const int rc = inflate(&zs, Z_NO_FLUSH);
    const size_t have = sizeof out - zs.avail_out;
    if (rc == Z_NEED_DICT || rc == Z_DATA_ERROR || rc == Z_MEM_ERROR || rc == Z_STREAM_ERROR) {
      return ZStatus::Corrupt;
    }
    if (have > 0) {
      if (static_cast<int64_t>(have) > max_output - produced) {
        const auto allowed = static_cast<size_t>(max_output - produced);
        if (allowed > 0 && dest.Write(out, allowed) < allowed) return ZStatus::WriteFailed;
        return ZStatus::TooLarge;
      }
      if (dest.Write(out, have) < have) return ZStatus::WriteFailed;
      produced += static_cast<int64_t>(have);
      ReportProgress(progress, progress_data, total, source.Position());
    }
    if (rc == Z_STREAM_END) return ZStatus::Ok;
    // No progress possible: input exhausted with the stream unfinished.
    if (have == 0 && zs.avail_in == 0 && input_ended) return ZStatus::Truncated;
  }
}

const char* ZStatusText(ZStatus status) {
  switch (status) {
    case ZStatus::Ok:
      return "no error";
    case ZStatus::Corrupt:
      return "corrupt zlib stream";
    case ZStatus::Truncated:
      return "truncated zlib stream";
    case ZStatus::TooLarge:
      return "inflated data larger than the cap";
    case ZStatus::WriteFailed:
      return "inflated data could not be written";
  }
  return "unknown zlib status";
}

}  // namespace qovra

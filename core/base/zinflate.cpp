#include "base/zinflate.h"

#include <zlib.h>

#include <algorithm>
#include <limits>

namespace qovra {
namespace {

constexpr size_t kBlock = 8192;

}  // namespace

struct TZInflater::State {
  z_stream zs{};
  bool ok = false;
  unsigned char in[kBlock];
  unsigned char out[kBlock];
  State() { ok = inflateInit(&zs) == Z_OK; }
  ~State() {
    if (ok) inflateEnd(&zs);
  }
};

TZInflater::TZInflater(TStream& source, TStream& dest, int64_t max_output, TProgressProc progress,
                       void* progress_data)
    : source_(source),
      dest_(dest),
      max_output_(std::max<int64_t>(max_output, 0)),
      progress_(progress),
      progress_data_(progress_data),
      state_(std::make_unique<State>()) {
  total_ = source_.Size();
  start_ = dest_.Position();
  if (total_ < 0 || start_ < 0 || !source_.SetPosition(0)) {
    status_ = ZStatus::Truncated;
  } else if (!state_->ok) {
    status_ = ZStatus::Corrupt;
  } else {
    ReportProgress(progress_, progress_data_, total_, 0);
  }
}

TZInflater::~TZInflater() = default;

ZStatus TZInflater::InflateTo(int64_t want) {
  if (status_ != ZStatus::Ok) return status_;
  z_stream& zs = state_->zs;
  // The source may have been moved by a reader between calls.
  if (!ended_ && !source_.SetPosition(static_cast<int64_t>(zs.total_in) + zs.avail_in))
    return Fail(ZStatus::Truncated);
  while (!ended_ && produced_ < want) {
    if (zs.avail_in == 0 && !input_ended_) {
      const size_t n = source_.Read(state_->in, sizeof state_->in);
      if (n == 0) {
        input_ended_ = true;
      } else {
        zs.next_in = state_->in;
        zs.avail_in = static_cast<uInt>(n);
      }
    }
    zs.next_out = state_->out;
    zs.avail_out = sizeof state_->out;
    const int rc = inflate(&zs, Z_NO_FLUSH);
    const size_t have = sizeof state_->out - zs.avail_out;
    if (rc == Z_NEED_DICT || rc == Z_DATA_ERROR || rc == Z_MEM_ERROR || rc == Z_STREAM_ERROR)
      return Fail(ZStatus::Corrupt);
    if (have > 0) {
      // Checked before the bytes reach dest: no more than the cap is written.
      const bool too_large = static_cast<int64_t>(have) > max_output_ - produced_;
      const size_t take = too_large ? static_cast<size_t>(max_output_ - produced_) : have;
      if (take > 0 &&
          (!dest_.SetPosition(start_ + produced_) || dest_.Write(state_->out, take) < take))
        return Fail(ZStatus::WriteFailed);
      produced_ += static_cast<int64_t>(take);
      if (too_large) return Fail(ZStatus::TooLarge);
      ReportProgress(progress_, progress_data_, total_, source_.Position());
    }
    if (rc == Z_STREAM_END) {
      ended_ = true;
      break;
    }
    // No progress possible: input exhausted with the stream unfinished.
    if (have == 0 && zs.avail_in == 0 && input_ended_) return Fail(ZStatus::Truncated);
  }
  return ZStatus::Ok;
}

ZStatus ZDecompressStream(TStream& source, TStream& dest, TProgressProc progress,
                          void* progress_data, int64_t max_output) {
  TZInflater inflater(source, dest, max_output, progress, progress_data);
  return inflater.InflateTo(std::numeric_limits<int64_t>::max());
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

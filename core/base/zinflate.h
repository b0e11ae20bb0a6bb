// Inflating a zlib stream piece by piece, so that a reader takes only as
// much of the plain data as it needs (ZDecompressStream, stream_copy.h,
// takes all of it).
#pragma once

#include <cstdint>
#include <memory>

#include "base/records.h"
#include "base/stream.h"
#include "base/stream_copy.h"

namespace qovra {

// Inflates the zlib stream (RFC 1950) in source, read from position 0, into
// dest from dest's position at construction on, 8192 bytes at a time and
// never more than max_output bytes in all. dest may be read between calls:
// every write goes to the end of what was inflated so far. Progress is
// measured on the compressed input: (source size, source position). Both
// streams must outlive the object. Never throws.
class TZInflater {
 public:
  TZInflater(TStream& source, TStream& dest, int64_t max_output, TProgressProc progress,
             void* progress_data);
  ~TZInflater();
  TZInflater(const TZInflater&) = delete;
  TZInflater& operator=(const TZInflater&) = delete;

  // Inflates until at least want plain bytes were written in all, or the
  // zlib stream ended (and its checksum held). Ok then; otherwise the
  // failure, which stays: later calls return it at once and write nothing.
  // With TooLarge, dest holds exactly max_output bytes.
  [[nodiscard]] ZStatus InflateTo(int64_t want);

  // The whole zlib stream was inflated and checked.
  bool Ended() const { return ended_; }
  // Plain bytes written so far.
  int64_t Produced() const { return produced_; }

 private:
  struct State;
  ZStatus Fail(ZStatus status) {
    status_ = status;
    return status;
  }

  TStream& source_;
  TStream& dest_;
  int64_t max_output_;
  TProgressProc progress_;
  void* progress_data_;
  std::unique_ptr<State> state_;
  int64_t total_ = 0;  // size of the compressed input
  int64_t start_ = 0;  // dest's position at construction
  int64_t produced_ = 0;
  bool input_ended_ = false;
  bool ended_ = false;
  ZStatus status_ = ZStatus::Ok;
};

}  // namespace qovra

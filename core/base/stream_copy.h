// Copying files and streams with progress, and zlib inflation.
//
// Progress is reported through a TProgressProc (may be null): first
// (total, 0), then (total, done) after every block.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "base/records.h"
#include "base/stream.h"

namespace qovra {

// Copies source to dest (created or replaced, mode 0600) in blocks of 8192
// bytes. When either file cannot be opened, the user is shown the system's
// error text with the file name and 0 is returned (nothing is created when
// the source fails). Returns the bytes actually written to dest; fewer than
// the source's size means a read or write failed.
int64_t CopyFileWithProgress(std::u16string_view source, std::u16string_view dest,
                             TProgressProc progress, void* progress_data);

// Copies the whole of source (from position 0) to dest at its position in
// blocks of at most 16384 bytes, until source's size is reached, a read
// gives nothing or a write falls short. Returns the bytes written.
int64_t CopyStreamWithProgress(TStream& source, TStream& dest, TProgressProc progress,
                               void* progress_data);

// Copies up to count bytes from source's position to dest's position.
// Returns the bytes really copied: less than count when source ended or
// dest refused bytes; 0 for a count of 0 or below.
int64_t CopyStreamBytes(TStream& source, int64_t count, TStream& dest, void* progress_data,
                        TProgressProc progress);

enum class ZStatus {
  Ok,          // the whole zlib stream was inflated
  Corrupt,     // not a valid zlib stream (bad header, data or checksum)
  Truncated,   // the input ended before the zlib stream did
  TooLarge,    // the output would pass max_output; inflation stopped there
  WriteFailed  // dest took fewer bytes than it was given
};

// A short English description of a failed status, for error texts.
const char* ZStatusText(ZStatus status);

// Default cap of inflated output.
constexpr int64_t kDefaultInflateCap = int64_t{1} << 30;

// Inflates the zlib stream (RFC 1950) in source (read from position 0) into
// dest at its position, 8192 bytes at a time. Progress is measured on the
// compressed input: (source size, source position). Never throws. On any
// status other than Ok, dest holds the bytes inflated before the failure and
// never more than max_output bytes.
[[nodiscard]] ZStatus ZDecompressStream(TStream& source, TStream& dest, TProgressProc progress,
                                        void* progress_data,
                                        int64_t max_output = kDefaultInflateCap);

}  // namespace qovra

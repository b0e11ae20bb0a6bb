// The multipart body of TIEHttpClient as a source of pieces for libcurl's
// read callback (private to the core). Layout: http_multipart_body.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/stream.h"

namespace qovra::http_detail {

// The most bytes of part data one Read gives, and the upload buffer the
// client asks libcurl for: large enough that a big body moves at the
// speed of the loopback, small enough that its progress still moves a
// window's bar smoothly.
inline constexpr size_t kBodyBlockSize = size_t{256} << 10;

class TMultipartBodySource {
 public:
  // Returned by Read when a part's stream failed.
  static constexpr size_t kAbort = ~size_t{0};

  explicit TMultipartBodySource(std::string boundary);

  // Queues a part; stream is not owned. REQUIRES: name holds no '"', CR or LF.
  void AddPart(TStream* stream, std::string_view name);

  // Takes each part's size now and rewinds to the first byte. False when a
  // size is unknown.
  [[nodiscard]] bool Prepare();
  // The exact body size: part header texts, part sizes and the closing text.
  int64_t ContentLength() const { return content_length_; }

  // Fills buffer (max bytes) with the next piece: part header text, one
  // block of at most kBodyBlockSize bytes of part data, or the closing text. Returns
  // its size; 0 once the whole body was given; kAbort when a stream could
  // not be rewound or ended before the size Prepare took.
  [[nodiscard]] size_t Read(char* buffer, size_t max);
  // Back to the first byte (libcurl may have to send the body again).
  void Rewind();

  bool Finished() const { return stage_ == Stage::Finished; }
  bool StreamFailed() const { return stream_failed_; }
  // Bytes given since the last rewind.
  int64_t Given() const { return given_; }

 private:
  enum class Stage { Header, Data, Closing, Finished };
  struct Part {
    TStream* stream = nullptr;
    std::string header;
    int64_t size = 0;
  };

  size_t CopyText(const std::string& text, char* buffer, size_t max, Stage next);
  size_t ReadPiece(char* buffer, size_t max);

  std::string boundary_;
  std::string closing_text_;
  std::vector<Part> parts_;
  int64_t content_length_ = 0;

  size_t part_index_ = 0;
  Stage stage_ = Stage::Header;
  size_t text_offset_ = 0;
  int64_t data_left_ = 0;
  int64_t given_ = 0;
  bool stream_failed_ = false;
};

}  // namespace qovra::http_detail

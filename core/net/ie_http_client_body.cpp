#include "net/ie_http_client_body.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "net/http_multipart_body.h"

namespace qovra::http_detail {

TMultipartBodySource::TMultipartBodySource(std::string boundary)
    : boundary_(std::move(boundary)), closing_text_(MultipartClosingText(boundary_)) {
  Rewind();
}

void TMultipartBodySource::AddPart(TStream* stream, std::string_view name) {
  Part p;
  p.stream = stream;
  p.header = MultipartPartHeader(boundary_, parts_.size(), name);
  parts_.push_back(std::move(p));
}

bool TMultipartBodySource::Prepare() {
  content_length_ = static_cast<int64_t>(closing_text_.size());
  for (Part& p : parts_) {
    p.size = p.stream->Size();
    if (p.size < 0) return false;
    content_length_ += static_cast<int64_t>(p.header.size()) + p.size;
  }
  Rewind();
  return true;
}

void TMultipartBodySource::Rewind() {
  part_index_ = 0;
  stage_ = parts_.empty() ? Stage::Closing : Stage::Header;
  text_offset_ = 0;
  data_left_ = 0;
  given_ = 0;
}

size_t TMultipartBodySource::CopyText(const std::string& text, char* buffer, size_t max,
                                      Stage next) {
  const size_t n = std::min(max, text.size() - text_offset_);
  std::memcpy(buffer, text.data() + text_offset_, n);
  text_offset_ += n;
  if (text_offset_ == text.size()) {
    text_offset_ = 0;
    stage_ = next;
  }
  return n;
}

size_t TMultipartBodySource::Read(char* buffer, size_t max) {
  const size_t n = ReadPiece(buffer, max);
  if (n != kAbort) given_ += static_cast<int64_t>(n);
  return n;
}

size_t TMultipartBodySource::ReadPiece(char* buffer, size_t max) {
  if (max == 0) return 0;
  for (;;) {
    switch (stage_) {
      case Stage::Header: {
        Part& p = parts_[part_index_];
        const size_t n = CopyText(p.header, buffer, max, Stage::Data);
        if (stage_ == Stage::Data) {
          data_left_ = p.size;
          // Each stream goes out from its first byte.
          if (p.stream->Position() != 0 && !p.stream->SetPosition(0)) {
            stream_failed_ = true;
            return kAbort;
          }
        }
        if (n > 0) return n;
        break;
      }
      case Stage::Data: {
        if (data_left_ == 0) {
          ++part_index_;
          stage_ = part_index_ < parts_.size() ? Stage::Header : Stage::Closing;
          break;
        }
        const size_t want = static_cast<size_t>(
            std::min<int64_t>(data_left_, static_cast<int64_t>(std::min(max, kBodyBlockSize))));
        const size_t got = parts_[part_index_].stream->Read(buffer, want);
        if (got == 0) {
          stream_failed_ = true;  // the stream ended before its size
          return kAbort;
        }
        data_left_ -= static_cast<int64_t>(got);
        return got;
      }
      case Stage::Closing:
        return CopyText(closing_text_, buffer, max, Stage::Finished);
      case Stage::Finished:
        return 0;
    }
  }
}

}  // namespace qovra::http_detail

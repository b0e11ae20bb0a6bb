#include "store/mail_container_reader.h"

#include <algorithm>
#include <limits>
#include <utility>

#include "base/base64.h"
#include "base/file_stream.h"
#include "base/stream_copy.h"
#include "base/text_utils.h"
#include "base/utf.h"
#include "base/zinflate.h"
#include "store/mail_container_names.h"
#include "store/mail_container_scratch.h"
#include "store/mail_container_sections.h"

namespace qovra {
namespace {

using container::kHeaderBuffer;

std::u16string DecodeName(std::string_view base64) {
  return Utf8ToUtf16(Base64Decode(base64));
}

// position + count, or the largest position when that does not fit.
int64_t EndOf(int64_t position, int64_t count) {
  return count > std::numeric_limits<int64_t>::max() - position
             ? std::numeric_limits<int64_t>::max()
             : position + count;
}

}  // namespace

TMailReader::TMailReader(TStream& source, TClock clock)
    : source_(source), clock_(std::move(clock)), scratch_(container::OpenScratchFile()) {}

TMailReader::~TMailReader() = default;

bool TMailReader::Fail(std::string reason) {
  error_ = std::move(reason);
  return false;
}

int64_t TMailReader::PlainSizeUpTo(int64_t position) {
  if (inflater_ && inflate_status_ == ZStatus::Ok && !inflater_->Ended()) {
    inflate_status_ = inflater_->InflateTo(position);
    scratch_size_ = inflater_->Produced();
  }
  return scratch_size_;
}

bool TMailReader::FinishInflating() {
  if (!inflater_ || inflater_->Ended()) return true;
  const ZStatus status = inflater_->InflateTo(inflater_->Produced() + kMailInflateTrailer);
  // More plain bytes than that after the closing line are not inflated;
  // a cap reached there is no concern of the mail's either.
  if (status == ZStatus::Corrupt || status == ZStatus::Truncated) return Fail(ZStatusText(status));
  return true;
}

std::string TMailReader::ReadAt(int64_t position, size_t count) {
  std::string out;
  if (position < 0 || !data_) return out;
  (void)PlainSizeUpTo(EndOf(position, static_cast<int64_t>(count)));
  if (!data_->SetPosition(position)) return out;
  out.resize(count);
  size_t got = 0;
  while (got < count) {
    const size_t n = data_->Read(out.data() + got, count - got);
    if (n == 0) break;
    got += n;
  }
  out.resize(got);
  return out;
}

bool TMailReader::Parse(TProgressProc progress, void* progress_data) {
  parsed_ = false;
  error_.clear();
  from_.clear();
  to_.clear();
  subject_.clear();
  body_.clear();
  date_ = 0;
  boundary_.clear();
  attachments_.clear();
  if (!scratch_) return Fail("no scratch file could be made");
  if (!LoadPlainCopy(progress, progress_data)) return false;
  int64_t next = 0;
  if (!ParseHeaderAndBody(next) || !ParseSections(next)) {
    // A failed inflation is the reason, whatever the parse then missed.
    if (inflate_status_ != ZStatus::Ok) Fail(ZStatusText(inflate_status_));
    return false;
  }
  if (!FinishInflating()) return false;
  parsed_ = true;
  return true;
}

bool TMailReader::LoadPlainCopy(TProgressProc progress, void* progress_data) {
  data_ = nullptr;
  inflater_.reset();
  inflate_status_ = ZStatus::Ok;
  if (!scratch_->SetSize(0) || !scratch_->SetPosition(0)) return Fail("scratch file not writable");
  unsigned char magic[2] = {0, 0};
  if (!source_.SetPosition(0) || !source_.ReadBuffer(magic, 2)) {
    return Fail("container shorter than two bytes");
  }
  if (read_in_place_ && !(magic[0] == 0x78 && magic[1] == 0xDA)) {
    scratch_size_ = source_.Size();
    if (scratch_size_ < 0) return Fail("container unreadable");
    data_ = &source_;
    return true;
  }
  if (magic[0] == 0x78 && magic[1] == 0xDA) {
    const int64_t size = source_.Size();
    if (size < 0) return Fail("container unreadable");
    const int64_t by_ratio =
        size > kMailInflateCap / kMailInflateRatio ? kMailInflateCap : size * kMailInflateRatio;
    const int64_t limit = std::min(inflate_cap_, std::max(kMailInflateFloor, by_ratio));
    inflater_ = std::make_unique<TZInflater>(source_, *scratch_, limit, progress, progress_data);
    scratch_size_ = 0;
    data_ = scratch_.get();
    return true;
  }
  const int64_t size = source_.Size();
  if (size < 0 || CopyStreamWithProgress(source_, *scratch_, progress, progress_data) != size) {
    return Fail("container could not be copied");
  }
  scratch_size_ = scratch_->Size();
  if (scratch_size_ < 0) return Fail("scratch file unreadable");
  data_ = scratch_.get();
  return true;
}

bool TMailReader::ParseHeaderAndBody(int64_t& next) {
  const std::string buffer = ReadAt(0, container::kHeadBuffer);
  if (buffer.empty()) return Fail("empty container");
  container::HeaderBlock headers(buffer);
  if (!headers.Valid()) return Fail("header lines not ended by an empty line");
  from_ = headers.Take("From:");
  subject_ = Utf8ToUtf16(Base64Decode(headers.Take("Subject:")));
  to_ = headers.Take("To:");
  date_ = MailDateFromText(headers.Take("Date:"), clock_);
  boundary_ = headers.Take("Content-Type: multipart/form-data; boundary=");
  if (!container::IsUsableBoundary(boundary_)) return Fail("no usable boundary");

  const size_t line_at = headers.End();
  const size_t header_at = line_at + boundary_.size() + 6;
  const std::string_view rest = std::string_view(buffer).substr(line_at);
  if (!container::IsBoundaryLine(rest, boundary_) || rest.size() < boundary_.size() + 6 ||
      rest.substr(boundary_.size() + 4, 2) != "\r\n") {
    return Fail("no boundary line after the header lines");
  }
  container::SectionHeader body;
  std::string reason;
  if (!container::ParseSectionHeader(std::string_view(buffer).substr(header_at), body, reason)) {
    return Fail("body section: " + reason);
  }
  if (!SameTextAscii(body.name, "body")) return Fail("first section is not the body");
  const int64_t data = static_cast<int64_t>(header_at + body.data_start);
  if (body.size > PlainSizeUpTo(EndOf(data, body.size)) - data)
    return Fail("body larger than the rest of the file");
  const std::string text = ReadAt(data, static_cast<size_t>(body.size));
  if (static_cast<int64_t>(text.size()) != body.size) return Fail("body unreadable");
  body_ = Utf8ToUtf16(text);
  next = data + body.size;
  return true;
}

bool TMailReader::ParseSections(int64_t next) {
  const size_t line_len = boundary_.size() + 6;
  int64_t pos = next;
  for (;;) {
    const std::string line = ReadAt(pos, line_len);
    if (line.size() < line_len) return Fail("closing boundary line missing");
    if (!container::IsBoundaryLine(line, boundary_)) return Fail("boundary line expected");
    const std::string_view tail = std::string_view(line).substr(line_len - 2);
    if (tail == "--") return true;
    if (tail != "\r\n") return Fail("malformed boundary line");

    const int64_t header_at = pos + static_cast<int64_t>(line_len);
    // A file that ends right after a boundary line is complete: some writers
    // leave out the closing line.
    if (header_at == PlainSizeUpTo(header_at + 1)) return true;
    const std::string buffer = ReadAt(header_at, kHeaderBuffer);
    if (buffer.empty()) return Fail("section header missing");
    container::SectionHeader section;
    std::string reason;
    if (!container::ParseSectionHeader(buffer, section, reason)) return Fail(reason);
    const int64_t data = header_at + static_cast<int64_t>(section.data_start);
    if (section.size > PlainSizeUpTo(EndOf(data, section.size)) - data)
      return Fail("section larger than the rest of the file");
    if (section.has_file_name) {
      TMailAttachmentInfo info;
      info.FileName = DecodeName(section.file_name);
      info.DataOffset = data;
      info.DataSize = section.size;
      attachments_.push_back(std::move(info));
    }
    pos = data + section.size;  // always beyond header_at: positions strictly increase
  }
}

int TMailReader::IndexOfAttachment(int64_t data_offset) const {
  if (!parsed_) return -1;
  for (size_t i = 0; i < attachments_.size(); ++i) {
    if (attachments_[i].DataOffset == data_offset) return static_cast<int>(i);
  }
  return -1;
}

bool TMailReader::SeekData(int64_t position) {
  return data_ && data_->SetPosition(position);
}

size_t TMailReader::ReadData(void* buffer, size_t count) {
  return data_ ? data_->Read(buffer, count) : 0;
}

bool TMailReader::SaveAttachment(int64_t index, bool by_position, void* progress_data,
                                 TProgressProc progress, bool append_name,
                                 std::u16string_view path) {
  if (!parsed_ || attachments_.empty()) return false;
  const int64_t at = by_position ? index : IndexOfAttachment(index);
  if (at < 0 || at >= static_cast<int64_t>(attachments_.size())) return false;
  const TMailAttachmentInfo& info = attachments_[static_cast<size_t>(at)];

  std::u16string dest(path);
  if (append_name) {
    if (dest.empty()) return false;
    if (dest.back() != u'/') dest += u'/';
    dest += BareFileNameOr(info.FileName.view(), u"attachment");
  }
  TEWFileStream out(dest, false, false, fmCreate);
  if (!out.Opened()) return false;
  if (!data_ || !data_->SetPosition(info.DataOffset) ||
      CopyStreamBytes(*data_, info.DataSize, out, progress_data, progress) != info.DataSize) {
    out.SetDeleteOnFree(true);
    return false;
  }
  return true;
}

}  // namespace qovra

#include "store/sign_container_reader.h"

#include <cstring>
#include <utility>

#include "base/stream_copy.h"
#include "base/text_utils.h"
#include "base/time_stamp.h"
#include "store/mail_container_sections.h"

namespace qovra {

using container::kHeaderBuffer;

bool TSignReader::Fail(std::string reason) {
  error_ = std::move(reason);
  return false;
}

std::string_view TSignReader::PartData(std::string_view name) const {
  for (const Section& s : parts_) {
    if (SameTextAscii(s.name, name)) return s.data;
  }
  return {};
}

bool TSignReader::LoadPlain(std::string& data) {
  unsigned char magic[2] = {0, 0};
  if (!source_.SetPosition(0) || !source_.ReadBuffer(magic, 2)) {
    return Fail("container shorter than two bytes");
  }
  if (magic[0] == 0x78 && magic[1] == 0xDA) {
    TMemoryStream plain;
    const ZStatus status =
        ZDecompressStream(source_, plain, nullptr, nullptr, kMaxSignContainerSize);
    if (status != ZStatus::Ok) return Fail(ZStatusText(status));
    data = plain.Data();
    return true;
  }
  const int64_t size = source_.Size();
  if (size < 0 || size > kMaxSignContainerSize) return Fail("container too large");
  data.resize(static_cast<size_t>(size));
  if (!source_.SetPosition(0) || !source_.ReadBuffer(data.data(), data.size())) {
    return Fail("container unreadable");
  }
  return true;
}

bool TSignReader::Parse() {
  parsed_ = false;
  error_.clear();
  mail_uid_.clear();
  signed_date_ = 0;
  signature_.fill(0);
  parts_.clear();
  std::string data;
  if (!LoadPlain(data) || !ParseData(data)) return false;
  parsed_ = true;
  return true;
}

bool TSignReader::ParseData(std::string_view data) {
  container::HeaderBlock headers(data.substr(0, container::kHeadBuffer));
  if (!headers.Valid()) return Fail("header lines not ended by an empty line");
  mail_uid_ = headers.Take("MailUID:");
  signed_date_ = StampToDateTime(headers.Take("SignedDate:"));
  const std::string boundary = headers.Take("Content-Type: multipart/form-data; boundary=");
  if (!container::IsUsableBoundary(boundary)) return Fail("no usable boundary");

  const size_t line_len = boundary.size() + 6;
  const auto size = static_cast<int64_t>(data.size());
  size_t pos = headers.End();
  bool first = true;
  for (;;) {
    const std::string_view line = data.substr(pos, line_len);
    if (line.size() < line_len) {
      return Fail(first ? "no boundary line after the header lines"
                        : "closing boundary line missing");
    }
    if (!container::IsBoundaryLine(line, boundary)) return Fail("boundary line expected");
    const std::string_view tail = line.substr(line_len - 2);
    if (tail == "--" && !first) return true;
    if (tail != "\r\n") return Fail(first ? "no sign section" : "malformed boundary line");

    const size_t header_at = pos + line_len;
    // After the signature, a boundary line that ends the file completes it,
    // as in a mail container.
    if (header_at == data.size() && !first) return true;
    container::SectionHeader section;
    std::string reason;
    if (!container::ParseSectionHeader(data.substr(header_at, kHeaderBuffer), section, reason)) {
      return Fail(reason);
    }
    const size_t at = header_at + section.data_start;
    if (section.size > size - static_cast<int64_t>(at)) {
      return Fail("section larger than the rest of the file");
    }
    const std::string_view bytes = data.substr(at, static_cast<size_t>(section.size));
    if (first) {
      if (!SameTextAscii(section.name, "sign")) return Fail("first section is not the signature");
      if (section.size != static_cast<int64_t>(kSignatureSize))
        return Fail("signature not 160 bytes");
      std::memcpy(signature_.data(), bytes.data(), kSignatureSize);
      first = false;
    } else {
      parts_.push_back({section.name, std::string(bytes)});
    }
    pos = at + bytes.size();
  }
}

}  // namespace qovra

#include "store/mail_container_sections.h"

#include <limits>

#include "base/text_utils.h"

namespace qovra::container {
namespace {

constexpr std::string_view kDisposition = "Content-Disposition: form-data; name=\"";
constexpr std::string_view kFileName = "filename=\"";
constexpr std::string_view kContentSize = "Content-Size:";

char Lower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
}

}  // namespace

HeaderBlock::HeaderBlock(std::string_view buffer) {
  const size_t empty_line = buffer.find("\r\n\r\n");
  if (empty_line == std::string_view::npos) return;
  end_ = empty_line + 2;
  block_ = buffer.substr(0, end_);
  valid_ = true;
}

std::string HeaderBlock::Take(std::string_view name) {
  if (!valid_ || name.empty()) return {};
  size_t at = pos_;
  for (;;) {
    at = block_.find(name, at);
    if (at == std::string_view::npos) return {};
    if (at == 0 || block_[at - 1] == '\n') break;
    ++at;
  }
  const size_t value_start = at + name.size();
  const size_t line_end = block_.find("\r\n", value_start);  // always found: block ends in CR LF
  pos_ = line_end + 2;
  return TrimBlanks(block_.substr(value_start, line_end - value_start));
}

bool IsUsableBoundary(std::string_view boundary) {
  if (boundary.empty() || boundary.size() > 200) return false;
  for (const char c : boundary) {
    if (static_cast<unsigned char>(c) <= 32 || static_cast<unsigned char>(c) == 127) return false;
  }
  return true;
}

bool IsBoundaryLine(std::string_view bytes, std::string_view boundary) {
  if (bytes.size() < boundary.size() + 4 || bytes.substr(0, 4) != "\r\n--") return false;
  for (size_t i = 0; i < boundary.size(); ++i) {
    if (Lower(bytes[4 + i]) != Lower(boundary[i])) return false;
  }
  return true;
}

bool ParseSize(std::string_view text, int64_t& value) {
  if (text.empty() || text.size() > 18) return false;  // 18 digits always fit
  int64_t v = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + (c - '0');
  }
  value = v;
  return true;
}

bool ParseSectionHeader(std::string_view buffer, SectionHeader& out, std::string& error) {
  out = SectionHeader{};
  const size_t header_end = buffer.find("\r\n\r\n");
  if (header_end == std::string_view::npos) {
    error = "section header incomplete";
    return false;
  }
  const std::string_view header = buffer.substr(0, header_end + 2);  // keeps the last CR LF
  if (header.substr(0, kDisposition.size()) != kDisposition) {
    error = "section header without Content-Disposition";
    return false;
  }
  const size_t name_start = kDisposition.size();
  const size_t name_end = header.find('"', name_start);
  const size_t line_end = header.find("\r\n");
  if (name_end == std::string_view::npos || name_end > line_end) {
    error = "section name not closed";
    return false;
  }
  out.name = std::string(header.substr(name_start, name_end - name_start));
  if (out.name.empty()) {
    error = "section without a name";
    return false;
  }
  const std::string_view rest = header.substr(name_end + 1, line_end - name_end - 1);
  const size_t file_at = rest.find(kFileName);
  if (file_at != std::string_view::npos) {
    const size_t f_start = file_at + kFileName.size();
    const size_t f_end = rest.find('"', f_start);
    if (f_end == std::string_view::npos) {
      error = "file name not closed";
      return false;
    }
    out.has_file_name = true;
    out.file_name = std::string(rest.substr(f_start, f_end - f_start));
  }
  const size_t size_at = header.find(kContentSize, line_end);
  if (size_at == std::string_view::npos || (size_at != line_end + 2)) {
    error = "section without Content-Size";
    return false;
  }
  const size_t v_start = size_at + kContentSize.size();
  const size_t v_end = header.find("\r\n", v_start);
  if (v_end + 2 != header.size()) {
    error = "unexpected lines in a section header";
    return false;
  }
  if (!ParseSize(TrimBlanks(header.substr(v_start, v_end - v_start)), out.size)) {
    error = "bad Content-Size";
    return false;
  }
  out.data_start = header_end + 4;
  return true;
}

}  // namespace qovra::container

// Parsing pieces shared by the mail and the signature container readers.
// Internal to qovra_core.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace qovra::container {

// Size of the buffer through which a section header is read.
constexpr size_t kHeaderBuffer = 8192;
// Size of the buffer that must hold a container's header lines and its
// first section header: larger, since a To: line with hundreds of
// recipients is longer than one section buffer.
constexpr size_t kHeadBuffer = 65536;

// The header block at the start of a container: everything up to and
// including the CR LF that ends the last header line (the content type).
// Headers are taken in a fixed order; each is searched at the start of a
// line from where the previous one ended.
class HeaderBlock {
 public:
  // buffer: the first bytes of the container. Valid() is false when the
  // buffer holds no empty line (CR LF CR LF) to end the header lines.
  explicit HeaderBlock(std::string_view buffer);
  bool Valid() const { return valid_; }

  // The trimmed text after name up to the line's CR LF, found at the start
  // of a line at or after the search position, which then moves behind that
  // line. Not found: empty, and the position stays.
  std::string Take(std::string_view name);
  // Where the section part begins (just after the header lines).
  size_t End() const { return end_; }

 private:
  std::string_view block_;
  size_t pos_ = 0;
  size_t end_ = 0;
  bool valid_ = false;
};

// A boundary read from a container must be usable: 1 to 200 printable
// characters other than blanks.
bool IsUsableBoundary(std::string_view boundary);

// True when bytes begins with CR LF "--" boundary, without regard to ASCII
// case.
bool IsBoundaryLine(std::string_view bytes, std::string_view boundary);

struct SectionHeader {
  std::string name;
  bool has_file_name = false;
  std::string file_name;  // as written (Base64)
  int64_t size = 0;
  size_t data_start = 0;  // offset of the data within the parsed buffer
};

// Parses the section header that starts exactly at buffer[0]:
// Content-Disposition line (name, optional filename), Content-Size line and
// the empty line. The whole header must lie within buffer. The size must be
// decimal digits only. Returns false with a reason in error.
bool ParseSectionHeader(std::string_view buffer, SectionHeader& out, std::string& error);

// Decimal digits only, no sign, no overflow of 63 bits.
bool ParseSize(std::string_view text, int64_t& value);

}  // namespace qovra::container

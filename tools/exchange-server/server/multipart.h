// The multipart/form-data parser of the exchange server.
//
// Written on its own from the wire layout, sharing nothing with the client:
// it takes any boundary, any part headers besides Content-Disposition
// (which must name the part), binary part bytes with CR LF in them, a
// preamble before the first delimiter and an epilogue after the closing one,
// or none at all. A part's bytes are exactly those between the blank line
// after its headers and the CR LF before the next delimiter. Whatever the
// input, the parser returns a status; it never reads outside the body.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace exchange {

struct MultipartPart {
  std::string name;          // the name parameter of Content-Disposition
  std::string filename;      // its filename parameter, empty when absent
  std::string content_type;  // the part's Content-Type, empty when absent
  std::string data;
};

enum class MultipartStatus {
  Ok,
  NotMultipart,  // the request's type is not multipart/form-data
  NoBoundary,    // the type has no usable boundary parameter
  NoDelimiter,   // the body holds no first delimiter
  BadHeaders,    // a part's header block is malformed or too large
  NoPartName,    // a part without Content-Disposition: form-data; name=...
  Truncated,     // the body ends before the closing delimiter
  TooManyParts,
};

// A short English text for status (logs and tests).
const char* MultipartStatusText(MultipartStatus status);

// Limits that keep a hostile body from costing much.
constexpr size_t kMaxBoundaryLen = 70;
constexpr size_t kMaxParts = 64;
constexpr size_t kMaxPartHeaderBytes = 16384;

// Reads the boundary from the value of a request's Content-Type header:
// "multipart/form-data" (any case) with a boundary parameter, as a token or
// a quoted string, of 1 to kMaxBoundaryLen printable characters.
[[nodiscard]] MultipartStatus ParseMultipartBoundary(std::string_view content_type,
                                                     std::string& boundary);

// The header block of one part as the parsers read it.
struct MultipartHeaders {
  bool has_disposition = false;
  std::string name;
  std::string filename;
  std::string content_type;
};

// Reads the header block that starts text, up to and including its blank
// line, as ParseMultipartBody does: Ok with pos just past the block, or the
// first fault in it; Truncated when text ends before the block does and is
// not yet too long to hold one.
[[nodiscard]] MultipartStatus ReadMultipartHeaders(std::string_view text, size_t& pos,
                                                   MultipartHeaders& h);

// Splits body into parts. On any status but Ok, parts is left empty.
[[nodiscard]] MultipartStatus ParseMultipartBody(std::string_view body, std::string_view boundary,
                                                 std::vector<MultipartPart>& parts);

}  // namespace exchange

// The head of an HTTP/1.1 request (request line and headers) as the
// exchange server reads it, and the size line of a chunk. Only what the
// server uses is kept; framing that could be read two ways is refused.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace exchange {

struct RequestHead {
  std::string method;
  std::string path;  // without the query
  std::string content_type;
  bool keep_alive = true;  // HTTP/1.1 unless "Connection: close"; 1.0 only when asked
  bool chunked = false;
  bool expect_continue = false;
  uint64_t content_length = 0;
};

// text: the head up to and including its blank line. Returns 0 when it is
// usable, else the status to refuse it with: 400 for a malformed request
// line or header, Content-Length given twice with different values, or
// both Content-Length and Transfer-Encoding (the way requests are
// smuggled); 501 for a transfer coding other than chunked.
[[nodiscard]] int ParseHead(std::string_view text, RequestHead& h);

// The size of a chunk from its size line (hexadecimal, extensions after
// ';' ignored); false when it is not one or longer than 15 digits.
[[nodiscard]] bool ParseHexSize(std::string_view line, uint64_t& out);

}  // namespace exchange

// The parts of a multipart request captured by the loopback peer, and the
// request XML inside the header part as the server would read it.
#pragma once

#include <string>
#include <vector>

#include "core/net/envelope_test_writer.h"
#include "support/loopback_listener.h"

namespace qovra_test {

struct CapturedPart {
  std::string name;
  std::string data;
};

// The parts of a captured multipart request, taken apart by its boundary.
inline std::vector<CapturedPart> CapturedParts(const std::string& raw) {
  const qovra_test::SplitHttpRequest req = qovra_test::SplitRequest(raw);
  const std::string type = qovra_test::HeaderValue(req, "Content-Type");
  const size_t b = type.find("boundary=");
  std::vector<CapturedPart> parts;
  if (b == std::string::npos) return parts;
  std::string boundary = type.substr(b + 9);
  if (!boundary.empty() && boundary.front() == '"')
    boundary = boundary.substr(1, boundary.size() - 2);
  const std::string delimiter = "--" + boundary;
  size_t at = req.body.find(delimiter);
  while (at != std::string::npos) {
    const size_t head_start = at + delimiter.size();
    if (req.body.compare(head_start, 2, "--") == 0) break;
    const size_t head_end = req.body.find("\r\n\r\n", head_start);
    const size_t next = req.body.find("\r\n" + delimiter, head_end);
    if (head_end == std::string::npos || next == std::string::npos) break;
    const std::string head = req.body.substr(head_start, head_end - head_start);
    const size_t n = head.find("name=\"");
    CapturedPart part;
    if (n != std::string::npos) part.name = head.substr(n + 6, head.find('"', n + 6) - n - 6);
    part.data = req.body.substr(head_end + 4, next - head_end - 4);
    parts.push_back(part);
    at = next + 2;
  }
  return parts;
}

// The request XML of a captured session request header part: the string
// form after the 40 header and session-id bytes, before the signature.
inline std::string RequestXml(const std::string& header_part, const TestSession& s) {
  if (header_part.size() < 8 + 32 + 33 + 160) return {};
  const std::string form = header_part.substr(40, header_part.size() - 40 - 160);
  const size_t last = static_cast<uint8_t>(form[0]) == 0 ? 32 : static_cast<uint8_t>(form[0]);
  const std::string plain = Cbc(s.key, s.id, form.substr(1), false);
  return plain.substr(0, plain.size() - 32 + last);
}

}  // namespace qovra_test
